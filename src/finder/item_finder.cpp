#include "finder/item_finder.h"

#include <algorithm>

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
  index_.reset();
  index_stamp_ = {};
  DropKept();
  found_.clear();
  visible_.clear();
  searching_applied_ = false;
  hidden_selection_.clear();
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
  auto result = std::make_shared<std::shared_ptr<const TCabinetIndex>>();
  std::weak_ptr<bool> alive = alive_;
  runner_(
      [path = cabinet_, cancel, result] {
        zip::TZipReader zip;
        zip.SetSortMode(zip::TZipSortMode::ByName);
        zip.SetDoProcessMessages(false);
        zip.SetZipName(path);
        TIndexOptions options;
        options.cancel = cancel.get();
        try {
          *result = std::make_shared<const TCabinetIndex>(TCabinetIndex::Read(zip, options));
        } catch (const std::exception&) {
          // A cabinet that cannot be read (not yet written, damaged): nothing to find.
          *result = std::make_shared<const TCabinetIndex>();
        }
      },
      [this, alive, generation, result, stamp] {
        if (alive.expired() || generation != generation_) return;
        reading_ = false;
        if (!*result || (*result)->Cancelled()) return;
        index_ = *result;
        index_stamp_ = stamp;
        DropKept();
        if (Searching()) {
          Apply();
        } else {
          // Nothing is filtered: the tree stays as it is; only the list of all items changes.
          found_.resize(static_cast<size_t>(index_->Count()));
          for (int k = 0; k < index_->Count(); ++k) found_[static_cast<size_t>(k)] = k;
        }
        if (OnIndexRead) OnIndexRead();
      });
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
  if (nodes_index_ != index_ || nodes_version_ != tree_.Version()) {
    node_of_item_.resize(static_cast<size_t>(index_->Count()));
    for (int k = 0; k < index_->Count(); ++k)
      node_of_item_[static_cast<size_t>(k)] = ItemNode(tree_, index_->Items()[static_cast<size_t>(k)].path);
    nodes_index_ = index_;
    nodes_version_ = tree_.Version();
  }
  visible_.clear();
  visible_.reserve(found_.size() * 2);
  if (tree_.Root()) visible_.insert(tree_.Root());
  for (int k : found_)
    if (const TTreeNode* node = node_of_item_[static_cast<size_t>(k)]) AddWithDrawers(visible_, node);
}

void TItemFinder::EndSearch() {
  searching_applied_ = false;
  visible_.clear();
  found_.clear();
  if (index_)
    for (int k = 0; k < index_->Count(); ++k) found_.push_back(k);
  if (!hidden_selection_.empty() && !tree_.Selected()) {
    TTreeNode* node = FindNodeByPath(tree_, hidden_selection_);
    if (IsItemNode(node)) tree_.SetSelected(node);
  }
  hidden_selection_.clear();
  if (OnResults) OnResults();
}

}  // namespace qb::finder
