// Docking in the real main window: panes dragged by their title bars float,
// dock, share a tab host or a side-by-side host, close and come back from the
// View menu, and the arrangement survives a restart.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDockWidget>
#include <QRubberBand>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QToolButton>
#include <filesystem>
#include <memory>

#include "app/dock_layout.h"
#include "qt/dock_manager.h"
#include "qt/main_window.h"
#include "qt/main_window_fixture.h"
#include "support/scripted_interaction.h"
#include "support/test_support.h"

namespace qb::qt {
namespace {

void Settle() {
  for (int i = 0; i < 3; ++i) QCoreApplication::processEvents();
}

QRect Global(const QWidget* w) {
  return QRect(w->mapToGlobal(QPoint(0, 0)), w->size());
}

class DockingTest : public ::testing::Test {
 protected:
  void SetUp() override { InitMainWindowResources(); }

  // A main window started as the program starts it.
  std::unique_ptr<TQtMainWindow> Start() {
    auto window = std::make_unique<TQtMainWindow>(TPaths::InFolder(dir_.Path().string()), &clipboard_, &ui_);
    window->move(0, 0);
    window->resize(640, 480);
    window->show();
    EXPECT_TRUE(window->Form().FormCreate({}));
    window->Form().FormShow({});
    Settle();
    return window;
  }

  // Drags what a title bar (or tab) moves from its title to a screen point.
  static void Drag(TQtMainWindow& window, TQtDocking::TDragged what, QPoint from, QPoint to) {
    TQtDocking& docking = window.Docking();
    docking.BeginDrag(what, from);
    docking.DragMove((from + to) / 2);
    docking.DragMove(to);
    docking.Drop(to);
    Settle();
  }
  static QPoint TitleOf(QDockWidget* dock) { return Global(dock->titleBarWidget()).center(); }
  static void DragPane(TQtMainWindow& window, TPane pane, QPoint to) {
    Drag(window, {TQtDocking::TDragKind::Pane, pane}, TitleOf(window.Docking().PaneDock(pane)), to);
  }
  static QPoint CentreEdge(TQtMainWindow& window, TDockPanel panel) {
    const QRect c = Global(window.centralWidget());
    return panel == TDockPanel::Left    ? QPoint(c.left() + 5, c.center().y())
           : panel == TDockPanel::Right ? QPoint(c.right() - 5, c.center().y())
                                        : QPoint(c.center().x(), c.bottom() - 5);
  }

  qbtest::TempDir dir_;
  TMemoryClipboard clipboard_;
  qbtest::ScriptedInteraction ui_;
};

TEST_F(DockingTest, ATabHostDockedRightAndAFloatingNoteComeBackAfterRestart) {
  QRect note_frame;
  {
    auto window = Start();
    TQtDocking& docking = window->Docking();
    // The first run: explorer left, note at the bottom, viewer hidden.
    EXPECT_EQ(window->dockWidgetArea(window->ExplorerDock()), Qt::LeftDockWidgetArea);
    EXPECT_EQ(window->dockWidgetArea(window->NoteDock()), Qt::BottomDockWidgetArea);
    EXPECT_FALSE(window->ViewerDock()->isVisible());

    // The explorer dragged into the middle of the window floats there.
    DragPane(*window, TPane::Explorer, Global(window->centralWidget()).center());
    EXPECT_TRUE(window->ExplorerDock()->isFloating());
    EXPECT_EQ(docking.Layout().Panel(TDockPanel::Left).Size, 0);
    // The viewer shown and dropped on the explorer's centre: a "Collector" with two tabs.
    window->Run(TCommand::ViewerMiClick);
    Settle();
    ASSERT_TRUE(window->ViewerDock()->isVisible());
    DragPane(*window, TPane::Viewer, Global(window->ExplorerView()).center());
    ASSERT_NE(docking.TabHostDock(), nullptr);
    EXPECT_EQ(docking.TabHostDock()->windowTitle().toStdString(), "Collector");
    ASSERT_EQ(docking.PageControl()->count(), 2);
    EXPECT_EQ(docking.PageControl()->tabText(0).toStdString(), "Filing Cabinet");
    EXPECT_EQ(docking.PageControl()->tabText(1).toStdString(), "Viewer");
    EXPECT_FALSE(window->ExplorerDock()->isVisible());
    // The tab host dragged to the right edge docks there.
    Drag(*window, {TQtDocking::TDragKind::TabHost, TPane::Explorer}, TitleOf(docking.TabHostDock()),
         CentreEdge(*window, TDockPanel::Right));
    EXPECT_FALSE(docking.TabHostDock()->isFloating());
    EXPECT_EQ(window->dockWidgetArea(docking.TabHostDock()), Qt::RightDockWidgetArea);
    // The note dragged out floats.
    DragPane(*window, TPane::Note, Global(window->centralWidget()).topLeft() + QPoint(60, 60));
    EXPECT_TRUE(window->NoteDock()->isFloating());
    EXPECT_TRUE(window->NoteDock()->isVisible());
    note_frame = window->NoteDock()->geometry();
    window->close();
  }
  const std::string layout = qbtest::ReadFileText(dir_ / "quiverbox.dat");
  EXPECT_NE(layout.find("RightDockPanel.DockClients=TabDockHost;\n"), std::string::npos) << layout;
  EXPECT_NE(layout.find("Container.DockClients=DockableForm;ViewerForm;\n"), std::string::npos) << layout;

  auto window = Start();
  TQtDocking& docking = window->Docking();
  ASSERT_NE(docking.TabHostDock(), nullptr);
  EXPECT_TRUE(docking.TabHostDock()->isVisible());
  EXPECT_FALSE(docking.TabHostDock()->isFloating());
  EXPECT_EQ(window->dockWidgetArea(docking.TabHostDock()), Qt::RightDockWidgetArea);
  ASSERT_EQ(docking.PageControl()->count(), 2);
  EXPECT_EQ(docking.PageControl()->widget(0), docking.PaneContent(TPane::Explorer));
  EXPECT_EQ(docking.PageControl()->widget(1), docking.PaneContent(TPane::Viewer));
  EXPECT_TRUE(window->NoteDock()->isFloating());
  EXPECT_TRUE(window->NoteDock()->isVisible());
  EXPECT_EQ(window->NoteDock()->geometry(), note_frame);
  EXPECT_FALSE(window->ExplorerDock()->isVisible());
  EXPECT_TRUE(window->Form().DockableForm().Visible());
  EXPECT_TRUE(window->Form().ViewerForm().Visible());
  // Saved again unchanged, the file is the same.
  window->close();
  EXPECT_EQ(qbtest::ReadFileText(dir_ / "quiverbox.dat"), layout);

  // The viewer's tab dragged out: the host goes and the explorer floats where
  // the host's pages were, at its own floating size.
  window = Start();
  TQtDocking& again = window->Docking();
  const QRect pages = Global(again.PageControl()->currentWidget());
  QTabBar* tabs = again.PageControl()->tabBar();
  const QPoint tab = tabs->tabRect(1).center();
  QTest::mousePress(tabs, Qt::LeftButton, {}, tab);
  QTest::mouseMove(tabs, tab + QPoint(30, 30));
  QTest::mouseMove(tabs, tabs->mapFromGlobal(Global(window->centralWidget()).center()));
  QTest::mouseRelease(tabs, Qt::LeftButton, {},
                      tabs->mapFromGlobal(Global(window->centralWidget()).center()));
  Settle();
  EXPECT_EQ(again.TabHostDock(), nullptr);
  EXPECT_TRUE(window->ViewerDock()->isFloating());
  EXPECT_TRUE(window->ExplorerDock()->isFloating());
  EXPECT_TRUE(window->ExplorerDock()->isVisible());
  EXPECT_EQ(window->ExplorerDock()->geometry().topLeft(), pages.topLeft());
  EXPECT_EQ(again.Layout().Panel(TDockPanel::Right).Size, 0);
}

TEST_F(DockingTest, AnEdgeDropMakesASideBySideHostThatDissolvesWhenAPaneLeaves) {
  auto window = Start();
  TQtDocking& docking = window->Docking();
  DragPane(*window, TPane::Explorer, Global(window->centralWidget()).center());
  window->Run(TCommand::ViewerMiClick);
  Settle();
  const QRect explorer = Global(window->ExplorerView());
  DragPane(*window, TPane::Viewer, QPoint(explorer.left() + 3, explorer.center().y()));
  ASSERT_NE(docking.ConjoinHostDock(), nullptr);
  EXPECT_TRUE(docking.ConjoinHostDock()->isVisible());
  EXPECT_EQ(docking.ConjoinHostDock()->windowTitle().toStdString(), "[Filing Cabinet] [Viewer] ");
  // The viewer sits left of the explorer.
  EXPECT_LT(Global(docking.PaneContent(TPane::Viewer)).left(),
            Global(docking.PaneContent(TPane::Explorer)).left());

  // The explorer dragged out by its own title bar: the host goes, the viewer floats.
  QWidget* explorer_frame = docking.PaneContent(TPane::Explorer)->parentWidget();
  auto* title = explorer_frame->findChild<QWidget*>("DockCaption")->parentWidget();
  Drag(*window, {TQtDocking::TDragKind::Pane, TPane::Explorer}, Global(title).center(),
       Global(window->centralWidget()).topLeft() + QPoint(30, 30));
  EXPECT_EQ(docking.ConjoinHostDock(), nullptr);
  EXPECT_TRUE(window->ViewerDock()->isFloating());
  EXPECT_TRUE(window->ViewerDock()->isVisible());
  EXPECT_TRUE(window->ExplorerDock()->isFloating());
  EXPECT_EQ(window->ExplorerDock()->widget(), docking.PaneContent(TPane::Explorer));
}

TEST_F(DockingTest, MouseOnTheTitleBarDragsAndTheCloseButtonCloses) {
  auto window = Start();
  TQtDocking& docking = window->Docking();
  // The explorer refused by the bottom panel: the preview is its floating outline.
  QWidget* title = window->ExplorerDock()->titleBarWidget();
  const QPoint press = title->rect().center();
  const QPoint bottom = title->mapFromGlobal(CentreEdge(*window, TDockPanel::Bottom) - QPoint(0, 40));
  QTest::mousePress(title, Qt::LeftButton, {}, press);
  QTest::mouseMove(title, press + QPoint(20, 20));
  QTest::mouseMove(title, bottom);
  ASSERT_TRUE(docking.Dragging());
  ASSERT_NE(docking.Overlay(), nullptr);
  EXPECT_TRUE(docking.Overlay()->isVisible());
  EXPECT_EQ(docking.Overlay()->size(), QSize(docking.Layout().Pane(TPane::Explorer).UndockWidth,
                                             docking.Layout().Pane(TPane::Explorer).UndockHeight));
  QTest::mouseRelease(title, Qt::LeftButton, {}, bottom);
  Settle();
  EXPECT_FALSE(docking.Dragging());
  EXPECT_FALSE(docking.Overlay()->isVisible());
  EXPECT_TRUE(window->ExplorerDock()->isFloating());
  EXPECT_NE(window->dockWidgetArea(window->ExplorerDock()), Qt::BottomDockWidgetArea);

  // The note's close button: the bottom panel collapses; View > Note opens it again.
  auto* close = window->NoteDock()->titleBarWidget()->findChild<QToolButton*>("DockClose");
  ASSERT_NE(close, nullptr);
  QTest::mouseClick(close, Qt::LeftButton);
  Settle();
  EXPECT_FALSE(window->NoteDock()->isVisible());
  EXPECT_FALSE(window->Form().NoteForm().Visible());
  EXPECT_EQ(docking.Layout().Panel(TDockPanel::Bottom).Size, 0);
  window->Run(TCommand::NoteMiClick);
  Settle();
  EXPECT_TRUE(window->NoteDock()->isVisible());
  EXPECT_TRUE(window->Form().NoteForm().Visible());
  EXPECT_GT(docking.Layout().Panel(TDockPanel::Bottom).Size, 0);
  EXPECT_EQ(window->dockWidgetArea(window->NoteDock()), Qt::BottomDockWidgetArea);
}

TEST_F(DockingTest, ADamagedLayoutFileStartsWithEveryPaneReachable) {
  qbtest::WriteFileBytes(dir_ / "quiverbox.dat",
                         {'L', 'e', 'f', 't', 'D', 'o', 'c', 'k', 'P',  'a',  'n', 'e', 'l',
                          '.', 'W', 'i', 'd', 't', 'h', '=', 'x', '\n', 0xFF, 0,   '='});
  auto window = Start();
  EXPECT_EQ(window->dockWidgetArea(window->ExplorerDock()), Qt::LeftDockWidgetArea);
  EXPECT_EQ(window->dockWidgetArea(window->NoteDock()), Qt::BottomDockWidgetArea);
  // Hidden ("Visible" is not "1"), and shown again from the View menu.
  window->Run(TCommand::ExplorerMiClick);
  Settle();
  EXPECT_TRUE(window->ExplorerDock()->isVisible());
  EXPECT_GT(window->Docking().Layout().Panel(TDockPanel::Left).Size, 0);
}

}  // namespace
}  // namespace qb::qt
