// The explorer's tree control: a Qt item model over the explorer's TTreeView, and
// the view that shows it.
//
// TExplorerModel is an adapter in the manner of Qt's simple tree model: each index
// carries its TTreeNode, and the TTreeView's observer calls become the model's
// insert, remove and change signals (a batch update becomes one reset). Each row
// shows its state image (the note mark) and its glyph side by side, as the
// explorer draws them, followed by its caption; captions are read-only.
//
// A filter (the search field's) makes the model show only some nodes - each in
// the order the tree has them - without touching the tree; while it is on, every
// change of the tree resets the model.
#pragma once

#include <QAbstractItemModel>
#include <QPixmap>
#include <QTreeView>
#include <functional>
#include <unordered_map>
#include <vector>

#include "explorer/node_set.h"
#include "explorer/tree.h"
#include "qt/legend_dialog.h"

namespace qb::qt {

// The pictures the explorer shows: the glyph list (fixed glyphs 0 to 21, user
// glyphs from 22 on) as the legend shows it, and the main window's images (for
// the note mark, image 9), kept as pixmaps because every row paints them.
class TGlyphImages {
 public:
  static constexpr int kImageCount = 34;
  TGlyphImages() { SetUserGlyphs({}); }
  // The resource path of main window image n: ":/images/NN.png".
  static QString ImagePath(int n);
  int Count() const { return static_cast<int>(glyphs_.size()); }
  // An empty pixmap for an index outside the list.
  QPixmap Glyph(int index) const;
  QPixmap Image(int index) const;
  void SetUserGlyphs(std::vector<QImage> user);

 private:
  std::vector<QPixmap> glyphs_;
  std::vector<QPixmap> images_;
};

class TExplorerModel : public QAbstractItemModel, public TTreeObserver {
  Q_OBJECT
 public:
  TExplorerModel(TTreeView& tree, const TGlyphImages& images, QObject* parent = nullptr);
  ~TExplorerModel() override;

  // The node's index; invalid for a node the filter hides.
  QModelIndex IndexOf(const TTreeNode* node) const;
  // Shows only the nodes of visible (kept by the caller until the next call);
  // null shows the whole tree. Resets the model.
  void SetFilter(const TNodeSet* visible);
  bool Filtered() const { return filter_ != nullptr; }
  // While filtered: the shown nodes that have shown children.
  std::vector<const TTreeNode*> ShownDrawers() const;
  // The tool tip of a row (the caption when none is given).
  std::function<QString(const TTreeNode*)> ToolTip;
  static TTreeNode* NodeOf(const QModelIndex& index);

  QModelIndex index(int row, int column, const QModelIndex& parent = QModelIndex()) const override;
  QModelIndex parent(const QModelIndex& child) const override;
  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;

  // Expansion and selection flow back to the view through these.
  std::function<void(TTreeNode*, bool)> OnExpandedChanged;
  std::function<void(TTreeNode*)> OnSelectionChanged;
  std::function<void()> OnReset;

  // TTreeObserver
  void NodeInserting(TTreeNode* parent, int row) override;
  void NodeInserted(TTreeNode* node) override;
  void NodeRemoving(TTreeNode* node) override;
  void NodeRemoved(TTreeNode* parent, int row) override;
  void NodeChanged(TTreeNode* node) override;
  void SelectionChanged(TTreeNode* selected) override;
  void Cleared() override;
  void UpdateBegun() override;
  void UpdateEnded() override;

 private:
  QPixmap Decoration(const TTreeNode* node) const;
  // The rows of the filtered tree: each shown node's shown children, in order.
  void BuildFilteredRows();
  // Ends the reset a change of the tree began while filtered.
  void EndFilteredChange();
  const std::vector<TTreeNode*>* ShownChildren(const TTreeNode* parent) const;

  TTreeView& tree_;
  const TGlyphImages& images_;
  bool resetting_ = false;
  const TNodeSet* filter_ = nullptr;
  std::unordered_map<const TTreeNode*, std::vector<TTreeNode*>> shown_children_;  // null key: the top level
  TNodeMap<int> shown_row_;
  bool filter_resetting_ = false;
};

}  // namespace qb::qt
