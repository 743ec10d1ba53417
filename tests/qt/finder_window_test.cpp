// Finding and reusing clips through the real main window: the search field over
// the explorer tree (what it shows, in any letter case, and the tree as it was
// once it is cleared), the history beside the tree, the tool tips, and the keys
// that load, delete and rename the selected item.
#include <QDockWidget>
#include <QHelpEvent>
#include <QLineEdit>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QToolTip>
#include <QTreeView>
#include <functional>

#include "main_window_fixture.h"
#include "platform/picture.h"
#include "qt/explorer_tree.h"
#include "qt/finder_pane.h"

namespace qb::qt {
namespace {

bool WaitUntil(const std::function<bool()>& done) {
  for (int i = 0; i < 300 && !done(); ++i) QTest::qWait(10);
  return done();
}

class FinderWindowTest : public MainWindowTest {
 protected:
  void SetUp() override {
    MainWindowTest::SetUp();
    // One more item, whose path and text need more than ASCII letter case.
    zip::TZipWriter zip;
    store::ConfigureCabinetArchive(zip);
    zip.SetZipName(cabinet_);
    TMemoryStream text(
        std::string_view("An der Stra\xC3\x9F"
                         "e\0",
                         15));
    store::SaveItem(zip, text,
                    "Notes\\Gr\xC3\xBC\xC3\x9F"
                    "e",
                    1);
    window_->OpenCabinet(cabinet_);
    window_->ExplorerView()->expandAll();
  }

  TFinderPane& Pane() { return *window_->FinderPane(); }
  TTreeView& Tree() { return window_->Form().DockableForm().TreeView1(); }
  TTreeNode* Node(const std::string& path) { return FindNodeByPath(Tree(), path); }

  // Types text into the search field (letters beyond Latin-1 as one insertion:
  // the test tool types ASCII only) and waits for the index.
  void Search(const QString& text) {
    Pane().SearchField()->clear();
    Pane().SearchField()->insert(text);
    ASSERT_TRUE(WaitUntil([&] { return !Pane().Finder().Reading(); }));
  }

  // The item paths the tree view shows, and the drawers it shows open.
  std::vector<std::string> ShownItems() { return Walk(false); }
  std::vector<std::string> OpenDrawers() { return Walk(true); }
  std::vector<std::string> Walk(bool open_drawers) {
    std::vector<std::string> out;
    TExplorerView* view = window_->ExplorerView();
    std::function<void(const QModelIndex&)> walk = [&](const QModelIndex& parent) {
      for (int row = 0; row < view->model()->rowCount(parent); ++row) {
        const QModelIndex index = view->model()->index(row, 0, parent);
        TTreeNode* node = TExplorerModel::NodeOf(index);
        if (IsItemNode(node) && !open_drawers) out.push_back(ItemPathOf(node));
        if (!IsItemNode(node) && !IsRootNode(node) && open_drawers && view->isExpanded(index))
          out.push_back(ItemPathOf(node));
        if (view->isExpanded(index)) walk(index);
      }
    };
    walk(QModelIndex());
    std::sort(out.begin(), out.end());
    return out;
  }
  // The text on the clipboard, up to its zero byte.
  std::string ClipboardText() {
    TClipboardLock lock(clipboard_);
    const auto block = clipboard_.GetBlock(1);
    if (!block) return {};
    const std::string text(block->begin(), block->end());
    return text.substr(0, text.find('\0'));
  }
  void Click(const std::string& path) {
    QTest::mouseClick(window_->ExplorerView()->viewport(), Qt::LeftButton, {}, RowPoint(path));
    PastTheMouseDownLock();
  }
};

using Paths = std::vector<std::string>;

// A bitmap item's payload: a picture whose left half is red and right half blue.
std::string HalvesBitmap(int width, int height) {
  TDib dib(width, height, 24);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) dib.SetPixel(x, y, x < width / 2 ? 0xFF0000u : 0x0000FFu);
  const std::vector<uint8_t> bmp = dib.WriteBmp();
  return std::string(bmp.begin(), bmp.end());
}

// The picture a tool tip shows (null when it shows none).
QImage TipThumbnail(const QString& tip) {
  const QString start = "<img src=\"data:image/png;base64,";
  const qsizetype at = tip.indexOf(start);
  if (at < 0) return QImage();
  const qsizetype from = at + start.size();
  return QImage::fromData(QByteArray::fromBase64(tip.mid(from, tip.indexOf('"', from) - from).toLatin1()),
                          "PNG");
}

TEST_F(FinderWindowTest, SearchShowsTheMatchesOpenAndClearingBringsTheTreeBack) {
  Click("NewItems\\Item0");
  window_->ExplorerView()->collapse(window_->ExplorerView()->ExplorerModel()->IndexOf(Node("Notes")));
  const Paths drawers_before = OpenDrawers();
  ASSERT_EQ(drawers_before, (Paths{"Code", "NewItems"}));

  // A note's word, typed in capitals: its item and its drawer, open; the selected
  // item is hidden, so nothing is selected for the commands meanwhile.
  Search("REMEMBER");
  EXPECT_EQ(ShownItems(), Paths{"Code\\Snippet"});
  EXPECT_EQ(Tree().Selected(), nullptr);
  // Narrowing and widening again.
  QTest::keyClick(Pane().SearchField(), Qt::Key_Backspace);
  QTest::keyClicks(Pane().SearchField(), "x");
  EXPECT_EQ(ShownItems(), Paths{});
  Search("e");
  EXPECT_EQ(ShownItems(), (Paths{"Code\\Snippet", "NewItems\\Item0",
                                 "Notes\\Gr\xC3\xBC\xC3\x9F"
                                 "e"}));
  EXPECT_EQ(OpenDrawers(), (Paths{"Code", "NewItems", "Notes"}));

  // Escape clears the field: the drawers as they were, the item selected again.
  Search("remember");
  QTest::keyClick(Pane().SearchField(), Qt::Key_Escape);
  EXPECT_EQ(Pane().SearchField()->text(), "");
  EXPECT_EQ(OpenDrawers(), drawers_before);
  EXPECT_EQ(Tree().Selected(), Node("NewItems\\Item0"));
  EXPECT_TRUE(Node("Code")->Expanded());
  EXPECT_FALSE(Node("Notes")->Expanded());
}

TEST_F(FinderWindowTest, SearchFoldsLetterCaseOfAnyScriptInPathsAndTexts) {
  Search("STRASSE");  // the text "Straße"
  EXPECT_EQ(ShownItems(), Paths{"Notes\\Gr\xC3\xBC\xC3\x9F"
                                "e"});
  Search(
      "GR\xC3\x9C"
      "SSE");  // the item's name "Grüße"
  EXPECT_EQ(ShownItems(), Paths{"Notes\\Gr\xC3\xBC\xC3\x9F"
                                "e"});
  Search("CODE");  // a drawer's name, and a text
  EXPECT_EQ(ShownItems(), Paths{"Code\\Snippet"});
}

TEST_F(FinderWindowTest, AnItemSelectedDuringTheSearchStaysSelectedAfterIt) {
  Click("NewItems\\Item0");
  Search("snippet");
  Click("Code\\Snippet");
  EXPECT_EQ(NotePane()->toPlainText().toStdString(), "remember this");
  QTest::keyClick(Pane().SearchField(), Qt::Key_Escape);
  EXPECT_EQ(Tree().Selected(), Node("Code\\Snippet"));
}

TEST_F(FinderWindowTest, CtrlFFocusesTheSearchFieldAndEnterGoesBackToTheTree) {
  window_->activateWindow();
  QApplication::setActiveWindow(window_.get());
  window_->ExplorerView()->setFocus();
  QTest::keyClick(window_.get(), Qt::Key_F, Qt::ControlModifier);
  EXPECT_EQ(QApplication::focusWidget(), Pane().SearchField());
  QTest::keyClicks(Pane().SearchField(), "hel");
  QTest::keyClick(Pane().SearchField(), Qt::Key_Return);
  EXPECT_EQ(QApplication::focusWidget(), window_->ExplorerView());
}

TEST_F(FinderWindowTest, EnterDeleteAndF2RunTheirCommandsOnTheSelectedItem) {
  Click("NewItems\\Item0");
  TExplorerView* view = window_->ExplorerView();
  view->setFocus();
  QTest::keyClick(view, Qt::Key_Return);
  EXPECT_TRUE(WaitUntil([&] { return ClipboardText() == "hello"; }));

  ui_.CancelInput();
  QTest::keyClick(view, Qt::Key_F2);
  ASSERT_EQ(ui_.InputBoxes().size(), 1u);
  EXPECT_EQ(ui_.InputBoxes()[0].Caption, "Rename Item");

  ui_.Answer(MsgAnswer::Yes);
  QTest::keyClick(view, Qt::Key_Delete);
  EXPECT_EQ(Names(Disk()), (Paths{"Code\\Snippet",
                                  "Notes\\Gr\xC3\xBC\xC3\x9F"
                                  "e"}));
  // In the search field the keys edit the text.
  Pane().SearchField()->setFocus();
  QTest::keyClicks(Pane().SearchField(), "ab");
  QTest::keyClick(Pane().SearchField(), Qt::Key_Left);
  QTest::keyClick(Pane().SearchField(), Qt::Key_Delete);
  EXPECT_EQ(Pane().SearchField()->text(), "a");
  EXPECT_EQ(Names(Disk()).size(), 2u);
}

TEST_F(FinderWindowTest, HistoryListsNewestFirstSelectsLoadsAndFollowsTheSearch) {
  Pane().Tabs()->setCurrentWidget(Pane().HistoryView());
  ASSERT_TRUE(WaitUntil([&] { return Pane().Finder().Index() != nullptr; }));
  THistoryModel* history = Pane().History();
  ASSERT_EQ(history->rowCount(), 3);
  // Newest first; one date keeps the cabinet's order.
  for (int row = 1; row < history->rowCount(); ++row) {
    const auto* a = history->Row(row - 1);
    const auto* b = history->Row(row);
    ASSERT_GE(a->dos_date_time, b->dos_date_time);
    if (a->dos_date_time == b->dos_date_time) {
      EXPECT_LT(window_->Form().Zip1().FindEntry(a->path), window_->Form().Zip1().FindEntry(b->path));
    }
  }
  const int snippet = history->RowOf("Code\\Snippet");
  ASSERT_GE(snippet, 0);
  EXPECT_EQ(history->index(snippet, THistoryModel::DrawerColumn).data().toString(), "Code");
  EXPECT_EQ(history->index(snippet, THistoryModel::PreviewColumn).data().toString(), "code");

  // A click selects the item in the tree (its note shows); a double click loads it.
  QTreeView* view = Pane().HistoryView();
  const QPoint point = view->visualRect(history->index(snippet, THistoryModel::ItemColumn)).center();
  QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, point);
  EXPECT_EQ(Tree().Selected(), Node("Code\\Snippet"));
  EXPECT_EQ(NotePane()->toPlainText().toStdString(), "remember this");
  PastTheMouseDownLock();
  QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, point);
  EXPECT_TRUE(WaitUntil([&] { return ClipboardText() == "code"; }));

  Search(
      "gr\xC3\xBC\xC3\x9F"
      "e");
  ASSERT_EQ(history->rowCount(), 1);
  EXPECT_EQ(history->Row(0)->path,
            "Notes\\Gr\xC3\xBC\xC3\x9F"
            "e");
  QTest::keyClick(Pane().SearchField(), Qt::Key_Escape);
  EXPECT_EQ(history->rowCount(), 3);
}

TEST_F(FinderWindowTest, TheHistoryWaitsForACommandThatRewritesTheCabinet) {
  Click("NewItems\\Item0");
  Pane().Tabs()->setCurrentWidget(Pane().HistoryView());
  ASSERT_TRUE(WaitUntil([&] { return Pane().Finder().Index() != nullptr; }));
  // Results that arrive while the delete rewrites the cabinet (as an index read
  // finishing then would) leave the history as it is until the command is done.
  int rows_meanwhile = -1;
  QTimer::singleShot(0, window_.get(), [&] {
    Pane().SearchField()->setText("code");
    rows_meanwhile = Pane().History()->rowCount();
  });
  ui_.Answer(MsgAnswer::Yes);
  window_->Run(TCommand::DeleteMiClick);
  EXPECT_EQ(rows_meanwhile, 3);
  ASSERT_TRUE(WaitUntil([&] { return !Pane().Finder().Reading(); }));
  ASSERT_EQ(Pane().History()->rowCount(), 1);
  EXPECT_EQ(Pane().History()->Row(0)->path, "Code\\Snippet");
}

Paths Sorted(Paths paths) {
  std::sort(paths.begin(), paths.end());
  return paths;
}

// The path of the item whose text starts with text, as the cabinet file holds it.
std::string PathOfText(const std::vector<TDiskEntry>& disk, const std::string& text) {
  for (const TDiskEntry& e : disk)
    if (e.Data.rfind(text, 0) == 0) return e.Name;
  ADD_FAILURE() << "no item holds " << text;
  return {};
}

TEST_F(FinderWindowTest, ClipsSavedDuringASearchShowAtOnceWhenTheyMatch) {
  Pane().Tabs()->setCurrentWidget(Pane().HistoryView());
  Search("zebra");
  EXPECT_EQ(ShownItems(), Paths{});
  const auto index = Pane().Finder().Index();
  ASSERT_NE(index, nullptr);
  THistoryModel* history = Pane().History();
  auto history_paths = [&] {
    Paths out;
    for (int row = 0; row < history->rowCount(); ++row) out.push_back(history->Row(row)->path);
    std::sort(out.begin(), out.end());
    return out;
  };
  auto caught_up = [&] { return WaitUntil([&] { return !Pane().Finder().Catching(); }); };

  // AutoSave: a clip that matches and one that does not.
  window_->Run(TCommand::AutoSaveMiClick);
  clipboard_.PutText("a zebra crossing");
  clipboard_.PutText("an elephant");
  ASSERT_TRUE(caught_up());
  const std::string zebra = PathOfText(Disk(), "a zebra crossing");
  const std::string elephant = PathOfText(Disk(), "an elephant");
  EXPECT_EQ(ShownItems(), Paths{zebra});
  EXPECT_EQ(history_paths(), Paths{zebra});
  // Save with a name typed.
  window_->Run(TCommand::AutoSaveMiClick);
  clipboard_.PutText("zebras again");
  ui_.Input("Stripes/Second");
  window_->Run(TCommand::SaveToFCMiClick);
  ASSERT_TRUE(caught_up());
  EXPECT_EQ(ShownItems(), Sorted({"Stripes\\Second", zebra}));
  EXPECT_EQ(history_paths(), Sorted({"Stripes\\Second", zebra}));
  EXPECT_EQ(history->index(history->RowOf("Stripes\\Second"), THistoryModel::PreviewColumn).data().toString(),
            "zebras again");

  // Renamed and deleted while the search is on.
  Tree().SetSelected(Node(zebra));
  ui_.Input("Crossing");
  window_->Run(TCommand::RenameMiClick);
  const std::string renamed = zebra.substr(0, zebra.rfind('\\') + 1) + "Crossing";
  EXPECT_EQ(ShownItems(), Sorted({renamed, "Stripes\\Second"}));
  EXPECT_EQ(history_paths(), Sorted({renamed, "Stripes\\Second"}));
  Tree().SetSelected(Node("Stripes\\Second"));
  ui_.Answer(MsgAnswer::Yes);
  window_->Run(TCommand::DeleteMiClick);
  EXPECT_EQ(ShownItems(), Paths{renamed});
  EXPECT_EQ(history_paths(), Paths{renamed});
  // A note written to an item (out of the search) is found by the next search.
  QTest::keyClick(Pane().SearchField(), Qt::Key_Escape);
  Paths all = Names(Disk());
  std::sort(all.begin(), all.end());
  EXPECT_EQ(ShownItems(), all);
  EXPECT_EQ(history_paths(), all);
  Tree().SetSelected(Node(elephant));
  NotePane()->setPlainText("zebra stripes");
  window_->Run(TCommand::AddNoteMiClick);
  ASSERT_EQ(StoredNote(elephant), "zebra stripes");
  Search("zebra");
  EXPECT_EQ(ShownItems(), Sorted({elephant, renamed}));

  // All of it followed in the same index: the cabinet was never read again whole.
  EXPECT_EQ(Pane().Finder().Index(), index);
  EXPECT_FALSE(Pane().Finder().Reading());
}

TEST_F(FinderWindowTest, TheHistoryListsASavedClipAtOnce) {
  Pane().Tabs()->setCurrentWidget(Pane().HistoryView());
  ASSERT_TRUE(WaitUntil([&] { return Pane().Finder().Index() != nullptr; }));
  THistoryModel* history = Pane().History();
  ASSERT_EQ(history->rowCount(), 3);
  window_->Run(TCommand::AutoSaveMiClick);
  clipboard_.PutText("just copied");
  // Listed before its text is read; its preview once it is.
  ASSERT_EQ(history->rowCount(), 4);
  const int row = history->RowOf(PathOfText(Disk(), "just copied"));
  ASSERT_GE(row, 0);
  ASSERT_TRUE(WaitUntil([&] { return !Pane().Finder().Catching(); }));
  EXPECT_EQ(history->index(row, THistoryModel::PreviewColumn).data().toString(), "just copied");
}

TEST_F(FinderWindowTest, ToolTipsShowTheStartOfTheTextItsFormatSizeAndDate) {
  Search("x");  // reads the index
  QTest::keyClick(Pane().SearchField(), Qt::Key_Escape);
  TExplorerModel* model = window_->ExplorerView()->ExplorerModel();
  const QString tip = model->data(model->IndexOf(Node("Code\\Snippet")), Qt::ToolTipRole).toString();
  EXPECT_TRUE(tip.contains("code")) << tip.toStdString();
  EXPECT_TRUE(tip.contains("Text, 5 bytes")) << tip.toStdString();
  EXPECT_EQ(model->data(model->IndexOf(Node("Code")), Qt::ToolTipRole).toString(), "Code");
}

TEST_F(FinderWindowTest, PictureToolTipsShowAThumbnailMadeOnAnotherThread) {
  {
    zip::TZipWriter zip;
    store::ConfigureCabinetArchive(zip);
    zip.SetZipName(cabinet_);
    const std::pair<const char*, std::string> pictures[] = {
        {"Pictures\\Wide", HalvesBitmap(600, 300)},
        {"Pictures\\Small", HalvesBitmap(40, 20)},
        {"Pictures\\Damaged", HalvesBitmap(600, 300).substr(0, 300)}};  // its bits cut off
    for (const auto& [path, payload] : pictures) {
      TMemoryStream stream(payload);
      store::SaveItem(zip, stream, path, store::kFormatBitmap);
    }
  }
  window_->OpenCabinet(cabinet_);
  window_->ExplorerView()->expandAll();
  Search("x");  // reads the index
  QTest::keyClick(Pane().SearchField(), Qt::Key_Escape);
  TExplorerModel* model = window_->ExplorerView()->ExplorerModel();
  auto tip = [&](const std::string& path) {
    return model->data(model->IndexOf(Node(path)), Qt::ToolTipRole).toString();
  };

  // The first look answers at once, with the words only: the picture is read and
  // made small elsewhere, and is there for the next look.
  EXPECT_TRUE(TipThumbnail(tip("Pictures\\Wide")).isNull());
  ASSERT_TRUE(WaitUntil([&] { return !TipThumbnail(tip("Pictures\\Wide")).isNull(); }));
  const QString wide = tip("Pictures\\Wide");
  const QImage thumbnail = TipThumbnail(wide);
  EXPECT_EQ(thumbnail.size(), QSize(256, 128));
  EXPECT_EQ(QColor(thumbnail.pixel(20, 64)), QColor(Qt::red));
  EXPECT_EQ(QColor(thumbnail.pixel(236, 64)), QColor(Qt::blue));
  EXPECT_TRUE(wide.contains("Picture 600 x 300")) << wide.toStdString();
  EXPECT_TRUE(wide.contains("Bitmap, 540054 bytes, 20")) << wide.toStdString();
  // The history's tool tip is the same.
  Pane().Tabs()->setCurrentWidget(Pane().HistoryView());
  const int row = Pane().History()->RowOf("Pictures\\Wide");
  ASSERT_GE(row, 0);
  EXPECT_EQ(Pane().History()->data(Pane().History()->index(row, 0), Qt::ToolTipRole).toString(), wide);
  Pane().Tabs()->setCurrentIndex(0);

  // A damaged picture: the tip in words, once the reading failed.
  EXPECT_TRUE(TipThumbnail(tip("Pictures\\Damaged")).isNull());
  ASSERT_TRUE(WaitUntil([&] { return !Pane().Thumbnails().Busy(); }));
  const QString damaged = tip("Pictures\\Damaged");
  EXPECT_FALSE(damaged.contains("<img")) << damaged.toStdString();
  EXPECT_TRUE(damaged.contains("Bitmap, 300 bytes")) << damaged.toStdString();

  // A tool tip shown over a row before its thumbnail is made is shown again with it.
  QWidget* viewport = window_->ExplorerView()->viewport();
  const QPoint at = RowPoint("Pictures\\Small");
  QHelpEvent help(QEvent::ToolTip, at, viewport->mapToGlobal(at));
  QApplication::sendEvent(viewport, &help);
  ASSERT_TRUE(QToolTip::isVisible());
  EXPECT_TRUE(TipThumbnail(QToolTip::text()).isNull());
  ASSERT_TRUE(WaitUntil([&] { return !TipThumbnail(QToolTip::text()).isNull(); }));
  EXPECT_EQ(TipThumbnail(QToolTip::text()).size(), QSize(40, 20));  // small: not enlarged
  QToolTip::hideText();
}

}  // namespace
}  // namespace qb::qt
