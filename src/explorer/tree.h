// TTreeView and TTreeNode: the plain data tree behind the explorer's tree control.
//
// A node has a caption, an image index, a selected index (the image shown while it
// is selected), a state index (-1 for none), an expanded flag and its children in
// insertion order; the tree is never sorted. The view holds the top-level nodes,
// the selection and the batch-update count. The Qt tree widget is an adapter that
// observes the view (TTreeObserver) and draws it; nothing here knows about widgets.
//
// Looking a child up by caption (ASCII letters folded, first match in child order)
// is the hot path when a cabinet of many items is shown. A node with many children
// keeps an index from folded caption to its first child of that caption; it is
// extended on append and rebuilt lazily after a removal or a caption change, so a
// lookup always gives the same node a scan from the first child would.
//
// Trees built from hostile archives can be very deep; every walk here is iterative
// (no recursion), destruction included.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace qb {

class TTreeView;

class TTreeNode {
 public:
  ~TTreeNode();
  TTreeNode(const TTreeNode&) = delete;
  TTreeNode& operator=(const TTreeNode&) = delete;

  const std::string& Caption() const { return caption_; }
  void SetCaption(const std::string& caption);
  int ImageIndex() const { return image_index_; }
  void SetImageIndex(int index);
  int SelectedIndex() const { return selected_index_; }
  void SetSelectedIndex(int index);
  int StateIndex() const { return state_index_; }
  void SetStateIndex(int index);
  bool Expanded() const { return expanded_; }
  void SetExpanded(bool expanded);

  TTreeNode* Parent() const { return parent_; }
  TTreeView* Owner() const { return owner_; }
  int Count() const { return static_cast<int>(children_.size()); }
  bool HasChildren() const { return !children_.empty(); }
  TTreeNode* Item(int index) const { return children_.at(static_cast<size_t>(index)).get(); }
  TTreeNode* FirstChild() const { return children_.empty() ? nullptr : children_.front().get(); }
  TTreeNode* LastChild() const { return children_.empty() ? nullptr : children_.back().get(); }
  // Position among its siblings (top-level nodes for a node without parent).
  int Index() const;
  // 0 for a top-level node.
  int Level() const;
  // True when node is this node or lies below it.
  bool IsAncestorOf(const TTreeNode* node) const;
  // The first child whose caption equals caption with ASCII letters folded.
  TTreeNode* FindChild(std::string_view caption) const;

 private:
  friend class TTreeView;
  TTreeNode(TTreeView* owner, TTreeNode* parent, std::string caption);
  void Append(std::unique_ptr<TTreeNode> child);
  std::unique_ptr<TTreeNode> Detach(int index);
  void InvalidateIndex() {
    index_valid_ = false;
    by_caption_.clear();
  }

  TTreeView* owner_;
  TTreeNode* parent_;
  std::string caption_;
  int image_index_ = -1;
  int selected_index_ = -1;
  int state_index_ = -1;
  bool expanded_ = false;
  std::vector<std::unique_ptr<TTreeNode>> children_;
  // Folded caption -> first child of that caption; valid only when index_valid_.
  mutable std::unordered_map<std::string, TTreeNode*> by_caption_;
  mutable bool index_valid_ = false;
};

// What the tree's view (a widget adapter) is told. Every callback has a default
// that does nothing. Inside a batch update (BeginUpdate ... EndUpdate) the fine-
// grained calls still come; an adapter may instead reset itself at UpdateEnded.
class TTreeObserver {
 public:
  virtual ~TTreeObserver() = default;
  // parent is null for top-level nodes; row is the position among the siblings.
  virtual void NodeInserting(TTreeNode* /*parent*/, int /*row*/) {}
  virtual void NodeInserted(TTreeNode* /*node*/) {}
  virtual void NodeRemoving(TTreeNode* /*node*/) {}
  virtual void NodeRemoved(TTreeNode* /*parent*/, int /*row*/) {}
  virtual void NodeChanged(TTreeNode* /*node*/) {}
  virtual void SelectionChanged(TTreeNode* /*selected*/) {}
  virtual void Cleared() {}
  virtual void UpdateBegun() {}
  virtual void UpdateEnded() {}
};

class TTreeView {
 public:
  TTreeView() = default;
  ~TTreeView();
  TTreeView(const TTreeView&) = delete;
  TTreeView& operator=(const TTreeView&) = delete;

  void SetObserver(TTreeObserver* observer) { observer_ = observer; }

  int TopCount() const { return static_cast<int>(top_.size()); }
  TTreeNode* TopItem(int index) const { return top_.at(static_cast<size_t>(index)).get(); }
  // The node at absolute index 0: the first top-level node, or null for an empty tree.
  TTreeNode* Root() const { return top_.empty() ? nullptr : top_.front().get(); }
  bool Empty() const { return top_.empty(); }
  // Every node of the tree (walks it).
  int NodeCount() const;

  // Appends a new node at the end of parent's children (a top-level node when
  // parent is null). Image, selected and state index start at -1.
  TTreeNode* AddChild(TTreeNode* parent, const std::string& caption);
  // Deletes node with everything below it; a selection inside it is cleared.
  void Delete(TTreeNode* node);
  // Moves node (with its subtree) to the end of new_parent's children. Moving a
  // node below itself is refused (returns false).
  bool MoveTo(TTreeNode* node, TTreeNode* new_parent);
  // Deletes every node.
  void Clear();

  TTreeNode* Selected() const { return selected_; }
  void SetSelected(TTreeNode* node);

  void BeginUpdate();
  void EndUpdate();
  bool Updating() const { return update_count_ > 0; }

  // Counts the changes of the tree's shape and captions (nodes added, deleted or
  // moved, a caption changed): who keeps node pointers or looks-ups across calls
  // knows by it when they may be stale.
  uint64_t Version() const { return version_; }

  // Expands (collapses) every top-level node with all its descendants.
  void FullExpand();
  void FullCollapse();
  // The nodes a user sees: top-level nodes and the children of expanded nodes, in
  // display order.
  std::vector<TTreeNode*> VisibleNodes() const;

 private:
  friend class TTreeNode;
  void Changed(TTreeNode* node) {
    if (observer_) observer_->NodeChanged(node);
  }
  void SetAllExpanded(bool expanded);

  std::vector<std::unique_ptr<TTreeNode>> top_;
  TTreeNode* selected_ = nullptr;
  int update_count_ = 0;
  uint64_t version_ = 0;
  TTreeObserver* observer_ = nullptr;
};

}  // namespace qb
