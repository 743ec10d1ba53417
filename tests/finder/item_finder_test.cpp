// The search field's logic over a real cabinet and its tree: which nodes show,
// what happens to the selection, and the index read on another thread - here a
// runner that keeps the work until the test lets it run, to see the states in
// between.
#include "finder/item_finder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "explorer/tree_routines.h"
#include "store/cabinet_store.h"
#include "support/test_support.h"
#include "zip/zip_writer.h"

namespace {

using qb::TTreeNode;
using qb::TTreeView;
using qb::finder::TItemFinder;

class ItemFinderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Save("NewItems\\Item0", "hello world");
    Save("NewItems\\Item1", "good bye");
    Save("Work\\Code\\Snippet", "int main() { return 0; }");
    Save("Top", "alone at the top");
    Rebuild();
  }

  void Save(const std::string& path, const std::string& text) {
    qb::zip::TZipWriter zip;
    qb::store::ConfigureCabinetArchive(zip);
    zip.SetZipName(cabinet_);
    qb::TMemoryStream payload(text + std::string(1, '\0'));
    qb::store::SaveItem(zip, payload, path, 1);
  }
  // The tree as the explorer builds it, in the cabinet's order.
  void Rebuild() {
    tree_.Clear();
    qb::zip::TZipWriter zip;
    qb::store::ConfigureCabinetArchive(zip);
    zip.SetZipName(cabinet_);
    zip.ReadDirectory();
    TTreeNode* root = tree_.AddChild(nullptr, "c");
    for (int i = 0; i < zip.EntryCount(); ++i) qb::InsertItemPath(tree_, root, zip.EntryFullName(i), 3, -1);
  }
  TTreeNode* Node(const std::string& path) { return qb::FindNodeByPath(tree_, path); }

  // The item paths among the nodes shown, sorted.
  std::vector<std::string> ShownItems(const TItemFinder& finder) {
    std::vector<std::string> out;
    if (!finder.Visible()) return {"(whole tree)"};
    for (const TTreeNode* node : *finder.Visible())
      if (qb::IsItemNode(node)) out.push_back(qb::ItemPathOf(node));
    std::sort(out.begin(), out.end());
    return out;
  }

  // Work handed to the runner waits here until Run() lets it go.
  void Run() {
    while (!pending_.empty()) {
      auto [work, done] = std::move(pending_.front());
      pending_.pop_front();
      work();
      done();
    }
  }
  TItemFinder::TRunner Deferred() {
    return [this](TItemFinder::TTask work, TItemFinder::TTask done) {
      pending_.emplace_back(std::move(work), std::move(done));
    };
  }
  static TItemFinder::TRunner AtOnce() {
    return [](TItemFinder::TTask work, TItemFinder::TTask done) {
      work();
      done();
    };
  }

  qbtest::TempDir dir_;
  std::string cabinet_ = dir_ / "c.qvf";
  TTreeView tree_;
  std::deque<std::pair<TItemFinder::TTask, TItemFinder::TTask>> pending_;
};

using Paths = std::vector<std::string>;

TEST_F(ItemFinderTest, NodesShowingTakesEachItemWithItsDrawersAndTheRoot) {
  const qb::finder::TNodeSet shown =
      qb::finder::NodesShowing(tree_, {"work\\CODE\\snippet", "No\\Such", "Top"});
  EXPECT_EQ(shown.size(), 5u);
  for (const char* path : {"Work", "Work\\Code", "Work\\Code\\Snippet", "Top"})
    EXPECT_TRUE(shown.count(Node(path)));
  EXPECT_TRUE(shown.count(tree_.Root()));
  EXPECT_FALSE(shown.count(Node("NewItems")));
}

TEST_F(ItemFinderTest, TheTreeStaysWholeUntilTheFirstIndexIsRead) {
  TItemFinder finder(tree_, Deferred());
  finder.SetCabinet(cabinet_);
  int results = 0;
  finder.OnResults = [&] { ++results; };
  finder.SetQuery("O");
  EXPECT_TRUE(finder.Reading());
  EXPECT_EQ(ShownItems(finder), Paths{"(whole tree)"});
  finder.SetQuery("OR");  // typing on while the read runs starts no second read
  EXPECT_EQ(pending_.size(), 1u);
  Run();
  EXPECT_FALSE(finder.Reading());
  EXPECT_EQ(ShownItems(finder), (Paths{"NewItems\\Item0", "Work\\Code\\Snippet"}));  // "hello wORld", "WORk"
  EXPECT_GE(results, 3);
}

TEST_F(ItemFinderTest, AHiddenSelectionIsTakenAwayAndGivenBackAtTheEnd) {
  TItemFinder finder(tree_, AtOnce());
  finder.SetCabinet(cabinet_);
  tree_.SetSelected(Node("Top"));
  finder.SetQuery("main");
  EXPECT_EQ(ShownItems(finder), Paths{"Work\\Code\\Snippet"});
  EXPECT_EQ(tree_.Selected(), nullptr);
  finder.SetQuery("");
  EXPECT_EQ(ShownItems(finder), Paths{"(whole tree)"});
  EXPECT_EQ(tree_.Selected(), Node("Top"));

  // One chosen during the search stays chosen.
  finder.SetQuery("o");
  tree_.SetSelected(Node("NewItems\\Item1"));
  finder.SetQuery("");
  EXPECT_EQ(tree_.Selected(), Node("NewItems\\Item1"));
  // A visible selection is not touched.
  finder.SetQuery("bye");
  EXPECT_EQ(tree_.Selected(), Node("NewItems\\Item1"));
}

TEST_F(ItemFinderTest, AChangedCabinetIsReadAgainAndATreeRebuiltIsFilteredAgain) {
  TItemFinder finder(tree_, Deferred());
  finder.SetCabinet(cabinet_);
  finder.SetQuery("new");
  Run();
  EXPECT_EQ(ShownItems(finder), (Paths{"NewItems\\Item0", "NewItems\\Item1"}));
  Save("Later\\Newest", "brand new");
  Rebuild();
  finder.TreeChanged();  // the old results on the new nodes, until the read is done
  EXPECT_EQ(ShownItems(finder), (Paths{"NewItems\\Item0", "NewItems\\Item1"}));
  finder.Refresh();
  ASSERT_TRUE(finder.Reading());
  // A read that is overtaken by a newer one is dropped.
  finder.SetCabinet("");
  finder.SetCabinet(cabinet_);
  finder.SetQuery("newest");
  Run();
  EXPECT_EQ(ShownItems(finder), (Paths{"Later\\Newest"}));
  EXPECT_EQ(finder.Index()->Count(), 5);
}

TEST_F(ItemFinderTest, AnIndexLetGoIsFreedByTheRunnerNotOnTheCallersThread) {
  TItemFinder finder(tree_, Deferred());
  finder.SetCabinet(cabinet_);
  finder.SetQuery("new");
  Run();
  std::weak_ptr<const qb::finder::TCabinetIndex> first = finder.Index();
  Save("Later\\Newest", "brand new");
  Rebuild();
  finder.TreeChanged();
  finder.Refresh();
  auto step = [this] {
    auto [work, done] = std::move(pending_.front());
    pending_.pop_front();
    work();
    done();
  };
  step();  // the read, with the search on made beside it
  EXPECT_EQ(ShownItems(finder), (Paths{"Later\\Newest", "NewItems\\Item0", "NewItems\\Item1"}));
  EXPECT_FALSE(first.expired());
  ASSERT_EQ(pending_.size(), 1u);
  step();
  EXPECT_TRUE(first.expired());

  // One still held elsewhere (the history's) goes when that hold is let go.
  std::shared_ptr<const qb::finder::TCabinetIndex> held = finder.Index();
  std::weak_ptr<const qb::finder::TCabinetIndex> second = held;
  finder.SetCabinet("");
  EXPECT_TRUE(pending_.empty());
  finder.LetGo(std::move(held));
  EXPECT_FALSE(second.expired());
  Run();
  EXPECT_TRUE(second.expired());
}

TEST_F(ItemFinderTest, EditingTheQueryGivesWhatAFreshSearchGives) {
  Save("Mixed\\Strasse", "Die STRASSE und die Straße");
  Save("Mixed\\Hello", "HELLO WORLD, hello again");
  Rebuild();
  TItemFinder finder(tree_, AtOnce());
  finder.SetCabinet(cabinet_);
  // Typed on, taken back, changed inside, cased otherwise, grown at the front:
  // earlier results kept by the finder must never stand in for a wider query.
  const char* const typed[] = {"o",       "or",     "orl",    "or",    "o",    "wor",  "war",
                               "wor",     "WORLD",  "world,", "hello", "hell", "ello", "ello w",
                               "main",    "ma",     "m",      "ß",     "s",    "ss",   "straße",
                               "strasse", "STRASS", "x",      ""};
  for (const char* query : typed) {
    finder.SetQuery(query);
    std::vector<int> fresh = finder.Index()->Search(query);
    if (!*query) fresh = finder.Found();  // no search: every item
    EXPECT_EQ(finder.Found(), fresh) << query;
  }
  EXPECT_EQ(finder.Found().size(), 6u);
}

TEST_F(ItemFinderTest, KeptResultsAreDroppedWithTheirIndex) {
  TItemFinder finder(tree_, AtOnce());
  finder.SetCabinet(cabinet_);
  finder.SetQuery("new");
  finder.SetQuery("ew");
  EXPECT_EQ(ShownItems(finder), (Paths{"NewItems\\Item0", "NewItems\\Item1"}));
  Save("Later\\Newest", "brand new");
  Rebuild();
  finder.Refresh();  // the cabinet changed: read again at once, as a search is on
  finder.SetQuery("new");
  EXPECT_EQ(ShownItems(finder), (Paths{"Later\\Newest", "NewItems\\Item0", "NewItems\\Item1"}));
}

TEST_F(ItemFinderTest, ACabinetThatCannotBeReadFindsNothing) {
  qbtest::WriteFileText(dir_ / "broken.qvf", "not a zip file at all");
  TItemFinder finder(tree_, AtOnce());
  finder.SetCabinet(dir_ / "broken.qvf");
  finder.SetQuery("x");
  ASSERT_NE(finder.Index(), nullptr);
  EXPECT_EQ(finder.Index()->Count(), 0);
  EXPECT_EQ(ShownItems(finder), Paths{});
}

// The program's own reader of the cabinet, through which its commands change it;
// the finder follows its directory.
class FollowTest : public ItemFinderTest {
 protected:
  void SetUp() override {
    ItemFinderTest::SetUp();
    qb::store::ConfigureCabinetArchive(engine_);
    engine_.SetZipName(cabinet_);
    engine_.ReadDirectory();
    engine_.LoadAllComments();  // as the explorer's tree does
  }
  void EngineSave(const std::string& path, const std::string& text) {
    qb::TMemoryStream payload(text + std::string(1, '\0'));
    qb::store::SaveItem(engine_, payload, path, 1);
    Rebuild();
  }
  // What a fresh read of the cabinet finds for query, as paths.
  Paths FreshlyFound(const std::string& query) {
    TItemFinder fresh(tree_, AtOnce());
    fresh.SetCabinet(cabinet_);
    fresh.SetQuery(query);
    return ShownItems(fresh);
  }
  Paths HistoryPaths(const qb::finder::TCabinetIndex& index) {
    Paths out;
    for (int k : index.History()) out.push_back(index.Items()[static_cast<size_t>(k)].path);
    return out;
  }
  qb::zip::TZipWriter engine_;
};

TEST_F(FollowTest, SavedDeletedRenamedAndNotedItemsAreFollowedWithoutAWholeRead) {
  TItemFinder finder(tree_, Deferred());
  finder.SetCabinet(cabinet_);
  finder.SetQuery("o");
  Run();
  const auto index = finder.Index();
  int index_changes = 0;
  finder.OnIndexRead = [&] { ++index_changes; };

  // A new item: only it is read, on the other thread.
  EngineSave("NewItems\\Item2", "lorem ipsum");
  finder.TreeChanged();
  ASSERT_TRUE(finder.Follow(engine_));
  EXPECT_TRUE(finder.Catching());
  EXPECT_EQ(finder.CurrentIndex(), nullptr);  // not in step until it is read
  ASSERT_EQ(pending_.size(), 1u);
  Run();
  EXPECT_FALSE(finder.Catching());
  EXPECT_EQ(finder.Index(), index);  // the same index, changed
  EXPECT_EQ(finder.CurrentIndex(), index);
  EXPECT_EQ(ShownItems(finder), FreshlyFound("o"));
  const Paths shown = ShownItems(finder);
  EXPECT_EQ(std::count(shown.begin(), shown.end(), "NewItems\\Item2"), 1);

  // Deleted, renamed into another drawer, noted: at once, nothing read.
  qb::store::DeleteItem(engine_, "NewItems\\Item0");
  qb::store::MoveItem(engine_, "Top", "Moved\\Bottom", false);
  qb::store::SetItemNote(engine_, "NewItems\\Item1", "wombat");
  Rebuild();
  finder.TreeChanged();
  ASSERT_TRUE(finder.Follow(engine_));
  EXPECT_TRUE(pending_.empty());
  EXPECT_FALSE(finder.Catching());
  EXPECT_EQ(finder.CurrentIndex(), index);
  EXPECT_EQ(ShownItems(finder), FreshlyFound("o"));
  EXPECT_EQ(index->LiveCount(), 4);
  for (const char* query : {"wombat", "bottom", "alone", "hello", "item", "lorem"}) {
    finder.SetQuery(query);
    EXPECT_EQ(ShownItems(finder), FreshlyFound(query)) << query;
  }
  finder.SetQuery("");
  EXPECT_EQ(finder.Found().size(), 4u);
  EXPECT_GE(index_changes, 2);

  // The history: newest first, a date shared in the cabinet's order also for
  // items added or renamed after the read.
  TItemFinder fresh(tree_, AtOnce());
  fresh.SetCabinet(cabinet_);
  fresh.Refresh(true);
  EXPECT_EQ(HistoryPaths(*index), HistoryPaths(*fresh.Index()));
  EXPECT_EQ(HistoryPaths(*index).size(), 4u);
  const std::vector<int> history = index->History();
  EXPECT_EQ(index->History(2), std::vector<int>(history.begin(), history.begin() + 2));
}

TEST_F(FollowTest, AReadOvertakenByAnotherChangeIsNotTakenIn) {
  TItemFinder finder(tree_, Deferred());
  finder.SetCabinet(cabinet_);
  finder.SetQuery("zebra");
  Run();
  // (The window shows the results on a rebuilt tree's nodes: TreeChanged.)
  EngineSave("Fresh", "zebra one");
  finder.TreeChanged();
  ASSERT_TRUE(finder.Follow(engine_));
  ASSERT_EQ(pending_.size(), 1u);
  // Saved over and then deleted before the first read came back.
  EngineSave("Fresh", "zebra two, longer");
  finder.TreeChanged();
  ASSERT_TRUE(finder.Follow(engine_));
  qb::store::DeleteItem(engine_, "Fresh");
  Rebuild();
  finder.TreeChanged();
  ASSERT_TRUE(finder.Follow(engine_));
  Run();
  EXPECT_EQ(finder.Index()->Find("Fresh"), -1);
  EXPECT_EQ(finder.Index()->LiveCount(), 4);
  EXPECT_EQ(ShownItems(finder), Paths{});
  EXPECT_FALSE(finder.Catching());
  EXPECT_NE(finder.CurrentIndex(), nullptr);
  EXPECT_FALSE(finder.Reading());
}

TEST_F(FollowTest, ChangesTheDirectoryCannotTellAreReadAgainAsAWhole) {
  TItemFinder finder(tree_, Deferred());
  finder.SetCabinet(cabinet_);
  finder.SetQuery("o");
  EXPECT_FALSE(finder.Follow(engine_));  // no index yet: the read is on its way
  Run();
  // Another program saved: the loaded directory does not know it.
  Save("Other\\Program", "from outside");
  EXPECT_FALSE(finder.Follow(engine_));
  EXPECT_EQ(finder.CurrentIndex(), nullptr);
  engine_.ReadDirectory();  // a command of the program reads the directory again
  Rebuild();
  finder.TreeChanged();
  ASSERT_TRUE(finder.Follow(engine_));
  Run();
  EXPECT_EQ(ShownItems(finder), FreshlyFound("o"));
  // Another cabinet's directory is not this one's.
  qb::zip::TZipWriter other;
  qb::store::ConfigureCabinetArchive(other);
  other.SetZipName(dir_ / "other.qvf");
  EXPECT_FALSE(finder.Follow(other));
}

}  // namespace
