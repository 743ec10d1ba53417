#include "qt/dock_manager.h"

#include <QApplication>
#include <QDockWidget>
#include <QEvent>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMainWindow>
#include <QMenuBar>
#include <QMouseEvent>
#include <QRubberBand>
#include <QScreen>
#include <QSplitter>
#include <QStatusBar>
#include <QStyle>
#include <QTabBar>
#include <QTabWidget>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

#include "app/dock_layout_file.h"
#include "qt/qt_text.h"

namespace qb::qt {

namespace {

// How far into a closed panel's edge of the centre a drop still reaches it.
constexpr int kEdgeBand = 24;
constexpr int kSmallFontPixels = 10;

size_t Index(TPane pane) {
  return static_cast<size_t>(pane);
}

Qt::DockWidgetArea AreaOf(TDockPanel panel) {
  switch (panel) {
    case TDockPanel::Left:
      return Qt::LeftDockWidgetArea;
    case TDockPanel::Right:
      return Qt::RightDockWidgetArea;
    case TDockPanel::Bottom:
      return Qt::BottomDockWidgetArea;
  }
  return Qt::LeftDockWidgetArea;
}

QRect ToQRect(const TDockRect& r) {
  return QRect(r.Left, r.Top, r.Width(), r.Height());
}

TDockRect ToDockRect(const QRect& r) {
  return TDockRect::FromSize(r.x(), r.y(), r.width(), r.height());
}

QRect GlobalRect(const QWidget* widget) {
  return QRect(widget->mapToGlobal(QPoint(0, 0)), widget->size());
}

}  // namespace

// A title bar that starts drags: the caption and a close button. Pressing and
// moving it past the drag distance hands the drag to the docking; the drop runs
// after the mouse event, as it may rebuild the widgets this bar lives in.
class TDockTitleBar : public QWidget {
 public:
  TDockTitleBar(TQtDocking* docking, TQtDocking::TDragged dragged, const QString& caption,
                std::function<void()> close, QWidget* parent)
      : QWidget(parent), docking_(docking), dragged_(dragged) {
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(4, 1, 1, 1);
    layout->setSpacing(2);
    label_ = new QLabel(caption, this);
    label_->setObjectName("DockCaption");
    layout->addWidget(label_, 1);
    auto* button = new QToolButton(this);
    button->setObjectName("DockClose");
    button->setIcon(style()->standardIcon(QStyle::SP_TitleBarCloseButton));
    button->setAutoRaise(true);
    button->setToolTip("Close");
    button->setFocusPolicy(Qt::NoFocus);
    QObject::connect(button, &QToolButton::clicked, docking,
                     [docking, close] { QTimer::singleShot(0, docking, close); });
    layout->addWidget(button);
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::Mid);
    setCursor(Qt::SizeAllCursor);
  }
  void SetCaption(const QString& caption) { label_->setText(caption); }
  QString Caption() const { return label_->text(); }

 protected:
  void mousePressEvent(QMouseEvent* event) override {
    if (event->button() == Qt::LeftButton) press_ = event->globalPosition().toPoint();
    event->accept();
  }
  void mouseMoveEvent(QMouseEvent* event) override {
    event->accept();
    if (!(event->buttons() & Qt::LeftButton) || !press_) return;
    const QPoint global = event->globalPosition().toPoint();
    if (!docking_->Dragging()) {
      if ((global - *press_).manhattanLength() < QApplication::startDragDistance()) return;
      docking_->BeginDrag(dragged_, *press_);
    }
    docking_->DragMove(global);
  }
  void mouseReleaseEvent(QMouseEvent* event) override {
    event->accept();
    press_.reset();
    if (event->button() != Qt::LeftButton || !docking_->Dragging()) return;
    const QPoint global = event->globalPosition().toPoint();
    QTimer::singleShot(0, docking_, [docking = docking_, global] { docking->Drop(global); });
  }
  void mouseDoubleClickEvent(QMouseEvent* event) override { event->accept(); }

 private:
  TQtDocking* docking_;
  TQtDocking::TDragged dragged_;
  QLabel* label_;
  std::optional<QPoint> press_;
};

TQtDocking::TQtDocking(QMainWindow* window, std::array<QDockWidget*, 3> docks)
    : QObject(window), window_(window), docks_(docks) {
  // The bottom area lies under the centre only; the side areas run the full height.
  window_->setCorner(Qt::TopLeftCorner, Qt::LeftDockWidgetArea);
  window_->setCorner(Qt::BottomLeftCorner, Qt::LeftDockWidgetArea);
  window_->setCorner(Qt::TopRightCorner, Qt::RightDockWidgetArea);
  window_->setCorner(Qt::BottomRightCorner, Qt::RightDockWidgetArea);
  for (TPane pane : kAllPanes) {
    QDockWidget* dock = PaneDock(pane);
    contents_[Index(pane)] = dock->widget();
    dock->setFeatures(QDockWidget::DockWidgetClosable | QDockWidget::DockWidgetFloatable);
    dock->setAllowedAreas(pane == TPane::Note
                              ? Qt::LeftDockWidgetArea | Qt::RightDockWidgetArea | Qt::BottomDockWidgetArea
                              : Qt::LeftDockWidgetArea | Qt::RightDockWidgetArea);
    dock->setTitleBarWidget(
        MakeTitleBar(dock, dock->windowTitle(), {TDragKind::Pane, pane}, [this, pane] { ClosePane(pane); }));
    dock->installEventFilter(this);
  }
}

TQtDocking::~TQtDocking() {
  delete overlay_;
}

TDockTitleBar* TQtDocking::MakeTitleBar(QWidget* parent, const QString& caption, TDragged dragged,
                                        std::function<void()> close) {
  return new TDockTitleBar(this, dragged, caption, std::move(close), parent);
}

// --- start-up and shut-down ------------------------------------------------------------

void TQtDocking::ApplyFirstRun() {
  Capture();
  layout_.ApplyFirstRun();
  Apply();
}

void TQtDocking::RestorePanePlacement(TPane pane, QRect frame) {
  layout_.RestorePanePlacement(pane, ToDockRect(frame));
}

bool TQtDocking::Restore(const std::string& layout_file, const TIniFile& settings) {
  Capture();
  if (!ReadLayoutFile(layout_file, layout_, settings)) return false;
  KeepWindowsOnScreens();
  Apply();
  return true;
}

void TQtDocking::Save(const std::string& layout_file, const std::string& settings_file) {
  Capture();
  if (layout_.TabHost() || layout_.ConjoinHost()) {
    TIniFile settings(settings_file);
    WriteHostPlacements(layout_, settings);
    settings.UpdateFile();
  }
  WriteLayoutFile(layout_file, layout_);
}

std::optional<QRect> TQtDocking::FloatingFrame(TPane pane) const {
  const TPaneState& s = layout_.Pane(pane);
  if (s.Place != TPlaceKind::Floating) return std::nullopt;
  if (PaneDock(pane)->isFloating() && PaneDock(pane)->isVisible()) return PaneDock(pane)->geometry();
  return ToQRect(s.Bounds);
}

void TQtDocking::KeepWindowsOnScreens() {
  std::vector<TDockRect> screens;
  for (QScreen* screen : QGuiApplication::screens())
    screens.push_back(ToDockRect(screen->availableGeometry()));
  for (TPane pane : kAllPanes)
    if (layout_.Pane(pane).Place == TPlaceKind::Floating)
      layout_.SetPaneBounds(pane, KeepOnScreens(layout_.Pane(pane).Bounds, screens));
  if (layout_.TabHost() && !layout_.TabHost()->Panel)
    layout_.SetTabHostBounds(KeepOnScreens(layout_.TabHost()->Bounds, screens));
  if (layout_.ConjoinHost())
    layout_.SetConjoinHostBounds(KeepOnScreens(layout_.ConjoinHost()->Bounds, screens));
}

// --- the user's work -----------------------------------------------------------------------

void TQtDocking::ShowPane(TPane pane) {
  Capture();
  layout_.ShowPane(pane);
  Apply();
  if (layout_.Pane(pane).Place == TPlaceKind::Floating) PaneDock(pane)->raise();
}

void TQtDocking::ClosePane(TPane pane) {
  Capture();
  layout_.ClosePane(pane);
  Apply();
}

void TQtDocking::CloseTabHost() {
  Capture();
  layout_.CloseTabHost();
  Apply();
}

void TQtDocking::CloseConjoinHost() {
  Capture();
  layout_.CloseConjoinHost();
  Apply();
}

// --- dragging --------------------------------------------------------------------------------

TDockClient TQtDocking::DraggedClient() const {
  if (dragging_ && dragging_->Kind == TDragKind::TabHost) return TDockClient::TabHost();
  return TDockClient::Of(dragging_ ? dragging_->Pane : TPane::Explorer);
}

bool TQtDocking::DraggedIs(TPane pane) const {
  return dragging_ && dragging_->Kind == TDragKind::Pane && dragging_->Pane == pane;
}

void TQtDocking::BeginDrag(TDragged dragged, QPoint grab) {
  Capture();
  dragging_ = dragged;
  TDockRect from;
  switch (dragged.Kind) {
    case TDragKind::Pane:
      from = layout_.Pane(dragged.Pane).Bounds;
      if (PaneDock(dragged.Pane)->isVisible()) from = ToDockRect(GlobalRect(PaneDock(dragged.Pane)));
      break;
    case TDragKind::TabHost:
      if (tab_dock_) from = ToDockRect(GlobalRect(tab_dock_));
      break;
    case TDragKind::ConjoinHost:
      if (conjoin_dock_) from = ToDockRect(GlobalRect(conjoin_dock_));
      break;
  }
  const QRect outline = FloatOutline(grab);
  grab_offset_ = QPoint(std::clamp(grab.x() - from.Left, 0, std::max(0, outline.width() - 1)),
                        std::clamp(grab.y() - from.Top, 0, std::max(0, outline.height() - 1)));
  if (!overlay_) {
    overlay_ = new QRubberBand(QRubberBand::Rectangle);
    overlay_->setObjectName("DockPreview");
  }
}

QRect TQtDocking::FloatOutline(QPoint global) const {
  QSize size;
  if (!dragging_) return {};
  switch (dragging_->Kind) {
    case TDragKind::Pane: {
      const TPaneState& s = layout_.Pane(dragging_->Pane);
      size = QSize(s.UndockWidth, s.UndockHeight);
      break;
    }
    case TDragKind::TabHost:
      if (layout_.TabHost()) size = ToQRect(layout_.TabHost()->Bounds).size();
      break;
    case TDragKind::ConjoinHost:
      if (layout_.ConjoinHost()) size = ToQRect(layout_.ConjoinHost()->Bounds).size();
      break;
  }
  if (size.width() <= 0 || size.height() <= 0)
    size = QSize(dock_names::kTabHostWidth, dock_names::kTabHostHeight);
  return QRect(global - grab_offset_, size);
}

void TQtDocking::DragMove(QPoint global) {
  if (!dragging_ || !overlay_) return;
  const TTarget target = TargetAt(global);
  overlay_->setGeometry(target.Accepts ? target.Preview : FloatOutline(global));
  overlay_->show();
  overlay_->raise();
}

void TQtDocking::CancelDrag() {
  dragging_.reset();
  if (overlay_) overlay_->hide();
}

void TQtDocking::Drop(QPoint global) {
  if (!dragging_) return;
  const TTarget target = TargetAt(global);
  const QRect outline = FloatOutline(global);
  const TDragged dragged = *dragging_;
  const TDockClient client = DraggedClient();
  CancelDrag();
  Capture();
  if (dragged.Kind == TDragKind::ConjoinHost) {
    layout_.SetConjoinHostBounds(ToDockRect(outline));
  } else if (!target.Accepts) {
    layout_.Float(client, ToDockRect(outline));
  } else {
    switch (target.What) {
      case TTarget::Kind::Panel:
        layout_.DropOnPanel(target.Panel, client);
        break;
      case TTarget::Kind::Pane:
        layout_.DropOnPane(target.Pane, dragged.Pane, target.Local.x(), target.Local.y(), target.Size.width(),
                           target.Size.height());
        break;
      case TTarget::Kind::TabHost:
        layout_.DropOnTabHost(dragged.Pane);
        break;
      case TTarget::Kind::ConjoinHost:
        layout_.DropOnConjoinHost(dragged.Pane,
                                  target.Side == TDockSide::None || target.Side == TDockSide::Client
                                      ? TDockSide::Right
                                      : target.Side);
        break;
      case TTarget::Kind::None:
        layout_.Float(client, ToDockRect(outline));
        break;
    }
  }
  Apply();
}

QPoint TQtDocking::ClientOrigin() const {
  const int top = window_->menuWidget() ? window_->menuWidget()->height() : 0;
  return window_->mapToGlobal(QPoint(0, top));
}

std::optional<TDockPanel> TQtDocking::PanelOfArea(QDockWidget* dock) const {
  if (dock->isFloating()) return std::nullopt;
  switch (window_->dockWidgetArea(dock)) {
    case Qt::LeftDockWidgetArea:
      return TDockPanel::Left;
    case Qt::RightDockWidgetArea:
      return TDockPanel::Right;
    case Qt::BottomDockWidgetArea:
      return TDockPanel::Bottom;
    default:
      return std::nullopt;
  }
}

QRect TQtDocking::PanelRectInClient(TDockPanel panel) const {
  const QPoint origin = ClientOrigin();
  QRect open;
  for (QDockWidget* dock : panels_applied_[static_cast<size_t>(panel)])
    if (dock->isVisible() && !dock->isFloating()) open |= GlobalRect(dock).translated(-origin);
  if (open.isValid()) return open;
  QWidget* centre = window_->centralWidget();
  const QRect c = GlobalRect(centre).translated(-origin);
  switch (panel) {
    case TDockPanel::Left:
      return QRect(c.left(), c.top(), 0, c.height());
    case TDockPanel::Right:
      return QRect(c.right() + 1, c.top(), 0, c.height());
    case TDockPanel::Bottom:
      return QRect(c.left(), c.bottom() + 1, c.width(), 0);
  }
  return {};
}

TQtDocking::TTarget TQtDocking::TargetAt(QPoint global) const {
  TTarget t;
  if (!dragging_ || dragging_->Kind == TDragKind::ConjoinHost) return t;
  const TDockClient client = DraggedClient();
  const bool dragging_pane = dragging_->Kind == TDragKind::Pane;
  auto pane_target = [&](TPane pane) {
    const QRect r = GlobalRect(PaneContent(pane));
    t.What = TTarget::Kind::Pane;
    t.Pane = pane;
    t.Local = global - r.topLeft();
    t.Size = r.size();
    const TDockZone zone = DockZoneAt(r.width(), r.height(), t.Local.x(), t.Local.y());
    t.Side = zone.Side;
    t.Accepts = layout_.PaneAccepts(pane, client);
    t.Preview = zone.Side == TDockSide::None ? r : ToQRect(zone.Preview).translated(r.topLeft());
    return t;
  };
  auto hits = [&](QWidget* w) { return w && w->isVisible() && GlobalRect(w).contains(global); };

  // Floating windows lie above the main window.
  if (conjoin_dock_ && hits(conjoin_dock_) && dragging_pane) {
    const QRect r = GlobalRect(conjoin_dock_->widget());
    const TDockZone zone = DockZoneAt(r.width(), r.height(), global.x() - r.left(), global.y() - r.top());
    t.What = TTarget::Kind::ConjoinHost;
    t.Side = zone.Side;
    t.Accepts = layout_.ConjoinHostAccepts(client);
    t.Preview = zone.Side == TDockSide::None || zone.Side == TDockSide::Client
                    ? r
                    : ToQRect(zone.Preview).translated(r.topLeft());
    return t;
  }
  const bool tab_dragged = dragging_->Kind == TDragKind::TabHost;
  if (tab_dock_ && !tab_dragged && tab_dock_->isFloating() && hits(tab_dock_)) {
    t.What = TTarget::Kind::TabHost;
    t.Accepts = layout_.TabHostAccepts(client);
    t.Preview = GlobalRect(tab_dock_);
    return t;
  }
  for (TPane pane : kAllPanes)
    if (!DraggedIs(pane) && PaneDock(pane)->isFloating() && hits(PaneDock(pane))) return pane_target(pane);
  // Then what is docked in the main window.
  if (tab_dock_ && !tab_dragged && !tab_dock_->isFloating() && hits(tab_dock_)) {
    t.What = TTarget::Kind::TabHost;
    t.Accepts = layout_.TabHostAccepts(client);
    t.Preview = GlobalRect(tab_dock_);
    return t;
  }
  // A docked pane that refuses the drag (the tab host, or the explorer over the
  // bottom panel's note) leaves the choice to the panel under it.
  for (TPane pane : kAllPanes)
    if (!DraggedIs(pane) && !PaneDock(pane)->isFloating() && hits(PaneDock(pane)) &&
        pane_target(pane).Accepts)
      return t;
  t = TTarget{};
  // The panels: an open one where its docks are, a closed one along its edge.
  const QPoint origin = ClientOrigin();
  const QRect centre = GlobalRect(window_->centralWidget());
  int toolbar_top = 0;
  for (QToolBar* bar : window_->findChildren<QToolBar*>())
    if (bar->isVisible() && window_->toolBarArea(bar) == Qt::TopToolBarArea)
      toolbar_top = std::max(
          toolbar_top, bar->geometry().bottom() + 1 - (origin.y() - window_->mapToGlobal(QPoint()).y()));
  for (TDockPanel panel : kAllDockPanels) {
    const QRect in_client = PanelRectInClient(panel);
    QRect hit = in_client.translated(origin);
    if (hit.width() <= 0 || hit.height() <= 0) {
      switch (panel) {
        case TDockPanel::Left:
          hit = QRect(centre.left(), centre.top(), kEdgeBand, centre.height());
          break;
        case TDockPanel::Right:
          hit = QRect(centre.right() + 1 - kEdgeBand, centre.top(), kEdgeBand, centre.height());
          break;
        case TDockPanel::Bottom:
          hit = QRect(centre.left(), centre.bottom() + 1 - kEdgeBand, centre.width(), kEdgeBand);
          break;
      }
    }
    if (!hit.contains(global)) continue;
    t.What = TTarget::Kind::Panel;
    t.Panel = panel;
    t.Accepts = TDockLayout::PanelAccepts(panel, client);
    t.Preview = ToQRect(layout_.PanelPreview(panel, ToDockRect(in_client), toolbar_top)).translated(origin);
    return t;
  }
  return t;
}

// --- from the model to the widgets ---------------------------------------------------------

void TQtDocking::EnsureTabHost() {
  if (tab_dock_) return;
  tab_dock_ = new QDockWidget(FromUtf8(dock_names::kTabHostCaption), window_);
  tab_dock_->setObjectName(FromUtf8(dock_names::kTabHostName));
  tab_dock_->setFeatures(QDockWidget::DockWidgetClosable | QDockWidget::DockWidgetFloatable);
  tab_dock_->setAllowedAreas(Qt::LeftDockWidgetArea | Qt::RightDockWidgetArea);
  tab_dock_->setMinimumWidth(dock_names::kTabHostWidth);
  auto* title = MakeTitleBar(tab_dock_, tab_dock_->windowTitle(), {TDragKind::TabHost, TPane::Explorer},
                             [this] { CloseTabHost(); });
  QFont small = title->font();
  small.setPixelSize(kSmallFontPixels);
  title->setFont(small);
  tab_dock_->setTitleBarWidget(title);
  page_control_ = new QTabWidget;
  page_control_->setObjectName("PageControl1");
  page_control_->tabBar()->setFont(small);
  page_control_->tabBar()->installEventFilter(this);
  tab_dock_->setWidget(page_control_);
  tab_dock_->installEventFilter(this);
  window_->addDockWidget(Qt::RightDockWidgetArea, tab_dock_);
  tab_dock_->setFloating(true);
  tab_dock_->hide();
}

void TQtDocking::EnsureConjoinHost() {
  if (conjoin_dock_) return;
  conjoin_dock_ = new QDockWidget(window_);
  conjoin_dock_->setObjectName("ConjoinDockHost");
  conjoin_dock_->setFeatures(QDockWidget::DockWidgetClosable | QDockWidget::DockWidgetFloatable);
  conjoin_dock_->setAllowedAreas(Qt::NoDockWidgetArea);
  auto* title = MakeTitleBar(conjoin_dock_, "", {TDragKind::ConjoinHost, TPane::Explorer},
                             [this] { CloseConjoinHost(); });
  QFont small = title->font();
  small.setPixelSize(kSmallFontPixels);
  title->setFont(small);
  conjoin_dock_->setTitleBarWidget(title);
  conjoin_dock_->installEventFilter(this);
  window_->addDockWidget(Qt::RightDockWidgetArea, conjoin_dock_);
  conjoin_dock_->setFloating(true);
  conjoin_dock_->hide();
  conjoin_applied_.clear();
}

// Pane contents still inside a host's widgets go back to their own docks before
// the host's widgets go.
void TQtDocking::DropTabHost() {
  if (!tab_dock_) return;
  for (TPane pane : kAllPanes)
    if (tab_dock_->isAncestorOf(PaneContent(pane))) PaneDock(pane)->setWidget(PaneContent(pane));
  tab_dock_->hide();
  window_->removeDockWidget(tab_dock_);
  tab_dock_->deleteLater();
  tab_dock_ = nullptr;
  page_control_ = nullptr;
}

void TQtDocking::DropConjoinHost() {
  if (!conjoin_dock_) return;
  for (TPane pane : kAllPanes)
    if (conjoin_dock_->isAncestorOf(PaneContent(pane))) PaneDock(pane)->setWidget(PaneContent(pane));
  conjoin_dock_->hide();
  window_->removeDockWidget(conjoin_dock_);
  conjoin_dock_->deleteLater();
  conjoin_dock_ = nullptr;
  conjoin_body_ = nullptr;
  conjoin_applied_.clear();
}

void TQtDocking::RebuildConjoin() {
  const TConjoinHostState& host = *layout_.ConjoinHost();
  QWidget* old_body = conjoin_body_;
  // Each pane under a small title bar of its own, joined by splitters in the
  // order the panes came, each on the side it was dropped at.
  QWidget* arrangement = nullptr;
  for (const TConjoinClient& c : host.Clients) {
    const TPane pane = c.Pane;
    auto* frame = new QWidget;
    frame->setObjectName(QString("Conjoin") + FromUtf8(PaneComponentName(pane)));
    auto* box = new QVBoxLayout(frame);
    box->setContentsMargins(0, 0, 0, 0);
    box->setSpacing(0);
    const std::string_view caption = PaneCaption(pane);
    box->addWidget(
        MakeTitleBar(frame, FromUtf8(caption), {TDragKind::Pane, pane}, [this, pane] { ClosePane(pane); }));
    box->addWidget(PaneContent(pane), 1);
    PaneContent(pane)->show();
    if (!arrangement) {
      arrangement = frame;
      continue;
    }
    const bool vertical = c.Side == TDockSide::Top || c.Side == TDockSide::Bottom;
    auto* splitter = new QSplitter(vertical ? Qt::Vertical : Qt::Horizontal);
    splitter->setChildrenCollapsible(false);
    if (c.Side == TDockSide::Left || c.Side == TDockSide::Top) {
      splitter->addWidget(frame);
      splitter->addWidget(arrangement);
    } else {
      splitter->addWidget(arrangement);
      splitter->addWidget(frame);
    }
    arrangement = splitter;
  }
  conjoin_body_ = arrangement ? arrangement : new QWidget;
  conjoin_dock_->setWidget(conjoin_body_);
  delete old_body;
  conjoin_applied_ = host.Clients;
}

void TQtDocking::ApplyPanels() {
  for (TDockPanel panel : kAllDockPanels) {
    std::vector<QDockWidget*> wanted;
    for (const TDockClient& c : layout_.Panel(panel).Clients) {
      if (c.IsTabHost) {
        if (tab_dock_) wanted.push_back(tab_dock_);
      } else {
        wanted.push_back(PaneDock(c.Pane));
      }
    }
    std::vector<QDockWidget*>& applied = panels_applied_[static_cast<size_t>(panel)];
    bool same = applied == wanted;
    for (QDockWidget* dock : wanted) same = same && PanelOfArea(dock) == panel;
    if (same) continue;
    const Qt::Orientation along = panel == TDockPanel::Bottom ? Qt::Horizontal : Qt::Vertical;
    for (QDockWidget* dock : wanted) {
      if (dock->isFloating()) dock->setFloating(false);
      window_->addDockWidget(AreaOf(panel), dock, along);
    }
    applied = wanted;
  }
}

void TQtDocking::Apply() {
  applying_ = true;
  const auto& tab = layout_.TabHost();
  const auto& conjoin = layout_.ConjoinHost();
  if (tab) EnsureTabHost();
  if (conjoin) EnsureConjoinHost();

  // The contents of panes that stand alone go back into their own docks.
  for (TPane pane : kAllPanes) {
    const TPlaceKind place = layout_.Pane(pane).Place;
    if ((place == TPlaceKind::Floating || place == TPlaceKind::Panel) &&
        PaneDock(pane)->widget() != PaneContent(pane))
      PaneDock(pane)->setWidget(PaneContent(pane));
  }
  // The tab host's pages, in order.
  if (tab) {
    bool same = page_control_->count() == static_cast<int>(tab->Pages.size());
    for (size_t i = 0; same && i < tab->Pages.size(); ++i)
      same = page_control_->widget(static_cast<int>(i)) == PaneContent(tab->Pages[i]);
    if (!same) {
      while (page_control_->count() > 0) page_control_->removeTab(0);
      for (TPane page : tab->Pages) {
        const std::string_view caption = PaneCaption(page);
        page_control_->addTab(PaneContent(page), FromUtf8(caption));
      }
    }
    for (size_t i = 0; i < tab->Pages.size(); ++i) {
      PaneContent(tab->Pages[i])->show();
      page_control_->setTabVisible(static_cast<int>(i), layout_.Pane(tab->Pages[i]).Visible);
    }
    if (tab->Current) page_control_->setCurrentWidget(PaneContent(*tab->Current));
  }
  if (conjoin && conjoin_applied_ != conjoin->Clients) RebuildConjoin();
  if (!tab) DropTabHost();
  if (!conjoin) DropConjoinHost();

  ApplyPanels();

  // Floating windows where the model has them.
  for (TPane pane : kAllPanes) {
    const TPaneState& s = layout_.Pane(pane);
    QDockWidget* dock = PaneDock(pane);
    if (s.Place != TPlaceKind::Floating) continue;
    if (!dock->isFloating()) dock->setFloating(true);
    if (dock->geometry() != ToQRect(s.Bounds)) dock->setGeometry(ToQRect(s.Bounds));
  }
  if (tab && !tab->Panel) {
    if (!tab_dock_->isFloating()) tab_dock_->setFloating(true);
    if (tab_dock_->geometry() != ToQRect(tab->Bounds)) tab_dock_->setGeometry(ToQRect(tab->Bounds));
  }
  if (conjoin) {
    if (!conjoin_dock_->isFloating()) conjoin_dock_->setFloating(true);
    if (conjoin_dock_->geometry() != ToQRect(conjoin->Bounds))
      conjoin_dock_->setGeometry(ToQRect(conjoin->Bounds));
    static_cast<TDockTitleBar*>(conjoin_dock_->titleBarWidget())->SetCaption(FromUtf8(conjoin->Caption));
    conjoin_dock_->setWindowTitle(FromUtf8(conjoin->Caption));
    for (const TConjoinClient& c : conjoin->Clients)
      if (QWidget* frame = PaneContent(c.Pane)->parentWidget())
        frame->setVisible(layout_.Pane(c.Pane).Visible);
  }

  // What shows.
  for (TPane pane : kAllPanes) {
    const TPaneState& s = layout_.Pane(pane);
    const bool own = s.Place == TPlaceKind::Floating || s.Place == TPlaceKind::Panel;
    PaneDock(pane)->setVisible(own && s.Visible);
  }
  if (tab_dock_) tab_dock_->setVisible(tab->Visible);
  if (conjoin_dock_) conjoin_dock_->setVisible(conjoin->Visible);

  ApplyPanelSizes();
  // Once more when the window has laid the docks out (a first show, a dock
  // that has just arrived in an area).
  QTimer::singleShot(0, this, [this] {
    if (!dragging_) ApplyPanelSizes();
  });
  applying_ = false;
  Changed();
}

void TQtDocking::ApplyPanelSizes() {
  for (TDockPanel panel : kAllDockPanels) {
    const int size = layout_.Panel(panel).Size;
    if (size <= 0) continue;
    QList<QDockWidget*> shown;
    QList<int> sizes;
    for (QDockWidget* dock : panels_applied_[static_cast<size_t>(panel)]) {
      if (dock->isHidden()) continue;
      shown.append(dock);
      sizes.append(size);
    }
    if (!shown.isEmpty())
      window_->resizeDocks(shown, sizes, panel == TDockPanel::Bottom ? Qt::Vertical : Qt::Horizontal);
  }
}

void TQtDocking::Changed() {
  if (OnChanged) OnChanged();
}

// --- from the widgets to the model -----------------------------------------------------------

void TQtDocking::Capture() {
  if (applying_) return;
  const int menu = window_->menuWidget() ? window_->menuWidget()->height() : 0;
  const int status =
      window_->statusBar() && window_->statusBar()->isVisible() ? window_->statusBar()->height() : 0;
  layout_.SetClientSize(window_->width(), std::max(0, window_->height() - menu - status));
  const QPoint corner = window_->mapToGlobal(QPoint(0, 0));
  layout_.SetDefaultOrigin(corner.x() + 40, corner.y() + 40);
  for (TPane pane : kAllPanes) {
    QDockWidget* dock = PaneDock(pane);
    if (layout_.Pane(pane).Place == TPlaceKind::Floating) {
      if (dock->isFloating() && dock->isVisible()) layout_.SetPaneBounds(pane, ToDockRect(dock->geometry()));
    } else if (PaneContent(pane)->isVisible()) {
      layout_.SetPaneBounds(pane, ToDockRect(GlobalRect(PaneContent(pane))));
    } else if (layout_.Pane(pane).Place == TPlaceKind::TabHost && page_control_ &&
               page_control_->isVisible()) {
      // A tab behind another one is where the tab shown is.
      if (QWidget* shown = page_control_->currentWidget())
        layout_.SetPaneBounds(pane, ToDockRect(GlobalRect(shown)));
    }
  }
  if (tab_dock_ && tab_dock_->isVisible())
    layout_.SetTabHostBounds(
        ToDockRect(tab_dock_->isFloating() ? tab_dock_->geometry() : GlobalRect(tab_dock_)));
  if (conjoin_dock_ && conjoin_dock_->isVisible())
    layout_.SetConjoinHostBounds(ToDockRect(conjoin_dock_->geometry()));
  for (TDockPanel panel : kAllDockPanels) {
    if (layout_.Panel(panel).Size <= 0) continue;
    for (QDockWidget* dock : panels_applied_[static_cast<size_t>(panel)]) {
      if (!dock->isVisible() || dock->isFloating()) continue;
      layout_.SetPanelSize(panel, panel == TDockPanel::Bottom ? dock->height() : dock->width());
      break;
    }
  }
}

// --- events ----------------------------------------------------------------------------------

bool TQtDocking::eventFilter(QObject* watched, QEvent* event) {
  // A floating window closed by the window manager: the model closes it.
  if (event->type() == QEvent::Close && !applying_ && window_->isVisible()) {
    for (TPane pane : kAllPanes) {
      if (watched == PaneDock(pane)) {
        event->ignore();
        QTimer::singleShot(0, this, [this, pane] { ClosePane(pane); });
        return true;
      }
    }
    if (tab_dock_ && watched == tab_dock_) {
      event->ignore();
      QTimer::singleShot(0, this, [this] { CloseTabHost(); });
      return true;
    }
    if (conjoin_dock_ && watched == conjoin_dock_) {
      event->ignore();
      QTimer::singleShot(0, this, [this] { CloseConjoinHost(); });
      return true;
    }
  }
  // A tab dragged out of the tab host.
  if (page_control_ && watched == page_control_->tabBar()) {
    auto* bar = page_control_->tabBar();
    if (event->type() == QEvent::MouseButtonPress) {
      auto* mouse = static_cast<QMouseEvent*>(event);
      const int index = bar->tabAt(mouse->position().toPoint());
      const auto& tab = layout_.TabHost();
      if (mouse->button() == Qt::LeftButton && tab && index >= 0 &&
          index < static_cast<int>(tab->Pages.size())) {
        tab_press_ = mouse->globalPosition().toPoint();
        tab_pressed_ = tab->Pages[static_cast<size_t>(index)];
      }
    } else if (event->type() == QEvent::MouseMove && tab_press_ && tab_pressed_) {
      auto* mouse = static_cast<QMouseEvent*>(event);
      const QPoint global = mouse->globalPosition().toPoint();
      if (!Dragging()) {
        if ((global - *tab_press_).manhattanLength() < QApplication::startDragDistance()) return false;
        BeginDrag({TDragKind::Pane, *tab_pressed_}, *tab_press_);
      }
      DragMove(global);
      return true;
    } else if (event->type() == QEvent::MouseButtonRelease) {
      tab_press_.reset();
      tab_pressed_.reset();
      if (Dragging()) {
        const QPoint global = static_cast<QMouseEvent*>(event)->globalPosition().toPoint();
        QTimer::singleShot(0, this, [this, global] { Drop(global); });
        return true;
      }
    }
  }
  return QObject::eventFilter(watched, event);
}

}  // namespace qb::qt
