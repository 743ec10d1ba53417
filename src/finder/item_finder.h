// TItemFinder: the search field's logic - which items and drawers of the explorer
// tree to show for the text typed, and the cabinet's index it searches.
//
// The index (finder::TCabinetIndex) is read on another thread: the first search
// of a cabinet starts the read, and so does a search after the cabinet file
// changed (another stamp); meanwhile the last index read answers, and the results
// are applied again when the new one is there. Reading needs nothing of the tree
// or of the form: it opens the cabinet file with a reader of its own.
//
// While a search is on, the tree shows the matching items and every drawer on
// their paths (the view shows them expanded, without changing the drawers' own
// expanded flags, so that ending the search shows the tree as it was). A selected
// item that the search hides is unselected, so no command acts on an item the
// user cannot see; ending the search selects it again, unless the user selected
// another item meanwhile.
//
// After a change to the cabinet made by the program itself, the index follows the
// directory the program has loaded (Follow): items deleted, renamed or given
// another note are changed in the index at once, and only new or rewritten items
// are read (on another thread, a few entries of the cabinet file). A change that
// cannot be told from the directory (another program wrote the cabinet, or most of
// it changed) has the index read again as a whole.
//
// The results of the last few queries are kept (for the index they came from): a
// query met again (a letter typed and taken back) costs nothing, and a query
// that holds a kept one (letters added at either end or inside it, as folded)
// searches only that one's results - the fewest there are.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "explorer/node_set.h"
#include "explorer/tree.h"
#include "finder/cabinet_index.h"
#include "zip/buffered_file.h"

namespace qb::finder {

using TNodeSet = qb::TNodeSet;

// The node of an item path below the root of tree (looked up level by level as
// InsertItemPath goes), or null.
TTreeNode* ItemNode(const TTreeView& tree, std::string_view path);
// The nodes of tree to show for the items of paths: each item's node and its
// drawers, up to and including the root. Paths without a node are passed over.
TNodeSet NodesShowing(const TTreeView& tree, const std::vector<std::string>& paths);

class TItemFinder {
 public:
  using TTask = std::function<void()>;
  // Runs work on another thread, then done on the user interface thread. A
  // synchronous runner (work(); done();) serves tests.
  using TRunner = std::function<void(TTask work, TTask done)>;

  TItemFinder(TTreeView& tree, TRunner runner);
  ~TItemFinder();
  TItemFinder(const TItemFinder&) = delete;
  TItemFinder& operator=(const TItemFinder&) = delete;

  // The cabinet whose items are found (empty: none). Another path drops the index.
  void SetCabinet(const std::string& path);
  const std::string& Cabinet() const { return cabinet_; }
  // Reads the index again when the cabinet file changed since it was read (after
  // a command, a save): at once while a search is on or when asked for, else at
  // the next search.
  void Refresh(bool read_now = false);
  // Brings the index in step with directory, the program's loaded directory of the
  // cabinet (in step with the cabinet file), when it can tell the changes from it;
  // false when it cannot (no index yet, one being read, another cabinet or file):
  // then Refresh reads it again.
  bool Follow(const zip::TZipReader& directory);
  // Items are being read after a change (Follow).
  bool Catching() const { return !pending_.empty(); }
  // The index when it is in step with the cabinet file: read or followed up to its
  // last change, nothing still to read; else null.
  std::shared_ptr<const TCabinetIndex> CurrentIndex() const;

  // The text typed; an empty text ends the search.
  void SetQuery(const std::string& query);
  const std::string& Query() const { return query_; }
  bool Searching() const { return !query_.empty(); }
  // The index is being read.
  bool Reading() const { return reading_; }
  // The nodes to show while a search is on (null: the whole tree, also while the
  // first index of a cabinet is still being read).
  const TNodeSet* Visible() const { return searching_applied_ ? &visible_ : nullptr; }
  // Shows the same results again on a tree that was rebuilt or patched (its nodes
  // changed); the caller sets the filter anew.
  void TreeChanged();
  // The positions in Index()->Items() of the items found (every item when no
  // search is on), ascending.
  const std::vector<int>& Found() const { return found_; }
  std::shared_ptr<const TCabinetIndex> Index() const { return index_; }
  // Drops index; when that was the last hold on it, it is freed on the other
  // thread (freeing a large cabinet's index takes tens of milliseconds).
  void LetGo(std::shared_ptr<const TCabinetIndex> index);
  // Forgets the kept results of earlier queries (the benchmarks time searches).
  void ForgetResults() { kept_.clear(); }

  // Called after the results changed (a new query, a new index).
  std::function<void()> OnResults;
  // Called when an index was read or changed to follow the cabinet (the history's
  // previews come from it).
  std::function<void()> OnIndexRead;

 private:
  void StartReading();
  void Apply();
  // The items of query in index_: kept results, or a search narrowed by them.
  std::vector<int> Results(const std::string& query);
  void DropKept();
  // visible_ for found_, from the node of each item (looked up once per index and
  // shape of the tree).
  void ShowFound();
  void EndSearch();
  // After the index changed in place: kept results patched (removed positions
  // dropped, added ones tested), the search applied or the list of all items made.
  void IndexChanged(const std::vector<int>& added);
  void ReadChanged(std::vector<std::string> names);
  void KeepOrder(std::vector<int> order);

  TTreeView& tree_;
  TRunner runner_;
  std::string cabinet_;
  std::string query_;
  std::shared_ptr<TCabinetIndex> index_;
  zip::FileStamp index_stamp_;
  // Items being read after a change, by path: what the directory said of each.
  struct TPending {
    uint32_t dos_date_time = 0;
    uint32_t crc = 0;
    uint64_t size = 0;
  };
  std::unordered_map<std::string, TPending> pending_;
  // The index position of each entry of the directory last followed (-1: none), and
  // back: a guess of each entry's item the next time.
  std::vector<int> last_order_;
  std::vector<int> position_of_;
  bool reading_ = false;
  zip::FileStamp reading_stamp_;
  uint64_t generation_ = 0;
  std::shared_ptr<std::atomic<bool>> cancel_;
  bool searching_applied_ = false;
  struct TKept {
    std::string folded;  // the query, case folded
    std::vector<int> found;
  };
  std::vector<TKept> kept_;  // the latest first
  std::shared_ptr<const TCabinetIndex> kept_index_;
  std::vector<int> found_;
  TNodeSet visible_;
  std::vector<TTreeNode*> node_of_item_;              // by position in the index
  std::vector<char> node_looked_up_;                  // node_of_item_ holds the answer
  uint64_t nodes_version_ = 0;                        // the tree's Version() they were looked up at
  std::shared_ptr<const TCabinetIndex> nodes_index_;  // held, so that its address names it
  // The item that was selected when a search hid it.
  std::string hidden_selection_;
  // Read results that arrive after the finder is gone are dropped.
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace qb::finder
