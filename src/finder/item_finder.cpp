#include "finder/item_finder.h"

#include <algorithm>
#include <optional>
#include <unordered_map>

#include "explorer/tree_routines.h"
#include "platform/case_fold.h"
#include "platform/errors.h"

namespace qb::finder {

TTreeNode* ItemNode(const TTreeView& tree, std::string_view path) {
  TTreeNode* node = tree.Root();
  size_t start = 0;
  while (node) {
    const size_t end = path.find('\\', start);
    node = node->FindChild(path.substr(start, end == std::string_view::npos ? end : end - start));
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  return node;
}

namespace {
// Adds node and its ancestors; stops at the first one already there.
void AddWithDrawers(TNodeSet& shown, const TTreeNode* node) {
  for (; node; node = node->Parent())
    if (!shown.insert(node)) return;
}
}  // namespace

TNodeSet NodesShowing(const TTreeView& tree, const std::vector<std::string>& paths) {
  TNodeSet shown;
  if (!tree.Root()) return shown;
  shown.insert(tree.Root());
  for (const std::string& path : paths)
    if (const TTreeNode* node = ItemNode(tree, path)) AddWithDrawers(shown, node);
  return shown;
}

TItemFinder::TItemFinder(TTreeView& tree, TRunner runner) : tree_(tree), runner_(std::move(runner)) {}

TItemFinder::~TItemFinder() {
  *alive_ = false;
  if (cancel_) *cancel_ = true;
}

void TItemFinder::SetCabinet(const std::string& path) {
  if (path == cabinet_) return;
  cabinet_ = path;
  if (cancel_) *cancel_ = true;
  ++generation_;
  reading_ = false;
  std::shared_ptr<const TCabinetIndex> old = std::move(index_);
  index_stamp_ = {};
  pending_.clear();
  last_order_.clear();
  position_of_.clear();
  DropKept();
  found_.clear();
  visible_.clear();
  searching_applied_ = false;
  hidden_selection_.clear();
  LetGo(std::move(old));
  if (Searching()) {
    StartReading();
    Apply();
  }
}

void TItemFinder::Refresh(bool read_now) {
  if (cabinet_.empty()) return;
  if (index_ && zip::StampOf(cabinet_) == index_stamp_) return;
  if (read_now || Searching()) StartReading();
}

void TItemFinder::SetQuery(const std::string& query) {
  if (query == query_) return;
  if (query.empty()) {
    query_.clear();
    EndSearch();
    return;
  }
  query_ = query;
  Refresh();
  if (!index_ && !reading_) StartReading();
  Apply();
}

void TItemFinder::StartReading() {
  if (cabinet_.empty()) return;
  const zip::FileStamp stamp = zip::StampOf(cabinet_);
  if (reading_ && stamp == reading_stamp_) return;
  if (cancel_) *cancel_ = true;
  const uint64_t generation = ++generation_;
  auto cancel = std::make_shared<std::atomic<bool>>(false);
  cancel_ = cancel;
  reading_ = true;
  reading_stamp_ = stamp;
  // The search on is made on the other thread too: taken when the query is still
  // the same when the index comes.
  struct TRead {
    std::shared_ptr<TCabinetIndex> index;
    std::string query;
    std::vector<int> found;
  };
  auto result = std::make_shared<TRead>();
  result->query = query_;
  std::weak_ptr<bool> alive = alive_;
  pending_.clear();  // the whole read takes them in
  runner_(
      [path = cabinet_, cancel, result] {
        zip::TZipReader zip;
        zip.SetSortMode(zip::TZipSortMode::ByName);
        zip.SetDoProcessMessages(false);
        zip.SetZipName(path);
        TIndexOptions options;
        options.cancel = cancel.get();
        try {
          result->index = std::make_shared<TCabinetIndex>(TCabinetIndex::Read(zip, options));
        } catch (const std::exception&) {
          // A cabinet that cannot be read (not yet written, damaged): nothing to find.
          result->index = std::make_shared<TCabinetIndex>();
        }
        if (!result->query.empty() && !result->index->Cancelled())
          result->found = result->index->Search(result->query);
      },
      [this, alive, generation, result, stamp] {
        if (alive.expired()) return;
        if (generation != generation_) return LetGo(std::move(result->index));
        reading_ = false;
        if (!result->index || result->index->Cancelled()) return LetGo(std::move(result->index));
        std::shared_ptr<const TCabinetIndex> old = std::move(index_);
        index_ = std::move(result->index);
        index_stamp_ = stamp;
        {
          // The read went through the directory in its order.
          std::vector<int> order;
          for (int k = 0; k < index_->Count(); ++k) {
            const auto entry = static_cast<size_t>(index_->Items()[static_cast<size_t>(k)].entry);
            if (order.size() <= entry) order.resize(entry + 1, -1);
            order[entry] = k;
          }
          KeepOrder(std::move(order));
        }
        DropKept();
        if (Searching()) {
          if (!result->query.empty() && result->query == query_) {
            kept_index_ = index_;
            kept_.push_back({text::CaseFolded(query_), std::move(result->found)});
          }
          Apply();
        } else {
          // Nothing is filtered: the tree stays as it is; only the list of all items changes.
          found_.clear();
          for (int k = 0; k < index_->Count(); ++k)
            if (!index_->Removed(k)) found_.push_back(k);
        }
        if (OnIndexRead) OnIndexRead();
        // The history has let it go too (OnIndexRead).
        LetGo(std::move(old));
      });
}

void TItemFinder::LetGo(std::shared_ptr<const TCabinetIndex> index) {
  // Freeing the index of a large cabinet (its items' strings one by one) takes
  // tens of milliseconds: done on the other thread when nothing else holds it.
  if (!index || index.use_count() != 1) return;
  runner_([doomed = std::move(index)]() mutable { doomed.reset(); }, [] {});
}

void TItemFinder::DropKept() {
  // What is kept holds its index: an old one would stay in memory beside the new.
  kept_.clear();
  kept_index_.reset();
  node_of_item_.clear();
  nodes_index_.reset();
}

std::vector<int> TItemFinder::Results(const std::string& query) {
  constexpr size_t kKeep = 8;
  if (kept_index_ != index_) {
    kept_.clear();
    kept_index_ = index_;
  }
  std::string folded = text::CaseFolded(query);
  const TKept* narrowest = nullptr;
  for (size_t k = 0; k < kept_.size(); ++k) {
    if (kept_[k].folded == folded) {
      std::rotate(kept_.begin(), kept_.begin() + static_cast<std::ptrdiff_t>(k),
                  kept_.begin() + static_cast<std::ptrdiff_t>(k) + 1);
      return kept_.front().found;
    }
    if (folded.find(kept_[k].folded) != std::string::npos &&
        (!narrowest || kept_[k].found.size() < narrowest->found.size()))
      narrowest = &kept_[k];
  }
  std::vector<int> found =
      narrowest ? index_->Search(query, kSearchAll, &narrowest->found) : index_->Search(query);
  if (kept_.size() == kKeep) kept_.pop_back();
  kept_.insert(kept_.begin(), {std::move(folded), found});
  return found;
}

void TItemFinder::Apply() {
  if (!index_) {
    // The first index is still being read: the tree stays whole until it is there.
    if (OnResults) OnResults();
    return;
  }
  found_ = Results(query_);
  ShowFound();
  searching_applied_ = true;
  if (TTreeNode* selected = tree_.Selected(); selected && !visible_.count(selected)) {
    hidden_selection_ = ItemPathOf(selected);
    tree_.SetSelected(nullptr);
  }
  if (OnResults) OnResults();
}

void TItemFinder::TreeChanged() {
  if (!searching_applied_ || !index_) return;
  ShowFound();
  if (TTreeNode* selected = tree_.Selected(); selected && !visible_.count(selected)) {
    hidden_selection_ = ItemPathOf(selected);
    tree_.SetSelected(nullptr);
  }
}

void TItemFinder::ShowFound() {
  // Nodes are looked up as items are found, and kept until the tree or the index
  // changes (a save while searching then costs the look-ups of the results only).
  if (nodes_index_ != index_ || nodes_version_ != tree_.Version() ||
      node_of_item_.size() != static_cast<size_t>(index_->Count())) {
    node_of_item_.assign(static_cast<size_t>(index_->Count()), nullptr);
    node_looked_up_.assign(static_cast<size_t>(index_->Count()), 0);
    nodes_index_ = index_;
    nodes_version_ = tree_.Version();
  }
  visible_.clear();
  visible_.reserve(found_.size() * 2);
  if (tree_.Root()) visible_.insert(tree_.Root());
  for (int k : found_) {
    const auto at = static_cast<size_t>(k);
    if (!node_looked_up_[at]) {
      node_looked_up_[at] = 1;
      if (!index_->Removed(k)) node_of_item_[at] = ItemNode(tree_, index_->Items()[at].path);
    }
    if (const TTreeNode* node = node_of_item_[at]) AddWithDrawers(visible_, node);
  }
}

void TItemFinder::EndSearch() {
  searching_applied_ = false;
  visible_.clear();
  found_.clear();
  if (index_)
    for (int k = 0; k < index_->Count(); ++k)
      if (!index_->Removed(k)) found_.push_back(k);
  if (!hidden_selection_.empty() && !tree_.Selected()) {
    TTreeNode* node = FindNodeByPath(tree_, hidden_selection_);
    if (IsItemNode(node)) tree_.SetSelected(node);
  }
  hidden_selection_.clear();
  if (OnResults) OnResults();
}

std::shared_ptr<const TCabinetIndex> TItemFinder::CurrentIndex() const {
  if (!index_ || !pending_.empty() || cabinet_.empty() || zip::StampOf(cabinet_) != index_stamp_)
    return nullptr;
  return index_;
}

namespace {
bool SameFacts(const TIndexedItem& item, const zip::TZipHeaderInfo& entry) {
  return item.dos_date_time == entry.dos_date_time && item.crc == entry.crc &&
         item.size == entry.uncompressed_size;
}
// The entry's comment when the directory holds it (the program's own writes keep
// every comment in memory).
std::optional<std::string> KnownComment(const zip::TZipHeaderInfo& entry) {
  if (entry.comment) return entry.comment;
  if (entry.comment_length == 0) return std::string();
  return std::nullopt;
}
bool SameName(const std::string& path, const zip::TZipHeaderInfo& entry) {
  return path.size() == entry.path.size() + entry.file_name.size() && path.starts_with(entry.path) &&
         path.ends_with(entry.file_name);
}
// Whether the entry's comment is item's; one not read is taken to be unchanged
// when its length is.
bool SameComment(const TIndexedItem& item, const zip::TZipHeaderInfo& entry) {
  const std::optional<std::string> comment = KnownComment(entry);
  return comment ? *comment == item.comment : entry.comment_length == item.comment.size();
}
}  // namespace

void TItemFinder::KeepOrder(std::vector<int> order) {
  last_order_ = std::move(order);
  position_of_.assign(index_ ? static_cast<size_t>(index_->Count()) : 0, -1);
  for (size_t i = 0; i < last_order_.size(); ++i)
    if (const int k = last_order_[i]; k >= 0 && static_cast<size_t>(k) < position_of_.size())
      position_of_[static_cast<size_t>(k)] = static_cast<int>(i);
}

bool TItemFinder::Follow(const zip::TZipReader& directory) {
  if (!index_ || reading_ || cabinet_.empty() || directory.ZipName() != cabinet_) return false;
  const zip::FileStamp stamp = zip::StampOf(cabinet_);
  if (stamp == index_stamp_ && pending_.empty()) return true;
  if (!directory.DirectoryLoaded() || directory.DirectoryRecovered() || directory.DirectoryStamp() != stamp)
    return false;
  TCabinetIndex& index = *index_;
  std::vector<char> seen(static_cast<size_t>(index.Count()), 0);
  std::vector<std::pair<int, const zip::TZipHeaderInfo*>> comments;  // (position, entry): new comment
  std::vector<const zip::TZipHeaderInfo*> fresh;                     // no item of that name
  std::vector<const zip::TZipHeaderInfo*> to_read;                   // new or rewritten
  std::unordered_map<std::string, TPending> still_pending;
  const int count = directory.EntryCount();
  // Each entry is first compared with the item it was last time (the directory
  // keeps its order; an entry added or gone shifts the rest by one): a look-up by
  // name only where that guess fails.
  std::vector<int> order(static_cast<size_t>(count), -1);
  std::string name;
  std::ptrdiff_t shift = 0;
  for (int i = 0; i < count; ++i) {
    const zip::TZipHeaderInfo& entry = directory.Entry(i);
    if (entry.file_name.empty()) continue;  // a drawer
    int k = -1;
    if (const std::ptrdiff_t guess = i + shift; guess >= 0 && guess < std::ssize(last_order_)) {
      const int candidate = last_order_[static_cast<size_t>(guess)];
      if (candidate >= 0 && candidate < index.Count() && !index.Removed(candidate) &&
          SameName(index.Items()[static_cast<size_t>(candidate)].path, entry))
        k = candidate;
    }
    if (k < 0) {
      name.assign(entry.path).append(entry.file_name);
      k = index.Find(name);
      if (k < 0)
        --shift;  // new here: the next entry is the one this was guessed to be
      else if (static_cast<size_t>(k) < position_of_.size() && position_of_[static_cast<size_t>(k)] >= 0)
        shift = position_of_[static_cast<size_t>(k)] - i;
    }
    order[static_cast<size_t>(i)] = k;
    if (k >= 0) seen[static_cast<size_t>(k)] = 1;
    if (!pending_.empty()) name.assign(entry.path).append(entry.file_name);
    if (auto it = pending_.empty() ? pending_.end() : pending_.find(name); it != pending_.end()) {
      // Being read: still wanted while the directory says what it said then.
      const TPending& p = it->second;
      if (p.dos_date_time == entry.dos_date_time && p.crc == entry.crc && p.size == entry.uncompressed_size) {
        still_pending.insert(*it);
        continue;
      }
    }
    if (k < 0) {
      fresh.push_back(&entry);
    } else if (!SameFacts(index.Items()[static_cast<size_t>(k)], entry)) {
      to_read.push_back(&entry);
    } else if (!SameComment(index.Items()[static_cast<size_t>(k)], entry)) {
      if (KnownComment(entry))
        comments.emplace_back(k, &entry);
      else
        to_read.push_back(&entry);
    }
  }
  // An item gone and a new one with the same data, date and comment: renamed (a
  // drawer renamed renames all its items).
  std::unordered_multimap<uint64_t, int> gone;
  for (int k = 0; k < index.Count(); ++k)
    if (!index.Removed(k) && !seen[static_cast<size_t>(k)]) {
      const TIndexedItem& item = index.Items()[static_cast<size_t>(k)];
      gone.emplace((uint64_t{item.crc} << 32) ^ item.size, k);
    }
  std::vector<std::pair<int, const zip::TZipHeaderInfo*>> renames;
  for (const zip::TZipHeaderInfo* entry : fresh) {
    bool renamed = false;
    auto [first, last] = gone.equal_range((uint64_t{entry->crc} << 32) ^ entry->uncompressed_size);
    for (auto it = first; it != last; ++it) {
      const TIndexedItem& item = index.Items()[static_cast<size_t>(it->second)];
      if (SameFacts(item, *entry) && KnownComment(*entry) == item.comment) {
        renames.emplace_back(it->second, entry);
        gone.erase(it);
        renamed = true;
        break;
      }
    }
    if (!renamed) to_read.push_back(entry);
  }
  // Much changed (another program, a restore): one read of the whole cabinet.
  if (to_read.size() > std::max<size_t>(256, static_cast<size_t>(index.LiveCount()) / 8)) return false;

  const bool changed = !gone.empty() || !renames.empty() || !comments.empty();
  std::vector<int> added;
  for (const auto& kept : gone) index.Remove(kept.second);
  for (const auto& [k, entry] : renames) added.push_back(index.Rename(k, entry->FullName()));
  for (const auto& [k, entry] : comments) added.push_back(index.SetComment(k, *KnownComment(*entry)));
  pending_ = std::move(still_pending);
  std::vector<std::string> names;
  for (const zip::TZipHeaderInfo* entry : to_read) {
    names.push_back(entry->FullName());
    pending_[names.back()] = {entry->dos_date_time, entry->crc, entry->uncompressed_size};
  }
  index_stamp_ = stamp;
  KeepOrder(std::move(order));
  std::sort(added.begin(), added.end());
  // Only new items to read: the results stand until they come.
  if (changed) IndexChanged(added);
  if (!names.empty()) ReadChanged(std::move(names));
  return true;
}

void TItemFinder::ReadChanged(std::vector<std::string> names) {
  auto result = std::make_shared<std::shared_ptr<TCabinetIndex>>();
  std::weak_ptr<bool> alive = alive_;
  std::weak_ptr<TCabinetIndex> target = index_;
  std::unordered_map<std::string, TPending> asked;
  for (const std::string& name : names) asked[name] = pending_[name];
  runner_(
      [path = cabinet_, names, result] {
        zip::TZipReader zip;
        zip.SetSortMode(zip::TZipSortMode::ByName);
        zip.SetDoProcessMessages(false);
        zip.SetZipName(path);
        zip.SetNameFilter(names, false);  // read only: no facts for an update
        try {
          *result = std::make_shared<TCabinetIndex>(TCabinetIndex::Read(zip));
        } catch (const std::exception&) {
          // Damaged, or written again while it was read: the whole cabinet is read below.
        }
      },
      [this, alive, target, result, asked = std::move(asked)] {
        if (alive.expired() || target.expired() || target.lock() != index_) return;
        auto same = [](const TPending& p, const TIndexedItem& item) {
          return p.dos_date_time == item.dos_date_time && p.crc == item.crc && p.size == item.size;
        };
        std::vector<int> added;
        if (*result) {
          const TCabinetIndex& read = **result;
          for (int j = 0; j < read.Count(); ++j) {
            const TIndexedItem& item = read.Items()[static_cast<size_t>(j)];
            // Taken while the directory still says what it said then (else a later
            // change has its own read on the way).
            auto it = pending_.find(item.path);
            if (it == pending_.end() || !same(it->second, item)) continue;
            pending_.erase(it);
            added.push_back(index_->Take(read, j));
          }
        }
        if (!added.empty()) IndexChanged(added);
        // An item asked for and not found as it was asked for: the whole cabinet is read again.
        for (const auto& [name, facts] : asked)
          if (auto it = pending_.find(name); it != pending_.end() &&
                                             it->second.dos_date_time == facts.dos_date_time &&
                                             it->second.crc == facts.crc && it->second.size == facts.size) {
            index_stamp_ = {};
            StartReading();
            return;
          }
      });
}

void TItemFinder::IndexChanged(const std::vector<int>& added) {
  // The kept results stay true for the items that did not change.
  if (kept_index_ == index_) {
    for (TKept& kept : kept_) {
      std::erase_if(kept.found, [&](int k) { return index_->Removed(k); });
      if (!added.empty()) {
        const std::vector<int> found = index_->Search(kept.folded, kSearchAll, &added);
        kept.found.insert(kept.found.end(), found.begin(), found.end());
      }
    }
  }
  node_of_item_.clear();
  nodes_index_.reset();
  if (Searching()) {
    Apply();
  } else {
    found_.clear();
    for (int k = 0; k < index_->Count(); ++k)
      if (!index_->Removed(k)) found_.push_back(k);
  }
  if (OnIndexRead) OnIndexRead();
}

}  // namespace qb::finder
