#include "zip/zip_reader.h"

#include <strings.h>

#include <algorithm>
#include <cstring>
#include <optional>

#include "platform/codepage.h"
#include "platform/paths.h"
#include "zip/crc32.h"
#include "zip/file_window.h"
#include "zip/inflate.h"
#include "zip/legacy_decoders.h"
#include "zip/wildcard.h"
#include "zip/zip_crypto.h"
#include "zip/zip_errors.h"
#include "zip/zip_format.h"

namespace qb::zip {

using namespace format;

namespace {

// Extraction hands output to the target in pieces of this size; a piece that would
// run past the entry's uncompressed size is not written.
constexpr size_t kPieceSize = 16000;
// The recovery scan dispatches window messages every so many bytes.
constexpr uint64_t kScanPumpInterval = 10240;
// A read of the whole directory dispatches them every so many records (a few
// milliseconds' work; 60,000 records take a tenth of a second).
constexpr uint64_t kRecordsBetweenPumps = 4096;
bool EndsWithIgnoringCase(const std::string& text, const char* suffix) {
  size_t n = std::strlen(suffix);
  return text.size() >= n && strncasecmp(text.c_str() + text.size() - n, suffix, n) == 0;
}

// Sets path and file name from the stored name bytes, as NameFromArchive reads
// them; an ASCII name (the usual case) is split without a copy in between.
void SetEntryName(TZipHeaderInfo& record, uint16_t flags) {
  const std::string& bytes = *record.stored_name;
  if (!codepage::IsAscii(bytes) || (!(flags & kFlagUtf8Names) && !record.central_extra.empty())) {
    SplitEntryName(NameFromArchive(bytes, flags, record.Host(), record.central_extra), record.path,
                   record.file_name);
    return;
  }
  const size_t cut = bytes.find_last_of("/\\");
  const size_t split = cut == std::string::npos ? 0 : cut + 1;
  record.path.assign(bytes, 0, split);
  std::replace(record.path.begin(), record.path.end(), '/', '\\');
  record.file_name.assign(bytes, split, std::string::npos);
}

}  // namespace

uint32_t SanitizeDosDateTime(uint32_t value) {
  uint32_t time = value & 0xFFFF, date = value >> 16;
  uint32_t seconds = time & 0x1F, minutes = (time >> 5) & 0x3F, hours = time >> 11;
  uint32_t day = date & 0x1F, month = (date >> 5) & 0x0F, year = date >> 9;
  if (hours > 23) hours = 23;
  if (minutes > 59) minutes = 59;
  if (seconds > 29) seconds = 29;
  if (year > 2099 - 1980) year = 2099 - 1980;
  if (month == 0) month = 1;
  if (month > 12) month = 12;
  if (day == 0) day = 1;
  time = (hours << 11) | (minutes << 5) | seconds;
  date = (year << 9) | (month << 5) | day;
  return (date << 16) | time;
}

std::string NameFromArchive(std::string_view bytes, uint16_t flags, uint8_t host, std::string_view extra) {
  const bool ascii = codepage::IsAscii(bytes);  // read alike by every rule
  std::string name;
  if (flags & kFlagUtf8Names) {
    name = ascii ? std::string(bytes) : codepage::BytesToUtf8(bytes);
  } else if (auto unicode = extra.empty() ? std::nullopt : UnicodePathName(extra, bytes)) {
    name = std::move(*unicode);
  } else if (ascii || (host == kHostUnix && codepage::IsValidUtf8(bytes))) {
    name = std::string(bytes);
  } else {
    name = codepage::Cp437ToUtf8(bytes);
  }
  std::replace(name.begin(), name.end(), '/', '\\');
  return name;
}

std::string NameToArchive(const std::string& name, bool& utf8_flag) {
  std::string stored = name;
  std::replace(stored.begin(), stored.end(), '\\', '/');
  utf8_flag = !codepage::IsAscii(stored);
  return stored;
}

// ---------------------------------------------------------------------------------
// Properties and state

TZipReader::TZipReader() = default;
TZipReader::~TZipReader() = default;

void TZipReader::SetZipName(const std::string& path) {
  if (SameFilePath(path, zip_name_)) return;
  ClearDirectory();
  zip_name_ = path;
}

void TZipReader::SetKeepZipOpen(bool value) {
  keep_zip_open_ = value;
  if (!value) CloseFile();
}

void TZipReader::ClearDirectory() {
  CloseFile();
  physical_.reset();
  sorted_.reset();
  end_ = TEndCentral{};
  directory_loaded_ = false;
  stamp_ = FileStamp{};
  selected_count_ = 0;
  damage_.clear();
  recovered_ = false;
  central_facts_.clear();
  directory_copyable_ = false;
}

void TZipReader::CloseFile() {
  file_.reset();
  whole_file_ = nullptr;  // of that file
}

void TZipReader::CloseUnlessKept() {
  if (!keep_zip_open_) CloseFile();
}

void TZipReader::ProcessMessages() {
  if (Pumping()) pump_();
}

const TSortedZip& TZipReader::View() const {
  return sorted_ ? *sorted_ : *physical_;
}

int TZipReader::EntryCount() const {
  return directory_loaded_ && physical_ ? physical_->Count() : 0;
}

TZipHeaderInfo* TZipReader::Record(int index) const {
  if (index < 0 || index >= EntryCount()) throw EListError::IndexOutOfRange(index);
  return View().Get(index);
}

const TZipHeaderInfo& TZipReader::Entry(int index) const {
  return *Record(index);
}
std::string TZipReader::EntryFileName(int index) const {
  return Record(index)->file_name;
}
std::string TZipReader::EntryPath(int index) const {
  return Record(index)->path;
}
std::string TZipReader::EntryFullName(int index) const {
  return Record(index)->FullName();
}
bool TZipReader::EntryHasComment(int index) const {
  return Record(index)->comment_length != 0;
}
bool TZipReader::EntrySelected(int index) const {
  return Record(index)->selection_mark != 0;
}

namespace {
// Compares an entry's full name with name, both with a-z folded to upper case, as
// the ByName order does.
int CompareFolded(const TZipHeaderInfo& record, std::string_view name) {
  const size_t length = record.path.size() + record.file_name.size();
  for (size_t i = 0, n = std::min(length, name.size()); i < n; ++i) {
    const char c = i < record.path.size() ? record.path[i] : record.file_name[i - record.path.size()];
    const auto a = static_cast<uint8_t>(codepage::AsciiUpper(c));
    const auto b = static_cast<uint8_t>(codepage::AsciiUpper(name[i]));
    if (a != b) return a < b ? -1 : 1;
  }
  return length < name.size() ? -1 : length > name.size() ? 1 : 0;
}
}  // namespace

int TZipReader::FindEntry(std::string_view name) const {
  const int count = EntryCount();
  if (count == 0) return 0;
  const TSortedZip& view = View();
  // A name changed in memory is not in its place in the view until the next update.
  if (view.Mode() == TZipSortMode::ByName && !end_.modified) {
    int lo = 0, hi = count;
    while (lo < hi) {
      const int mid = lo + (hi - lo) / 2;
      if (CompareFolded(*view.Get(mid), name) < 0)
        lo = mid + 1;
      else
        hi = mid;
    }
    return lo < count && CompareFolded(*view.Get(lo), name) == 0 ? lo : count;
  }
  for (int i = 0; i < count; ++i) {
    const TZipHeaderInfo& r = *view.Get(i);
    if (r.path.size() + r.file_name.size() == name.size() &&
        codepage::SameTextAscii(r.path, name.substr(0, r.path.size())) &&
        codepage::SameTextAscii(r.file_name, name.substr(r.path.size())))
      return i;
  }
  return count;
}

void TZipReader::SetEntrySelected(int index, bool selected) {
  TZipHeaderInfo* record = Record(index);
  if ((record->selection_mark != 0) == selected) return;
  record->selection_mark = selected ? 1 : 0;
  selected_count_ += selected ? 1 : -1;
}

std::string TZipReader::EntryComment(int index) {
  TZipHeaderInfo* record = Record(index);
  if (record->comment) return *record->comment;
  if (record->comment_length == 0) return {};
  return WithOpenFile([&] {
    record = Record(index);  // the open step may have read the directory again
    if (!record->comment) record->comment = ReadCommentFromFile(*record);
    return *record->comment;
  });
}

void TZipReader::SetEntryComment(int index, const std::string& comment) {
  if (comment.size() > 0xFFFF) throw EListError("Comment too long");
  if (EntryComment(index) == comment) return;
  TZipHeaderInfo* record = Record(index);
  record->comment = comment;
  record->comment_length = static_cast<uint16_t>(comment.size());
  end_.modified = true;
}

std::string TZipReader::ReadCommentFromFile(const TZipHeaderInfo& record) {
  uint8_t fixed[kCentralHeaderSize];
  ReadExactAt(record.central_header_offset, fixed, sizeof fixed);
  if (Get32(fixed) != kCentralHeaderSignature) throw EBadZipFile();
  uint64_t skip = Get16(fixed + 28) + static_cast<uint64_t>(Get16(fixed + 30));
  uint16_t length = Get16(fixed + 32);
  std::string text(length, '\0');
  ReadExactAt(record.central_header_offset + kCentralHeaderSize + skip, text.data(), length);
  return text;
}

void TZipReader::LoadAllComments() {
  WithOpenFile([&] { ReadMissingComments(); });
}

// Reads the comments not yet in memory with one read of the central directory
// (records outside it, as after a recovery, are read one by one).
void TZipReader::ReadMissingComments() {
  if (!physical_) return;
  uint64_t first = UINT64_MAX, last = 0;
  for (TZipHeaderInfo* record : *physical_) {
    if (record->comment || record->comment_length == 0) continue;
    first = std::min<uint64_t>(first, record->central_header_offset);
    last = std::max<uint64_t>(last, record->central_header_offset + kCentralHeaderSize + 3 * 65535ull);
  }
  if (first == UINT64_MAX) return;
  last = std::min(last, file_->Size());
  std::vector<uint8_t> block(static_cast<size_t>(last > first ? last - first : 0));
  block.resize(file_->ReadAt(first, block.data(), block.size()));
  for (TZipHeaderInfo* record : *physical_) {
    if (record->comment || record->comment_length == 0) continue;
    uint64_t at = record->central_header_offset - first;
    if (at + kCentralHeaderSize <= block.size() && Get32(&block[at]) == kCentralHeaderSignature) {
      const uint8_t* p = &block[at];
      uint64_t start = at + kCentralHeaderSize + Get16(p + 28) + Get16(p + 30);
      uint16_t length = Get16(p + 32);
      if (start + length <= block.size()) {
        record->comment = std::string(reinterpret_cast<const char*>(&block[start]), length);
        continue;
      }
    }
    record->comment = ReadCommentFromFile(*record);
  }
}

std::string TZipReader::ArchiveComment() {
  if (end_.comment) return *end_.comment;
  return WithOpenFile([&] {
    if (!end_.comment) {
      std::string text(end_.comment_length, '\0');
      ReadExactAt(end_.comment_position, text.data(), text.size());
      end_.comment = text;
    }
    return *end_.comment;
  });
}

void TZipReader::ReadExactAt(uint64_t position, void* buffer, size_t count) {
  file_->Seek(position);
  if (file_->Read(buffer, count) != count) throw EFatalUnzipError();
}

// ---------------------------------------------------------------------------------
// The open step and the directory

void TZipReader::OpenStep() {
  if (!file_) file_ = std::make_unique<TLFNFileStream>(zip_name_, TLFNFileStream::Mode::Read);
  FileStamp now = StampOf(zip_name_);
  if (!directory_loaded_ || !(now == stamp_)) {
    // A file replaced while we kept it open: read the new one.
    if (directory_loaded_ || file_->Size() != static_cast<uint64_t>(std::max<int64_t>(now.size, 0))) {
      whole_file_ = nullptr;
      file_ = std::make_unique<TLFNFileStream>(zip_name_, TLFNFileStream::Mode::Read);
    }
    stamp_ = now;
    ReadDirectoryFromFile();
  }
}

void TZipReader::ReadDirectory() {
  try {
    OpenStep();
  } catch (const EIncompleteZip&) {
    if (incomplete_mode_ != TIncompleteZipMode::izAssumeMulti) throw;
    CloseFile();
    return;
  } catch (...) {
    ClearDirectory();
    zip_name_.clear();
    throw;
  }
  CloseUnlessKept();
}

void TZipReader::RebuildSortedView() {
  sorted_.reset();
  if (sort_mode_ == TZipSortMode::ByNone || !physical_) return;
  auto view = std::make_unique<TSortedZip>(false, TDuplicates::dupAccept, sort_mode_);
  // From physical order, as if each entry were inserted before the first equal
  // one: among equal names the entry met later in the file comes first.
  view->AssignInOrder(std::vector<TZipHeaderInfo*>(physical_->begin(), physical_->end()));
  sorted_ = std::move(view);
}

void TZipReader::NoteDamage(const std::string& what) {
  if (damage_.empty()) damage_ = what;
}

const uint8_t* TZipReader::PeekDirectory(uint64_t position, size_t count) {
  TDirectoryBlock& b = block_;
  if (position < b.start || position - b.start > b.length || count > b.length - (position - b.start)) {
    // A block as large as the read-ahead, or as what is left of the file.
    const uint64_t size = file_->Size();
    const size_t wanted = std::max(
        count, static_cast<size_t>(std::min<uint64_t>(b.read_ahead, size > position ? size - position : 0)));
    if (b.bytes.size() < wanted) b.bytes.resize(wanted);
    b.start = position;
    b.length = file_->ReadAt(position, b.bytes.data(), wanted);
  }
  return count <= b.length - (position - b.start) ? b.bytes.data() + (position - b.start) : nullptr;
}

void TZipReader::ReadDirectoryFromFile() {
  // The block holds pieces of this file only while it is read.
  struct BlockReleaser {
    TDirectoryBlock& block;
    explicit BlockReleaser(TDirectoryBlock& b) : block(b) { block = {}; }
    ~BlockReleaser() { block = {}; }
  } releaser(block_);
  physical_.reset();
  sorted_.reset();
  directory_loaded_ = false;
  selected_count_ = 0;
  end_ = TEndCentral{};
  damage_.clear();
  recovered_ = false;
  central_facts_.clear();
  directory_copyable_ = false;
  facts_summary_ = {};
  physical_ = std::make_unique<TSortedZip>(true, TDuplicates::dupError, TZipSortMode::ByNone);
  try {
    if (file_->Size() > 0) {
      if (!LocateEndRecord()) {
        if (incomplete_mode_ == TIncompleteZipMode::izAssumeMulti) throw EIncompleteZip();
        if (incomplete_mode_ == TIncompleteZipMode::izAssumeNotAZip) throw ENotAZipFile();
        RecoverFromLocalHeaders();
      } else {
        ReadZip64EndRecord();
        if (!ReadCentralDirectory()) RecoverFromLocalHeaders();
      }
    }
    RebuildSortedView();
  } catch (...) {
    physical_.reset();
    sorted_.reset();
    end_ = TEndCentral{};
    damage_.clear();
    recovered_ = false;
    central_facts_.clear();
    directory_copyable_ = false;
    throw;
  }
  directory_loaded_ = true;
}

bool TZipReader::LocateEndRecord() {
  uint64_t size = file_->Size();
  if (size < kEndRecordSize) return false;
  size_t tail_size = static_cast<size_t>(std::min<uint64_t>(size, kEndRecordSearchSpan));
  std::vector<uint8_t> tail(tail_size);
  ReadExactAt(size - tail_size, tail.data(), tail_size);
  for (size_t at = tail_size - kEndRecordSize + 1; at-- > 0;) {
    EndRecord record;
    if (tail[at] != 'P' || !DecodeEndRecord(&tail[at], record)) continue;
    end_.this_disk = record.this_disk;
    end_.directory_disk = record.directory_disk;
    end_.entries_this_disk = record.entries_this_disk;
    end_.total_entries = record.total_entries;
    end_.directory_size = record.directory_size;
    end_.directory_offset = record.directory_offset;
    // A comment length running past the end of the file is cut to what is there.
    uint64_t record_end = size - tail_size + at + kEndRecordSize;
    end_.comment_length = static_cast<uint16_t>(std::min<uint64_t>(record.comment_length, size - record_end));
    end_.comment_position = size - end_.comment_length;
    end_record_position_ = size - tail_size + at;
    zip64_end_position_ = end_record_position_;
    masked_end_record_ = record.Masked();
    return true;
  }
  return false;
}

// An archive that outgrew the end record's fields (more than 65535 entries, or a
// directory past 4 GiB; `zip -fz` writes one always) has a ZIP64 end record, found
// through the locator right before the end record. Its values replace the end
// record's. Where the end record says "see the ZIP64 record" and there is none,
// the directory is read as far as the end record's own values allow, as damaged.
void TZipReader::ReadZip64EndRecord() {
  uint8_t bytes[kZip64EndRecordSize];
  Zip64Locator locator;
  if (end_record_position_ < kZip64LocatorSize + kZip64EndRecordSize ||
      file_->ReadAt(end_record_position_ - kZip64LocatorSize, bytes, kZip64LocatorSize) !=
          kZip64LocatorSize ||
      !DecodeZip64Locator(bytes, locator)) {
    if (masked_end_record_) NoteDamage("the ZIP64 end record is missing");
    return;
  }
  // Where the locator says, or, with data in front of the archive that the offsets
  // do not count, right before the locator (a record without extensible data).
  const uint64_t locator_position = end_record_position_ - kZip64LocatorSize;
  Zip64EndRecord record;
  uint64_t position = 0;
  bool found = false;
  for (uint64_t candidate : {locator.record_offset, locator_position - kZip64EndRecordSize}) {
    if (candidate > locator_position - kZip64EndRecordSize) continue;
    if (file_->ReadAt(candidate, bytes, sizeof bytes) == sizeof bytes &&
        DecodeZip64EndRecord(bytes, record)) {
      position = candidate;
      found = true;
      break;
    }
  }
  if (!found) {
    NoteDamage("the ZIP64 end record is missing");
    return;
  }
  end_.this_disk = record.this_disk;
  end_.directory_disk = record.directory_disk;
  end_.entries_this_disk = record.entries_this_disk;
  end_.total_entries = record.total_entries;
  end_.directory_size = record.directory_size;
  end_.directory_offset = record.directory_offset;
  zip64_end_position_ = position;
}

// Reads the central directory where the end record says it is, or, when data in
// front of the archive is not counted by the offsets, where it really ends: right
// before the end records. The records found must agree with the end record's
// count and the directory's size; a directory holding more records than counted
// (a damaged count, or a 16-bit count that wrapped) is read whole, as damaged.
// False when the directory cannot be read (recovery follows).
bool TZipReader::ReadCentralDirectory() {
  if ((end_.total_entries == 0 && end_.directory_size == 0) ||
      ReadCentralRecordsFrom(end_.directory_offset)) {
    CheckCentralFacts(true);
    return true;
  }
  // Data in front of the archive: the directory ends right before the end records.
  if (zip64_end_position_ < end_.directory_size) return false;
  const uint64_t actual = zip64_end_position_ - end_.directory_size;
  if (actual <= end_.directory_offset) return false;
  const uint64_t shift = actual - end_.directory_offset;
  if (!ReadCentralRecordsFrom(actual)) return false;
  for (TZipHeaderInfo* record : *physical_) record->local_header_offset += shift;
  end_.directory_offset = actual;
  CheckCentralFacts(false);  // the offsets written are not those the file holds
  return true;
}

void TZipReader::CheckCentralFacts(bool in_place) {
  const TCentralFactsList& facts = central_facts_;
  if (!name_filter_.empty() && facts.size() > static_cast<size_t>(kMaxListSize))
    throw EListError("List capacity out of bounds (" + std::to_string(kMaxListSize + 1) + ")");
  auto before = [](const TCentralFacts& a, const TCentralFacts& b) {
    return a.disk != b.disk ? a.disk < b.disk : a.local_header_offset < b.local_header_offset;
  };
  bool ordered = facts_summary_.ordered, as_written = facts_summary_.as_written;
  for (size_t i = 0; !facts_summary_.known && i < facts.size(); ++i) {
    ordered = ordered && (i == 0 || before(facts[i - 1], facts[i]));
    as_written = as_written && facts[i].as_written;
  }
  if (!ordered && !name_filter_.empty()) {
    std::vector<TCentralFacts> sorted(facts.begin(), facts.end());
    std::sort(sorted.begin(), sorted.end(), before);
    for (size_t i = 1; i < sorted.size(); ++i)
      if (!before(sorted[i - 1], sorted[i])) throw EListError("Duplicate Object index");
  }
  directory_copyable_ = in_place && as_written && ordered && damage_.empty() && !masked_end_record_ &&
                        zip64_end_position_ == end_record_position_ && end_.this_disk == 0 &&
                        end_.directory_disk == 0 && end_.entries_this_disk == end_.total_entries &&
                        facts.size() == end_.total_entries &&
                        facts.size() <= static_cast<size_t>(kMaxListSize) &&
                        end_.directory_offset + end_.directory_size <= zip64_end_position_ &&
                        (facts.empty() || facts.back().local_header_offset < end_.directory_offset);
}

namespace {

// Whether name (as stored, ASCII) is one of names: "/" read as "\\", letters folded.
bool NameIn(const std::vector<std::string>& names, std::string_view name) {
  return std::any_of(names.begin(), names.end(),
                     [name](const std::string& wanted) { return StoredNameIs(name, wanted); });
}

bool AllAscii(std::string_view bytes) {
  unsigned char seen = 0;
  for (char c : bytes) seen |= static_cast<unsigned char>(c);
  return seen < 0x80;
}

// Whether SanitizeDosDateTime keeps value as it is: every field in its range.
inline bool DosDateTimeNeedsNoMending(uint32_t value) {
  const uint32_t seconds = value & 0x1F, minutes = (value >> 5) & 0x3F, hours = (value >> 11) & 0x1F;
  const uint32_t day = (value >> 16) & 0x1F, month = (value >> 21) & 0x0F, year = value >> 25;
  return hours <= 23 && minutes <= 59 && seconds <= 29 && year <= 2099 - 1980 && month >= 1 && month <= 12 &&
         day >= 1;
}

// How far ahead of the record being read the facts pass asks for the directory's
// bytes, and for the room of the facts.
constexpr uint64_t kPrefetchRecords = 1024;
constexpr size_t kPrefetchFacts = 16;

// Offsets of central records, in room set aside before a pass that allocates nothing.
struct TRecordOffsets {
  uint64_t* at;
  size_t count;
  size_t capacity;
};

// The usual directory, read for its facts alone: count records from start, each
// with an ASCII name that every rule reads alike (flag bit 11 set, or no extra
// field) and no field that stands for a ZIP64 value, the last ending at end. For
// such a directory the full read (ReadCentralRecord, record by record) notes no
// damage, gives these facts, and keeps exactly the records whose names the filter
// holds: their offsets go to kept, to be decoded after the pass; ordered and
// as_written tell what CheckCentralFacts would find of the facts. Appends to facts
// within its reserved room only, allocates nothing, throws nothing: it may run
// over a guarded mapping. Without facts (a read for a reader that writes nothing)
// the pass keeps only the records, and takes only a directory in file order: any
// other needs the facts for its check. False as soon as the directory is not such
// a one (a record that is not, a short file, too many records kept): the full
// read then reads it, whatever it holds.
template <class Source>
bool PlainDirectoryFacts(Source& source, uint64_t start, uint64_t count, uint64_t end,
                         const std::vector<std::string>& filter, TCentralFactsList* facts,
                         TRecordOffsets& kept, bool& ordered, bool& as_written) {
  if (facts ? count > facts->capacity() - facts->size() : count > static_cast<uint64_t>(kMaxListSize))
    return false;
  ordered = as_written = true;
  uint16_t last_disk = 0;
  uint32_t last_offset = 0;
  uint64_t position = start;
  for (uint64_t found = 0; found < count; ++found) {
    if constexpr (requires { source.Prefetch(uint64_t{}); }) {
      // The records follow each other: the bytes a few records on, and the room of
      // the facts a few records on, are asked for while this one is read.
      source.Prefetch(position + kPrefetchRecords);
      if (facts)
        __builtin_prefetch(facts->data() + std::min(facts->size() + kPrefetchFacts, facts->capacity()), 1);
    }
    const uint8_t* p = source.Peek(position, kCentralHeaderSize);
    if (!p || Get32(p) != kCentralHeaderSignature) return false;
    const uint16_t flags = Get16(p + 8), name_length = Get16(p + 28), extra_length = Get16(p + 30),
                   comment_length = Get16(p + 32), disk = Get16(p + 34);
    const uint32_t dos_date_time = Get32(p + 12), crc = Get32(p + 16), compressed = Get32(p + 20),
                   uncompressed = Get32(p + 24), offset = Get32(p + 42);
    if (compressed == kMasked32 || uncompressed == kMasked32 || offset == kMasked32 || disk == kMasked16 ||
        (extra_length != 0 && !(flags & kFlagUtf8Names)))
      return false;
    const uint8_t* whole = source.Peek(position, kCentralHeaderSize + size_t{name_length} + extra_length);
    if (!whole) return false;
    const std::string_view name(reinterpret_cast<const char*>(whole) + kCentralHeaderSize, name_length);
    bool ascii = false;
    const uint64_t hash = facts ? FoldedNameHashAscii(name, true, ascii) : 0;
    if (!(facts ? ascii : AllAscii(name))) return false;
    bool zip64 = false;
    const bool whole_extra = extra_length == 0 || ForEachExtraField({name.data() + name_length, extra_length},
                                                                    [&](uint16_t id, auto) {
                                                                      zip64 = id == kExtraZip64;
                                                                      return !zip64;
                                                                    });
    const bool written = whole_extra && !zip64 && disk == 0 && DosDateTimeNeedsNoMending(dos_date_time);
    as_written = as_written && written;
    ordered = ordered && (found == 0 || disk > last_disk || (disk == last_disk && offset > last_offset));
    if (facts) {
      TCentralFacts& f = facts->emplace_back();
      f.local_header_offset = offset;
      f.name_hash = hash;
      f.compressed_size = compressed;
      f.crc = crc;
      f.flags = flags;
      f.disk = disk;
      f.as_written = written;
    } else if (!ordered) {
      return false;
    }
    last_disk = disk;
    last_offset = offset;
    if (!filter.empty() && NameIn(filter, name)) {
      if (kept.count == kept.capacity) return false;
      kept.at[kept.count++] = position;
    }
    position += kCentralHeaderSize + uint64_t{name_length} + extra_length + comment_length;
  }
  return position == end;
}

}  // namespace

// With a name filter, the usual directory is read for its facts first, and only
// the records kept are decoded (PlainDirectoryFacts); any other directory, and
// every directory read whole, record by record.
bool TZipReader::ReadCentralRecordsFrom(uint64_t start) {
  physical_->Clear();
  central_facts_.clear();
  // Room for one more: an update may append one.
  const auto reserve_facts = [&] {
    central_facts_.reserve(static_cast<size_t>(std::min<uint64_t>(end_.total_entries, kMaxListSize)) + 1);
  };
  if (filter_for_update_) reserve_facts();
  if (!name_filter_.empty() && ReadPlainDirectory(start)) return true;
  facts_summary_ = {};
  block_.read_ahead = TDirectoryBlock{}.read_ahead;
  physical_->Clear();
  central_facts_.clear();
  reserve_facts();
  const std::string damage_before = damage_;
  uint64_t position = start;
  uint64_t found = 0;
  std::vector<std::unique_ptr<TZipHeaderInfo>> records;
  records.reserve(static_cast<size_t>(std::min<uint64_t>(end_.total_entries, kMaxListSize + 1)));
  for (; found < end_.total_entries; ++found) {
    if (found % kRecordsBetweenPumps == kRecordsBetweenPumps - 1) ProcessMessages();
    uint64_t next = 0;
    bool skipped = false;
    auto record = ReadCentralRecord(position, next, &skipped, &central_facts_);
    if (!record && !skipped) {
      damage_ = damage_before;
      return false;
    }
    if (record) records.push_back(std::move(record));
    position = next;
  }
  // Records beyond the count, up to the directory's end.
  const uint64_t directory_end = start + end_.directory_size;
  while (position < directory_end) {
    if (found % kRecordsBetweenPumps == kRecordsBetweenPumps - 1) ProcessMessages();
    uint64_t next = 0;
    bool skipped = false;
    const size_t facts_before = central_facts_.size();
    auto record = ReadCentralRecord(position, next, &skipped, &central_facts_);
    if ((!record && !skipped) || next > directory_end) {
      // A record not taken leaves no facts behind: a stray one would be checked
      // with the others (a read of one name refused the file as holding two
      // records for one entry, where the whole read notes the damage).
      central_facts_.resize(facts_before);
      break;
    }
    if (record) records.push_back(std::move(record));
    position = next;
    ++found;
  }
  TakeInFileOrder(records);
  if (found != end_.total_entries)
    NoteDamage("the end record counts " + std::to_string(end_.total_entries) +
               " entries, the central directory holds " + std::to_string(found));
  else if (position != directory_end)
    NoteDamage("the central directory takes " + std::to_string(position - start) +
               " bytes, the end record says " + std::to_string(end_.directory_size));
  return true;
}

bool TZipReader::ReadPlainDirectory(uint64_t start) {
  std::vector<uint64_t> kept_at(name_filter_.size() + 4);
  TRecordOffsets kept{kept_at.data(), 0, kept_at.size()};
  const uint64_t end = start + end_.directory_size, size = file_->Size();
  TCentralFactsList* facts = filter_for_update_ ? &central_facts_ : nullptr;
  bool plain = false, read = false;
  if (size <= SIZE_MAX) {
    TFileWindow window(file_->Handle(), size, end_.directory_size);
    auto pass = [&] {
      plain = PlainDirectoryFacts(window, start, end_.total_entries, end, name_filter_, facts, kept,
                                  facts_summary_.ordered, facts_summary_.as_written);
    };
    read = RunGuarded(pass);
    // Cut short within the last page touched, the mapping reads zeros there
    // rather than fault: the file must still be as long as it was.
    const std::optional<uint64_t> now = file_->SizeOnDisk();
    if (read && (!now || *now < size)) read = false;
  }
  if (!read) {
    struct Blocks {
      TZipReader& reader;
      const uint8_t* Peek(uint64_t position, size_t count) { return reader.PeekDirectory(position, count); }
    } blocks{*this};
    central_facts_.clear();
    kept.count = 0;
    plain = PlainDirectoryFacts(blocks, start, end_.total_entries, end, name_filter_, facts, kept,
                                facts_summary_.ordered, facts_summary_.as_written);
  }
  if (!plain) return false;
  facts_summary_.known = true;
  // The records kept lie apart: each is read alone.
  block_.read_ahead = 0;
  std::vector<std::unique_ptr<TZipHeaderInfo>> records;
  for (size_t i = 0; i < kept.count; ++i) {
    uint64_t next = 0;
    bool skipped = false;
    auto record = ReadCentralRecord(kept.at[i], next, &skipped);
    if (!record && !skipped) return false;  // the file changed since
    if (record) records.push_back(std::move(record));
  }
  TakeInFileOrder(records);
  return true;
}

// Puts the records read into the physical list, in file order. Directories
// almost always list the entries in that order: then they are taken as they come,
// without a search each. Two records for one local header are refused
// ("Duplicate Object index"), as are more than the list holds.
void TZipReader::TakeInFileOrder(std::vector<std::unique_ptr<TZipHeaderInfo>>& records) {
  bool in_order = true;
  for (size_t i = 1; in_order && i < records.size(); ++i)
    in_order = physical_->Compare(records[i - 1].get(), records[i].get()) < 0;
  if (in_order) {
    for (auto& record : records) {
      physical_->AppendItem(record.get());  // throws at the list's limit
      record.release();
    }
    return;
  }
  if (records.size() > static_cast<size_t>(kMaxListSize))
    throw EListError("List capacity out of bounds (" + std::to_string(kMaxListSize + 1) + ")");
  std::vector<TZipHeaderInfo*> items;
  items.reserve(records.size());
  for (auto& record : records) items.push_back(record.get());
  physical_->AssignSorted(std::move(items));
  for (auto& record : records) record.release();
}

// Whether name (as stored, ASCII) is one of the filter's names: "/" read as "\\",
// letters folded.
bool TZipReader::NameInFilter(std::string_view name) const {
  return NameIn(name_filter_, name);
}

std::unique_ptr<TZipHeaderInfo> TZipReader::ReadCentralRecord(uint64_t offset, uint64_t& next, bool* skipped,
                                                              TCentralFactsList* facts) {
  // The records are read one after another: decoded where they lie in the block.
  const uint8_t* fixed = PeekDirectory(offset, kCentralHeaderSize);
  CentralHeader h;
  if (!fixed || !DecodeCentralHeader(fixed, h)) return nullptr;
  const size_t name_and_extra_size = size_t{h.name_length} + h.extra_length;
  const uint8_t* whole = PeekDirectory(offset, kCentralHeaderSize + name_and_extra_size);
  if (!whole) return nullptr;
  const std::string_view name_and_extra(reinterpret_cast<const char*>(whole) + kCentralHeaderSize,
                                        name_and_extra_size);
  next = offset + h.Span();
  // A plain name (read alike by every rule) is taken as it is stored.
  const std::string_view name(name_and_extra.data(), h.name_length);
  bool ascii = false;
  // Every name is hashed for the facts: that pass tells whether it is ASCII too.
  const uint64_t stored_hash = facts ? FoldedNameHashAscii(name, true, ascii) : 0;
  if (!facts) ascii = codepage::IsAscii(name);
  const bool plain = ascii && ((h.flags & kFlagUtf8Names) || h.extra_length == 0);
  const bool masked = h.uncompressed_size == kMasked32 || h.compressed_size == kMasked32 ||
                      h.local_header_offset == kMasked32 || h.disk_number_start == kMasked16;
  if (facts) {
    TCentralFacts& f = facts->emplace_back();
    f.local_header_offset = h.local_header_offset;
    f.compressed_size = h.compressed_size;
    f.crc = h.crc;
    f.flags = h.flags;
    f.disk = h.disk_number_start;
    if (plain) f.name_hash = stored_hash;  // else once the name is decoded, below
    bool zip64 = false;
    const bool whole_extra = ForEachExtraField(name_and_extra.substr(h.name_length), [&](uint16_t id, auto) {
      zip64 = id == kExtraZip64;
      return !zip64;
    });
    f.as_written = !masked && whole_extra && !zip64 && h.disk_number_start == 0 &&
                   SanitizeDosDateTime(h.dos_date_time) == h.dos_date_time;
  }
  const bool filtered = skipped && !name_filter_.empty();
  if (filtered && plain && !masked && !NameInFilter(name)) {
    *skipped = true;
    return nullptr;
  }
  auto record = std::make_unique<TZipHeaderInfo>();
  record->version_made_by = h.version_made_by;
  record->version_needed = h.version_needed;
  record->flags = h.flags;
  record->method = h.method;
  record->dos_date_time = SanitizeDosDateTime(h.dos_date_time);
  record->crc = h.crc;
  record->comment_length = h.comment_length;
  record->internal_attributes = h.internal_attributes;
  record->external_attributes = h.external_attributes;
  record->central_header_offset = offset;
  if (h.extra_length) record->central_extra.assign(name_and_extra.substr(h.name_length));
  record->stored_name.emplace(name);
  Zip64Values values{h.uncompressed_size, h.compressed_size, h.local_header_offset, h.disk_number_start};
  if (!ReadZip64Extra(record->central_extra, h.uncompressed_size == kMasked32, h.compressed_size == kMasked32,
                      h.local_header_offset == kMasked32, h.disk_number_start == kMasked16, values))
    NoteDamage("the ZIP64 sizes of \"" + *record->stored_name + "\" are missing");
  record->uncompressed_size = values.uncompressed_size;
  record->compressed_size = values.compressed_size;
  record->local_header_offset = values.local_header_offset;
  record->disk_number_start = static_cast<uint16_t>(std::min<uint32_t>(values.disk_number_start, 0xFFFF));
  SetEntryName(*record, h.flags);
  if (facts && masked) {
    facts->back().local_header_offset = record->local_header_offset;
    facts->back().disk = record->disk_number_start;
  }
  if (facts && !plain) facts->back().name_hash = FoldedNameHash(record->path, record->file_name);
  if (filtered) {
    const std::string full = record->FullName();
    if (!std::any_of(name_filter_.begin(), name_filter_.end(),
                     [&](const std::string& wanted) { return codepage::SameTextAscii(full, wanted); })) {
      *skipped = true;
      return nullptr;
    }
  }
  return record;
}

void TZipReader::RecoverFromLocalHeaders() {
  physical_->Clear();
  central_facts_.clear();
  directory_copyable_ = false;
  const uint64_t size = file_->Size();
  uint64_t start = EndsWithIgnoringCase(zip_name_, ".exe") ? 14000 : 0;
  // Find the first local header signature with a plausible version.
  uint64_t found = UINT64_MAX;
  std::vector<uint8_t> window(65536 + 6);
  for (uint64_t base = start; base < size && found == UINT64_MAX;) {
    file_->Seek(base);
    size_t got = file_->Read(window.data(), window.size());
    if (got < 6) break;
    for (size_t i = 0; i + 6 <= got; ++i) {
      if (window[i] == 'P' && window[i + 1] == 'K' && window[i + 2] == 3 && window[i + 3] == 4 &&
          window[i + 5] < 10) {
        found = base + i;
        break;
      }
      if (((base + i) % kScanPumpInterval) == 0) ProcessMessages();
    }
    base += got - 5;
  }
  if (found == UINT64_MAX) {
    ClearDirectory();
    zip_name_.clear();
    throw EBadZipFile();
  }
  uint64_t position = found;
  for (;;) {
    uint8_t fixed[kLocalHeaderSize];
    LocalHeader h;
    if (file_->ReadAt(position, fixed, sizeof fixed) != sizeof fixed || !DecodeLocalHeader(fixed, h)) break;
    std::string name_and_extra(size_t{h.name_length} + h.extra_length, '\0');
    if (file_->ReadAt(position + kLocalHeaderSize, name_and_extra.data(), name_and_extra.size()) !=
        name_and_extra.size())
      break;
    auto record = std::make_unique<TZipHeaderInfo>();
    record->version_made_by = kVersion20;  // no central record: the host is unknown
    record->version_needed = h.version_needed;
    record->flags = h.flags;
    record->method = h.method;
    record->dos_date_time = SanitizeDosDateTime(h.dos_date_time);
    record->crc = h.crc;
    const std::string_view extra = std::string_view(name_and_extra).substr(h.name_length);
    Zip64Values values{h.uncompressed_size, h.compressed_size, 0, 0};
    ReadZip64Extra(extra, h.uncompressed_size == kMasked32, h.compressed_size == kMasked32, false, false,
                   values);
    record->compressed_size = values.compressed_size;
    record->uncompressed_size = values.uncompressed_size;
    record->local_extra_length = h.extra_length;
    record->local_header_offset = position;
    record->central_header_offset = 0;
    record->external_attributes = 0;
    record->stored_name = name_and_extra.substr(0, h.name_length);
    SplitEntryName(NameFromArchive(*record->stored_name, h.flags, kHostFat, extra), record->path,
                   record->file_name);
    uint64_t next =
        position + h.Span() + record->compressed_size + ((h.flags & kFlagDataDescriptor) ? 16 : 0);
    if (next > size || next <= position) break;
    physical_->Add(record.get());
    record.release();
    position = next;
    if (physical_->Count() >= kMaxListSize) break;
  }
  end_.total_entries = static_cast<uint64_t>(physical_->Count());
  end_.entries_this_disk = end_.total_entries;
  end_.directory_offset = position;
  recovered_ = true;
  damage_ = "the central directory is damaged; " + std::to_string(physical_->Count()) +
            " entries were recovered from their local headers";
  // Central records that follow: each one whose local header offset matches a
  // recovered entry supplies that entry's fields.
  for (;;) {
    uint64_t next = 0;
    auto record = ReadCentralRecord(position, next);
    if (!record) break;
    position = next;
    int index = physical_->IndexOf(record.get());
    if (index < 0) continue;
    TZipHeaderInfo* target = physical_->Get(index);
    record->local_extra_length = target->local_extra_length;
    *target = *record;
  }
}

// ---------------------------------------------------------------------------------
// Extraction

int TZipReader::ExtractToStream(TMemoryStream* stream, const std::string& name) {
  auto is_blank = [](char c) { return static_cast<uint8_t>(c) <= ' '; };
  auto first = std::find_if_not(name.begin(), name.end(), is_blank);
  if (first == name.end() || stream == nullptr) return 0;
  return WithOpenFile([&] {
    files_list_.assign(1, name);
    return Extract(stream, false);  // clears FilesList however it ends
  });
}

int TZipReader::ExtractIndexToStream(TMemoryStream* stream, int index) {
  if (stream == nullptr) return 0;
  return WithOpenFile([&] {
    files_list_.clear();
    SetEntrySelected(index, true);
    return Extract(stream, true);
  });
}

int TZipReader::Extract(TMemoryStream* stream, bool selection_mode) {
  const TSortedZip& view = View();
  std::vector<std::string> patterns;
  for (const std::string& item : files_list_) patterns.push_back(codepage::AsciiLowerCase(item));
  std::vector<TZipHeaderInfo*> marked;
  for (TZipHeaderInfo* record : view) {
    bool take = false;
    if (do_all_) {
      take = true;
    } else if (!record->file_name.empty()) {
      if (selection_mode) {
        take = record->selection_mark != 0;
      } else {
        std::string full = codepage::AsciiLowerCase(record->FullName());
        for (const std::string& pattern : patterns)
          if (WildcardMatch(pattern, full)) {
            take = true;
            break;
          }
      }
    }
    if (selection_mode && record->selection_mark) {
      record->selection_mark = 0;
      --selected_count_;
    }
    if (take) marked.push_back(record);
  }
  int count = 0;
  try {
    for (TZipHeaderInfo* record : marked) {
      record->extract_mark = 1;
      if (ExtractOne(*record, stream)) ++count;
      record->extract_mark = 0;
    }
  } catch (...) {
    for (TZipHeaderInfo* record : marked) record->extract_mark = 0;
    files_list_.clear();
    throw;
  }
  files_list_.clear();
  return count;
}

// ---------------------------------------------------------------------------------
// Decoding one entry
//
// Entries are decoded as a stream: the compressed data is read 64 KiB at a time
// (decrypted as it comes), and the output goes to a target piece by piece. So
// memory grows with what the data really makes, never with the size the archive
// claims: extraction into memory takes a window that doubles as the output grows
// (starting from a guess bounded by the compressed size), checking without
// keeping the data takes a fixed window.

namespace {

constexpr size_t kInputPiece = 64 << 10;
// At most this much of an entry is read together with its local header.
constexpr size_t kEntryHead = 4096;
// A file up to this size is read whole for a pass over every entry.
constexpr uint64_t kWholeFilePass = uint64_t{32} << 20;
// How many entries ahead such a pass asks for an entry's bytes.
constexpr int kPassAhead = 8;
// The window for checking and streaming out: fixed, whatever the entry's size.
constexpr size_t kStreamWindow = 256 << 10;

// Reads an entry's compressed data, decrypting it when a cipher is given.
class EntrySource : public InflateSource {
 public:
  // ahead: the first ahead_size bytes of the data, read already.
  EntrySource(TLFNFileStream& file, uint64_t start, uint64_t length, ZipCrypto* crypto,
              const std::function<void()>& pump, const uint8_t* ahead = nullptr, size_t ahead_size = 0)
      : file_(file),
        position_(start),
        left_(length),
        crypto_(crypto),
        pump_(pump),
        ahead_(ahead),
        ahead_left_(static_cast<size_t>(std::min<uint64_t>(ahead_size, length))) {}
  size_t Read(uint8_t* buffer, size_t capacity) override {
    if (left_ == 0) return 0;
    pump_();
    const size_t want = static_cast<size_t>(std::min<uint64_t>(capacity, left_));
    size_t n = 0;
    if (ahead_left_ > 0) {
      n = std::min(want, ahead_left_);
      std::memcpy(buffer, ahead_, n);
      ahead_ += n;
      ahead_left_ -= n;
    } else {
      n = file_.ReadAt(position_, buffer, want);
    }
    if (n == 0) {
      short_ = true;  // the file ends before the entry's data does
      left_ = 0;
      return 0;
    }
    if (crypto_) crypto_->Decrypt(buffer, n);
    position_ += n;
    left_ -= n;
    return n;
  }
  bool Short() const { return short_; }

 private:
  TLFNFileStream& file_;
  uint64_t position_, left_;
  ZipCrypto* crypto_;
  const std::function<void()>& pump_;
  const uint8_t* ahead_;
  size_t ahead_left_;
  bool short_ = false;
};

// Counts and checksums the output on its way to the target; refuses anything past
// the entry's declared size.
class CheckingSink : public InflateSink {
 public:
  CheckingSink(uint64_t limit, const TZipReader::TDataSink& target) : limit_(limit), target_(target) {}
  bool Write(const uint8_t* data, size_t size) override {
    if (size > limit_ - count_) {
      too_long_ = true;
      return false;
    }
    crc_ = Crc32(crc_, data, size);
    count_ += size;
    if (target_ && !target_(data, size)) {
      stopped_ = true;
      return false;
    }
    return true;
  }
  uint64_t count_ = 0;
  uint32_t crc_ = 0;
  bool too_long_ = false;
  bool stopped_ = false;

 private:
  uint64_t limit_;
  const TZipReader::TDataSink& target_;
};

}  // namespace

TZipReader::TEntryResult TZipReader::DecodeEntry(const TZipHeaderInfo& record, const TDataSink& target,
                                                 bool into_memory) {
  if (record.compressed_size > kMaxEntrySize || record.uncompressed_size > kMaxEntrySize)
    throw EEntryTooLarge(std::max(record.compressed_size, record.uncompressed_size));
  // The local header and, where the entry is small, its data as well, in one read
  // of as much as the central record leads one to expect: a pass over many small
  // entries (qvf test) then makes one call for each, not two, and reads no more
  // than it uses. A local extra field longer than expected is read on its own.
  // (Where the file was read whole, every byte of it is at hand.)
  uint8_t buffer[kEntryHead];
  const uint8_t* head = buffer;
  size_t head_size = 0;
  if (whole_file_) {
    if (record.local_header_offset < whole_file_->size()) {
      head = whole_file_->data() + record.local_header_offset;
      head_size = static_cast<size_t>(whole_file_->size() - record.local_header_offset);
    }
  } else {
    const uint64_t expected =
        kLocalHeaderSize +
        (record.stored_name ? record.stored_name->size() : record.path.size() + record.file_name.size()) +
        record.local_extra_length + record.compressed_size;
    head_size = file_->ReadAt(record.local_header_offset, buffer,
                              static_cast<size_t>(std::min<uint64_t>(expected, sizeof buffer)));
  }
  if (head_size < kLocalHeaderSize) throw EFatalUnzipError();
  LocalHeader local;
  DecodeLocalHeader(head, local);  // the signature is not checked, as peers do not
  const uint64_t data_start = record.local_header_offset + local.Span();
  const uint64_t head_end = record.local_header_offset + head_size;
  // The bytes of the head from position on; none when it ends before.
  const auto head_from = [&](uint64_t position) -> std::pair<const uint8_t*, size_t> {
    if (position >= head_end) return {nullptr, 0};
    return {head + (position - record.local_header_offset), static_cast<size_t>(head_end - position)};
  };
  uint64_t length = record.compressed_size;

  std::optional<ZipCrypto> crypto;
  const std::function<void()> pump = [this] { ProcessMessages(); };
  if (record.Encrypted()) {
    uint8_t header[kEncryptionHeaderSize];
    if (length < kEncryptionHeaderSize) throw EFatalUnzipError();
    if (const auto [bytes, size] = head_from(data_start); size >= sizeof header)
      std::memcpy(header, bytes, sizeof header);
    else if (file_->ReadAt(data_start, header, sizeof header) != sizeof header)
      throw EFatalUnzipError();
    crypto.emplace(password_);
    crypto->Decrypt(header, sizeof header);
    const uint8_t check = (record.flags & kFlagDataDescriptor)
                              ? static_cast<uint8_t>(record.dos_date_time >> 8)
                              : static_cast<uint8_t>(record.crc >> 24);
    if (header[kEncryptionHeaderSize - 1] != check) return TEntryResult::WrongPassword;
    length -= kEncryptionHeaderSize;
  }
  const uint64_t source_start = data_start + (record.Encrypted() ? kEncryptionHeaderSize : 0);
  const auto [ahead, ahead_size] = head_from(source_start);
  EntrySource source(*file_, source_start, length, crypto ? &*crypto : nullptr, pump, ahead, ahead_size);
  // What the file holds of the data at most: a record may claim far more, and
  // nothing is sized by the claim alone.
  const uint64_t held = std::min(length, file_->Size() > source_start ? file_->Size() - source_start : 0);

  const uint16_t method = record.method;
  const bool legacy = method >= kMethodShrunk && method <= kMethodImploded;
  if (method != kMethodStored && method != kMethodDeflated && !legacy) return TEntryResult::UnknownMethod;
  const uint64_t declared = record.uncompressed_size;
  CheckingSink sink(declared, target);
  CodecStatus status = CodecStatus::Ok;
  if (method == kMethodStored) {
    std::vector<uint8_t> piece(
        static_cast<size_t>(std::min<uint64_t>(kInputPiece, std::max<uint64_t>(length, 1))));
    for (;;) {
      const size_t n = source.Read(piece.data(), piece.size());
      if (n == 0) break;
      if (!sink.Write(piece.data(), n)) {
        status = CodecStatus::OutputFull;
        break;
      }
    }
    if (status == CodecStatus::Ok && source.Short()) status = CodecStatus::InputEnded;
  } else if (method == kMethodDeflated) {
    // In memory: a window that can hold the whole entry, grown as the output needs
    // it; otherwise a fixed one that slides.
    // The window grows as the output needs it: a small entry never takes the
    // whole streaming window.
    const size_t initial = static_cast<size_t>(std::min<uint64_t>(
        into_memory ? declared : std::min<uint64_t>(declared + 1024, kStreamWindow), 4 * held + 65536));
    const size_t max = into_memory ? static_cast<size_t>(declared) + 1024 : kStreamWindow;
    status = InflateStream(source, sink, initial, max).status;
  } else {
    // The legacy methods decode whole buffers: the input as the file holds it, and
    // an output buffer doubled until it holds what the data makes (they have no end
    // marker: a full buffer may mean there is more). The input buffer takes one
    // byte more than the file holds when the record claims more, so that the read
    // meets the file's end as it would with the room the record claims.
    std::vector<uint8_t> input(static_cast<size_t>(held < length ? held + 1 : length));
    size_t got = 0;
    for (size_t n; got < input.size() && (n = source.Read(input.data() + got, input.size() - got)) != 0;)
      got += n;
    input.resize(got);
    uint64_t capacity = std::min<uint64_t>(declared, 4 * static_cast<uint64_t>(got) + 65536);
    std::vector<uint8_t> output;
    CodecResult result;
    for (;;) {
      output.assign(static_cast<size_t>(capacity) + 1, 0);
      const size_t cap = static_cast<size_t>(capacity);
      if (method == kMethodShrunk)
        result = Unshrink(input.data(), input.size(), output.data(), cap);
      else if (method == kMethodImploded)
        result = Explode(record.flags, input.data(), input.size(), output.data(), cap);
      else
        result = Unreduce(method - 1, input.data(), input.size(), output.data(), cap);
      const bool full = result.produced == cap && result.status != CodecStatus::BadData;
      if (!full || capacity >= declared) break;
      capacity = std::min<uint64_t>(declared, capacity * 2);
    }
    status = result.status;
    if (!sink.Write(output.data(), result.produced) && status == CodecStatus::Ok)
      status = CodecStatus::OutputFull;
    if (source.Short() && status == CodecStatus::BadData) status = CodecStatus::InputEnded;
  }

  if (sink.stopped_) return TEntryResult::Stopped;
  if (status == CodecStatus::InputEnded || (source.Short() && status != CodecStatus::Ok))
    throw EFatalUnzipError();
  if (sink.too_long_ || status == CodecStatus::OutputFull) return TEntryResult::TooLong;
  if (status == CodecStatus::BadData) return TEntryResult::BadData;
  if (sink.count_ != declared) return TEntryResult::SizeMismatch;  // the data ends before its size
  if (sink.crc_ != record.crc) return TEntryResult::BadCrc;
  return TEntryResult::Intact;
}

std::string TZipReader::EntryProblem(TEntryResult result) {
  switch (result) {
    case TEntryResult::Intact:
      return {};
    case TEntryResult::WrongPassword:
      return "is encrypted";
    case TEntryResult::UnknownMethod:
      return "uses an unknown compression method";
    case TEntryResult::BadData:
      return "has damaged compressed data";
    case TEntryResult::TooLong:
      return "is damaged: its data runs past its size";
    case TEntryResult::SizeMismatch:
      return "is damaged: its data ends before its size";
    case TEntryResult::BadCrc:
      return "has a bad CRC: the data is damaged";
    case TEntryResult::Stopped:
      return "was not taken whole by its target";
  }
  return {};
}

std::string TZipReader::CheckEntry(int index, const TDataSink& sink) {
  return WithOpenFile([&] {
    const TZipHeaderInfo& record = *Record(index);  // after the open step, which may read the directory again
    if (record.file_name.empty()) return std::string();
    return EntryProblem(DecodeEntry(record, sink, false));
  });
}

void TZipReader::CheckAllEntries(const std::function<void(int index, const std::string& problem)>& report) {
  WithOpenFile([&] {
    // A small file is read whole, in one go: entries taken in the listing's order
    // lie all over it, and many small ones each cost a call to the system
    // otherwise (at 60,000 entries of 1 MB, a third of the pass).
    std::vector<uint8_t> whole;
    struct Forget {
      const std::vector<uint8_t>*& bytes;
      ~Forget() { bytes = nullptr; }
    } forget{whole_file_};
    if (const uint64_t size = file_->Size(); size > 0 && size <= kWholeFilePass) {
      whole.resize(static_cast<size_t>(size));
      // Cut short meanwhile: what is there. A read that fails leaves the entries
      // to their own reads, which tell each one's error.
      const ssize_t got = file_->TryReadAt(0, whole.data(), whole.size());
      if (got >= 0) {
        whole.resize(static_cast<size_t>(got));
        whole_file_ = &whole;
      } else {
        std::vector<uint8_t>().swap(whole);
      }
    }
    const int count = EntryCount();
    for (int i = 0; i < count; ++i) {
      if (whole_file_ && i + kPassAhead < count) {
        // The entries lie all over the file: the one a few turns on is asked for
        // now, so that it is in the cache when its turn comes.
        const TZipHeaderInfo& later = *Record(i + kPassAhead);
        if (later.local_header_offset < whole.size()) {
          const uint8_t* at = whole.data() + later.local_header_offset;
          const size_t span = static_cast<size_t>(std::min<uint64_t>(
              {whole.size() - later.local_header_offset, later.compressed_size + 128, 512}));
          for (size_t line = 0; line < span; line += 64) __builtin_prefetch(at + line);
        }
        __builtin_prefetch(later.path.data());
        __builtin_prefetch(later.file_name.data());
        if (i + 2 * kPassAhead < count) __builtin_prefetch(Record(i + 2 * kPassAhead));
      }
      const TZipHeaderInfo& record = *Record(i);
      std::string problem;
      try {
        if (!record.file_name.empty()) problem = EntryProblem(DecodeEntry(record, {}, false));
      } catch (const Exception& e) {
        problem = e.what();
      }
      report(i, problem);
    }
  });
}

std::string TZipReader::ReadStoredEntry(std::string_view name, TStoredEntry& stored, const TDataSink& sink) {
  return WithOpenFile([&] {
    const int index = FindEntry(name);  // after the open step, which may read the directory again
    if (index >= EntryCount()) return std::string("is not in the File Cabinet");
    TZipHeaderInfo& record = *Record(index);
    if (record.compressed_size > kMaxEntrySize) throw EEntryTooLarge(record.compressed_size);
    if (!record.file_name.empty()) {
      const std::string problem = EntryProblem(DecodeEntry(record, sink, false));
      if (!problem.empty()) return problem;
    }
    if (!record.comment && record.comment_length != 0) record.comment = ReadCommentFromFile(record);
    uint8_t fixed[kLocalHeaderSize];
    LocalHeader local;
    ReadExactAt(record.local_header_offset, fixed, sizeof fixed);
    DecodeLocalHeader(fixed, local);
    std::string extra(local.extra_length, '\0');
    ReadExactAt(record.local_header_offset + kLocalHeaderSize + local.name_length, extra.data(),
                extra.size());
    // Checked before the bytes are allocated: a record may claim more than the file holds.
    const uint64_t data_start = record.local_header_offset + local.Span();
    if (data_start + record.compressed_size > file_->Size()) throw EFatalUnzipError();
    std::vector<uint8_t> data(static_cast<size_t>(record.compressed_size));
    ReadExactAt(data_start, data.data(), data.size());
    stored.record = record;
    stored.record.extract_mark = stored.record.selection_mark = 0;
    stored.local_extra = std::move(extra);
    stored.data = std::move(data);
    return std::string();
  });
}

// Extracts one entry at the stream's position; true when it came out intact. The
// stream may take only as much as the entry's size, counted from its start; past
// that, the entry stops at the last whole piece that fits.
bool TZipReader::ExtractOne(TZipHeaderInfo& record, TMemoryStream* stream) {
  const uint64_t start = stream->Position();
  const uint64_t allowance = start >= record.uncompressed_size ? 0 : record.uncompressed_size - start;
  uint64_t written = 0;
  bool over = false;
  auto write_pieces = [&](const uint8_t* data, size_t size) {
    for (size_t done = 0; done < size;) {
      const size_t piece = std::min(kPieceSize, size - done);
      if (stream->Write(data + done, piece) != piece) throw ECantWriteUCF();
      done += piece;
      written += piece;
    }
  };
  const TDataSink target = [&](const uint8_t* data, size_t size) {
    if (size <= allowance - written) {
      write_pieces(data, size);
      return true;
    }
    over = true;
    const uint64_t whole = allowance / kPieceSize * kPieceSize;
    if (whole > written) {
      write_pieces(data, static_cast<size_t>(whole - written));
    } else if (whole < written && stream->Size() == start + written) {
      stream->SetSize(static_cast<size_t>(start + whole));
      stream->SetPosition(static_cast<size_t>(start + whole));
    }
    return false;
  };
  const TEntryResult result = DecodeEntry(record, target, true);
  if (result == TEntryResult::UnknownMethod && interaction_)
    interaction_->MessageBox(MsgKind::Error, "Zip Error", "Unknown Compression Method", MsgButtons::Ok);
  return result == TEntryResult::Intact && !over;
}

}  // namespace qb::zip
