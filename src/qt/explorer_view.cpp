#include "qt/explorer_view.h"

#include <QApplication>
#include <QDrag>
#include <QDragEnterEvent>
#include <QMimeData>
#include <QMouseEvent>

#include "qt/explorer_tree.h"

namespace qb::qt {

namespace {
// A drag inside the tree carries this type; nothing outside the tree takes it.
constexpr const char* kTreeDragMime = "application/x-quiverbox-tree-item";
}  // namespace

TExplorerView::TExplorerView(QWidget* parent) : QTreeView(parent) {
  setHeaderHidden(true);
  setEditTriggers(QAbstractItemView::NoEditTriggers);  // read-only captions
  setSelectionMode(QAbstractItemView::SingleSelection);
  setIconSize(QSize(34, 16));
  setAcceptDrops(true);
  setDragEnabled(false);  // drags start only where the explorer's logic says
  setDropIndicatorShown(false);
  setUniformRowHeights(true);
  connect(this, &QTreeView::expanded, this, [this](const QModelIndex& index) {
    if (!syncing_ && OnExpandedByUser) OnExpandedByUser(TExplorerModel::NodeOf(index), true);
  });
  connect(this, &QTreeView::collapsed, this, [this](const QModelIndex& index) {
    if (!syncing_ && OnExpandedByUser) OnExpandedByUser(TExplorerModel::NodeOf(index), false);
  });
}

void TExplorerView::SetExplorerModel(TExplorerModel* model) {
  model_ = model;
  setModel(model);
}

TTreeNode* TExplorerView::NodeAt(const QPoint& point) const {
  return TExplorerModel::NodeOf(indexAt(point));
}

bool TExplorerView::OnItemPart(const QPoint& point) const {
  QModelIndex index = indexAt(point);
  if (!index.isValid()) return false;
  return visualRect(index).contains(point);
}

int TExplorerView::HitArea(const QPoint& point) const {
  QModelIndex index = indexAt(point);
  if (!index.isValid()) return 0;
  const QRect rect = visualRect(index);
  const int x = point.x() - rect.left();
  if (x < 0) return 4;  // indentation and branch sign
  const int icon_width = iconSize().width();
  if (x < 16) return 2;
  if (x < icon_width + 4) return 1;
  const int text_width = fontMetrics().horizontalAdvance(index.data(Qt::DisplayRole).toString());
  return x < icon_width + 4 + text_width + 6 ? 3 : 4;
}

void TExplorerView::SyncFromTree(TTreeView& tree) {
  if (!model_) return;
  syncing_ = true;
  std::vector<TTreeNode*> stack;
  for (int i = 0; i < tree.TopCount(); ++i)
    if (tree.TopItem(i)->HasChildren()) stack.push_back(tree.TopItem(i));
  while (!stack.empty()) {
    TTreeNode* node = stack.back();
    stack.pop_back();
    setExpanded(model_->IndexOf(node), node->Expanded());
    for (int i = 0; i < node->Count(); ++i)
      if (node->Item(i)->HasChildren()) stack.push_back(node->Item(i));
  }
  if (TTreeNode* selected = tree.Selected())
    selectionModel()->setCurrentIndex(model_->IndexOf(selected), QItemSelectionModel::ClearAndSelect);
  else
    selectionModel()->clearSelection();
  syncing_ = false;
}

void TExplorerView::ShowAllExpanded(TTreeView& tree) {
  if (!model_) return;
  syncing_ = true;
  // Each drawer on its own, while the reset's layout is still pending (so each is
  // only marked): expandAll makes a persistent index for every row it passes,
  // items included, which took most of a keystroke that shows every item.
  for (const TTreeNode* drawer : model_->ShownDrawers()) expand(model_->IndexOf(drawer));
  if (TTreeNode* selected = tree.Selected(); selected && model_->IndexOf(selected).isValid())
    selectionModel()->setCurrentIndex(model_->IndexOf(selected), QItemSelectionModel::ClearAndSelect);
  else
    selectionModel()->clearSelection();
  syncing_ = false;
}

void TExplorerView::mousePressEvent(QMouseEvent* event) {
  // The branch sign still opens and closes drawers the usual way.
  QModelIndex index = indexAt(event->position().toPoint());
  if (index.isValid() && !visualRect(index).contains(event->position().toPoint()) &&
      event->button() == Qt::LeftButton) {
    QTreeView::mousePressEvent(event);
    return;
  }
  setFocus(Qt::MouseFocusReason);
  if (OnMouseDown)
    OnMouseDown(event->button(), event->buttons(), event->modifiers(), event->position().toPoint());
  event->accept();
}

void TExplorerView::mouseDoubleClickEvent(QMouseEvent* event) {
  // A double click opens or closes a drawer; its second press is a plain press.
  QModelIndex index = indexAt(event->position().toPoint());
  if (index.isValid() && model_ && model_->rowCount(index) > 0 && event->button() == Qt::LeftButton) {
    setExpanded(index, !isExpanded(index));
  }
  mousePressEvent(event);
}

void TExplorerView::keyPressEvent(QKeyEvent* event) {
  const QModelIndex before = currentIndex();
  QTreeView::keyPressEvent(event);
  const QModelIndex after = currentIndex();
  if (after != before && OnKeyboardMove) OnKeyboardMove(TExplorerModel::NodeOf(after));
}

void TExplorerView::mouseMoveEvent(QMouseEvent* event) {
  if (OnMouseMove && OnMouseMove(event->buttons(), event->modifiers(), event->position().toPoint()))
    BeginDrag();
  event->accept();
}

void TExplorerView::mouseReleaseEvent(QMouseEvent* event) {
  if (OnMouseUp)
    OnMouseUp(event->button(), event->buttons(), event->modifiers(), event->position().toPoint());
  event->accept();
}

void TExplorerView::BeginDrag() {
  auto* drag = new QDrag(this);
  auto* mime = new QMimeData;
  mime->setData(kTreeDragMime, QByteArray("item"));
  drag->setMimeData(mime);
  QModelIndex current = currentIndex();
  if (current.isValid()) drag->setPixmap(qvariant_cast<QPixmap>(current.data(Qt::DecorationRole)));
  drag->exec(Qt::MoveAction);
  if (OnDragEnded) OnDragEnded();
}

void TExplorerView::dragEnterEvent(QDragEnterEvent* event) {
  if (event->mimeData()->hasFormat(kTreeDragMime) && event->source() == this)
    event->acceptProposedAction();
  else
    event->ignore();
}

void TExplorerView::dragMoveEvent(QDragMoveEvent* event) {
  if (event->mimeData()->hasFormat(kTreeDragMime) && event->source() == this)
    event->acceptProposedAction();
  else
    event->ignore();
}

void TExplorerView::dropEvent(QDropEvent* event) {
  if (!event->mimeData()->hasFormat(kTreeDragMime) || event->source() != this) {
    event->ignore();
    return;
  }
  event->acceptProposedAction();
  if (OnDrop) OnDrop(NodeAt(event->position().toPoint()));
}

}  // namespace qb::qt
