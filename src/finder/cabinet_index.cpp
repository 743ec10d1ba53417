#include "finder/cabinet_index.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <system_error>
#include <thread>

#include "finder/item_preview.h"
#include "platform/byte_search.h"
#include "platform/case_fold.h"
#include "platform/errors.h"
#include "store/item_metadata.h"

namespace qb::finder {

namespace {

// Reads the first `want` bytes of entry index; returns the reader's complaint when
// the entry is damaged, empty when not. An entry read whole is checked whole (its
// CRC); one read in part only as far as it was read.
std::string ReadStart(zip::TZipReader& zip, int index, uint64_t want, std::string& out) {
  out.clear();
  const bool whole = want >= zip.Entry(index).uncompressed_size;
  if (want == 0) return {};
  out.reserve(static_cast<size_t>(want));
  bool stopped = false;
  std::string problem;
  try {
    problem = zip.CheckEntry(index, [&](const uint8_t* data, size_t size) {
      const size_t take = static_cast<size_t>(std::min<uint64_t>(size, want - out.size()));
      out.append(reinterpret_cast<const char*>(data), take);
      if (whole || out.size() < want) return true;
      stopped = true;
      return false;
    });
  } catch (const Exception& e) {
    return e.what();
  }
  return stopped ? std::string() : problem;
}

}  // namespace

void TCabinetIndex::TFoldedColumn::Add(std::string_view utf8) {
  text::AppendCaseFolded(text, utf8);
  // A zero byte inside a field would let a match run on; the field ends there.
  const size_t zero = text.find('\0', starts.back());
  if (zero != std::string::npos) text.resize(zero);
  text += '\0';
  starts.push_back(text.size());
}

void TCabinetIndex::TFoldedColumn::Mark(std::string_view needle, std::vector<char>& state) const {
  const size_t items = starts.size() - 1;
  // The scan runs at the memory's speed: when there is much to scan (a fresh
  // search of long texts, not a narrowed one), it is scanned in two halves at once,
  // each marking only its own items.
  constexpr size_t kSplitBytes = 16u << 20;
  size_t to_scan = 0;
  if (text.size() >= kSplitBytes)
    for (size_t k = 0; k < items; ++k)
      if (state[k] == kLookAt) to_scan += starts[k + 1] - starts[k];
  static const unsigned cores = std::thread::hardware_concurrency();
  if (to_scan < kSplitBytes || cores < 2) {
    Mark(needle, state, 0, items);
    return;
  }
  size_t middle = 0;
  for (size_t half = 0; middle < items && half < to_scan / 2; ++middle)
    if (state[middle] == kLookAt) half += starts[middle + 1] - starts[middle];
  std::thread second;
  try {
    second = std::thread([&] { Mark(needle, state, middle, items); });
  } catch (const std::system_error&) {
    Mark(needle, state, 0, items);  // no thread to be had: one after the other
    return;
  }
  Mark(needle, state, 0, middle);
  second.join();
}

void TCabinetIndex::TFoldedColumn::Mark(std::string_view needle, std::vector<char>& state, size_t first,
                                        size_t items) const {
  const char* base = text.data();
  size_t k = first;
  while (k < items) {
    // Each run of items still to look at is scanned in one go; items an earlier
    // field found (after a query the paths answer for most items, the texts are
    // hardly read) and items left out are passed over.
    while (k < items && state[k] != kLookAt) ++k;
    size_t end = k;
    while (end < items && state[end] == kLookAt) ++end;
    while (k < end) {
      const char* found = text::FindBytes(base + starts[k], starts[end] - starts[k], needle);
      if (!found) break;
      const auto position = static_cast<size_t>(found - base);
      k = static_cast<size_t>(std::upper_bound(starts.begin() + static_cast<std::ptrdiff_t>(k),
                                               starts.begin() + static_cast<std::ptrdiff_t>(end) + 1,
                                               position) -
                              starts.begin()) -
          1;
      state[k] = kFound;
      ++k;
    }
    k = end;
  }
}

void TCabinetIndex::TFoldedColumn::AddFolded(std::string_view folded) {
  text.append(folded);
  text += '\0';
  starts.push_back(text.size());
}

void TCabinetIndex::Add(TIndexedItem item, std::string_view note, std::string_view text) {
  paths_.Add(item.path);
  notes_.Add(note);
  content_.Add(text);
  item.removed = false;
  by_path_[item.path] = Count();
  items_.push_back(std::move(item));
}

int TCabinetIndex::Find(const std::string& path) const {
  auto it = by_path_.find(path);
  return it == by_path_.end() ? -1 : it->second;
}

void TCabinetIndex::Remove(int k) {
  TIndexedItem& item = items_[static_cast<size_t>(k)];
  if (item.removed) return;
  item.removed = true;
  ++removed_;
  if (auto it = by_path_.find(item.path); it != by_path_.end() && it->second == k) by_path_.erase(it);
}

int TCabinetIndex::AddCopy(TIndexedItem item, const TCabinetIndex& from, int k, bool copy_note) {
  const auto at = static_cast<size_t>(k);
  // Copied out first: from may be this index, whose columns grow below.
  const std::string note = copy_note ? std::string(from.notes_.Of(at)) : std::string();
  const std::string text(from.content_.Of(at));
  if (const int old = Find(item.path); old >= 0) Remove(old);
  paths_.Add(item.path);
  if (copy_note)
    notes_.AddFolded(note);
  else
    notes_.Add(item.has_note ? store::ReadNoteText(item.comment) : std::string());
  content_.AddFolded(text);
  item.removed = false;
  appended_ = true;
  const int position = Count();
  by_path_[item.path] = position;
  items_.push_back(std::move(item));
  return position;
}

int TCabinetIndex::Rename(int k, const std::string& path) {
  TIndexedItem item = items_[static_cast<size_t>(k)];
  Remove(k);
  item.path = path;
  return AddCopy(std::move(item), *this, k, true);
}

int TCabinetIndex::SetComment(int k, const std::string& comment) {
  TIndexedItem item = items_[static_cast<size_t>(k)];
  Remove(k);
  ReadItemComment(item, comment);
  return AddCopy(std::move(item), *this, k, false);
}

int TCabinetIndex::Take(const TCabinetIndex& other, int k) {
  return AddCopy(other.items_[static_cast<size_t>(k)], other, k, true);
}

std::string ReadItemComment(TIndexedItem& item, const std::string& comment) {
  item.comment = comment;
  try {
    item.format = store::ReadFormatNumber(comment);
  } catch (const Exception&) {
    item.format = std::nullopt;  // not a number: shown and searched as data of no format
  }
  item.has_note = store::CommentHasNote(comment);
  return item.has_note ? store::ReadNoteText(comment) : std::string();
}

TCabinetIndex TCabinetIndex::Read(zip::TZipReader& zip, const TIndexOptions& options) {
  const TClipboardFormatRegistry& registry = options.registry ? *options.registry : ClipboardFormats();
  TCabinetIndex index;
  const bool kept_open = zip.KeepZipOpen();
  zip.SetKeepZipOpen(true);
  struct Restore {
    zip::TZipReader& zip;
    bool kept_open;
    ~Restore() { zip.SetKeepZipOpen(kept_open); }
  } restore{zip, kept_open};

  zip.ReadDirectory();
  zip.LoadAllComments();
  const int count = zip.EntryCount();
  index.items_.reserve(static_cast<size_t>(count));
  std::string payload;
  for (int i = 0; i < count; ++i) {
    if (options.cancel && options.cancel->load(std::memory_order_relaxed)) {
      index.cancelled_ = true;
      break;
    }
    const zip::TZipHeaderInfo& entry = zip.Entry(i);
    if (entry.file_name.empty()) continue;
    TIndexedItem item;
    item.path = entry.FullName();
    item.entry = i;
    item.dos_date_time = entry.dos_date_time;
    item.size = entry.uncompressed_size;
    item.crc = entry.crc;
    const std::string note =
        ReadItemComment(item, zip.EntryHasComment(i) ? zip.EntryComment(i) : std::string());

    const bool is_text = IsTextFormat(item.format, registry);
    uint64_t want = 0;
    if (options.content && is_text) want = std::min(item.size, kMaxIndexedText);
    if (options.previews)
      want = std::max(want, std::min(PreviewPrefix(item.format, item.size, registry),
                                     is_text ? kMaxIndexedText : item.size));
    const std::string problem = ReadStart(zip, i, want, payload);
    std::string text;
    if (!problem.empty()) {
      if (options.previews) item.preview = "Cannot be read: it " + problem;
    } else {
      if (options.previews) item.preview = ItemPreview(item.format, payload, item.size, registry);
      if (is_text && (options.content || options.previews)) {
        if (std::optional<std::string> t = ItemText(item.format, payload, registry)) text = std::move(*t);
        if (options.previews) item.opening = TextOpening(text);
        item.text = options.content;
        if (!options.content) text.clear();
      }
    }
    index.Add(std::move(item), note, text);
  }
  return index;
}

std::vector<int> TCabinetIndex::Search(std::string_view query, unsigned fields,
                                       const std::vector<int>* within) const {
  std::vector<int> result;
  const text::TFoldedNeedle needle(query);
  if (needle.Folded().find('\0') != std::string::npos) return result;  // no field holds a zero byte
  if (within && within->size() * 8 < items_.size()) {
    // A few items: each looked at on its own, rather than runs found among all.
    const TFoldedColumn* columns[3] = {(fields & kSearchPaths) ? &paths_ : nullptr,
                                       (fields & kSearchNotes) ? &notes_ : nullptr,
                                       (fields & kSearchContent) ? &content_ : nullptr};
    for (int k : *within) {
      if (k < 0 || k >= Count() || Removed(k)) continue;
      for (const TFoldedColumn* column : columns)
        if (column && needle.FoundInFolded(column->Of(static_cast<size_t>(k)))) {
          result.push_back(k);
          break;
        }
    }
    return result;
  }
  std::vector<char> state(items_.size(), within ? kLeftOut : kLookAt);
  if (within)
    for (int k : *within)
      if (k >= 0 && k < Count()) state[static_cast<size_t>(k)] = kLookAt;
  if (removed_ > 0)
    for (size_t k = 0; k < items_.size(); ++k)
      if (items_[k].removed) state[k] = kLeftOut;
  if (needle.Empty()) {
    for (char& s : state)
      if (s == kLookAt) s = kFound;
  } else {
    if (fields & kSearchPaths) paths_.Mark(needle.Folded(), state);
    if (fields & kSearchNotes) notes_.Mark(needle.Folded(), state);
    if (fields & kSearchContent) content_.Mark(needle.Folded(), state);
  }
  for (int k = 0; k < Count(); ++k)
    if (state[static_cast<size_t>(k)] == kFound) result.push_back(k);
  return result;
}

std::vector<int> TCabinetIndex::History(size_t count) const {
  std::vector<int> order;
  order.reserve(static_cast<size_t>(LiveCount()));
  for (int k = 0; k < Count(); ++k)
    if (!Removed(k)) order.push_back(k);
  // Newest first; items of one date in the cabinet's order, which is the order of
  // their positions until items were added after the read.
  auto newer = [&](int a, int b) {
    const TIndexedItem& x = items_[static_cast<size_t>(a)];
    const TIndexedItem& y = items_[static_cast<size_t>(b)];
    if (x.dos_date_time != y.dos_date_time) return x.dos_date_time > y.dos_date_time;
    if (appended_)
      if (const int c = zip::CompareNamesFolded(x.path, y.path); c != 0) return c < 0;
    return a < b;
  };
  if (count < order.size()) {
    std::partial_sort(order.begin(), order.begin() + static_cast<std::ptrdiff_t>(count), order.end(), newer);
    order.resize(count);
  } else {
    std::sort(order.begin(), order.end(), newer);
  }
  return order;
}

std::vector<int> NewestFirst(std::span<const uint32_t> dos_date_times) {
  std::vector<int> order(dos_date_times.size());
  for (size_t k = 0; k < order.size(); ++k) order[k] = static_cast<int>(k);
  // The date sits in the high word, the time in the low word: the numbers order
  // as the moments they name.
  std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
    return dos_date_times[static_cast<size_t>(a)] > dos_date_times[static_cast<size_t>(b)];
  });
  return order;
}

std::string DosDateTimeText(uint32_t dos_date_time) {
  const uint32_t v = zip::SanitizeDosDateTime(dos_date_time);
  char text[32];
  std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u", 1980 + (v >> 25), (v >> 21) & 15,
                (v >> 16) & 31, (v >> 11) & 31, (v >> 5) & 63, (v & 31) * 2);
  return text;
}

}  // namespace qb::finder
