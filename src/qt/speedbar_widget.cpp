#include "qt/speedbar_widget.h"

#include <QApplication>
#include <QDrag>
#include <QDragEnterEvent>
#include <QMainWindow>
#include <QMenu>
#include <QMimeData>
#include <QPainter>
#include <QToolButton>
#include <QWidgetAction>

#include "qt/explorer_tree.h"
#include "qt/qt_text.h"

namespace qb::qt {

namespace {

QString HintText(const std::string& text) {
  QString hint = FromUtf8(text);
  hint.replace("\r\n", "\n");
  return hint;
}

Qt::ToolBarArea AreaOf(TSpeedBarAlign align) {
  switch (align) {
    case TSpeedBarAlign::Bottom:
      return Qt::BottomToolBarArea;
    case TSpeedBarAlign::Left:
      return Qt::LeftToolBarArea;
    case TSpeedBarAlign::Right:
      return Qt::RightToolBarArea;
    case TSpeedBarAlign::Top:
      break;
  }
  return Qt::TopToolBarArea;
}

// The item a drag carries; -1 for anything else.
int DraggedItem(const QMimeData* data) {
  if (!data || !data->hasFormat(kSpeedItemMimeType)) return -1;
  return FindSpeedItem(data->data(kSpeedItemMimeType).toStdString());
}

}  // namespace

TDragRunner& SpeedItemDragRunner() {
  static TDragRunner runner = [](QDrag& drag) { return drag.exec(Qt::MoveAction | Qt::CopyAction); };
  return runner;
}

QPixmap SpeedButtonPixmap(int item) {
  QPixmap pixmap(speedbar::kButtonWidth, speedbar::kButtonHeight);
  pixmap.fill(QApplication::palette().color(QPalette::Button));
  QPainter painter(&pixmap);
  painter.setPen(QApplication::palette().color(QPalette::Dark));
  painter.drawRect(pixmap.rect().adjusted(0, 0, -1, -1));
  if (item >= 0 && static_cast<size_t>(item) < SpeedItems().size()) {
    const int image = SpeedItems()[static_cast<size_t>(item)].Image;
    painter.drawPixmap((speedbar::kButtonWidth - 16) / 2, (speedbar::kButtonHeight - 16) / 2,
                       QIcon(TGlyphImages::ImagePath(image)).pixmap(16, 16));
  }
  return pixmap;
}

TQtSpeedBar::TQtSpeedBar(TSpeedBar& model, std::function<QAction*(const TSpeedItem&)> action_of,
                         std::function<QMenu*(const TSpeedItem&, QWidget*)> menu_of, QMainWindow* parent)
    : QToolBar("Toolbar", parent), model_(model), window_(parent) {
  setObjectName("SpeedBar1");
  setIconSize(QSize(16, 16));
  setToolButtonStyle(Qt::ToolButtonIconOnly);
  setFloatable(false);
  setMovable(true);
  Qt::ToolBarAreas allowed;
  for (TSpeedBarAlign align :
       {TSpeedBarAlign::Top, TSpeedBarAlign::Bottom, TSpeedBarAlign::Left, TSpeedBarAlign::Right})
    if (TSpeedBar::ApplyAlign(align)) allowed |= AreaOf(align);
  setAllowedAreas(allowed);
  setAcceptDrops(true);

  const std::vector<TSpeedItem>& items = SpeedItems();
  for (size_t i = 0; i < items.size(); ++i) {
    const TSpeedItem& item = items[i];
    auto* button = new QToolButton;
    button->setObjectName(FromUtf8(item.Name));
    button->setAutoRaise(true);
    button->setIconSize(QSize(16, 16));
    button->setFixedSize(speedbar::kButtonWidth, speedbar::kButtonHeight);
    const bool drop_down = item.Command == TCommand::PopupMenu1 || item.Command == TCommand::PopupMenu2;
    QAction* action = drop_down ? nullptr : action_of(item);
    if (action) {
      button->setDefaultAction(action);
    } else {
      button->setIcon(QIcon(TGlyphImages::ImagePath(item.Image)));
      button->setToolTip(HintText(item.ShortHint()));
      button->setStatusTip(HintText(item.LongHint()));
      if (drop_down) {
        button->setMenu(menu_of(item, button));
        button->setPopupMode(QToolButton::InstantPopup);
        button->setStyleSheet("QToolButton::menu-indicator { image: none; width: 0px; }");
      } else {
        button->setEnabled(false);  // its command does not exist in this version
      }
    }
    auto* holder = new QWidgetAction(this);
    holder->setDefaultWidget(button);
    buttons_[static_cast<int>(i)] = holder;
  }
  Rebuild();
}

TQtSpeedBar::~TQtSpeedBar() = default;

QToolButton* TQtSpeedBar::Button(int item) const {
  auto it = buttons_.find(item);
  return it == buttons_.end() ? nullptr : static_cast<QToolButton*>(it->second->defaultWidget());
}

std::vector<int> TQtSpeedBar::ShownItems() const {
  std::vector<int> shown;
  for (QAction* action : actions())
    for (const auto& [item, holder] : buttons_)
      if (holder == action) shown.push_back(item);
  return shown;
}

void TQtSpeedBar::Rebuild() {
  if (ShownItems() == model_.Buttons()) return;
  for (const auto& [item, holder] : buttons_) removeAction(holder);
  for (int item : model_.Buttons())
    if (auto it = buttons_.find(item); it != buttons_.end()) addAction(it->second);
}

void TQtSpeedBar::ApplyModelAlign() {
  if (window_ && window_->toolBarArea(this) != AreaOf(model_.Align()))
    window_->addToolBar(AreaOf(model_.Align()), this);
}

void TQtSpeedBar::TakeAlignFromWindow() {
  if (!window_) return;
  switch (window_->toolBarArea(this)) {
    case Qt::BottomToolBarArea:
      model_.SetAlign(TSpeedBarAlign::Bottom);
      break;
    case Qt::TopToolBarArea:
      model_.SetAlign(TSpeedBarAlign::Top);
      break;
    default:  // the sides are refused; the bar stays where the model has it
      break;
  }
}

void TQtSpeedBar::SetCustomizing(bool on) {
  customizing_ = on;
  pressed_item_ = -1;
  // While customising, presses reach the bar, which drags the buttons.
  for (const auto& [item, holder] : buttons_)
    holder->defaultWidget()->setAttribute(Qt::WA_TransparentForMouseEvents, on);
}

size_t TQtSpeedBar::DropIndexAt(QPoint point) const {
  const std::vector<int> shown = ShownItems();
  const bool horizontal = orientation() == Qt::Horizontal;
  for (size_t i = 0; i < shown.size(); ++i) {
    const QRect rect = Button(shown[i])->geometry();
    if (horizontal ? point.x() < rect.center().x() : point.y() < rect.center().y()) return i;
  }
  return shown.size();
}

int TQtSpeedBar::ItemAt(QPoint point) const {
  for (int item : ShownItems())
    if (Button(item)->geometry().contains(point)) return item;
  return -1;
}

void TQtSpeedBar::dragEnterEvent(QDragEnterEvent* event) {
  if (DraggedItem(event->mimeData()) >= 0)
    event->acceptProposedAction();
  else
    event->ignore();
}

void TQtSpeedBar::dragMoveEvent(QDragMoveEvent* event) {
  if (DraggedItem(event->mimeData()) >= 0)
    event->acceptProposedAction();
  else
    event->ignore();
}

void TQtSpeedBar::dropEvent(QDropEvent* event) {
  const int item = DraggedItem(event->mimeData());
  if (item < 0) {
    event->ignore();
    return;
  }
  dropped_here_ = true;
  model_.Insert(item, DropIndexAt(event->position().toPoint()));
  event->acceptProposedAction();
}

void TQtSpeedBar::mousePressEvent(QMouseEvent* event) {
  if (customizing_ && event->button() == Qt::LeftButton) {
    pressed_item_ = ItemAt(event->position().toPoint());
    press_point_ = event->position().toPoint();
    if (pressed_item_ >= 0) {
      event->accept();
      return;
    }
  }
  QToolBar::mousePressEvent(event);
}

void TQtSpeedBar::mouseMoveEvent(QMouseEvent* event) {
  if (customizing_ && pressed_item_ >= 0 && (event->buttons() & Qt::LeftButton) &&
      (event->position().toPoint() - press_point_).manhattanLength() >= QApplication::startDragDistance()) {
    const int item = pressed_item_;
    pressed_item_ = -1;
    DragButton(item);
    event->accept();
    return;
  }
  QToolBar::mouseMoveEvent(event);
}

void TQtSpeedBar::mouseReleaseEvent(QMouseEvent* event) {
  pressed_item_ = -1;
  QToolBar::mouseReleaseEvent(event);
}

void TQtSpeedBar::DragButton(int item) {
  auto* mime = new QMimeData;
  mime->setData(kSpeedItemMimeType, QByteArray::fromStdString(SpeedItems()[static_cast<size_t>(item)].Name));
  auto* drag = new QDrag(this);
  drag->setMimeData(mime);
  drag->setPixmap(SpeedButtonPixmap(item));
  drag->setHotSpot(QPoint(speedbar::kButtonWidth / 2, speedbar::kButtonHeight / 2));
  dropped_here_ = false;
  SpeedItemDragRunner()(*drag);
  // Dropped anywhere but on the bar: the button comes off it.
  if (!dropped_here_) model_.Remove(item);
  dropped_here_ = false;
}

}  // namespace qb::qt
