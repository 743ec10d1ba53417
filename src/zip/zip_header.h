// The archive engine's data model: the entry record, the end record, and the
// sorted lists that hold a loaded directory.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "zip/sorted_list.h"
#include "zip/zip_format.h"

namespace qb::zip {

// The engine's limits: sizes and offsets are kept within signed 32-bit values, so
// entries and archives stay below 2 GiB; an archive holds at most kMaxListSize
// entries.
constexpr uint64_t kMaxEntrySize = 0x7FFFFFFF;
constexpr uint64_t kMaxArchiveSize = 0x7FFFFFFF;

// One entry of an archive. Names are UTF-8 in memory with "\" as separator; the
// file name is the text after the last backslash of the full name, the path the
// text up to and including it (empty, or ending in a backslash).
// Sizes and offsets are the real ones, from the ZIP64 extra field where the
// header's fields are masked.
struct TZipHeaderInfo {
  uint16_t version_made_by = format::kMadeByUnix20;
  uint16_t version_needed = 20;
  uint16_t flags = 0;
  uint16_t method = 8;
  uint32_t dos_date_time = 0;  // time in the low word, date in the high word
  uint32_t crc = 0;
  uint64_t compressed_size = 0;  // entry data bytes, an encryption header included
  uint64_t uncompressed_size = 0;
  uint16_t local_extra_length = 0;
  uint16_t comment_length = 0;  // of the comment on disk, or of the one set in memory
  uint16_t disk_number_start = 0;
  uint16_t internal_attributes = 0;
  uint32_t external_attributes = format::kUnixFileAttributes;
  uint64_t local_header_offset = 0;
  uint64_t central_header_offset = 0;  // where the central record was read
  std::string file_name;
  std::string path;
  std::optional<std::string> comment;  // absent until read or set; bytes as stored
  // The name's bytes as the archive stores them, kept while the name is not
  // changed, so an update writes them back unchanged (flag bit 11 included).
  std::optional<std::string> stored_name;
  // The central extra field as read (written back without what no longer applies),
  // or the one to write for a new entry.
  std::string central_extra;
  // The local extra field to write for a new entry (copied entries keep theirs).
  std::string local_extra;
  uint8_t extract_mark = 0;
  uint8_t selection_mark = 0;

  std::string FullName() const { return path + file_name; }
  bool Encrypted() const { return (flags & format::kFlagEncrypted) != 0; }
  uint8_t Host() const { return static_cast<uint8_t>(version_made_by >> 8); }
};

// The end of central directory record, with the archive comment read lazily. The
// counts, size and offset are those of the ZIP64 end record where the archive has
// one.
struct TEndCentral {
  uint32_t this_disk = 0;
  uint32_t directory_disk = 0;
  uint64_t entries_this_disk = 0;
  uint64_t total_entries = 0;
  uint64_t directory_size = 0;
  uint64_t directory_offset = 0;
  uint16_t comment_length = 0;
  std::optional<std::string> comment;  // absent until read or set
  uint64_t comment_position = 0;       // file size - comment length
  bool modified = false;               // a name, path or comment changed in memory and not yet written
};

enum class TZipSortMode {
  ByName,
  ByFileName,
  ByDirectoryName,
  ByDate,
  ByCompressedSize,
  ByUnCompressedSize,
  ByRate,
  ByNone
};

// Splits a full name at its last backslash. A colon is an ordinary character here:
// "Meeting 10:30" is one item name, not a drawer.
void SplitEntryName(const std::string& full_name, std::string& path, std::string& file_name);

// Byte-wise comparison after folding a-z to upper case (the ByName order).
int CompareNamesFolded(const std::string& a, const std::string& b);

// A 64-bit hash of the full name made of head and tail (where it is cut does not
// matter), a-z folded, so that two names the ByName order holds equal hash alike.
// With stored_form, a "/" counts as the "\\" it is read as.
uint64_t FoldedNameHash(std::string_view head, std::string_view tail = {}, bool stored_form = false);
// FoldedNameHash(name, {}, stored_form), telling on the way whether every byte of
// name is ASCII (below 0x80).
uint64_t FoldedNameHashAscii(std::string_view name, bool stored_form, bool& ascii);
// Whether a name as stored ("/" read as "\\") is wanted, a-z folded in both.
bool StoredNameIs(std::string_view stored, std::string_view wanted);

// A list of entry records ordered by a sort mode. ByNone orders by disk number and
// local header offset, the order of the entries in the file.
class TSortedZip : public TSortedObjectList<TZipHeaderInfo> {
 public:
  TSortedZip(bool owns_objects, TDuplicates duplicates, TZipSortMode mode)
      : TSortedObjectList(owns_objects, duplicates), mode_(mode) {}
  TZipSortMode Mode() const { return mode_; }
  int Compare(const TZipHeaderInfo* a, const TZipHeaderInfo* b) const override;
  // AssignSorted with a fast path for ByName: each folded name is built once and
  // the sort compares those, not the records, giving the same order.
  void AssignInOrder(std::vector<TZipHeaderInfo*> items);

 private:
  TZipSortMode mode_;
};

}  // namespace qb::zip
