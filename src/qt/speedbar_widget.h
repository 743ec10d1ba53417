// TQtSpeedBar: the tool bar widget (SpeedBar1) that draws a TSpeedBar.
//
// One button per speed item is made once; the bar shows those of the items the
// model has on the bar, in its order, and redraws whenever the model changes
// (Rebuild). A button runs its item's command through the action it shares with
// the menus, or opens its drop-down menu. The bar moves to the top or the bottom of
// its main window by its handle; the sides are refused (TSpeedBar::ApplyAlign) and
// it never floats.
//
// Customising. While the customisation window is open (SetCustomizing), the
// buttons do not run their commands: pressing one and dragging it moves it along
// the bar, and dropping it anywhere off the bar takes it off. Items dragged from
// the customisation window (the MIME type kSpeedItemMimeType, the item's name)
// are put on the bar at the drop point.
#pragma once

#include <QToolBar>
#include <functional>
#include <map>

#include "app/speedbar.h"

class QDrag;
class QMainWindow;
class QMenu;
class QToolButton;
class QWidgetAction;

namespace qb::qt {

// A speed item in a drag: its name, UTF-8.
inline constexpr const char* kSpeedItemMimeType = "application/x-quiverbox-speeditem";

// Runs a drag to its end and says what the target did; QDrag::exec by default.
// Tests put a drop of their own in its place (the offscreen platform has no drag
// and drop).
using TDragRunner = std::function<Qt::DropAction(QDrag&)>;
TDragRunner& SpeedItemDragRunner();

// The picture a dragged speed item shows under the mouse: its image on a button.
QPixmap SpeedButtonPixmap(int item);

class TQtSpeedBar : public QToolBar {
  Q_OBJECT
 public:
  // action_of: the action an item runs (null for none: the button stays disabled);
  // menu_of: the drop-down of a "PopupMenu1"/"PopupMenu2" item, parented to the
  // button given.
  TQtSpeedBar(TSpeedBar& model, std::function<QAction*(const TSpeedItem&)> action_of,
              std::function<QMenu*(const TSpeedItem&, QWidget*)> menu_of, QMainWindow* parent);
  ~TQtSpeedBar() override;

  TSpeedBar& Model() { return model_; }
  // Shows the model's buttons in its order.
  void Rebuild();
  // The button of an item (whether on the bar or not); null for no item.
  QToolButton* Button(int item) const;
  // The items whose buttons the bar shows, left to right.
  std::vector<int> ShownItems() const;

  // Puts the bar where the model says, and the model where the user moved the bar.
  void ApplyModelAlign();
  void TakeAlignFromWindow();

  void SetCustomizing(bool on);
  bool Customizing() const { return customizing_; }
  // Where a button dropped at point (the bar's coordinates) goes.
  size_t DropIndexAt(QPoint point) const;

 protected:
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dragMoveEvent(QDragMoveEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  int ItemAt(QPoint point) const;
  void DragButton(int item);

  TSpeedBar& model_;
  QMainWindow* window_;
  std::map<int, QWidgetAction*> buttons_;  // item -> its button's action
  bool customizing_ = false;
  int pressed_item_ = -1;
  QPoint press_point_;
  bool dropped_here_ = false;  // the running drag ended on this bar
};

}  // namespace qb::qt
