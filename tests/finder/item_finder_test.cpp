// The search field's logic over a real cabinet and its tree: which nodes show,
// what happens to the selection, and the index read on another thread - here a
// runner that keeps the work until the test lets it run, to see the states in
// between.
#include "finder/item_finder.h"

#include <gtest/gtest.h>

#include <deque>
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

}  // namespace
