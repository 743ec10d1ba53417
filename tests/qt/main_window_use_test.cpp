// The main window as a user touches it: typing notes, opening cabinets whose names
// differ in letter case, loading items, reaching menus with the keys, and the
// editing keys of the text fields.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDockWidget>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <functional>

#include "qt/clipboard_view.h"
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
  window_->Run(TCommand::AddNoteMiClick);
  ASSERT_EQ(ui_.Boxes().size(), 1u);
  EXPECT_EQ(ui_.Boxes()[0].Text,
            "There is no note to add!\r\nAdd your required text to the note, then 'Add Note To Selected'");
  EXPECT_EQ(StoredNote("NewItems\\Item0"), "-");

  pane->setFocus();
  QTest::keyClicks(pane, "first line");
  QTest::keyClick(pane, Qt::Key_Return);
  QTest::keyClicks(pane, "second");
  window_->Run(TCommand::AddNoteMiClick);
  EXPECT_EQ(ui_.Boxes().size(), 1u);
  EXPECT_EQ(StoredNote("NewItems\\Item0"), "first line\r\nsecond");
  TTreeNode* item = FindNodeByPath(window_->Form().DockableForm().TreeView1(), "NewItems\\Item0");
  EXPECT_TRUE(HasNoteMark(item));
  // The command did not disturb what is being typed.
  EXPECT_EQ(pane->toPlainText().toStdString(), "first line\nsecond");
  QTest::keyClicks(pane, "!");
  EXPECT_EQ(pane->toPlainText().toStdString(), "first line\nsecond!");

  // Another item shows its own note; going back shows the one just stored.
  PastTheMouseDownLock();
  QTest::mouseClick(window_->ExplorerView()->viewport(), Qt::LeftButton, {}, RowPoint("Code\\Snippet"));
  EXPECT_EQ(pane->toPlainText().toStdString(), "remember this");
  PastTheMouseDownLock();
  QTest::mouseClick(window_->ExplorerView()->viewport(), Qt::LeftButton, {}, RowPoint("NewItems\\Item0"));
  EXPECT_EQ(pane->toPlainText().toStdString(), "first line\nsecond");

  // Replacing a note: the pane's text, edited, replaces the stored one.
  pane->selectAll();
  QTest::keyClicks(pane, "replaced");
  window_->Run(TCommand::AddNoteMiClick);
  EXPECT_EQ(StoredNote("NewItems\\Item0"), "replaced");

  // Delete Note removes the note from the cabinet; the pane keeps its text.
  window_->Run(TCommand::DeleteNoteMiClick);
  EXPECT_EQ(StoredNote("NewItems\\Item0"), "-");
  EXPECT_FALSE(HasNoteMark(item));
  EXPECT_EQ(pane->toPlainText().toStdString(), "replaced");

  // A click on a drawer leaves the pane alone; a click on an item without a note
  // empties it.
  PastTheMouseDownLock();
  QTest::mouseClick(window_->ExplorerView()->viewport(), Qt::LeftButton, {}, RowPoint("Code"));
  EXPECT_EQ(pane->toPlainText().toStdString(), "replaced");
  PastTheMouseDownLock();
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
  window_->Run(TCommand::AddNoteMiClick);
  EXPECT_TRUE(ui_.Boxes().empty()) << ui_.BoxLog()[0];
  EXPECT_EQ(StoredNote("NewItems\\Item0"), "by keys");
  EXPECT_EQ(StoredNote("Code\\Snippet"), "remember this");
}

TEST_F(MainWindowTest, OpeningACabinetWhoseNameDiffersInLetterCaseOpensThatFile) {
  const std::string lower = dir_ / "work.qvf";
  {
    zip::TZipWriter zip;
    store::ConfigureCabinetArchive(zip);
    zip.SetZipName(lower);
    TMemoryStream text(std::string_view("lower\0", 6));
    store::SaveItem(zip, text, "Lower\\Only", 1);
  }
  ui_.ChooseFile(lower);
  window_->Run(TCommand::OpenMiClick);
  EXPECT_EQ(window_->Form().Zip1().ZipName(), lower);
  TTreeView& tree = window_->Form().DockableForm().TreeView1();
  ASSERT_NE(tree.Root(), nullptr);
  EXPECT_EQ(tree.Root()->Caption(), "work");
  EXPECT_NE(FindNodeByPath(tree, "Lower\\Only"), nullptr);
  EXPECT_EQ(FindNodeByPath(tree, "Code\\Snippet"), nullptr);

  // The next note lands in the cabinet that is shown.
  window_->ExplorerView()->expandAll();
  QTest::mouseClick(window_->ExplorerView()->viewport(), Qt::LeftButton, {}, RowPoint("Lower\\Only"));
  QTest::keyClicks(NotePane(), "in the lower-case file");
  window_->Run(TCommand::AddNoteMiClick);
  EXPECT_TRUE(ui_.Boxes().empty()) << ui_.BoxLog()[0];
  EXPECT_EQ(StoredNote("Lower\\Only", lower), "in the lower-case file");
  EXPECT_EQ(Names(Disk()), (std::vector<std::string>{"Code\\Snippet", "NewItems\\Item0"}));

  // Back to the first one by its own name.
  ui_.ChooseFile(cabinet_);
  window_->Run(TCommand::OpenMiClick);
  EXPECT_EQ(window_->Form().Zip1().ZipName(), cabinet_);
  EXPECT_EQ(tree.Root()->Caption(), "Work");
}

TEST_F(MainWindowTest, ASlashTypedInAnItemPathSeparatesDrawersAsABackslashDoes) {
  TTreeView& tree = window_->Form().DockableForm().TreeView1();
  // Add New Text Item.
  ui_.EditorOk({"typed text"});
  ui_.Input("Work/Notes/First");
  window_->Run(TCommand::AddNewItemMiClick);
  EXPECT_NE(FindNodeByPath(tree, "Work\\Notes\\First"), nullptr);
  // Save To File Cabinet, asked for the name.
  clipboard_.PutText("saved text");
  ui_.Input("Clips/One");
  window_->Run(TCommand::SaveToFCMiClick);
  EXPECT_NE(FindNodeByPath(tree, "Clips\\One"), nullptr);
  // Rename: a slash moves the item into a drawer below its own.
  tree.SetSelected(FindNodeByPath(tree, "Clips\\One"));
  ui_.Input("Sub/Two");
  window_->Run(TCommand::RenameMiClick);
  EXPECT_NE(FindNodeByPath(tree, "Clips\\Sub\\Two"), nullptr);
  EXPECT_TRUE(ui_.Boxes().empty()) << ui_.BoxLog()[0];
  // The drawers are the ones the cabinet holds when it is read again.
  EXPECT_EQ(Names(Disk()), (std::vector<std::string>{"Clips\\Sub\\Two", "Code\\Snippet", "NewItems\\Item0",
                                                     "Work\\Notes\\First"}));
  window_->OpenCabinet(cabinet_);
  EXPECT_NE(FindNodeByPath(tree, "Work\\Notes\\First"), nullptr);
  EXPECT_NE(FindNodeByPath(tree, "Clips\\Sub\\Two"), nullptr);
}

// --- one command at a time ------------------------------------------------------------------

TEST_F(MainWindowTest, WhatArrivesDuringACommandsArchiveWorkWaitsForIt) {
  window_->Run(TCommand::AutoSaveMiClick);
  QTest::mouseClick(window_->ExplorerView()->viewport(), Qt::LeftButton, {}, RowPoint("Code\\Snippet"));
  // The engine runs the event loop while it rewrites the cabinet; a copy, a click
  // and a close that arrive then must not start anything in the middle of it.
  std::string status_meanwhile;
  bool drag_meanwhile = true;
  QTimer::singleShot(0, window_.get(), [&] {
    clipboard_.PutText("copied meanwhile");
    status_meanwhile = window_->statusBar()->currentMessage().toStdString();
    drag_meanwhile = window_->ExplorerView()->OnMouseMove(Qt::LeftButton, {}, QPoint(300, 300));
    QTest::mouseClick(window_->ExplorerView()->viewport(), Qt::LeftButton, {}, RowPoint("NewItems\\Item0"));
    window_->close();
  });
  ui_.Answer(MsgAnswer::Yes);
  window_->Run(TCommand::DeleteMiClick);

  EXPECT_EQ(status_meanwhile, "Busy...");
  EXPECT_FALSE(drag_meanwhile);
  // The delete ran whole; the copy was stored after it, the click was turned away
  // and the window closed last.
  const std::vector<TDiskEntry> disk = Disk();
  ASSERT_EQ(Names(disk), (std::vector<std::string>{"NewItems\\Item0", "NewItems\\Item1"}));
  EXPECT_EQ(disk[1].Data, std::string("copied meanwhile\0", 17));
  EXPECT_EQ(ui_.BoxLog(),
            (std::vector<std::string>{"Confirmation 'Confirm' [Yes/Cancel]: Are you sure you want "
                                      "to delete the selected item?"}));
  EXPECT_EQ(FindNodeByPath(window_->Form().DockableForm().TreeView1(), "Code\\Snippet"), nullptr);
  EXPECT_NE(FindNodeByPath(window_->Form().DockableForm().TreeView1(), "NewItems\\Item1"), nullptr);
  EXPECT_EQ(window_->Form().DockableForm().TreeView1().Selected(), nullptr);
  EXPECT_FALSE(window_->isVisible());
  EXPECT_FALSE(window_->Form().Operations().Busy());
  EXPECT_NE(window_->statusBar()->currentMessage().toStdString(), "Busy...");
}

// Saving a large clip: the engine checksums and compresses it, copies the cabinet
// and syncs it on a worker thread while the window keeps dispatching its messages
// (a timer of the window fires meanwhile); the command still ends only when the
// item is stored, and the next one finds it there.
TEST_F(MainWindowTest, ALargeClipIsSavedWhileTheWindowKeepsDispatchingItsMessages) {
  const std::vector<uint8_t> bytes = qbtest::TextLikeBytes(6u << 20, 21);
  const std::string text(bytes.begin(), bytes.end());
  int ticks_while_working = 0;
  QTimer ticker;
  ticker.setInterval(0);
  QObject::connect(&ticker, &QTimer::timeout, [&] {
    if (window_->Form().Zip1().WorkerRunning()) ++ticks_while_working;
  });
  ticker.start();
  clipboard_.PutText(text);
  ui_.Input("Big/Clip");
  window_->Run(TCommand::SaveToFCMiClick);
  EXPECT_GT(ticks_while_working, 0);
  EXPECT_FALSE(window_->Form().Zip1().WorkerRunning());
  // A second save copies the large entry (on the worker too) and keeps it whole.
  ticks_while_working = 0;
  clipboard_.PutText("small");
  ui_.Input("Small");
  window_->Run(TCommand::SaveToFCMiClick);
  ticker.stop();
  EXPECT_GT(ticks_while_working, 0);
  EXPECT_TRUE(ui_.Boxes().empty()) << ui_.BoxLog()[0];
  const std::vector<TDiskEntry> disk = Disk();
  ASSERT_EQ(Names(disk),
            (std::vector<std::string>{"Big\\Clip", "Code\\Snippet", "NewItems\\Item0", "Small"}));
  EXPECT_TRUE(disk[0].Data == text + '\0');
  EXPECT_NE(FindNodeByPath(window_->Form().DockableForm().TreeView1(), "Big\\Clip"), nullptr);
  EXPECT_FALSE(window_->Form().Operations().Busy());
}

// --- menus and keys -----------------------------------------------------------------------

// Waits (running the event loop) until done() holds or a second has passed.
bool WaitFor(const std::function<bool()>& done) {
  for (int i = 0; i < 100 && !done(); ++i) QTest::qWait(10);
  return done();
}

TEST_F(MainWindowTest, AMenuReachedWithTheArrowKeysKeepsItsOwnEnablement) {
  window_->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(window_.get()));
  QMenu* file = window_->Menu("FileMi");
  QMenu* edit = window_->Menu("EditMi");
  QMenu* clipboard = window_->Menu("ClipboardMi");
  window_->menuBar()->setActiveAction(file->menuAction());
  ASSERT_TRUE(WaitFor([&] { return file->isVisible(); }));
  // Nothing is selected: the item commands of the Edit menu are off.
  QTest::keyClick(file, Qt::Key_Right);
  ASSERT_TRUE(WaitFor([&] { return edit->isVisible(); }));
  QTest::qWait(20);
  EXPECT_FALSE(window_->Action(TCommand::AddNoteMiClick)->isEnabled());
  EXPECT_FALSE(window_->Action(TCommand::DeleteMiClick)->isEnabled());
  EXPECT_TRUE(window_->Action(TCommand::AddNewItemMiClick)->isEnabled());
  // On to the Clipboard menu and back: each keeps its own state.
  QTest::keyClick(edit, Qt::Key_Right);
  ASSERT_TRUE(WaitFor([&] { return clipboard->isVisible(); }));
  QTest::qWait(20);
  EXPECT_FALSE(window_->Action(TCommand::LoadSelectedMiClick)->isEnabled());
  QTest::keyClick(clipboard, Qt::Key_Left);
  ASSERT_TRUE(WaitFor([&] { return edit->isVisible(); }));
  QTest::qWait(20);
  EXPECT_FALSE(window_->Action(TCommand::AddNoteMiClick)->isEnabled());
  EXPECT_TRUE(window_->Action(TCommand::LoadSelectedMiClick)->isEnabled());  // its menu is closed
  // Closed: the shortcuts and tool bar buttons work again.
  QTest::keyClick(edit, Qt::Key_Escape);
  QTest::keyClick(window_->menuBar(), Qt::Key_Escape);
  ASSERT_TRUE(
      WaitFor([&] { return !edit->isVisible() && window_->Action(TCommand::AddNoteMiClick)->isEnabled(); }));
}

TEST_F(MainWindowTest, EditingKeysActOnTheTextFieldThatHasTheFocus) {
  window_->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(window_.get()));
  QPlainTextEdit* pane = NotePane();
  pane->setFocus();
  QTest::keyClicks(pane, "one two");
  // Ctrl+A selects the note; it does not open Add New Text Item.
  QTest::keyClick(pane, Qt::Key_A, Qt::ControlModifier);
  EXPECT_TRUE(ui_.Editors().empty());
  EXPECT_EQ(pane->textCursor().selectedText().toStdString(), "one two");
  QTest::keyClick(pane, Qt::Key_X, Qt::ControlModifier);
  EXPECT_EQ(pane->toPlainText().toStdString(), "");
  QTest::keyClick(pane, Qt::Key_V, Qt::ControlModifier);
  QTest::keyClick(pane, Qt::Key_V, Qt::ControlModifier);
  EXPECT_EQ(pane->toPlainText().toStdString(), "one twoone two");
  QTest::keyClick(pane, Qt::Key_Z, Qt::ControlModifier);
  EXPECT_EQ(pane->toPlainText().toStdString(), "one two");
  EXPECT_EQ(window_->Form().NoteForm().Memo1Text(), "one two");

  // The read-only viewer text selects all the same.
  window_->Run(TCommand::ViewerMiClick);
  auto* viewer = window_->ViewerDock()->findChild<QPlainTextEdit*>();
  ASSERT_NE(viewer, nullptr);
  viewer->setPlainText("shown item");
  viewer->setFocus();
  QTest::keyClick(viewer, Qt::Key_A, Qt::ControlModifier);
  EXPECT_EQ(viewer->textCursor().selectedText().toStdString(), "shown item");
  EXPECT_TRUE(ui_.Editors().empty());

  // Elsewhere Ctrl+A is Add New Text Item.
  ui_.EditorCancel();
  window_->ExplorerView()->setFocus();
  QTest::keyClick(window_->ExplorerView(), Qt::Key_A, Qt::ControlModifier);
  EXPECT_EQ(ui_.Editors().size(), 1u);
}

// A clipboard change still waiting to be told when Edit Clipboard As starts is
// handled before the clipboard is read: the editor gets the new text.
TEST_F(MainWindowTest, EditClipboardAsReadsTheClipboardAfterChangesStillWaiting) {
  clipboard_.PutText("before");
  QMetaObject::invokeMethod(
      window_.get(), [this] { clipboard_.PutText("after"); }, Qt::QueuedConnection);
  ui_.EditorCancel();
  window_->Run(TCommand::EditClipboardMiClick);
  ASSERT_EQ(ui_.Editors().size(), 1u);
  EXPECT_EQ(ui_.Editors()[0].Lines, (std::vector<std::string>{"after"}));
  EXPECT_EQ(window_->ClipboardView()->ShownText().toStdString(), "after");
}

// --- the item size limit --------------------------------------------------------------------

// A clip larger than an item may be is not saved, and an item larger than that is not
// loaded, viewed or edited; each says why, and the clipboard and the cabinet keep
// what they held. (The limit is 1 GB; a small one stands in for it here.)
TEST_F(MainWindowTest, ItemsBeyondTheSizeLimitAreRefusedWithAMessageAndNothingLost) {
  window_->Form().SetMaxItemSize(10);
  const std::vector<TDiskEntry> before = Disk();
  clipboard_.PutText("eleven byte");  // 12 with its zero byte
  window_->Run(TCommand::SaveToFCMiClick);
  window_->Run(TCommand::AutoSaveMiClick);
  clipboard_.PutText("copied, also too big");
  window_->Run(TCommand::AutoSaveMiClick);
  clipboard_.PutText("short");  // 6 bytes: saved as before
  ui_.Input("NewItems\\Small");
  window_->Run(TCommand::SaveToFCMiClick);
  EXPECT_EQ(ui_.BoxLog(),
            (std::vector<std::string>{
                "Error 'Error' [OK]: The clipboard's content is too large to save (12 bytes); an "
                "item holds at most 10 bytes",
                "Error 'Error' [OK]: The clipboard's content is too large to save (21 bytes); an "
                "item holds at most 10 bytes"}));
  std::vector<std::string> names = Names(before);
  names.push_back("NewItems\\Small");
  EXPECT_EQ(Names(Disk()), names);

  // "hello" + zero byte is 6 bytes; "code" + zero byte is 5.
  window_->Form().SetMaxItemSize(5);
  ui_.ClearRecords();
  QTest::mouseClick(window_->ExplorerView()->viewport(), Qt::LeftButton, {}, RowPoint("NewItems\\Item0"));
  window_->Run(TCommand::LoadSelectedMiClick);
  window_->Run(TCommand::EditTextItemMiClick);
  window_->Run(TCommand::ViewItemsMiClick);
  auto message = [&](const char* verb) {
    return "Error 'Error' [OK]: The item NewItems\\Item0 is too large to " + std::string(verb) +
           " (6 bytes); an item holds at most 5 bytes";
  };
  EXPECT_EQ(ui_.BoxLog(), (std::vector<std::string>{message("load"), message("edit"), message("view")}));
  EXPECT_TRUE(ui_.Editors().empty());
  {
    TClipboardLock lock(clipboard_);
    const auto text = clipboard_.GetBlock(CF_TEXT);
    ASSERT_TRUE(text);
    EXPECT_EQ(std::string(text->begin(), text->end()), std::string("short\0", 6));  // not replaced
  }
  // An item within the limit loads as before.
  ui_.ClearRecords();
  QTest::qWait(QApplication::doubleClickInterval() + 100);  // a click, not the second of a double click
  QTest::mouseClick(window_->ExplorerView()->viewport(), Qt::LeftButton, {}, RowPoint("Code\\Snippet"));
  window_->Run(TCommand::LoadSelectedMiClick);
  EXPECT_EQ(ui_.BoxLog(), std::vector<std::string>());
  TClipboardLock lock(clipboard_);
  const auto text = clipboard_.GetBlock(CF_TEXT);
  ASSERT_TRUE(text);
  EXPECT_EQ(std::string(text->begin(), text->end()), std::string("code\0", 5));
  EXPECT_EQ(Disk().size(), names.size());
}

}  // namespace
}  // namespace qb::qt
