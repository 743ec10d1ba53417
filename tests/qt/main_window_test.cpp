// The main window's widgets: menus, tool bar, the explorer's mouse and the panes,
// driven with QTest on the offscreen platform against a real cabinet.
#include "qt/main_window.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDockWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <functional>

#include "explorer/tree_routines.h"
#include "qt/clipboard_view.h"
#include "qt/explorer_view.h"
#include "qt/main_window_fixture.h"
#include "store/cabinet_store.h"
#include "store/item_paths.h"
#include "support/scripted_interaction.h"
#include "support/test_support.h"

namespace qb::qt {
namespace {

TEST_F(MainWindowTest, MenusCarryTheirCaptionsShortcutsAndImages) {
  std::vector<std::string> titles;
  for (QAction* action : window_->menuBar()->actions()) titles.push_back(action->text().toStdString());
  EXPECT_EQ(titles, (std::vector<std::string>{"&File", "&Edit", "&Clipboard", "&View", "&Help"}));
  for (const TTopMenu& top : MainMenu())
    for (const TMenuEntry& entry : top.Items) {
      if (entry.IsSeparator() || entry.Command == TCommand::None || !entry.SubMenu.empty()) continue;
      QAction* action = window_->Action(entry.Command, entry.Tag);
      ASSERT_NE(action, nullptr) << entry.Name;
      EXPECT_EQ(action->text().toStdString(), entry.Caption);
      EXPECT_EQ(action->shortcut(), QKeySequence(QString::fromStdString(entry.ShortCut))) << entry.Name;
      EXPECT_EQ(action->icon().isNull(), entry.Image < 0) << entry.Name;
    }
  QMenu* languages = window_->Menu("EditClipboardMi");
  ASSERT_NE(languages, nullptr);
  EXPECT_EQ(languages->actions().size(), 10);
  EXPECT_EQ(languages->actions()[0]->text().toStdString(), "&Plain Text");
  // The tool bar holds the items shown at first, in order, with their hints.
  std::vector<std::string> tips;
  for (int item : window_->SpeedBar()->ShownItems())
    tips.push_back(window_->SpeedBar()->Button(item)->toolTip().toStdString());
  ASSERT_GE(tips.size(), 12u);
  EXPECT_EQ(tips[0], "Open existing\nFile Cabinet");
  EXPECT_EQ(tips.back(), "Helpl");
  // Every button that runs a command has its action, with the button's own hint
  // (Move's action is not Copy's).
  for (const TSpeedItem& item : SpeedItems()) {
    if (item.Command == TCommand::None || item.Command == TCommand::PopupMenu1 ||
        item.Command == TCommand::PopupMenu2)
      continue;
    QAction* action = window_->Action(item.Command, item.Tag);
    ASSERT_NE(action, nullptr) << item.Name;
    EXPECT_EQ(action->statusTip().toStdString(), item.LongHint()) << item.Name;
  }
  EXPECT_NE(window_->Action(TCommand::CopyMiClick, 1), window_->Action(TCommand::CopyMiClick, 0));
}

TEST_F(MainWindowTest, OpeningAMenuDisablesOnlyWhileItIsOpen) {
  QMenu* edit = window_->Menu("EditMi");
  emit edit->aboutToShow();  // nothing selected
  EXPECT_FALSE(window_->Action(TCommand::AddNoteMiClick)->isEnabled());
  EXPECT_FALSE(window_->Action(TCommand::DeleteMiClick)->isEnabled());
  EXPECT_TRUE(window_->Action(TCommand::AddNewItemMiClick)->isEnabled());
  emit edit->aboutToHide();
  QCoreApplication::processEvents();
  // The tool bar buttons and shortcuts are never left disabled.
  EXPECT_TRUE(window_->Action(TCommand::AddNoteMiClick)->isEnabled());
  EXPECT_TRUE(window_->Action(TCommand::CopyMiClick)->isEnabled());
  EXPECT_TRUE(window_->Action(TCommand::ModToolbarMiClick)->isEnabled());
}

TEST_F(MainWindowTest, CopyFromTheExplorerPopupCopiesTheItemWithItsNote) {
  const std::string target = dir_ / "Other.qvf";
  const auto before = qbtest::ReadFileBytes(cabinet_);
  ui_.ChooseFile(target);
  bool triggered = false;
  std::function<void()> pick = [&] {
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    if (!menu) {
      QTimer::singleShot(10, pick);
      return;
    }
    for (QAction* action : menu->actions())
      if (action->text() == QStringLiteral("C&opy To Another File Cabinet") && action->isEnabled()) {
        menu->close();
        action->trigger();
        triggered = true;
      }
    if (!triggered) menu->close();
  };
  QTimer::singleShot(10, pick);
  QTest::mouseClick(window_->ExplorerView()->viewport(), Qt::RightButton, {}, RowPoint("Code\\Snippet"));
  QTRY_VERIFY_WITH_TIMEOUT(triggered, 5000);
  QTRY_VERIFY_WITH_TIMEOUT(!ui_.Boxes().empty(), 5000);
  EXPECT_EQ(ui_.Boxes().back().Text, "Copied 1 item to " + target + ".");
  EXPECT_EQ(Names(Disk(target)), std::vector<std::string>{"Code\\Snippet"});
  EXPECT_EQ(StoredNote("Code\\Snippet", target), "remember this");
  EXPECT_EQ(qbtest::ReadFileBytes(cabinet_), before);
}

TEST_F(MainWindowTest, ClickingAnItemShowsItsNoteAndSelectsIt) {
  QTest::mouseClick(window_->ExplorerView()->viewport(), Qt::LeftButton, {}, RowPoint("Code\\Snippet"));
  EXPECT_EQ(ItemPathOf(window_->Form().DockableForm().TreeView1().Selected()), "Code\\Snippet");
  auto* note = window_->NoteDock()->findChild<QPlainTextEdit*>();
  ASSERT_NE(note, nullptr);
  EXPECT_EQ(note->toPlainText().toStdString(), "remember this");
  // The Edit menu now offers the item's commands.
  emit window_->Menu("EditMi")->aboutToShow();
  EXPECT_TRUE(window_->Action(TCommand::AddNoteMiClick)->isEnabled());
  EXPECT_TRUE(window_->Action(TCommand::DeleteNoteMiClick)->isEnabled());
  emit window_->Menu("EditMi")->aboutToHide();
}

TEST_F(MainWindowTest, KeysMoveTheSelectionTheCommandsActOn) {
  TExplorerView* view = window_->ExplorerView();
  auto settle = [] { QCoreApplication::processEvents(); };
  QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, RowPoint("Code\\Snippet"));
  settle();
  // Right after the click: the mouse-down lock does not hold up keys.
  QTest::keyClick(view, Qt::Key_Down);  // NewItems (a drawer): nothing selected
  settle();
  EXPECT_EQ(window_->Form().DockableForm().TreeView1().Selected(), nullptr);
  EXPECT_TRUE(view->selectionModel()->selectedIndexes().isEmpty());
  QTest::keyClick(view, Qt::Key_Down);  // NewItems\Item0
  settle();
  EXPECT_EQ(ItemPathOf(window_->Form().DockableForm().TreeView1().Selected()), "NewItems\\Item0");
  auto* note = window_->NoteDock()->findChild<QPlainTextEdit*>();
  EXPECT_EQ(note->toPlainText().toStdString(), "");
}

TEST_F(MainWindowTest, ViewItemsShowsTheClickedItemInTheViewer) {
  window_->Run(TCommand::ViewItemsMiClick);
  EXPECT_TRUE(window_->Form().ClipboardCommands().ViewItems());
  window_->Run(TCommand::ViewerMiClick);
  EXPECT_TRUE(window_->ViewerDock()->isVisible());
  QTest::mouseClick(window_->ExplorerView()->viewport(), Qt::LeftButton, {}, RowPoint("NewItems\\Item0"));
  auto editors = window_->ViewerDock()->findChildren<QPlainTextEdit*>();
  ASSERT_FALSE(editors.empty());
  EXPECT_EQ(editors[0]->toPlainText().toStdString(), "hello");
}

TEST_F(MainWindowTest, DroppingAnItemOnAnotherDrawerMovesItsEntry) {
  QTest::mousePress(window_->ExplorerView()->viewport(), Qt::LeftButton, {}, RowPoint("NewItems\\Item0"));
  QTest::mouseRelease(window_->ExplorerView()->viewport(), Qt::LeftButton, {}, RowPoint("NewItems\\Item0"));
  TTreeNode* code = FindNodeByPath(window_->Form().DockableForm().TreeView1(), "Code");
  ASSERT_NE(code, nullptr);
  window_->ExplorerView()->OnDrop(code);
  window_->ExplorerView()->OnDragEnded();
  zip::TZipReader zip;
  zip.SetZipName(cabinet_);
  zip.ReadDirectory();
  std::vector<std::string> names;
  for (int i = 0; i < zip.EntryCount(); ++i) names.push_back(zip.EntryFullName(i));
  EXPECT_EQ(names, (std::vector<std::string>{"Code\\Item0", "Code\\Snippet"}));
  // The emptied drawer is gone from the tree.
  EXPECT_EQ(FindNodeByPath(window_->Form().DockableForm().TreeView1(), "NewItems"), nullptr);
}

TEST_F(MainWindowTest, TheLiveClipboardViewFollowsTheClipboard) {
  clipboard_.PutText("on the clipboard");
  QCoreApplication::processEvents();
  EXPECT_EQ(window_->ClipboardView()->ShownPage().toStdString(), "text");
  EXPECT_EQ(window_->ClipboardView()->ShownText().toStdString(), "on the clipboard");
  {
    TClipboardLock lock(clipboard_);
    clipboard_.Empty();
  }
  EXPECT_EQ(window_->ClipboardView()->ShownText().toStdString(), "Clipboard is empty");
  // AutoSave from the menu stores the next clip.
  window_->Run(TCommand::AutoSaveMiClick);
  EXPECT_TRUE(window_->Action(TCommand::AutoSaveMiClick)->isChecked());
  clipboard_.PutText("saved by itself");
  zip::TZipReader zip;
  zip.SetZipName(cabinet_);
  zip.ReadDirectory();
  EXPECT_EQ(store::FindItemEntry(zip, "NewItems\\Item1") < zip.EntryCount(), true);
}

}  // namespace
}  // namespace qb::qt
