// The tool bar in the real main window: its buttons, the bar's place, the
// "Customize Speedbar" window driven with QTest's mouse, and the layout coming back
// after a restart.
#include "app/speedbar.h"

#include <gtest/gtest.h>

#include <QDockWidget>
#include <QDrag>
#include <QDropEvent>
#include <QListWidget>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QTest>
#include <QToolButton>

#include "qt/help_window.h"
#include "qt/main_window_fixture.h"
#include "qt/speedbar_setup.h"
#include "qt/speedbar_widget.h"

// Resource initialisers live in the global namespace.
inline void InitManualResource() {
  Q_INIT_RESOURCE(manual);
}

namespace qb::qt {
namespace {

int Item(std::string_view name) {
  const int item = FindSpeedItem(name);
  EXPECT_GE(item, 0) << name;
  return item;
}

std::vector<std::string> Shown(TQtSpeedBar* bar) {
  std::vector<std::string> names;
  for (int item : bar->ShownItems()) names.push_back(SpeedItems()[static_cast<size_t>(item)].Name);
  return names;
}

// The offscreen platform has no drag and drop: a drag started by the program ends
// in the drop given here (or in none).
class DragScript {
 public:
  DragScript() : saved_(SpeedItemDragRunner()) {}
  ~DragScript() { SpeedItemDragRunner() = saved_; }
  // The drag ends over target at point (its coordinates).
  void DropOn(QWidget* target, QPoint point) {
    SpeedItemDragRunner() = [this, target, point](QDrag& drag) {
      ++drags_;
      QDragEnterEvent enter(point, drag.supportedActions(), drag.mimeData(), Qt::LeftButton, {});
      QApplication::sendEvent(target, &enter);
      if (!enter.isAccepted()) return Qt::IgnoreAction;
      QDropEvent drop(QPointF(point), drag.supportedActions(), drag.mimeData(), Qt::LeftButton, {});
      QApplication::sendEvent(target, &drop);
      return drop.isAccepted() ? drop.dropAction() : Qt::IgnoreAction;
    };
  }
  // The drag ends where nothing takes it.
  void DropNowhere() {
    SpeedItemDragRunner() = [this](QDrag&) {
      ++drags_;
      return Qt::IgnoreAction;
    };
  }
  int Drags() const { return drags_; }

 private:
  TDragRunner saved_;
  int drags_ = 0;
};

// Press, move past the drag distance, release: as a hand drags.
void MouseDrag(QWidget* widget, QPoint from, QPoint by) {
  QTest::mousePress(widget, Qt::LeftButton, {}, from);
  QTest::mouseMove(widget, from + by / 2);
  QTest::mouseMove(widget, from + by);
  QTest::mouseRelease(widget, Qt::LeftButton, {}, from + by);
}

class SpeedBarTest : public MainWindowTest {
 protected:
  void Start(TQtMainWindow& window) {
    ASSERT_TRUE(window.Form().FormCreate({}));
    window.show();
    window.Form().FormShow({});
  }
  TSpeedbarSetupWindow* OpenSetup() {
    window_->Action(TCommand::ModToolbarMiClick)->trigger();
    return window_->SpeedbarSetup();
  }
  void CloseFreed(TSpeedbarSetupWindow* setup) {
    QTest::keyClick(setup, Qt::Key_Escape);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  }
};

TEST_F(SpeedBarTest, CustomisedWithTheMouseTheBarComesBackAfterARestart) {
  Start(*window_);
  TQtSpeedBar* bar = window_->SpeedBar();
  EXPECT_EQ(Shown(bar).front(), "OpenSi");
  ASSERT_TRUE(window_->Action(TCommand::ModToolbarMiClick)->isEnabled());
  TSpeedbarSetupWindow* setup = OpenSetup();
  ASSERT_NE(setup, nullptr);
  EXPECT_TRUE(setup->isVisible());
  EXPECT_FALSE(setup->isModal());
  EXPECT_TRUE(setup->windowFlags() & Qt::WindowStaysOnTopHint);
  EXPECT_EQ(setup->windowTitle(), "Customize Speedbar");
  ASSERT_EQ(setup->Categories()->count(), 5);
  EXPECT_EQ(setup->Categories()->item(4)->text(), "Help");

  // File: Open is on the bar (greyed, not dragged); Exit is not.
  setup->Categories()->setCurrentRow(0);
  QListWidget* list = setup->Buttons();
  ASSERT_EQ(list->count(), 3);
  EXPECT_EQ(list->item(2)->text(), "Exit");
  EXPECT_FALSE(list->item(2)->icon().isNull());
  EXPECT_FALSE(list->item(0)->flags() & Qt::ItemIsDragEnabled);
  list->setCurrentRow(2);
  EXPECT_EQ(setup->HintShown(), "Close the application");

  // Exit dragged from the list onto the bar, dropped on the left half of its
  // second button: it becomes the second button.
  DragScript script;
  const QRect second = bar->Button(Item("CreateFCMi"))->geometry();
  script.DropOn(bar, QPoint(second.left() + 2, second.center().y()));
  MouseDrag(list->viewport(), list->visualItemRect(list->item(2)).center(), QPoint(40, 0));
  EXPECT_EQ(script.Drags(), 1);
  ASSERT_GE(Shown(bar).size(), 2u);
  EXPECT_EQ(Shown(bar)[1], "ExitSi");
  EXPECT_FALSE(list->item(2)->flags() & Qt::ItemIsDragEnabled);  // now on the bar
  // An item on the bar does not drag from the list.
  MouseDrag(list->viewport(), list->visualItemRect(list->item(0)).center(), QPoint(40, 0));
  EXPECT_EQ(script.Drags(), 1);

  // Open dragged off the bar.
  script.DropNowhere();
  MouseDrag(bar, bar->Button(Item("OpenSi"))->geometry().center(), QPoint(0, 60));
  EXPECT_EQ(script.Drags(), 2);
  EXPECT_EQ(Shown(bar).front(), "ExitSi");
  EXPECT_TRUE(list->item(0)->flags() & Qt::ItemIsDragEnabled);  // the list follows the bar

  CloseFreed(setup);
  EXPECT_EQ(window_->SpeedbarSetup(), nullptr);
  const std::vector<std::string> chosen = Shown(bar);
  window_->close();

  TQtMainWindow again(TPaths::InFolder(dir_.Path().string()), &clipboard_, &ui_);
  Start(again);
  EXPECT_EQ(Shown(again.SpeedBar()), chosen);
  EXPECT_TRUE(again.SpeedBar()->Button(Item("ExitSi"))->isVisible());
  EXPECT_FALSE(again.SpeedBar()->Button(Item("OpenSi"))->isVisible());
  again.close();
}

TEST_F(SpeedBarTest, ButtonsDragOnlyWhileCustomisingAndRunTheirCommandsOtherwise) {
  Start(*window_);
  TQtSpeedBar* bar = window_->SpeedBar();
  QToolButton* auto_save = bar->Button(Item("AutoSaveSi"));
  ASSERT_TRUE(auto_save->isVisible());
  const bool before = window_->Form().ClipboardCommands().AutoSave();
  QTest::mouseClick(auto_save, Qt::LeftButton);
  EXPECT_NE(window_->Form().ClipboardCommands().AutoSave(), before);

  DragScript script;
  script.DropNowhere();
  // Not customising: a drag on the bar does nothing to it.
  MouseDrag(bar, auto_save->geometry().center(), QPoint(0, 60));
  EXPECT_EQ(script.Drags(), 0);

  TSpeedbarSetupWindow* setup = OpenSetup();
  // Customising: a click is no command; a drag along the bar moves the button.
  QTest::mouseClick(bar, Qt::LeftButton, {}, auto_save->geometry().center());
  EXPECT_NE(window_->Form().ClipboardCommands().AutoSave(), before);
  const QRect first = bar->Button(Item("OpenSi"))->geometry();
  script.DropOn(bar, QPoint(first.left() + 1, first.center().y()));
  MouseDrag(bar, auto_save->geometry().center(), QPoint(-40, 0));
  const std::vector<std::string> moved = Shown(bar);
  EXPECT_EQ(moved.front(), "AutoSaveSi");
  EXPECT_EQ(std::count(moved.begin(), moved.end(), "AutoSaveSi"), 1);
  CloseFreed(setup);
  QTest::mouseClick(auto_save, Qt::LeftButton);
  EXPECT_EQ(window_->Form().ClipboardCommands().AutoSave(), before);
}

TEST_F(SpeedBarTest, OneSetupWindowThatComesForwardAndClosesWithItsButton) {
  TSpeedbarSetupWindow* setup = OpenSetup();
  ASSERT_NE(setup, nullptr);
  setup->showMinimized();
  EXPECT_EQ(OpenSetup(), setup);
  EXPECT_FALSE(setup->isMinimized());
  EXPECT_EQ(window_->findChildren<TSpeedbarSetupWindow*>().size(), 1);
  EXPECT_EQ(setup->CloseButton()->text(), "&Close");
  // F1 opens the manual at the tool bar's page.
  InitManualResource();
  ASSERT_TRUE(QTest::qWaitForWindowActive(setup));
  QTest::keyClick(setup, Qt::Key_F1);
  THelpWindow* help = nullptr;
  for (QWidget* widget : QApplication::topLevelWidgets())
    if (auto* found = qobject_cast<THelpWindow*>(widget)) help = found;
  ASSERT_NE(help, nullptr);
  EXPECT_EQ(help->CurrentPage(), HelpPageOfContext(speedbar::kHelpContext));
  EXPECT_EQ(help->CurrentPage(), "toolbar.html");
  QTest::mouseClick(setup->CloseButton(), Qt::LeftButton);
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_EQ(window_->SpeedbarSetup(), nullptr);
  EXPECT_FALSE(window_->SpeedBar()->Customizing());
}

TEST_F(SpeedBarTest, TheBarSitsAtTheTopOrBottomAndNeverAtASide) {
  TQtSpeedBar* bar = window_->SpeedBar();
  EXPECT_TRUE(bar->isAreaAllowed(Qt::TopToolBarArea));
  EXPECT_TRUE(bar->isAreaAllowed(Qt::BottomToolBarArea));
  EXPECT_FALSE(bar->isAreaAllowed(Qt::LeftToolBarArea));
  EXPECT_FALSE(bar->isAreaAllowed(Qt::RightToolBarArea));
  EXPECT_FALSE(bar->isFloatable());
  EXPECT_TRUE(bar->isMovable());

  TIniFile settings;
  settings.LoadFromText("[TMainFormSpeedBar1]\nPosition=2\n");
  window_->RestoreToolbar(settings);
  EXPECT_EQ(window_->toolBarArea(bar), Qt::BottomToolBarArea);
  settings.LoadFromText("[TMainFormSpeedBar1]\nPosition=4\n");
  window_->RestoreToolbar(settings);
  EXPECT_EQ(window_->toolBarArea(bar), Qt::TopToolBarArea);

  // Where the user moved the bar is what is saved.
  window_->addToolBar(Qt::BottomToolBarArea, bar);
  TIniFile saved;
  window_->SaveToolbar(saved);
  EXPECT_EQ(saved.ReadInteger("TMainFormSpeedBar1", "Position", 0), 2);
  EXPECT_EQ(saved.ReadInteger("TMainFormSpeedBar1", "Count", 0), 12);
}

TEST_F(SpeedBarTest, MoveButtonMovesAndDropDownsOpenTheirMenus) {
  TSpeedBar& model = window_->Form().SpeedBar1();
  for (const char* name : {"CopySi", "MoveSi", "DelUserGlyph", "EditClipboardSi", "HideTBSi"})
    model.Insert(Item(name), 0);
  QCoreApplication::processEvents();  // the bar lays its buttons out
  TQtSpeedBar* bar = window_->SpeedBar();
  for (const char* name : {"CopySi", "MoveSi", "DelUserGlyph"}) {
    QToolButton* button = bar->Button(Item(name));
    EXPECT_TRUE(button->isVisible()) << name;
    EXPECT_TRUE(button->isEnabled()) << name;
  }
  EXPECT_NE(bar->Button(Item("CopySi"))->defaultAction(), bar->Button(Item("MoveSi"))->defaultAction());
  // Move (not Copy) on the selected item.
  const std::string target = dir_ / "Other.qvf";
  QTest::mouseClick(window_->ExplorerView()->viewport(), Qt::LeftButton, {}, RowPoint("Code\\Snippet"));
  ui_.ChooseFile(target);
  QTest::mouseClick(bar->Button(Item("MoveSi")), Qt::LeftButton);
  ASSERT_FALSE(ui_.Boxes().empty());
  EXPECT_EQ(ui_.Boxes().back().Text, "Moved 1 item to " + target + ".");
  EXPECT_EQ(Names(Disk()), std::vector<std::string>{"NewItems\\Item0"});
  EXPECT_EQ(Names(Disk(target)), std::vector<std::string>{"Code\\Snippet"});
  QToolButton* edit = bar->Button(Item("EditClipboardSi"));
  ASSERT_NE(edit->menu(), nullptr);
  EXPECT_EQ(edit->menu()->actions().size(), 10);
  EXPECT_EQ(edit->toolTip(), "Edit clipboard");
  // Hide Toolbar hides the bar; it is a plain button, never drawn pressed.
  window_->Run(TCommand::AutoSaveMiClick);  // a command refreshes the check marks
  EXPECT_FALSE(bar->Button(Item("HideTBSi"))->isChecked());
  QTest::mouseClick(bar->Button(Item("HideTBSi")), Qt::LeftButton);
  EXPECT_FALSE(bar->isVisible());
  window_->Run(TCommand::ToolbarMiClick);
  EXPECT_TRUE(bar->isVisible());
}

}  // namespace
}  // namespace qb::qt
