// TExplorerView: the explorer window's tree control. It shows TExplorerModel and
// hands the mouse to the explorer's logic: presses, moves, releases, drags and
// drops arrive there as the tree control's events; what happens is decided there.
#pragma once

#include <QTimer>
#include <QTreeView>
#include <functional>

#include "explorer/tree.h"

namespace qb::qt {

class TExplorerModel;

class TExplorerView : public QTreeView {
  Q_OBJECT
 public:
  explicit TExplorerView(QWidget* parent = nullptr);
  void SetExplorerModel(TExplorerModel* model);
  TExplorerModel* ExplorerModel() const { return model_; }
  TTreeNode* NodeAt(const QPoint& point) const;
  // Whether the point lies on a row's icon, state icon or caption (not on the
  // indentation or the branch sign).
  bool OnItemPart(const QPoint& point) const;
  // Which part of its row a point lies on: 0 nowhere, 1 icon, 2 state icon,
  // 3 caption, 4 the rest of the row.
  int HitArea(const QPoint& point) const;
  // Shows the tree's selection and expansion again (after a reset).
  void SyncFromTree(TTreeView& tree);
  // Shows every drawer open (the search's results) and the tree's selection,
  // leaving the drawers' own expanded flags as they are.
  void ShowAllExpanded(TTreeView& tree);

  // The explorer's handlers; the window connects them to the explorer's logic.
  std::function<void(Qt::MouseButton, Qt::MouseButtons, Qt::KeyboardModifiers, QPoint)> OnMouseDown;
  std::function<bool(Qt::MouseButtons, Qt::KeyboardModifiers, QPoint)> OnMouseMove;  // true: begin a drag
  std::function<void(Qt::MouseButton, Qt::MouseButtons, Qt::KeyboardModifiers, QPoint)> OnMouseUp;
  std::function<void(TTreeNode*)> OnDrop;
  std::function<void()> OnDragEnded;
  std::function<void(TTreeNode*, bool)> OnExpandedByUser;
  // The keyboard moved the current row to node (which may be null).
  std::function<void(TTreeNode*)> OnKeyboardMove;

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dragMoveEvent(QDragMoveEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  void BeginDrag();
  TExplorerModel* model_ = nullptr;
  bool syncing_ = false;
};

}  // namespace qb::qt
