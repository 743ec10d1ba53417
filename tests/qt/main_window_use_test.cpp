// The main window as a user touches it: typing notes.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDockWidget>
#include <QMenu>
#include <QMenuBar>
#include <QTest>
#include <QToolBar>

#include "qt/main_window_fixture.h"

namespace qb::qt {
namespace {

TEST_F(MainWindowTest, TheNoteTypedInThePaneIsTheNoteAddNoteStores) {
  QTest::mouseClick(window_->ExplorerView()->viewport(), Qt::LeftButton, {}, RowPoint("NewItems\\Item0"));
  QPlainTextEdit* pane = NotePane();
  ASSERT_NE(pane, nullptr);
  EXPECT_FALSE(pane->isReadOnly());
  EXPECT_EQ(pane->toPlainText().toStdString(), "");

  // An empty pane: the command says what to do.
  window_->Run("AddNoteMiClick");
  ASSERT_EQ(ui_.Boxes().size(), 1u);
  EXPECT_EQ(ui_.Boxes()[0].Text,
            "There is no note to add!\r\nAdd your required text to the note, then 'Add Note To Selected'");
  EXPECT_EQ(StoredNote("NewItems\\Item0"), "-");

  pane->setFocus();
  QTest::keyClicks(pane, "first line");
  QTest::keyClick(pane, Qt::Key_Return);
  QTest::keyClicks(pane, "second");
  window_->Run("AddNoteMiClick");
  EXPECT_EQ(ui_.Boxes().size(), 1u);
  EXPECT_EQ(StoredNote("NewItems\\Item0"), "first line\r\nsecond");
  TTreeNode* item = FindNodeByPath(window_->Form().DockableForm().TreeView1(), "NewItems\\Item0");
  EXPECT_TRUE(HasNoteMark(item));
  // The command did not disturb what is being typed.
  EXPECT_EQ(pane->toPlainText().toStdString(), "first line\nsecond");
  QTest::keyClicks(pane, "!");
  EXPECT_EQ(pane->toPlainText().toStdString(), "first line\nsecond!");

  // Another item shows its own note; going back shows the one just stored.
  QTest::qWait(300);  // past the double-click lock
  QTest::mouseClick(window_->ExplorerView()->viewport(), Qt::LeftButton, {}, RowPoint("Code\\Snippet"));
  EXPECT_EQ(pane->toPlainText().toStdString(), "remember this");
  QTest::qWait(300);  // past the double-click lock
  QTest::mouseClick(window_->ExplorerView()->viewport(), Qt::LeftButton, {}, RowPoint("NewItems\\Item0"));
  EXPECT_EQ(pane->toPlainText().toStdString(), "first line\nsecond");

  // Replacing a note: the pane's text, edited, replaces the stored one.
  pane->selectAll();
  QTest::keyClicks(pane, "replaced");
  window_->Run("AddNoteMiClick");
  EXPECT_EQ(StoredNote("NewItems\\Item0"), "replaced");

  // Delete Note removes the note from the cabinet; the pane keeps its text.
  window_->Run("DeleteNoteMiClick");
  EXPECT_EQ(StoredNote("NewItems\\Item0"), "-");
  EXPECT_FALSE(HasNoteMark(item));
  EXPECT_EQ(pane->toPlainText().toStdString(), "replaced");

  // A click on a drawer leaves the pane alone; a click on an item without a note
  // empties it.
  QTest::qWait(300);
  QTest::mouseClick(window_->ExplorerView()->viewport(), Qt::LeftButton, {}, RowPoint("Code"));
  EXPECT_EQ(pane->toPlainText().toStdString(), "replaced");
  QTest::qWait(300);
  QTest::mouseClick(window_->ExplorerView()->viewport(), Qt::LeftButton, {}, RowPoint("NewItems\\Item0"));
  EXPECT_EQ(pane->toPlainText().toStdString(), "");
}

TEST_F(MainWindowTest, ANoteIsStoredOnTheItemShownSelectedAfterAKeyboardMove) {
  QTest::mouseClick(window_->ExplorerView()->viewport(), Qt::LeftButton, {}, RowPoint("Code\\Snippet"));
  QCoreApplication::processEvents();
  QTest::keyClick(window_->ExplorerView(), Qt::Key_Down);  // NewItems
  QCoreApplication::processEvents();
  QTest::keyClick(window_->ExplorerView(), Qt::Key_Down);  // NewItems\Item0
  QCoreApplication::processEvents();
  QTest::keyClicks(NotePane(), "by keys");
  window_->Run("AddNoteMiClick");
  EXPECT_TRUE(ui_.Boxes().empty()) << ui_.BoxLog()[0];
  EXPECT_EQ(StoredNote("NewItems\\Item0"), "by keys");
  EXPECT_EQ(StoredNote("Code\\Snippet"), "remember this");
}

}  // namespace
}  // namespace qb::qt
