#include "explorer/tree.h"

#include <stdexcept>
#include <utility>

#include "platform/codepage.h"

namespace qb {

namespace {

// Below this many children a scan is as fast as the index.
constexpr size_t kIndexThreshold = 8;

// Destroys a list of subtrees without recursion: each node's children are moved to
// the work list before the node itself goes.
void DestroyIteratively(std::vector<std::unique_ptr<TTreeNode>>& nodes,
                        std::vector<std::unique_ptr<TTreeNode>> (*take_children)(TTreeNode&)) {
  std::vector<std::unique_ptr<TTreeNode>> work = std::move(nodes);
  nodes.clear();
  while (!work.empty()) {
    std::unique_ptr<TTreeNode> node = std::move(work.back());
    work.pop_back();
    std::vector<std::unique_ptr<TTreeNode>> children = take_children(*node);
    for (auto& child : children) work.push_back(std::move(child));
  }
}

}  // namespace

// --- TTreeNode -----------------------------------------------------------------------

TTreeNode::TTreeNode(TTreeView* owner, TTreeNode* parent, std::string caption)
    : owner_(owner), parent_(parent), caption_(std::move(caption)) {}

TTreeNode::~TTreeNode() {
  if (children_.empty()) return;
  DestroyIteratively(children_, [](TTreeNode& node) {
    std::vector<std::unique_ptr<TTreeNode>> taken = std::move(node.children_);
    node.children_.clear();
    return taken;
  });
}

void TTreeNode::SetCaption(const std::string& caption) {
  if (caption == caption_) return;
  caption_ = caption;
  if (owner_) ++owner_->version_;
  if (parent_) parent_->InvalidateIndex();
  if (owner_) owner_->Changed(this);
}

void TTreeNode::SetImageIndex(int index) {
  if (index == image_index_) return;
  image_index_ = index;
  if (owner_) owner_->Changed(this);
}

void TTreeNode::SetSelectedIndex(int index) {
  if (index == selected_index_) return;
  selected_index_ = index;
  if (owner_) owner_->Changed(this);
}

void TTreeNode::SetStateIndex(int index) {
  if (index == state_index_) return;
  state_index_ = index;
  if (owner_) owner_->Changed(this);
}

void TTreeNode::SetExpanded(bool expanded) {
  if (expanded == expanded_) return;
  expanded_ = expanded;
  if (owner_) owner_->Changed(this);
}

int TTreeNode::Index() const {
  if (parent_) {
    for (size_t i = 0; i < parent_->children_.size(); ++i)
      if (parent_->children_[i].get() == this) return static_cast<int>(i);
  } else if (owner_) {
    for (int i = 0; i < owner_->TopCount(); ++i)
      if (owner_->TopItem(i) == this) return i;
  }
  return -1;
}

int TTreeNode::Level() const {
  int level = 0;
  for (const TTreeNode* p = parent_; p; p = p->parent_) ++level;
  return level;
}

bool TTreeNode::IsAncestorOf(const TTreeNode* node) const {
  for (; node; node = node->parent_)
    if (node == this) return true;
  return false;
}

TTreeNode* TTreeNode::FindChild(std::string_view caption) const {
  if (children_.size() < kIndexThreshold) {
    for (const auto& child : children_)
      if (codepage::SameTextAscii(child->caption_, caption)) return child.get();
    return nullptr;
  }
  if (!index_valid_) {
    by_caption_.clear();
    by_caption_.reserve(children_.size());
    for (const auto& child : children_)
      by_caption_.emplace(codepage::AsciiLowerCase(child->caption_), child.get());
    index_valid_ = true;
  }
  auto it = by_caption_.find(codepage::AsciiLowerCase(caption));
  return it == by_caption_.end() ? nullptr : it->second;
}

void TTreeNode::Append(std::unique_ptr<TTreeNode> child) {
  child->parent_ = this;
  // emplace keeps an earlier child of the same caption: the first match wins.
  if (index_valid_) by_caption_.emplace(codepage::AsciiLowerCase(child->caption_), child.get());
  children_.push_back(std::move(child));
}

std::unique_ptr<TTreeNode> TTreeNode::Detach(int index) {
  std::unique_ptr<TTreeNode> child = std::move(children_[static_cast<size_t>(index)]);
  children_.erase(children_.begin() + index);
  InvalidateIndex();
  child->parent_ = nullptr;
  return child;
}

// --- TTreeView -----------------------------------------------------------------------

TTreeView::~TTreeView() {
  observer_ = nullptr;
  selected_ = nullptr;
  DestroyIteratively(top_, [](TTreeNode& node) {
    std::vector<std::unique_ptr<TTreeNode>> taken = std::move(node.children_);
    node.children_.clear();
    return taken;
  });
}

int TTreeView::NodeCount() const {
  int count = 0;
  std::vector<const TTreeNode*> work;
  for (const auto& node : top_) work.push_back(node.get());
  while (!work.empty()) {
    const TTreeNode* node = work.back();
    work.pop_back();
    ++count;
    for (int i = 0; i < node->Count(); ++i) work.push_back(node->Item(i));
  }
  return count;
}

TTreeNode* TTreeView::AddChild(TTreeNode* parent, const std::string& caption) {
  if (parent && parent->owner_ != this)
    throw std::invalid_argument("AddChild: the parent belongs to another tree");
  ++version_;
  const int row = parent ? parent->Count() : TopCount();
  if (observer_) observer_->NodeInserting(parent, row);
  std::unique_ptr<TTreeNode> node(new TTreeNode(this, parent, caption));
  TTreeNode* raw = node.get();
  if (parent)
    parent->Append(std::move(node));
  else
    top_.push_back(std::move(node));
  if (observer_) observer_->NodeInserted(raw);
  return raw;
}

void TTreeView::Delete(TTreeNode* node) {
  if (!node || node->owner_ != this) return;
  ++version_;
  if (observer_) observer_->NodeRemoving(node);
  if (selected_ && node->IsAncestorOf(selected_)) {
    selected_ = nullptr;
    if (observer_) observer_->SelectionChanged(nullptr);
  }
  TTreeNode* parent = node->parent_;
  const int row = node->Index();
  std::unique_ptr<TTreeNode> doomed;
  if (parent) {
    doomed = parent->Detach(row);
  } else {
    doomed = std::move(top_[static_cast<size_t>(row)]);
    top_.erase(top_.begin() + row);
  }
  doomed.reset();
  if (observer_) observer_->NodeRemoved(parent, row);
}

bool TTreeView::MoveTo(TTreeNode* node, TTreeNode* new_parent) {
  if (!node || node->owner_ != this) return false;
  if (new_parent && (new_parent->owner_ != this || node->IsAncestorOf(new_parent))) return false;
  ++version_;
  TTreeNode* old_parent = node->parent_;
  const int row = node->Index();
  if (observer_) observer_->NodeRemoving(node);
  std::unique_ptr<TTreeNode> moving;
  if (old_parent) {
    moving = old_parent->Detach(row);
  } else {
    moving = std::move(top_[static_cast<size_t>(row)]);
    top_.erase(top_.begin() + row);
  }
  if (observer_) observer_->NodeRemoved(old_parent, row);
  const int new_row = new_parent ? new_parent->Count() : TopCount();
  if (observer_) observer_->NodeInserting(new_parent, new_row);
  if (new_parent) {
    new_parent->Append(std::move(moving));
  } else {
    moving->parent_ = nullptr;
    top_.push_back(std::move(moving));
  }
  if (observer_) observer_->NodeInserted(node);
  return true;
}

void TTreeView::Clear() {
  ++version_;
  selected_ = nullptr;
  DestroyIteratively(top_, [](TTreeNode& node) {
    std::vector<std::unique_ptr<TTreeNode>> taken = std::move(node.children_);
    node.children_.clear();
    return taken;
  });
  if (observer_) observer_->Cleared();
}

void TTreeView::SetSelected(TTreeNode* node) {
  if (node && node->owner_ != this) node = nullptr;
  if (node == selected_) return;
  selected_ = node;
  if (observer_) observer_->SelectionChanged(node);
}

void TTreeView::BeginUpdate() {
  if (update_count_++ == 0 && observer_) observer_->UpdateBegun();
}

void TTreeView::EndUpdate() {
  if (update_count_ == 0) return;
  if (--update_count_ == 0 && observer_) observer_->UpdateEnded();
}

void TTreeView::SetAllExpanded(bool expanded) {
  std::vector<TTreeNode*> work;
  for (const auto& node : top_) work.push_back(node.get());
  while (!work.empty()) {
    TTreeNode* node = work.back();
    work.pop_back();
    // A node without children has nothing to show or hide; it keeps its flag
    // cleared so that a drawer added later below it starts collapsed.
    node->SetExpanded(expanded && node->HasChildren());
    for (int i = 0; i < node->Count(); ++i) work.push_back(node->Item(i));
  }
}

void TTreeView::FullExpand() {
  SetAllExpanded(true);
}
void TTreeView::FullCollapse() {
  SetAllExpanded(false);
}

std::vector<TTreeNode*> TTreeView::VisibleNodes() const {
  std::vector<TTreeNode*> out;
  std::vector<TTreeNode*> work;
  for (auto it = top_.rbegin(); it != top_.rend(); ++it) work.push_back(it->get());
  while (!work.empty()) {
    TTreeNode* node = work.back();
    work.pop_back();
    out.push_back(node);
    if (node->Expanded())
      for (int i = node->Count() - 1; i >= 0; --i) work.push_back(node->Item(i));
  }
  return out;
}

}  // namespace qb
