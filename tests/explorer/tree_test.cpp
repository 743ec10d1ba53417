// The explorer tree: inserting item paths, mapping nodes back to paths, pruning,
// expanding, and filling the tree from a real cabinet file.
#include <gtest/gtest.h>

#include "explorer/cabinet_tree.h"
#include "explorer/explorer_window.h"
#include "explorer/tree_routines.h"
#include "platform/memory_stream.h"
#include "store/cabinet_store.h"
#include "support/test_support.h"
#include "zip/zip_writer.h"

namespace qb {
namespace {

// 'F' 'G' 'N' 'C' spell the marker bytes 8C A5 A7 BF.
std::string Bytes(std::string_view spelled) {
  std::string out;
  for (char c : spelled)
    out += c == 'F' ? '\x8C' : c == 'G' ? '\xA5' : c == 'N' ? '\xA7' : c == 'C' ? '\xBF' : c;
  return out;
}

class TreeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = tree_.AddChild(nullptr, "Work");
    root_->SetImageIndex(kRootImage);
    root_->SetSelectedIndex(kRootImage);
  }
  TTreeView tree_;
  TTreeNode* root_ = nullptr;
};

TEST_F(TreeTest, InsertBuildsDrawersAndReusesNodesIgnoringCase) {
  InsertItemPath(tree_, root_, "a\\B\\x", 3, -1);
  InsertItemPath(tree_, root_, "A\\b\\y", -1, kNoteStateIndex);
  // An existing item is left exactly as it was, whatever is passed.
  InsertItemPath(tree_, root_, "A\\B\\X", 7, kNoteStateIndex);
  InsertItemPath(tree_, root_, "top", 15, -1);
  EXPECT_EQ(DumpTree(tree_),
            "Work [13]\n"
            "  a [1]\n"
            "    B [1]\n"
            "      x [3]\n"
            "      y [2] note\n"
            "  top [15]\n");
}

TEST_F(TreeTest, PathEndingInBackslashMakesDrawersOnlyAndEmptyPathNothing) {
  EXPECT_EQ(InsertItemPath(tree_, root_, "", 3, -1), nullptr);
  TTreeNode* deepest = InsertItemPath(tree_, root_, "New\\Today\\", -1, -1);
  ASSERT_NE(deepest, nullptr);
  EXPECT_EQ(deepest->Caption(), "Today");
  EXPECT_EQ(DumpTree(tree_), "Work [13]\n  New [1]\n    Today [1]\n");
  EXPECT_EQ(InsertItemPath(tree_, nullptr, "x", 3, -1), nullptr);
}

TEST_F(TreeTest, ItemPathOfAndFindNodeByPathAreInverse) {
  TTreeNode* item = InsertItemPath(tree_, root_, "B\\A\\leaf", 3, -1);
  EXPECT_EQ(ItemPathOf(root_), "");
  EXPECT_EQ(ItemPathOf(nullptr), "");
  EXPECT_EQ(ItemPathOf(item->Parent()), "B\\A");
  EXPECT_EQ(ItemPathOf(item), "B\\A\\leaf");
  EXPECT_EQ(FindNodeByPath(tree_, "b\\a\\LEAF"), item);
  EXPECT_EQ(FindNodeByPath(tree_, "B\\A\\other"), nullptr);
  EXPECT_EQ(FindNodeByPath(tree_, ""), nullptr);
  TTreeNode* direct = InsertItemPath(tree_, root_, "solo", 3, -1);
  EXPECT_EQ(ItemPathOf(direct), "solo");
}

TEST_F(TreeTest, PruneRemovesEmptiedLevelsUpToButNotTheRoot) {
  TTreeNode* leaf = InsertItemPath(tree_, root_, "A\\B\\C\\x", 3, -1);
  InsertItemPath(tree_, root_, "A\\keep", 3, -1);
  TTreeNode* parent = leaf->Parent();
  tree_.Delete(leaf);
  PruneEmptyDrawers(tree_, parent);
  EXPECT_EQ(DumpTree(tree_), "Work [13]\n  A [1]\n    keep [3]\n");

  TTreeNode* keep = FindNodeByPath(tree_, "A\\keep");
  parent = keep->Parent();
  tree_.Delete(keep);
  PruneEmptyDrawers(tree_, parent);
  EXPECT_EQ(DumpTree(tree_), "Work [13]\n");
  PruneEmptyDrawers(tree_, root_);  // the root stays even when empty
  EXPECT_EQ(tree_.Root(), root_);
}

TEST_F(TreeTest, DeletingASubtreeClearsASelectionInsideIt) {
  TTreeNode* item = InsertItemPath(tree_, root_, "A\\x", 3, -1);
  tree_.SetSelected(item);
  tree_.Delete(item->Parent());
  EXPECT_EQ(tree_.Selected(), nullptr);
  EXPECT_EQ(tree_.NodeCount(), 1);
}

TEST_F(TreeTest, ExpandAllShowsEveryNodeAndCollapseAllOnlyTheRoot) {
  InsertItemPath(tree_, root_, "A\\B\\x", 3, -1);
  InsertItemPath(tree_, root_, "C\\y", 3, -1);
  EXPECT_EQ(tree_.VisibleNodes().size(), 1u);
  tree_.FullExpand();
  EXPECT_EQ(tree_.VisibleNodes().size(), 6u);
  tree_.FullCollapse();
  ASSERT_EQ(tree_.VisibleNodes().size(), 1u);
  EXPECT_EQ(tree_.VisibleNodes()[0], root_);
}

TEST_F(TreeTest, CaptionLookupFindsTheFirstMatchAfterRemovalsAndRenames) {
  // Enough children for the caption index to be used.
  for (int i = 0; i < 20; ++i) InsertItemPath(tree_, root_, "n" + std::to_string(i), 3, -1);
  TTreeNode* first = tree_.AddChild(root_, "Dup");
  TTreeNode* second = tree_.AddChild(root_, "dup");
  EXPECT_EQ(root_->FindChild("DUP"), first);
  tree_.Delete(first);
  EXPECT_EQ(root_->FindChild("DUP"), second);
  TTreeNode* n3 = root_->FindChild("n3");
  n3->SetCaption("DUP");  // now before "dup" in child order
  EXPECT_EQ(root_->FindChild("dup"), n3);
  EXPECT_EQ(root_->FindChild("n3"), nullptr);
  EXPECT_TRUE(tree_.MoveTo(n3, root_->FindChild("n5")));  // out of the root's children
  EXPECT_EQ(root_->FindChild("dup"), second);
  EXPECT_FALSE(tree_.MoveTo(root_, n3));  // not below itself
}

TEST(TreeDepth, VeryDeepPathsNeitherRecurseNorOverflow) {
  TTreeView tree;
  TTreeNode* root = tree.AddChild(nullptr, "deep");
  root->SetImageIndex(kRootImage);
  std::string path;
  for (int i = 0; i < 200000; ++i) path += "d\\";
  path += "leaf";
  TTreeNode* leaf = InsertItemPath(tree, root, path, 3, -1);
  ASSERT_NE(leaf, nullptr);
  EXPECT_EQ(ItemPathOf(leaf).size(), path.size());
  tree.FullExpand();
  EXPECT_EQ(tree.VisibleNodes().size(), 200002u);
  tree.Delete(root->FirstChild());
  EXPECT_EQ(tree.NodeCount(), 1);
  InsertItemPath(tree, root, path, 3, -1);  // destroyed with the tree
}

// --- filling from a cabinet ----------------------------------------------------------

class FillTest : public ::testing::Test {
 protected:
  void SetUp() override { store::ConfigureCabinetArchive(zip_); }
  void Put(const std::string& name, const std::string& comment) {
    TMemoryStream data(std::string("payload"));
    ASSERT_EQ(zip_.AddFromStreamWithComment(&data, name, comment), 1);
  }
  std::string Fill(int glyph_count = 22) {
    tree_.Clear();
    FillCabinetTree(tree_, zip_, glyph_count);
    return DumpTree(tree_);
  }
  qbtest::TempDir dir_;
  zip::TZipWriter zip_;
  TTreeView tree_;
};

TEST_F(FillTest, EntriesInArchiveOrderWithGlyphsAndNoteMarks) {
  zip_.SetZipName(dir_ / "Work.qvf");
  Put("Pics\\Logo", Bytes("F2FCG4GC"));
  Put("NewItems\\Item1", Bytes("F1FCG3GCNhiNC"));
  Put("NewItems\\Item0", Bytes("F1FCG3GC"));
  EXPECT_EQ(Fill(),
            "Work [13]\n"
            "  NewItems [1]\n"
            "    Item0 [3]\n"
            "    Item1 [3] note\n"
            "  Pics [1]\n"
            "    Logo [4]\n");
}

TEST_F(FillTest, GlyphsTheListCannotShowFallBackToTheDefault) {
  zip_.SetZipName(dir_ / "odd.qvf");
  Put("big", Bytes("F1FCG99GC"));
  Put("user", Bytes("F1FCG23GC"));
  Put("neg", Bytes("G-4GCF1FC"));
  Put("nonumber", Bytes("F1FCGxGC"));
  Put("noteonly", Bytes("Nnote"));
  Put("plain", "");
  Put("emptyglyph", Bytes("GGCF1FC"));
  EXPECT_EQ(Fill(),
            "odd [13]\n"
            "  big [2]\n"
            "  emptyglyph [2]\n"
            "  neg [2]\n"
            "  nonumber [2]\n"
            "  noteonly [2] note\n"
            "  plain [2]\n"
            "  user [2]\n");
  // With a user glyph at 23 the list can show it.
  EXPECT_NE(Fill(24).find("  user [23]\n"), std::string::npos);
}

TEST_F(FillTest, MissingFileGivesTheRootAloneAndNoPathGivesNothing) {
  FillCabinetTree(tree_, zip_, 22);
  EXPECT_TRUE(tree_.Empty());
  zip_.SetZipName(dir_ / "Fresh.QVF");
  EXPECT_EQ(Fill(), "Fresh [13]\n");
}

// A large cabinet's tree takes a while to fill: the window's messages are
// dispatched meanwhile, through the cabinet's message pump, and the tree comes
// out whole. A reader told not to dispatch them does not.
TEST_F(FillTest, ALargeCabinetIsFilledWithTheWindowsMessagesDispatched) {
  zip_.SetZipName(dir_ / "Large.qvf");
  Put("Drawer0\\Item0", Bytes("F1FCG3GC"));
  zip::TStoredEntry one;
  ASSERT_EQ(zip_.ReadStoredEntry("Drawer0\\Item0", one), "");
  std::vector<zip::TStoredEntry> batch(6000, one);
  for (size_t i = 0; i < batch.size(); ++i) {
    batch[i].record.path = "Drawer" + std::to_string(i % 3) + "\\";
    batch[i].record.file_name = "Item" + std::to_string(i + 1);
    batch[i].record.stored_name.reset();
  }
  ASSERT_EQ(zip_.AddStoredEntries(batch), 6000);
  int pumps = 0;
  zip_.SetMessagePump([&] { ++pumps; });
  tree_.Clear();
  FillCabinetTree(tree_, zip_, 22);
  EXPECT_GE(pumps, 2);
  EXPECT_EQ(tree_.NodeCount(), 1 + 3 + 6001);

  pumps = 0;
  zip_.SetDoProcessMessages(false);
  tree_.Clear();
  FillCabinetTree(tree_, zip_, 22);
  EXPECT_EQ(pumps, 0);
  EXPECT_EQ(tree_.NodeCount(), 1 + 3 + 6001);
}

TEST(RootCaption, CutBeforeQvfOrElseTheExtension) {
  EXPECT_EQ(RootCaptionFor("/a/b/Work.qvf"), "Work");
  EXPECT_EQ(RootCaptionFor("/a/my.qvf.backup.qvf"), "my");
  EXPECT_EQ(RootCaptionFor("/a/Upper.QVF"), "Upper");
  EXPECT_EQ(RootCaptionFor("/a/plain"), "plain");
  EXPECT_EQ(RootCaptionFor("/a/.qvf"), ".qvf");
  EXPECT_EQ(RootCaptionFor("rel.zip"), "rel");
}

TEST(EntryMarks, NoteMarkForAnyA7Byte) {
  EXPECT_EQ(EntryMarksOf(Bytes("F1FCG5GC"), 22).State, -1);
  EXPECT_EQ(EntryMarksOf(Bytes("F1FCG5GCN"), 22).State, kNoteStateIndex);
  EXPECT_EQ(EntryMarksOf(Bytes("F1FCG5GC"), 22).Glyph, 5);
  EXPECT_EQ(EntryMarksOf(Bytes("G21GC"), 22).Glyph, 21);
  EXPECT_EQ(EntryMarksOf(Bytes("G22GC"), 22).Glyph, -1);
}

}  // namespace
}  // namespace qb

namespace qb {
namespace {

// What a widget adapter is told, in order.
class RecordingObserver : public TTreeObserver {
 public:
  void NodeInserting(TTreeNode* parent, int row) override {
    log += "inserting " + Name(parent) + ":" + std::to_string(row) + "\n";
  }
  void NodeInserted(TTreeNode* node) override { log += "inserted " + node->Caption() + "\n"; }
  void NodeRemoving(TTreeNode* node) override { log += "removing " + node->Caption() + "\n"; }
  void NodeRemoved(TTreeNode* parent, int row) override {
    log += "removed " + Name(parent) + ":" + std::to_string(row) + "\n";
  }
  void NodeChanged(TTreeNode* node) override { log += "changed " + node->Caption() + "\n"; }
  void SelectionChanged(TTreeNode* node) override { log += "selected " + Name(node) + "\n"; }
  void UpdateBegun() override { log += "begin\n"; }
  void UpdateEnded() override { log += "end\n"; }
  static std::string Name(TTreeNode* node) { return node ? node->Caption() : "-"; }
  std::string log;
};

TEST(TreeObserver, HearsEveryChangeOnce) {
  TTreeView tree;
  RecordingObserver observer;
  tree.SetObserver(&observer);
  tree.BeginUpdate();
  tree.BeginUpdate();
  TTreeNode* root = tree.AddChild(nullptr, "R");
  tree.EndUpdate();
  tree.EndUpdate();
  tree.EndUpdate();  // unbalanced: ignored
  TTreeNode* item = InsertItemPath(tree, root, "x", 3, -1);
  tree.SetSelected(item);
  item->SetStateIndex(-1);  // unchanged: no call
  tree.Delete(item);
  EXPECT_EQ(observer.log,
            "begin\ninserting -:0\ninserted R\nend\n"
            "inserting R:0\ninserted x\nchanged x\nchanged x\n"
            "selected x\n"
            "removing x\nselected -\nremoved R:0\n");
}

}  // namespace
}  // namespace qb

namespace {

// Who keeps node pointers across calls (the search's look-ups) relies on the
// version moving with every change of shape or caption, and only then.
TEST(TreeVersion, MovesWithShapeAndCaptionsOnly) {
  qb::TTreeView tree;
  uint64_t seen = tree.Version();
  auto changed = [&] {
    const bool moved = tree.Version() != seen;
    seen = tree.Version();
    return moved;
  };
  qb::TTreeNode* root = tree.AddChild(nullptr, "root");
  EXPECT_TRUE(changed());
  qb::TTreeNode* a = tree.AddChild(root, "a");
  qb::TTreeNode* b = tree.AddChild(root, "b");
  EXPECT_TRUE(changed());
  a->SetExpanded(true);
  tree.SetSelected(b);
  b->SetImageIndex(4);
  a->SetCaption("a");
  EXPECT_FALSE(changed());
  a->SetCaption("A");
  EXPECT_TRUE(changed());
  EXPECT_TRUE(tree.MoveTo(b, a));
  EXPECT_TRUE(changed());
  tree.Delete(b);
  EXPECT_TRUE(changed());
  tree.Clear();
  EXPECT_TRUE(changed());
}

}  // namespace
