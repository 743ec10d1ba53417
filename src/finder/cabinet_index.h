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
// Keeping in step. The program changes its cabinet a little at a time (a clip
// saved, an item deleted or renamed, a note written): the index is changed to
// match rather than read again. A removed item stays in Items() (its position is
// not reused) and is passed over by searches and the history; a renamed or
// re-noted item is removed and added again at the end, its text copied over.
//
// Reading happens where the caller wants it (the program does it off the user
// interface thread, on a reader of its own); a search on a finished index only
// reads it, so several threads may search one index at once.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
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
  // What the cabinet's directory said of it when it was read: an item whose record
  // still says the same is unchanged.
  uint32_t crc = 0;
  std::string comment;
  bool removed = false;  // no longer in the cabinet (see Remove)
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

  // Every item read or added, removed ones included (see Removed).
  const std::vector<TIndexedItem>& Items() const { return items_; }
  int Count() const { return static_cast<int>(items_.size()); }
  bool Removed(int k) const { return items_[static_cast<size_t>(k)].removed; }
  // The items still in the cabinet.
  int LiveCount() const { return Count() - removed_; }
  bool Cancelled() const { return cancelled_; }
  // The position of the item whose full name is path (exactly), or -1.
  int Find(const std::string& path) const;

  // The positions in Items() of the items that match query in fields, ascending.
  // within, when given (ascending positions), limits the search to those items. An
  // empty query matches every item (of within).
  std::vector<int> Search(std::string_view query, unsigned fields = kSearchAll,
                          const std::vector<int>* within = nullptr) const;
  // The positions of every item, newest first; with count, only the count newest.
  std::vector<int> History(size_t count = SIZE_MAX) const;

  // Adds an item at the end (the reader uses it; tests build indexes with it).
  void Add(TIndexedItem item, std::string_view note, std::string_view text);

  // Changes that keep the index in step with its cabinet:
  // the item at k is gone;
  void Remove(int k);
  // the item at k is now called path (its text and note copied); returns its new position;
  int Rename(int k, const std::string& path);
  // the item at k has another comment (its note, format and glyph); returns its new position;
  int SetComment(int k, const std::string& comment);
  // item k of other (an index of a few items read again) replaces the item of its
  // path here, or is added; returns its position here.
  int Take(const TCabinetIndex& other, int k);

 private:
  // What a search knows of each item.
  enum : char { kLookAt, kFound, kLeftOut };
  // One field of every item, folded, each followed by a zero byte.
  struct TFoldedColumn {
    std::string text;
    std::vector<size_t> starts{0};  // item k's text is [starts[k], starts[k + 1] - 1)
    void Add(std::string_view utf8);
    void AddFolded(std::string_view folded);
    std::string_view Of(size_t k) const { return {text.data() + starts[k], starts[k + 1] - starts[k] - 1}; }
    // Sets state[k] to kFound for every item k still to be looked at (kLookAt) whose
    // text holds the folded needle.
    void Mark(std::string_view needle, std::vector<char>& state) const;
    // The same for the items from first up to (not including) items.
    void Mark(std::string_view needle, std::vector<char>& state, size_t first, size_t items) const;
  };

  // Adds item at the end with the note and text columns of item k of from.
  int AddCopy(TIndexedItem item, const TCabinetIndex& from, int k, bool copy_note);

  std::vector<TIndexedItem> items_;
  TFoldedColumn paths_, notes_, content_;
  bool cancelled_ = false;
  int removed_ = 0;
  // Items were added after the read: positions no longer follow the cabinet's order.
  bool appended_ = false;
  std::unordered_map<std::string, int> by_path_;  // the live items
};

// The note of a comment (empty when it has none); sets item's format and has_note.
std::string ReadItemComment(TIndexedItem& item, const std::string& comment);

// Entry positions ordered newest first by their DOS dates; equal dates keep their
// order. dos_date_times[k] is the date of position k.
std::vector<int> NewestFirst(std::span<const uint32_t> dos_date_times);

// A DOS date and time as "YYYY-MM-DD HH:MM:SS" (the fields as stored, clamped to
// valid values).
std::string DosDateTimeText(uint32_t dos_date_time);

}  // namespace qb::finder
