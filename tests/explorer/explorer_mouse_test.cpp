// The explorer's mouse and drag work against a real cabinet: the mouse-down lock
// and Timer1, the selection rule, the pop-up's composition, the drag threshold,
// moving items by drop (with the replace question and pruning) and Add New Drawer.
#include "explorer/explorer_mouse.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>

#include "app/app_test_support.h"
#include "explorer/explorer_window.h"
#include "zip/zip_reader.h"

namespace qbtest {
namespace {

using qb::MsgAnswer;
using qb::THitArea;
using qb::TMouseButton;
using qb::TTreeHit;

class FakeTimer : public qb::TExplorerTimer {
 public:
  void Start(int interval_ms) override {
    running = true;
    last_interval = interval_ms;
    ++starts;
  }
  void Stop() override { running = false; }
  bool running = false;
  int last_interval = 0;
  int starts = 0;
};

class ExplorerMouseTest : public MainFormTest {
 protected:
  void SetUp() override {
    MainFormTest::SetUp();
    Explorer().SetTimer1(&timer_);
  }

  qb::TDockableForm& Explorer() { return form_->DockableForm(); }

  // The cabinet Work.qvf: NewItems\Item0 (text with a note), NewItems\Item1
  // (bitmap), Pics\Logo (text, OEM), Pics\Item0 (text).
  void OpenStandard() {
    Put("NewItems\\Item0", "zero", Bytes("F1FCG3GCNa noteNC"));
    Put("NewItems\\Item1", "one", Bytes("F2FCG4GC"));
    Put("Pics\\Logo", "logo", Bytes("F7FCG3GC"));
    Put("Pics\\Item0", "pics zero", Bytes("F1FCG3GC"));
    OpenWork();
  }

  TTreeHit Hit(const std::string& path, THitArea area = THitArea::Label) {
    TTreeHit hit;
    hit.Node = path.empty() ? Tree().Root() : qb::FindNodeByPath(Tree(), path);
    EXPECT_NE(hit.Node, nullptr) << path;
    hit.Area = area;
    hit.ScreenX = 300;
    hit.ScreenY = 400;
    return hit;
  }
  static TTreeHit Nowhere() { return TTreeHit{}; }

  // A press that the lock lets through: the timer ticks first.
  std::optional<qb::TExplorerPopup> Press(TMouseButton button, const TTreeHit& hit, int x = 10, int y = 10) {
    if (timer_.running) Explorer().Timer1Timer();
    return Explorer().TreeView1MouseDown(button, 0, x, y, hit);
  }
  std::optional<qb::TExplorerPopup> RightClick(const TTreeHit& hit) {
    auto popup = Press(TMouseButton::Right, hit);
    Explorer().TreeView1MouseUp(TMouseButton::Right, 0, 10, 10);
    return popup;
  }
  void LeftClick(const TTreeHit& hit) {
    Press(TMouseButton::Left, hit);
    Explorer().TreeView1MouseUp(TMouseButton::Left, 0, 10, 10);
  }
  // Press on path, move far enough, drop on target (a path, or "" for the root).
  void Drag(const std::string& path, qb::TTreeNode* target) {
    Press(TMouseButton::Left, Hit(path), 10, 10);
    ASSERT_TRUE(Explorer().TreeView1MouseMove(qb::ssLeft, 30, 10));
    ASSERT_TRUE(Explorer().TreeView1DragOver());
    Explorer().TreeView1DragDrop(target);
    Explorer().TreeView1EndDrag();
    Explorer().TreeView1MouseUp(TMouseButton::Left, 0, 30, 10);
  }
  qb::TTreeNode* Node(const std::string& path) {
    return path.empty() ? Tree().Root() : qb::FindNodeByPath(Tree(), path);
  }
  std::vector<std::string> DiskNames() {
    std::vector<std::string> names;
    for (const DiskEntry& e : Disk()) names.push_back(e.Name);
    return names;
  }

  // Replaces the cabinet with bytes the archive engine rejects: an end record
  // that promises entries nothing in the file provides.
  void DamageDirectory() {
    std::vector<uint8_t> bytes(100 + 22, 0);
    const uint8_t end[22] = {'P', 'K', 5, 6, 0, 0, 0, 0, 5, 0, 5, 0, 46, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    std::copy(end, end + 22, bytes.begin() + 100);
    WriteFileBytes(cabinet_, bytes);
  }

  FakeTimer timer_;
};

// --- the mouse-down lock ---------------------------------------------------------------------

TEST_F(ExplorerMouseTest, SecondPressWithinTheLockDoesOnlyItsFirstStep) {
  OpenStandard();
  Explorer().TreeView1MouseDown(TMouseButton::Left, 0, 5, 6, Hit("NewItems\\Item0"));
  EXPECT_TRUE(Explorer().MouseDownLocked());
  EXPECT_TRUE(timer_.running);
  EXPECT_EQ(timer_.last_interval, 250);
  EXPECT_TRUE(Explorer().DragArmed());
  EXPECT_EQ(form_->NoteForm().Memo1Text(), "a note");

  // The second press of a double-click, on another item: nothing but clearing
  // the armed flag.
  form_->NoteForm().SetMemo1Text("typed");
  Explorer().TreeView1MouseDown(TMouseButton::Left, 0, 50, 60, Hit("NewItems\\Item1"));
  EXPECT_FALSE(Explorer().DragArmed());
  EXPECT_EQ(Tree().Selected(), Node("NewItems\\Item0"));
  EXPECT_EQ(form_->NoteForm().Memo1Text(), "typed");
  EXPECT_EQ(Explorer().MouseDownX(), 5);
  EXPECT_EQ(timer_.starts, 1);
  // Neither does a locked right press open the pop-up.
  EXPECT_FALSE(Explorer().TreeView1MouseDown(TMouseButton::Right, 0, 5, 6, Hit("NewItems\\Item1")));

  // The tick clears the lock and stops the timer; the next press is handled.
  Explorer().Timer1Timer();
  EXPECT_FALSE(Explorer().MouseDownLocked());
  EXPECT_FALSE(timer_.running);
  Explorer().TreeView1MouseDown(TMouseButton::Left, 0, 50, 60, Hit("NewItems\\Item1"));
  EXPECT_EQ(Tree().Selected(), Node("NewItems\\Item1"));
  EXPECT_EQ(form_->NoteForm().Memo1Text(), "");
  EXPECT_EQ(timer_.starts, 2);
}

// A row reached with the keys is clicked; the lock that holds up a double click's
// second press does not hold up keys, and the key's click locks out the mouse as
// any click does.
TEST_F(ExplorerMouseTest, AKeyMoveClicksTheRowWhateverTheLock) {
  OpenStandard();
  form_->Properties().ViewItemsChecked = true;
  Explorer().TreeView1MouseDown(TMouseButton::Left, 0, 5, 6, Hit("Pics\\Item0"));
  ASSERT_TRUE(Explorer().MouseDownLocked());

  Explorer().TreeView1KeyMove(Node("NewItems\\Item0"), 40, 50);
  EXPECT_EQ(Tree().Selected(), Node("NewItems\\Item0"));
  EXPECT_EQ(form_->NoteForm().Memo1Text(), "a note");
  EXPECT_EQ(form_->ViewerForm().Memo1Text(), "zero");
  EXPECT_EQ(Explorer().MouseDownX(), 40);
  EXPECT_FALSE(Explorer().DragArmed());  // keys never begin a drag
  EXPECT_TRUE(Explorer().MouseDownLocked());
  EXPECT_EQ(timer_.starts, 2);
  Explorer().TreeView1MouseDown(TMouseButton::Left, 0, 5, 6, Hit("Pics\\Item0"));
  EXPECT_EQ(Tree().Selected(), Node("NewItems\\Item0"));

  // A drawer reached with the keys leaves nothing selected, as a click on it does.
  Explorer().TreeView1KeyMove(Node("Pics"), 40, 70);
  EXPECT_EQ(Tree().Selected(), nullptr);
  EXPECT_EQ(Explorer().ClickedContainer(), Node("Pics"));

  // No node, or one of another tree: nothing happens.
  Explorer().TreeView1KeyMove(Node("Pics\\Logo"), 40, 70);
  qb::TTreeView stranger;
  Explorer().TreeView1KeyMove(stranger.AddChild(nullptr, "Stranger"), 1, 1);
  Explorer().TreeView1KeyMove(nullptr, 1, 1);
  EXPECT_EQ(Tree().Selected(), Node("Pics\\Logo"));
  EXPECT_TRUE(ui_.Log().empty());
}

// --- the selection rule -------------------------------------------------------------------

TEST_F(ExplorerMouseTest, ContainersAreNeverLeftSelected) {
  OpenStandard();
  LeftClick(Hit("Pics\\Logo"));
  EXPECT_EQ(Tree().Selected(), Node("Pics\\Logo"));

  LeftClick(Hit("Pics"));
  EXPECT_EQ(Tree().Selected(), nullptr);
  EXPECT_EQ(Explorer().ClickedContainer(), Node("Pics"));
  EXPECT_FALSE(Explorer().DragArmed());  // nothing to drag

  LeftClick(Hit(""));
  EXPECT_EQ(Tree().Selected(), nullptr);
  EXPECT_EQ(Explorer().ClickedContainer(), Tree().Root());

  // A selection that someone else put on a drawer goes at the next press or release.
  Tree().SetSelected(Node("NewItems"));
  Explorer().TreeView1MouseUp(TMouseButton::Left, 0, 0, 0);
  EXPECT_EQ(Tree().Selected(), nullptr);
  Tree().SetSelected(Node("NewItems"));
  Press(TMouseButton::Left, Nowhere());
  EXPECT_EQ(Tree().Selected(), nullptr);
  EXPECT_EQ(Explorer().ClickedContainer(), nullptr);

  // A press on empty space keeps an item selected.
  LeftClick(Hit("Pics\\Logo"));
  LeftClick(Nowhere());
  EXPECT_EQ(Tree().Selected(), Node("Pics\\Logo"));
}

TEST_F(ExplorerMouseTest, ItemsKeepTheSelectionWhateverTheirGlyph) {
  Put("a", "x", Bytes("F1FCG0GC"));   // the note-available glyph
  Put("b", "y", Bytes("F1FCG13GC"));  // the cabinet glyph
  OpenWork();
  LeftClick(Hit("a"));
  EXPECT_EQ(Tree().Selected(), Node("a"));
  LeftClick(Hit("b"));
  EXPECT_EQ(Tree().Selected(), Node("b"));
}

TEST_F(ExplorerMouseTest, ClickedContainerSurvivesNoRebuild) {
  OpenStandard();
  RightClick(Hit("Pics"));
  ASSERT_EQ(Explorer().ClickedContainer(), Node("Pics"));
  Tree().Delete(Node("Pics"));  // the node is gone: no dangling container
  EXPECT_EQ(Explorer().ClickedContainer(), nullptr);
}

// --- a click shows the note and the item -----------------------------------------------------

TEST_F(ExplorerMouseTest, ClickShowsNoteAndViewsInViewItemsMode) {
  OpenStandard();
  form_->Properties().ViewItemsChecked = true;
  LeftClick(Hit("NewItems\\Item0", THitArea::Icon));
  EXPECT_EQ(form_->NoteForm().Memo1Text(), "a note");
  EXPECT_EQ(form_->ViewerForm().Memo1Text(), "zero");

  LeftClick(Hit("Pics\\Item0", THitArea::StateIcon));
  EXPECT_EQ(form_->NoteForm().Memo1Text(), "");
  EXPECT_EQ(form_->ViewerForm().Memo1Text(), "pics zero");

  // On the row but not on the node: selected, nothing shown, nothing armed.
  form_->NoteForm().SetMemo1Text("typed");
  Press(TMouseButton::Left, Hit("NewItems\\Item0", THitArea::Row));
  EXPECT_EQ(Tree().Selected(), Node("NewItems\\Item0"));
  EXPECT_FALSE(Explorer().DragArmed());
  EXPECT_EQ(form_->NoteForm().Memo1Text(), "typed");
  EXPECT_TRUE(ui_.Log().empty());
}

TEST_F(ExplorerMouseTest, ClickOnItemMissingFromCabinetOnlyClearsTheNote) {
  OpenStandard();
  form_->Properties().ViewItemsChecked = true;
  Explorer().InsertItemPath(Tree().Root(), "Ghost", 3, -1);
  form_->NoteForm().SetMemo1Text("typed");
  LeftClick(Hit("Ghost"));
  EXPECT_EQ(form_->NoteForm().Memo1Text(), "");
  EXPECT_EQ(form_->ViewerForm().Memo1Text(), "");
  EXPECT_TRUE(ui_.Log().empty());
}

TEST_F(ExplorerMouseTest, UnreadableCabinetIsReportedNotThrown) {
  OpenStandard();
  DamageDirectory();
  EXPECT_NO_THROW(LeftClick(Hit("Pics\\Logo")));
  ASSERT_EQ(ui_.Boxes().size(), 1u);
  EXPECT_EQ(ui_.Boxes()[0].Kind, qb::MsgKind::Error);
}

// --- the pop-up --------------------------------------------------------------------------

TEST_F(ExplorerMouseTest, PopupOnEmptySpaceDependsOnTheSelection) {
  OpenStandard();
  auto popup = RightClick(Nowhere());
  ASSERT_TRUE(popup);
  EXPECT_EQ(popup->VisibleCaptions(), (std::vector<std::string>{"Add &New Text Item", "&View Items", "-"}));
  EXPECT_FALSE(popup->Find("ViewItemsMi")->Checked);

  LeftClick(Hit("Pics\\Logo"));
  form_->Properties().ViewItemsChecked = true;
  popup = RightClick(Nowhere());
  ASSERT_TRUE(popup);
  EXPECT_EQ(popup->VisibleCaptions(),
            (std::vector<std::string>{"Add &New Text Item", "Add Ne&w Drawer", "&View Items", "-"}));
  EXPECT_TRUE(popup->Find("ViewItemsMi")->Checked);
  EXPECT_EQ(popup->ScreenX, 0);  // empty space: the hit's screen point is the caller's
}

TEST_F(ExplorerMouseTest, PopupOnDrawerOffersNewDrawer) {
  OpenStandard();
  auto popup = RightClick(Hit("Pics"));
  ASSERT_TRUE(popup);
  // Copy and Move act on every item of the drawer.
  EXPECT_EQ(
      popup->VisibleCaptions(),
      (std::vector<std::string>{"Add &New Text Item", "Add Ne&w Drawer", "&View Items",
                                "C&opy To Another File Cabinet", "Move To Another &File Cabinet", "-"}));
  EXPECT_EQ(popup->ScreenX, 300);
  EXPECT_EQ(popup->ScreenY, 400);
}

TEST_F(ExplorerMouseTest, PopupOnItemsFollowsNoteAndFormat) {
  OpenStandard();
  // Bitmap, no note.
  auto popup = RightClick(Hit("NewItems\\Item1"));
  ASSERT_TRUE(popup);
  EXPECT_EQ(Tree().Selected(), Node("NewItems\\Item1"));
  EXPECT_EQ(popup->VisibleCaptions(),
            (std::vector<std::string>{"Add &New Text Item", "&Add Note", "Add Ne&w Drawer", "&Change Glyph",
                                      "&Rename", "&Load To Clipboard", "&View Items",
                                      "C&opy To Another File Cabinet", "Move To Another &File Cabinet", "-",
                                      "&Delete"}));
  // Text with a note: Edit As and Delete Note as well.
  popup = RightClick(Hit("NewItems\\Item0"));
  EXPECT_TRUE(popup->IsVisible("EditMi"));
  EXPECT_TRUE(popup->IsVisible("DeleteNoteMi"));
  EXPECT_EQ(popup->Items.size(), 13u);
  EXPECT_EQ(popup->Items.back().Info.Caption, "Delete Note");
  // OEM text: Edit As.
  popup = RightClick(Hit("Pics\\Logo"));
  EXPECT_TRUE(popup->IsVisible("EditMi"));
  EXPECT_FALSE(popup->IsVisible("DeleteNoteMi"));
  ASSERT_EQ(popup->EditAsItems.size(), 10u);
  EXPECT_EQ(popup->EditAsItems[1].Caption, "&CBuilder   (C++)");
  EXPECT_EQ(popup->EditAsItems[1].Tag, 2);
  EXPECT_EQ(popup->EditAsItems[5].Caption, "&Delphi  (Pascal)");
  EXPECT_EQ(popup->EditAsItems[9].Tag, 6);
  const qb::TPopupItem* move = popup->Find("MoveMi");
  EXPECT_EQ(move->Info.Tag, 1);
  EXPECT_EQ(move->Info.Image, 33);
}

TEST_F(ExplorerMouseTest, PopupSurvivesCommentsWithoutUsableFormat) {
  Put("nofield", "a", Bytes("G3GC"));
  Put("junk", "b", Bytes("FoneFCG3GC"));
  Put("unclosed", "c", Bytes("F1"));
  Put("bare", "d", "");
  OpenWork();
  for (const char* path : {"nofield", "junk", "unclosed", "bare"}) {
    auto popup = RightClick(Hit(path));
    ASSERT_TRUE(popup) << path;
    EXPECT_FALSE(popup->IsVisible("EditMi")) << path;
    EXPECT_TRUE(popup->IsVisible("RenameMi")) << path;
  }
  EXPECT_TRUE(ui_.Log().empty());
}

TEST_F(ExplorerMouseTest, PopupCommandsRunTheMainFormsHandlers) {
  OpenStandard();
  auto popup = RightClick(Hit("NewItems\\Item1"));
  ui_.Answer(MsgAnswer::Yes);
  EXPECT_TRUE(form_->RunExplorerCommand(popup->Find("DeleteMi")->Info.Command, 0));
  EXPECT_EQ(DiskNames(), (std::vector<std::string>{"NewItems\\Item0", "Pics\\Item0", "Pics\\Logo"}));
  EXPECT_TRUE(qb::TMainForm::ExplorerCommandAvailable(qb::TExplorerCommand::CopyOrMove));
  EXPECT_FALSE(form_->RunExplorerCommand(qb::TExplorerCommand::None, 0));
  EXPECT_TRUE(form_->RunExplorerCommand(qb::TExplorerCommand::ViewItems, 0));
  EXPECT_TRUE(form_->Properties().ViewItemsChecked);
}

TEST_F(ExplorerMouseTest, PopupMoveOnADrawerMovesItsItemsAndPrunesTheDrawer) {
  OpenStandard();
  const std::string target = (std::filesystem::path(cabinet_).parent_path() / "Other.qvf").string();
  auto popup = RightClick(Hit("Pics"));
  ASSERT_TRUE(popup);
  EXPECT_TRUE(popup->IsVisible("MoveMi"));
  ui_.ChooseFile(target);
  EXPECT_TRUE(form_->RunExplorerCommand(qb::TExplorerCommand::CopyOrMove, 1));
  EXPECT_EQ(DiskNames(), (std::vector<std::string>{"NewItems\\Item0", "NewItems\\Item1"}));
  EXPECT_EQ(Node("Pics"), nullptr);
  qb::zip::TZipReader other;
  other.SetZipName(target);
  other.ReadDirectory();
  ASSERT_EQ(other.EntryCount(), 2);
  EXPECT_LT(other.FindEntry("Pics\\Logo"), 2);
  EXPECT_EQ(other.EntryComment(other.FindEntry("Pics\\Logo")), Bytes("F7FCG3GC"));
  ASSERT_FALSE(ui_.Boxes().empty());
  EXPECT_EQ(ui_.Boxes().back().Text.rfind("Moved 2 items to ", 0), 0u) << ui_.Boxes().back().Text;

  // Copying to the open cabinet itself is refused, and nothing changes.
  LeftClick(Hit("NewItems\\Item0"));
  ui_.ChooseFile(cabinet_);
  form_->RunExplorerCommand(qb::TExplorerCommand::CopyOrMove, 1);
  EXPECT_EQ(DiskNames(), (std::vector<std::string>{"NewItems\\Item0", "NewItems\\Item1"}));
  EXPECT_NE(ui_.Boxes().back().Text.find("already"), std::string::npos);
}

// --- the drag threshold and the flags -------------------------------------------------------

TEST_F(ExplorerMouseTest, DragStartsAtFivePixelsOnEitherAxis) {
  OpenStandard();
  Press(TMouseButton::Left, Hit("Pics\\Logo"), 100, 100);
  ASSERT_TRUE(Explorer().DragArmed());
  EXPECT_FALSE(Explorer().TreeView1MouseMove(qb::ssLeft, 104, 96));
  EXPECT_FALSE(Explorer().TreeView1MouseMove(0, 110, 100));  // no button held
  EXPECT_FALSE(Explorer().TreeView1MouseMove(qb::ssMiddle, 110, 100));
  EXPECT_FALSE(Explorer().DragStarted());
  EXPECT_TRUE(Explorer().TreeView1MouseMove(qb::ssLeft, 100, 95));
  EXPECT_TRUE(Explorer().DragStarted());
  EXPECT_FALSE(Explorer().TreeView1MouseMove(qb::ssLeft, 130, 130));  // already under way

  // Abandoned outside the tree: the next drag still starts.
  Explorer().TreeView1EndDrag();
  EXPECT_FALSE(Explorer().DragStarted());
  EXPECT_FALSE(Explorer().DragArmed());
  Press(TMouseButton::Left, Hit("Pics\\Logo"), 0, 0);
  EXPECT_TRUE(Explorer().TreeView1MouseMove(qb::ssRight, -5, 0));
}

TEST_F(ExplorerMouseTest, NoDragWithoutArmingOrSelection) {
  OpenStandard();
  Press(TMouseButton::Left, Hit("Pics"), 0, 0);  // a drawer: nothing to drag
  EXPECT_FALSE(Explorer().TreeView1MouseMove(qb::ssLeft, 50, 50));
  Press(TMouseButton::Right, Hit("Pics\\Logo"), 0, 0);  // the right press only pops up
  EXPECT_FALSE(Explorer().TreeView1MouseMove(qb::ssRight, 50, 50));
  // Extreme coordinates do not overflow the distance.
  Press(TMouseButton::Left, Hit("Pics\\Logo"), INT32_MIN, INT32_MAX);
  EXPECT_TRUE(Explorer().TreeView1MouseMove(qb::ssLeft, INT32_MAX, INT32_MIN));
}

// --- drops --------------------------------------------------------------------------------

TEST_F(ExplorerMouseTest, DropOnRootOrOnAnItemMovesIntoThatDrawer) {
  OpenStandard();
  const std::vector<DiskEntry> before = Disk();
  Drag("NewItems\\Item1", Node(""));
  EXPECT_FALSE(Explorer().DragArmed());
  EXPECT_FALSE(Explorer().DragStarted());
  EXPECT_EQ(DiskNames(), (std::vector<std::string>{"Item1", "NewItems\\Item0", "Pics\\Item0", "Pics\\Logo"}));
  // Data and comment go with it.
  EXPECT_EQ(Disk()[0], (DiskEntry{"Item1", Bytes("F2FCG4GC"), "one"}));
  EXPECT_EQ(Tree().Selected(), Node("Item1"));

  Drag("Item1", Node("Pics\\Logo"));
  EXPECT_EQ(DiskNames(),
            (std::vector<std::string>{"NewItems\\Item0", "Pics\\Item0", "Pics\\Item1", "Pics\\Logo"}));
  EXPECT_EQ(Dump(),
            "Work [13]\n"
            "  NewItems [1]\n"
            "    Item0 [3] note\n"
            "  Pics [1]\n"
            "    Item0 [3]\n"
            "    Logo [3]\n"
            "    Item1 [4] *\n");
  EXPECT_TRUE(ui_.Log().empty());
}

TEST_F(ExplorerMouseTest, DropsThatMoveNothing) {
  OpenStandard();
  LeftClick(Hit("Pics\\Logo"));
  const std::vector<uint8_t> bytes = FileBytes();
  const std::string dump = Dump();
  Drag("Pics\\Logo", Node("Pics"));         // its own drawer
  Drag("Pics\\Logo", Node("Pics\\Item0"));  // an item of its own drawer
  Drag("Pics\\Logo", Node("Pics\\Logo"));   // itself
  Drag("Pics\\Logo", nullptr);              // empty space
  EXPECT_EQ(FileBytes(), bytes);
  EXPECT_EQ(Dump(), dump);
  EXPECT_FALSE(Explorer().DragStarted());
  // A drop with nothing selected does nothing either.
  Tree().SetSelected(nullptr);
  Explorer().TreeView1DragDrop(Node(""));
  EXPECT_EQ(FileBytes(), bytes);
}

TEST_F(ExplorerMouseTest, ReplaceQuestionCancelLeavesEverything) {
  OpenStandard();
  LeftClick(Hit("NewItems\\Item0"));
  const std::vector<uint8_t> bytes = FileBytes();
  const std::string dump = Dump();
  ui_.Answer(MsgAnswer::Cancel);
  Drag("NewItems\\Item0", Node("Pics"));
  ASSERT_EQ(ui_.Boxes().size(), 1u);
  EXPECT_EQ(
      ui_.Boxes()[0].Describe(),
      "Warning 'Warning' [OK/Cancel]: Pics\\Item0 already exist!\r\nDo you wish to replace this entry ?");
  EXPECT_EQ(FileBytes(), bytes);
  EXPECT_EQ(Dump(), dump);
}

TEST_F(ExplorerMouseTest, ReplaceQuestionOkReplacesAndDropsTheStaleNode) {
  OpenStandard();
  ui_.Answer(MsgAnswer::Ok);
  Drag("NewItems\\Item0", Node("Pics\\Logo"));
  EXPECT_EQ(Disk(), (std::vector<DiskEntry>{{"NewItems\\Item1", Bytes("F2FCG4GC"), "one"},
                                            {"Pics\\Item0", Bytes("F1FCG3GCNa noteNC"), "zero"},
                                            {"Pics\\Logo", Bytes("F7FCG3GC"), "logo"}}));
  EXPECT_EQ(Dump(),
            "Work [13]\n"
            "  NewItems [1]\n"
            "    Item1 [4]\n"
            "  Pics [1]\n"
            "    Logo [3]\n"
            "    Item0 [3] note *\n");
}

TEST_F(ExplorerMouseTest, ReplacingIsCaseBlind) {
  Put("a\\ITEM", "mine", Bytes("F1FC"));
  Put("b\\item", "theirs", Bytes("F1FC"));
  Put("b\\keep", "k", Bytes("F1FC"));
  OpenWork();
  ui_.Answer(MsgAnswer::Ok);
  Drag("a\\ITEM", Node("b"));
  EXPECT_EQ(Disk(),
            (std::vector<DiskEntry>{{"b\\ITEM", Bytes("F1FC"), "mine"}, {"b\\keep", Bytes("F1FC"), "k"}}));
  EXPECT_EQ(Dump(), "Work [13]\n  b [1]\n    keep [2]\n    ITEM [2] *\n");
}

TEST_F(ExplorerMouseTest, MovingTheLastItemPrunesEveryEmptiedLevel) {
  Put("A\\B\\C\\x", "x", Bytes("F1FC"));
  Put("A\\y", "y", Bytes("F1FC"));
  Put("top", "t", Bytes("F1FC"));
  OpenWork();
  Drag("A\\B\\C\\x", Node("top"));  // onto an item directly below the root
  EXPECT_EQ(DiskNames(), (std::vector<std::string>{"A\\y", "top", "x"}));
  EXPECT_EQ(Dump(), "Work [13]\n  A [1]\n    y [2]\n  top [2]\n  x [2] *\n");
  Drag("A\\y", Node(""));
  EXPECT_EQ(Dump(), "Work [13]\n  top [2]\n  x [2]\n  y [2] *\n");
}

TEST_F(ExplorerMouseTest, DropIntoAnEmptyNewDrawerStoresIt) {
  OpenStandard();
  RightClick(Hit(""));
  ui_.Input("Fresh");
  Explorer().AddNewDrawerMiClick();
  Drag("Pics\\Logo", Node("Fresh"));
  EXPECT_EQ(DiskNames(),
            (std::vector<std::string>{"Fresh\\Logo", "NewItems\\Item0", "NewItems\\Item1", "Pics\\Item0"}));
}

TEST_F(ExplorerMouseTest, FailedWriteLeavesTreeAndCabinetAsTheyWere) {
  OpenStandard();
  Press(TMouseButton::Left, Hit("Pics\\Logo"));
  const std::string dump = Dump();
  ASSERT_TRUE(Explorer().TreeView1MouseMove(qb::ssLeft, 50, 50));
  const std::vector<uint8_t> damaged = (DamageDirectory(), FileBytes());
  EXPECT_NO_THROW(Explorer().TreeView1DragDrop(Node("")));
  Explorer().TreeView1EndDrag();
  ASSERT_EQ(ui_.Boxes().size(), 1u);
  EXPECT_EQ(ui_.Boxes()[0].Kind, qb::MsgKind::Error);
  EXPECT_EQ(Dump(), dump);
  EXPECT_EQ(FileBytes(), damaged);
}

// --- Add New Drawer --------------------------------------------------------------------------

TEST_F(ExplorerMouseTest, NewDrawerGoesIntoTheClickedDrawer) {
  OpenStandard();
  RightClick(Hit("NewItems"));
  ui_.Input("Today");
  Explorer().AddNewDrawerMiClick();
  ASSERT_EQ(ui_.InputBoxes().size(), 1u);
  EXPECT_EQ(ui_.InputBoxes()[0].Describe(),
            "'Add New Drawer' 'Enter the name of the new drawer' 'NewDrawer'");
  qb::TTreeNode* added = Node("NewItems\\Today");
  ASSERT_NE(added, nullptr);
  EXPECT_EQ(added->ImageIndex(), qb::kDrawerImage);
  EXPECT_EQ(Tree().Selected(), nullptr);
  // Nothing is written for an empty drawer.
  EXPECT_EQ(DiskNames().size(), 4u);
}

TEST_F(ExplorerMouseTest, NewDrawerGoesIntoTheSelectedItemsDrawer) {
  OpenStandard();
  LeftClick(Hit("Pics\\Logo"));
  auto popup = RightClick(Nowhere());
  ASSERT_TRUE(popup->IsVisible("AddNewDrawerMi"));
  ui_.Input("Icons");
  form_->RunExplorerCommand(popup->Find("AddNewDrawerMi")->Info.Command, 0);
  EXPECT_NE(Node("Pics\\Icons"), nullptr);
  EXPECT_EQ(Node("Icons"), nullptr);
}

TEST_F(ExplorerMouseTest, NewDrawerNameTakenIsAskedAgainIgnoringCase) {
  OpenStandard();
  RightClick(Hit("Pics"));
  ui_.Input("LOGO").Input("item0").Input("Fonts");
  Explorer().AddNewDrawerMiClick();
  ASSERT_EQ(ui_.InputBoxes().size(), 3u);
  EXPECT_EQ(ui_.InputBoxes()[1].Describe(),
            "'Drawer Already Exists' 'Enter a different name for the new drawer' 'LOGO'");
  EXPECT_EQ(ui_.InputBoxes()[2].InitialText, "item0");
  EXPECT_EQ(Dump(),
            "Work [13]\n"
            "  NewItems [1]\n"
            "    Item0 [3] note\n"
            "    Item1 [4]\n"
            "  Pics [1] +\n"
            "    Item0 [3]\n"
            "    Logo [3]\n"
            "    Fonts [1]\n");
}

TEST_F(ExplorerMouseTest, NewDrawerCancelAndUnusableNames) {
  OpenStandard();
  const std::string dump = Dump();
  RightClick(Hit("Pics"));
  ui_.CancelInput();
  Explorer().AddNewDrawerMiClick();
  EXPECT_EQ(Dump(), dump);

  // Empty, blank, nested and drive-like names are refused, each with a message,
  // and asked for again; Cancel then ends it.
  ui_.Input("").Input("   ").Input("a\\b").CancelInput();
  Explorer().AddNewDrawerMiClick();
  ASSERT_EQ(ui_.Boxes().size(), 3u);
  EXPECT_EQ(ui_.Boxes()[0].Text, qb::explorer_text::kEmptyDrawerName);
  EXPECT_EQ(ui_.Boxes()[1].Text, qb::explorer_text::kEmptyDrawerName);
  EXPECT_EQ(ui_.Boxes()[2].Text, qb::explorer_text::kBackslashInName);
  EXPECT_EQ(ui_.InputBoxes()[4].InitialText, "a\\b");
  EXPECT_EQ(Dump(), dump);

  // Directly below the root, a name that reads as a drive would lose its first
  // part in the archive.
  ui_.ClearRecords();
  RightClick(Hit(""));
  ui_.Input("c:d").CancelInput();
  Explorer().AddNewDrawerMiClick();
  ASSERT_EQ(ui_.Boxes().size(), 1u);
  EXPECT_EQ(ui_.Boxes()[0].Text, "\"c:d\" cannot be used as a drawer name");
  EXPECT_EQ(Dump(), dump);
}

TEST_F(ExplorerMouseTest, NewDrawerWithoutPlaceAsksNothing) {
  OpenStandard();
  LeftClick(Nowhere());  // nothing selected, no container
  Explorer().AddNewDrawerMiClick();
  EXPECT_TRUE(ui_.Log().empty());
}

// --- a bare explorer (no main window) ------------------------------------------------------

TEST(ExplorerWithoutContext, MovesNodesAndNeverLocksWithoutTimer) {
  qb::TDockableForm explorer;
  qb::TTreeView& tree = explorer.TreeView1();
  qb::TTreeNode* root = tree.AddChild(nullptr, "Work");
  root->SetImageIndex(qb::kRootImage);
  root->SetSelectedIndex(qb::kRootImage);
  qb::TTreeNode* item = explorer.InsertItemPath(root, "d\\x", 3, -1);
  qb::TTreeHit hit{item, THitArea::Label};
  explorer.TreeView1MouseDown(TMouseButton::Left, 0, 0, 0, hit);
  EXPECT_FALSE(explorer.MouseDownLocked());
  EXPECT_TRUE(explorer.DragArmed());
  EXPECT_TRUE(explorer.TreeView1MouseMove(qb::ssLeft, 9, 0));
  explorer.TreeView1DragDrop(root);
  EXPECT_EQ(qb::DumpTree(tree), "Work [13]\n  x [3] *\n");
  // Add New Drawer needs someone to ask: without, nothing happens.
  explorer.AddNewDrawerMiClick();
  EXPECT_EQ(qb::DumpTree(tree), "Work [13]\n  x [3] *\n");
}

}  // namespace
}  // namespace qbtest
