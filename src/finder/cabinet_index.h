// TCabinetIndex: what finding an item needs to know of every item of a cabinet,
// read once: its path, note, date, format, one-line preview and - for text items -
// its text, the texts kept case folded so that each search is a byte search.
//
// Searching. A query matches an item when its path, its note or its text contains
// the query, letter case folded for all of Unicode (text::CaseFolded); the fields
// to look in can be narrowed. Each field of every item is kept in one buffer, the
// items' texts each ended by a zero byte (a query holds none, so no match runs
// from one item into the next): a search is one pass of text::FindBytes over the
// buffer, which jumps to the next item after each hit. Narrowing a search (the
// user typed one more letter) can look only at the items an earlier search found.
//
// History. The items newest first by the date stored with each entry (two-second
// steps); items of one date keep the cabinet's order.
//
// Reading happens where the caller wants it (the program does it off the user
// interface thread, on a reader of its own); a search on a finished index only
// reads it, so several threads may search one index at once.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/format_registry.h"
#include "zip/zip_reader.h"

namespace qb::finder {

// Where a query is looked for; any combination.
enum TSearchField : unsigned { kSearchPaths = 1, kSearchNotes = 2, kSearchContent = 4, kSearchAll = 7 };

// Text items longer than this are searched in their first kMaxIndexedText bytes.
inline constexpr uint64_t kMaxIndexedText = 64ull << 20;

struct TIndexedItem {
  std::string path;  // the entry's full name
  int entry = 0;     // its index in the cabinet's (sorted) order when it was read
  uint32_t dos_date_time = 0;
  std::optional<long long> format;  // none when missing or not a number
  bool has_note = false;
  uint64_t size = 0;    // the payload's size
  std::string preview;  // one line (ItemPreview); empty when previews were not read
  std::string opening;  // a text item's first lines (TextOpening), with the previews
  bool text = false;    // its text was read for searching
};

struct TIndexOptions {
  bool content = true;   // read the text of text items
  bool previews = true;  // read enough of every item for its preview
  // Checked before each item; when it becomes true, Read stops and returns what it
  // has read so far with Cancelled() set.
  const std::atomic<bool>* cancel = nullptr;
  const TClipboardFormatRegistry* registry = nullptr;  // ClipboardFormats() when null
};

class TCabinetIndex {
 public:
  // Reads every item of the cabinet zip names (its directory read as needed;
  // errors of reading the directory are thrown). An item whose data cannot be read
  // is still listed, with a preview saying why and no text. Entries that are only
  // drawers (an empty name) are not items.
  static TCabinetIndex Read(zip::TZipReader& zip, const TIndexOptions& options = {});

  const std::vector<TIndexedItem>& Items() const { return items_; }
  int Count() const { return static_cast<int>(items_.size()); }
  bool Cancelled() const { return cancelled_; }

  // The positions in Items() of the items that match query in fields, ascending.
  // within, when given (ascending positions), limits the search to those items. An
  // empty query matches every item (of within).
  std::vector<int> Search(std::string_view query, unsigned fields = kSearchAll,
                          const std::vector<int>* within = nullptr) const;
  // The positions of every item, newest first.
  std::vector<int> History() const;

  // Adds an item at the end (the reader uses it; tests build indexes with it).
  void Add(TIndexedItem item, std::string_view note, std::string_view text);

 private:
  // What a search knows of each item.
  enum : char { kLookAt, kFound, kLeftOut };
  // One field of every item, folded, each followed by a zero byte.
  struct TFoldedColumn {
    std::string text;
    std::vector<size_t> starts{0};  // item k's text is [starts[k], starts[k + 1] - 1)
    void Add(std::string_view utf8);
    std::string_view Of(size_t k) const { return {text.data() + starts[k], starts[k + 1] - starts[k] - 1}; }
    // Sets state[k] to kFound for every item k still to be looked at (kLookAt) whose
    // text holds the folded needle.
    void Mark(std::string_view needle, std::vector<char>& state) const;
    // The same for the items from first up to (not including) items.
    void Mark(std::string_view needle, std::vector<char>& state, size_t first, size_t items) const;
  };

  std::vector<TIndexedItem> items_;
  TFoldedColumn paths_, notes_, content_;
  bool cancelled_ = false;
};

// Entry positions ordered newest first by their DOS dates; equal dates keep their
// order. dos_date_times[k] is the date of position k.
std::vector<int> NewestFirst(std::span<const uint32_t> dos_date_times);

// A DOS date and time as "YYYY-MM-DD HH:MM:SS" (the fields as stored, clamped to
// valid values).
std::string DosDateTimeText(uint32_t dos_date_time);

}  // namespace qb::finder
