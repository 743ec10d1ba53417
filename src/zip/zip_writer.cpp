#include "zip/zip_writer.h"

#include <strings.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstring>
#include <ctime>
#include <exception>
#include <filesystem>
#include <future>
#include <random>
#include <thread>
#include <utility>

#include "platform/codepage.h"
#include "platform/paths.h"
#include "zip/cabinet_file_replace.h"
#include "zip/crc32.h"
#include "zip/deflate.h"
#include "zip/file_window.h"
#include "zip/wildcard.h"
#include "zip/zip_crypto.h"
#include "zip/zip_errors.h"
#include "zip/zip_format.h"

namespace qb::zip {

using namespace format;

namespace {

// Old entries are copied in pieces of this size, the message pump running between.
constexpr uint64_t kCopyPiece = uint64_t{4} << 20;
// The old local headers are read ahead in blocks of this size: an update reads
// them all, in file order.
constexpr size_t kReadAhead = 256 << 10;
// Blocks of headers at least this long are looked at through a window of the file
// (see MappedHeaderReader and TFileWindow), when their headers lie on average at
// most kDenseHeaders apart. Sparser blocks are read with the data between: there a
// mapping would touch a page of its own for each header, and in a virtual machine
// whose host keeps page tables of its own for it, each first touch of a page
// traps to the host. At 60,000 entries 23 KiB apart (1.4 GB), the touches took
// 0.35 s of a 1.6 s append, and reading the blocks instead took 1.3 s in all.
constexpr size_t kMapBlocksFrom = 64 << 10;
constexpr size_t kDenseHeaders = 4 << 10;
// Local headers at most this far apart are read in one block with the data between.
// A read call costs about as much as copying 10-20 KiB out of the cache: at 10,000
// entries 13 KiB apart, reading them one by one made an append 6% slower.
constexpr uint64_t kCloseHeaders = 32 << 10;
// New data of at least this size is checksummed and compressed on a worker thread.
constexpr size_t kWorkerThreshold = 1 << 20;
// While a worker runs, the window's messages are dispatched this often.
constexpr std::chrono::milliseconds kPumpInterval{2};
// And this often while an update reads the old local headers on the calling
// thread: in a cabinet of 60,000 items and 1.4 GB that pass reads nearly the
// whole file, for a fifth of a second.
constexpr std::chrono::milliseconds kPassPumpInterval{10};

uint32_t DosNow() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  int year = std::max(1980, std::min(2107, local.tm_year + 1900));
  uint32_t date = (static_cast<uint32_t>(year - 1980) << 9) | (static_cast<uint32_t>(local.tm_mon + 1) << 5) |
                  static_cast<uint32_t>(local.tm_mday);
  uint32_t time = (static_cast<uint32_t>(local.tm_hour) << 11) | (static_cast<uint32_t>(local.tm_min) << 5) |
                  static_cast<uint32_t>(local.tm_sec / 2);
  return (date << 16) | time;
}

// An output stream that counts every short write as a full disk.
void WriteAll(TLFNFileStream& out, const void* data, size_t count) {
  if (out.Write(data, count) != count) throw ENotEnoughRoom();
  if (out.Position() > kMaxArchiveSize) throw EZipError("The archive would grow beyond 2 GB");
}

}  // namespace

// ---------------------------------------------------------------------------------
// Names

namespace {

bool IsDrivePrefix(const std::string& s, size_t at) {
  return s.size() - at >= 2 && std::isalpha(static_cast<unsigned char>(s[at])) && s[at + 1] == ':';
}

// The position after the prefixes that name a place outside the archive: drive
// prefixes ("C:"), a server and share ("\\server\share") and leading backslashes,
// taken off until none is left, so that the rest starts with neither.
size_t SkipOutsidePrefixes(const std::string& s, size_t at) {
  for (;;) {
    if (IsDrivePrefix(s, at)) {
      at += 2;
    } else if (s.compare(at, 2, "\\\\") == 0) {
      const size_t server_end = s.find('\\', at + 2);
      const size_t share_end =
          server_end == std::string::npos ? std::string::npos : s.find('\\', server_end + 1);
      // Without a share the last part is the file name and stays.
      at = server_end == std::string::npos  ? at + 2
           : share_end == std::string::npos ? server_end + 1
                                            : share_end;
    } else if (at < s.size() && s[at] == '\\') {
      ++at;
    } else {
      return at;
    }
  }
}

}  // namespace

void TZipWriter::NormalizeName(const std::string& name, bool store_paths, std::string& path,
                               std::string& file_name) {
  // Bytes that are not UTF-8 are read as Windows-1252, and "/" is the separator
  // inside the file: both as the reader reads stored names, so that the name kept
  // in memory is the name read back.
  std::string s = codepage::BytesToUtf8(name);
  std::replace(s.begin(), s.end(), '/', '\\');
  const size_t start = SkipOutsidePrefixes(s, 0);
  const size_t cut = s.rfind('\\');
  if (cut == std::string::npos || cut < start) {
    path.clear();
    file_name = s.substr(start);
    return;
  }
  file_name = s.substr(cut + 1);
  if (!store_paths) {
    path.clear();
    file_name.erase(0, SkipOutsidePrefixes(file_name, 0));  // now the start of the name
    return;
  }
  // The path ends in one backslash: a run of them at its end counts once.
  size_t end = cut + 1;
  while (end - 1 > start && s[end - 2] == '\\') --end;
  path = s.substr(start, end - start);
}

void TZipWriter::SetEntryPath(int index, const std::string& path) {
  TZipHeaderInfo* record = Record(index);
  std::string value = path;
  if (!value.empty() && value.back() != '\\') value += '\\';
  if (value == record->path) return;
  record->path = value;
  record->stored_name.reset();
  end_.modified = true;
}

void TZipWriter::SetEntryFileName(int index, const std::string& file_name) {
  TZipHeaderInfo* record = Record(index);
  if (file_name == record->file_name) return;
  record->file_name = file_name;
  record->stored_name.reset();
  end_.modified = true;
}

void TZipWriter::SetArchiveComment(const std::string& comment) {
  if (comment.size() > 0xFFFF) throw EZipError("Archive comment too long");
  if (directory_loaded_ || FileExists(zip_name_)) {
    if (ArchiveComment() == comment) return;
  }
  end_.comment = comment;
  end_.comment_length = static_cast<uint16_t>(comment.size());
  end_.modified = true;
}

// ---------------------------------------------------------------------------------
// Operations

TZipWriter::TZipWriter() = default;
TZipWriter::~TZipWriter() = default;

void TZipWriter::HoldCabinetLock() {
  if (lock_holds_++ > 0) return;
  auto is_blank = [](char c) { return static_cast<uint8_t>(c) <= ' '; };
  if (std::all_of(zip_name_.begin(), zip_name_.end(), is_blank)) return;
  try {
    held_lock_ = std::make_unique<CabinetLock>(CheckCabinetForUpdate(zip_name_).path, lock_wait_,
                                               [this] { ProcessMessages(); });
  } catch (...) {
    --lock_holds_;
    throw;
  }
}

void TZipWriter::ReleaseCabinetLock() {
  if (lock_holds_ > 0 && --lock_holds_ == 0) held_lock_.reset();
}

void TZipWriter::SetZipName(const std::string& path) {
  if (SameFilePath(path, zip_name_)) return;
  if (end_.modified) {
    files_list_.clear();
    ArchiveUpdate(UpdateMode::Commit, nullptr, nullptr);
    end_.modified = false;
  }
  TZipReader::SetZipName(path);
}

int TZipWriter::AddFromStream(TMemoryStream* stream, const std::string& name) {
  auto is_blank = [](char c) { return static_cast<uint8_t>(c) <= ' '; };
  if (stream == nullptr || std::all_of(name.begin(), name.end(), is_blank)) return 0;
  stream->SetPosition(0);
  files_list_.assign(1, name);
  return ArchiveUpdate(UpdateMode::Stream, stream, nullptr);
}

int TZipWriter::AddFromStreamWithComment(TMemoryStream* stream, const std::string& name,
                                         const std::string& comment) {
  auto is_blank = [](char c) { return static_cast<uint8_t>(c) <= ' '; };
  if (stream == nullptr || std::all_of(name.begin(), name.end(), is_blank)) return 0;
  if (comment.size() > 0xFFFF) throw EZipError("Comment too long");
  stream->SetPosition(0);
  files_list_.assign(1, name);
  return ArchiveUpdate(UpdateMode::Stream, stream, &comment);
}

int TZipWriter::AddStoredEntries(const std::vector<TStoredEntry>& entries) {
  files_list_.clear();
  for (const TStoredEntry& entry : entries) {
    const std::string name = entry.record.FullName();
    auto is_blank = [](char c) { return static_cast<uint8_t>(c) <= ' '; };
    if (std::all_of(name.begin(), name.end(), is_blank)) throw EZipError("An entry has no name");
    files_list_.push_back(name);
  }
  if (entries.empty()) return 0;
  batch_ = &entries;
  struct Reset {
    const std::vector<TStoredEntry>*& batch;
    ~Reset() { batch = nullptr; }
  } reset{batch_};
  return ArchiveUpdate(UpdateMode::Batch, nullptr, nullptr);
}

int TZipWriter::RemoveEntries() {
  if (selected_count_ > 0) files_list_.clear();
  return ArchiveUpdate(UpdateMode::Removal, nullptr, nullptr);
}

void TZipWriter::CommitChanges() {
  if (!end_.modified) return;
  files_list_.clear();
  ArchiveUpdate(UpdateMode::Commit, nullptr, nullptr);
  end_.modified = false;
  ReadDirectory();
}

std::string TZipWriter::Repair() {
  ReadDirectory();
  if (!DirectoryLoaded() || damage_.empty()) return {};
  // From the copy to the rewrite no other writer may change the file; one that
  // did so before the lock was had (a repair of its own) is seen by reading again.
  TCabinetLockHold hold(*this);
  ReadDirectory();
  if (!DirectoryLoaded() || damage_.empty()) return {};
  // A copy of the damaged file, under a name no file has yet.
  std::string backup = zip_name_ + ".damaged";
  for (int n = 2; std::filesystem::exists(backup) || std::filesystem::is_symlink(backup); ++n)
    backup = zip_name_ + ".damaged-" + std::to_string(n);
  std::error_code ec;
  if (!std::filesystem::copy_file(zip_name_, backup, std::filesystem::copy_options::none, ec))
    throw EFCreateError(backup, ec.message());
  repairing_ = true;
  struct Reset {
    bool& flag;
    ~Reset() { flag = false; }
  } reset{repairing_};
  files_list_.clear();
  ArchiveUpdate(UpdateMode::Commit, nullptr, nullptr);
  end_.modified = false;
  return backup;
}

// ---------------------------------------------------------------------------------
// The archive update
//
// An update plans before it writes. Planning reads what it needs of the old
// archive and decides, entry by entry, what the new one holds: an old entry is
// copied (its data, local extra field and data descriptor byte for byte; a new
// local header only where the name changed or ZIP64 fields must go), a new entry
// is compressed in memory. Only when the whole plan fits the engine's limits does
// writing start: the entries, then the central directory and the end record. So
// an archive that would outgrow the limits is refused before a byte is written.

namespace {

// codepage::AsciiUpper, inline: it runs for every byte of every name.
inline char Upper(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
}

// Whether two entries have the same full name, a-z folded: the key under which
// two entries are the same.
bool SameFoldedName(const TZipHeaderInfo& a, const TZipHeaderInfo& b) {
  const size_t na = a.path.size() + a.file_name.size();
  if (na != b.path.size() + b.file_name.size()) return false;
  const auto at = [](const TZipHeaderInfo& e, size_t i) {
    return Upper(i < e.path.size() ? e.path[i] : e.file_name[i - e.path.size()]);
  };
  for (size_t i = 0; i < na; ++i)
    if (at(a, i) != at(b, i)) return false;
  return true;
}

// Whether r's full name is name (lower case), ASCII letters folded.
bool HasLowerName(const TZipHeaderInfo& r, std::string_view name) {
  return r.path.size() + r.file_name.size() == name.size() &&
         codepage::SameTextAscii(r.path, name.substr(0, r.path.size())) &&
         codepage::SameTextAscii(r.file_name, name.substr(r.path.size()));
}

// The name bytes an entry is written with: the stored ones while its name is
// unchanged, else the name encoded afresh, with flag bit 11 in flags set to match.
std::string NameForWriting(const TZipHeaderInfo& r, uint16_t& flags) {
  if (r.stored_name) return *r.stored_name;
  bool utf8 = false;
  std::string stored = NameToArchive(r.FullName(), utf8);
  if (stored.size() > 0xFFFF) throw EZipError("Entry name too long: " + r.FullName().substr(0, 80));
  flags = static_cast<uint16_t>(utf8 ? (flags | kFlagUtf8Names) : (flags & ~kFlagUtf8Names));
  return stored;
}

// An old entry's extra field as the new archive writes it: without the ZIP64
// values (the header fields hold the real ones now, as our archives stay within
// 32-bit sizes), and without a Unicode path that names the entry's old name.
std::string ExtraForRewrite(std::string_view extra, bool renamed) {
  return FilterExtraFields(
      extra, [&](uint16_t id) { return id != kExtraZip64 && !(renamed && id == kExtraUnicodePath); });
}

// The extra fields of a replaced entry that still apply to its new data: the
// Unix owner.
std::string ExtraForReplacement(std::string_view extra) {
  return FilterExtraFields(extra,
                           [](uint16_t id) { return id == kExtraUnixOwner || id == kExtraUnixOwnerOld; });
}

}  // namespace

// Reads the old archive's local headers, which an update visits in file order,
// through blocks read ahead: one read serves the headers of many small entries.
// On the window thread (pump) its messages are dispatched between reads when they
// are due; a reader on a worker thread must not dispatch them.
class TZipWriter::HeaderReader {
 public:
  HeaderReader(TZipWriter& writer, bool pump) : writer_(writer), file_(*writer.file_), pump_(pump) {}
  // How much a block read from now on takes (at most the read-ahead block): less
  // where the headers wanted lie far apart.
  void SetAhead(size_t ahead, size_t /*headers*/ = 1) { ahead_ = std::min(ahead, kReadAhead); }
  // Reads up to count bytes at position; fewer only at the end of the file.
  size_t ReadAt(uint64_t position, void* buffer, size_t count) {
    if (count > kReadAhead) {
      const size_t n = file_.ReadAt(position, buffer, count);
      Pump();
      return n;
    }
    Fill(position, count);
    const size_t n = static_cast<size_t>(std::min<uint64_t>(count, start_ + length_ - position));
    std::memcpy(buffer, block_.data() + (position - start_), n);
    return n;
  }
  // The count bytes at position (count at most the read-ahead block) where they
  // lie in the block; nullptr when the file ends before.
  const uint8_t* Peek(uint64_t position, size_t count) {
    Fill(position, count);
    return position + count <= start_ + length_ ? block_.data() + (position - start_) : nullptr;
  }

 private:
  // Makes the block hold [position, position + count) unless the file ends first.
  void Fill(uint64_t position, size_t count) {
    if (position >= start_ && position + count <= start_ + length_) return;
    if (block_.empty()) block_.resize(kReadAhead);
    start_ = position;
    length_ = file_.ReadAt(position, block_.data(), std::max(count, ahead_));
    Pump();
  }
  void Pump() {
    if (pump_) writer_.PumpWhenDue();
  }

  TZipWriter& writer_;
  TLFNFileStream& file_;
  bool pump_;
  std::vector<uint8_t, TPrefaultedAllocator<uint8_t>> block_;
  uint64_t start_ = 0;
  size_t length_ = 0;
  size_t ahead_ = kReadAhead;
};

namespace {

// How much a block read at header i of count, at offset_of(i), should take in:
// the headers that follow closely, each within kCloseHeaders of the one before,
// as far as one read-ahead block reaches. `far` carries the last header taken in
// from one call to the next, so a walk over all headers stays linear.
template <class OffsetOf>
size_t HeaderBlockAhead(size_t i, size_t count, size_t& far, OffsetOf offset_of) {
  constexpr uint64_t kHeaderGuess = kLocalHeaderSize + 256;
  const uint64_t at = offset_of(i);
  far = std::max(far, i);
  while (far + 1 < count && offset_of(far + 1) + kHeaderGuess - at <= kReadAhead &&
         offset_of(far + 1) - offset_of(far) <= kCloseHeaders)
    ++far;
  return static_cast<size_t>(offset_of(far) + kHeaderGuess - at);
}

// The length of the data descriptor at `at`: with or without its signature, with
// 4- or 8-byte sizes. The signature is optional, so the CRC that follows it (or
// stands first without it) decides.
template <class Reader>
uint64_t DescriptorLength(Reader& file, uint64_t at, uint32_t crc, bool zip64_sizes) {
  uint8_t bytes[8] = {};
  const size_t got = file.ReadAt(at, bytes, sizeof bytes);
  const uint64_t body = zip64_sizes ? 20 : 12;
  const bool signature = got >= 4 && Get32(bytes) == kDataDescriptorSignature;
  if (signature && got == 8 && Get32(bytes + 4) == crc) return body + 4;
  if (got >= 4 && Get32(bytes) == crc) return body;
  return signature ? body + 4 : body;
}

std::vector<uint8_t> EncodeLocal(const LocalHeader& h, const std::string& name, const std::string& extra) {
  std::vector<uint8_t> bytes(kLocalHeaderSize + name.size() + extra.size());
  EncodeLocalHeader(h, bytes.data());
  std::memcpy(bytes.data() + kLocalHeaderSize, name.data(), name.size());
  if (!extra.empty()) std::memcpy(bytes.data() + kLocalHeaderSize + name.size(), extra.data(), extra.size());
  return bytes;
}

// The local header of a new entry, with its name bytes and local extra field: the
// record's fields, its sizes within 32 bits.
std::vector<uint8_t> EncodeNewLocal(const TZipHeaderInfo& r, const std::string& name) {
  LocalHeader h;
  h.version_needed = r.version_needed;
  h.flags = r.flags;
  h.method = r.method;
  h.dos_date_time = r.dos_date_time;
  h.crc = r.crc;
  h.compressed_size = static_cast<uint32_t>(r.compressed_size);
  h.uncompressed_size = static_cast<uint32_t>(r.uncompressed_size);
  h.name_length = static_cast<uint16_t>(name.size());
  h.extra_length = static_cast<uint16_t>(r.local_extra.size());
  return EncodeLocal(h, name, r.local_extra);
}

}  // namespace

// One entry of the new archive as planned: its record, the name, flags and extra
// field its central record gets, and where its local part comes from. A copied
// entry's record stays the loaded directory's own, unchanged until the new
// archive has replaced the old one (ApplyPlan).
struct TZipWriter::PlannedEntry {
  TZipHeaderInfo* old = nullptr;           // a copied entry's record
  std::unique_ptr<TZipHeaderInfo> record;  // a new entry's record
  std::string name;                        // the name bytes written
  std::string central_extra;               // the central extra field written
  uint16_t flags = 0;                      // the flags written
  uint16_t local_extra_length = 0;         // of the local header written
  uint64_t offset = 0;                     // of its local header in the new archive
  uint64_t central_offset = 0;             // of its central record in the new archive
  // A new entry: the local header (with name and extra) and the data.
  std::vector<uint8_t> header;
  std::vector<uint8_t> body_storage;
  const uint8_t* body = nullptr;
  size_t body_size = 0;
  std::vector<uint8_t> trailer;  // a data descriptor after the data
  // A copied entry: the old local part, and whether it is copied whole or gets a
  // new local header (header above) and perhaps a new data descriptor.
  bool copied = false;
  bool new_header = false;
  bool new_descriptor = false;
  uint64_t old_header_start = 0;
  uint64_t old_data_start = 0;
  uint64_t old_data_length = 0;
  uint64_t old_descriptor_length = 0;

  uint64_t LocalSize() const {
    if (!copied) return header.size() + body_size + trailer.size();
    const uint64_t head = new_header ? header.size() : old_data_start - old_header_start;
    return head + old_data_length + (new_descriptor ? 16 : old_descriptor_length);
  }
  const TZipHeaderInfo& Record() const { return old ? *old : *record; }
  uint64_t CentralSize() const {
    const TZipHeaderInfo& r = Record();
    return kCentralHeaderSize + name.size() + central_extra.size() + (r.comment ? r.comment->size() : 0);
  }
};

// The new archive: its entries in file order and its end record. Two entries of
// one name are refused (CheckNames).
struct TZipWriter::UpdatePlan {
  std::vector<PlannedEntry> entries;
  std::vector<size_t> new_entries;  // indexes of the entries not copied
  TEndCentral end;
  uint64_t local_size = 0;  // bytes of all local parts so far

  // Whether a new entry of r's name is planned already.
  bool Contains(const TZipHeaderInfo& r) const {
    for (size_t i : new_entries)
      if (SameFoldedName(*entries[i].record, r)) return true;
    return false;
  }
  // Refuses a plan that holds two entries of one name, a-z folded.
  void CheckNames() const {
    std::vector<std::pair<uint64_t, size_t>> hashes(entries.size());
    for (size_t i = 0; i < entries.size(); ++i)
      hashes[i] = {FoldedNameHash(entries[i].Record().path, entries[i].Record().file_name), i};
    std::sort(hashes.begin(), hashes.end());
    for (size_t i = 1; i < hashes.size(); ++i)
      for (size_t j = i; j-- > 0 && hashes[j].first == hashes[i].first;)
        if (SameFoldedName(entries[hashes[i].second].Record(), entries[hashes[j].second].Record()))
          throw EListError("Duplicate Object index");
  }
  void Add(PlannedEntry entry) {
    if (entries.size() >= static_cast<size_t>(kMaxListSize))
      throw EListError("List capacity out of bounds (" + std::to_string(entries.size() + 1) + ")");
    entry.offset = local_size;
    local_size += entry.LocalSize();
    if (!entry.old) new_entries.push_back(entries.size());
    entries.push_back(std::move(entry));
    ++end.total_entries;
    ++end.entries_this_disk;
  }
  // The size of the whole new archive.
  uint64_t ArchiveSize() const {
    uint64_t size = local_size + kEndRecordSize + (end.comment ? end.comment->size() : 0);
    for (const PlannedEntry& e : entries) size += e.CentralSize();
    return size;
  }
};

// Plans the copy of an old entry: where its local part lies, and whether its
// local header can be copied as it is.
void TZipWriter::PlanCopy(TZipHeaderInfo& old, PlannedEntry& entry, HeaderReader& headers) {
  const TZipHeaderInfo& r = old;
  // Sizes this writer cannot give without ZIP64 (a damaged record keeps its
  // 0xFFFFFFFF): written as they are, they would make the new archive damaged.
  if (r.compressed_size >= kMasked32 || r.uncompressed_size >= kMasked32)
    throw EZipError("The sizes of \"" + r.FullName() + "\" cannot be written");
  entry.old = &old;
  entry.flags = r.flags;
  uint8_t fixed[kLocalHeaderSize];
  LocalHeader h;
  if (headers.ReadAt(old.local_header_offset, fixed, sizeof fixed) != sizeof fixed ||
      !DecodeLocalHeader(fixed, h))
    throw EBadZipFile();
  std::string old_name(h.name_length, '\0'), old_extra(h.extra_length, '\0');
  if (headers.ReadAt(old.local_header_offset + kLocalHeaderSize, old_name.data(), old_name.size()) !=
          old_name.size() ||
      headers.ReadAt(old.local_header_offset + kLocalHeaderSize + h.name_length, old_extra.data(),
                     old_extra.size()) != old_extra.size())
    throw EFatalUnzipError();
  const bool renamed = !r.stored_name;
  const bool zip64_local = FindExtraField(old_extra, kExtraZip64).has_value();
  entry.copied = true;
  entry.old_header_start = old.local_header_offset;
  entry.old_data_start = old.local_header_offset + h.Span();
  entry.old_data_length = r.compressed_size;
  if (r.flags & kFlagDataDescriptor)
    entry.old_descriptor_length =
        DescriptorLength(headers, entry.old_data_start + entry.old_data_length, r.crc, zip64_local);
  if (entry.old_data_start + entry.old_data_length + entry.old_descriptor_length > file_->Size())
    throw EFatalUnzipError();
  entry.name = NameForWriting(r, entry.flags);
  if (!r.central_extra.empty()) entry.central_extra = ExtraForRewrite(r.central_extra, renamed);
  entry.local_extra_length = h.extra_length;
  if (!renamed && !zip64_local) return;  // the local part goes over byte for byte

  // A new local header: the old one's fields, with the new name (and its flag),
  // the real sizes where ZIP64 held them, and the extra fields that still apply.
  entry.new_header = true;
  entry.new_descriptor = zip64_local && (r.flags & kFlagDataDescriptor);
  if (renamed) h.flags = static_cast<uint16_t>((h.flags & ~kFlagUtf8Names) | (entry.flags & kFlagUtf8Names));
  if (h.compressed_size == kMasked32) h.compressed_size = static_cast<uint32_t>(r.compressed_size);
  if (h.uncompressed_size == kMasked32) h.uncompressed_size = static_cast<uint32_t>(r.uncompressed_size);
  const std::string local_name = renamed ? entry.name : old_name;
  const std::string extra = ExtraForRewrite(old_extra, renamed);
  h.name_length = static_cast<uint16_t>(local_name.size());
  h.extra_length = static_cast<uint16_t>(extra.size());
  entry.local_extra_length = h.extra_length;
  entry.header = EncodeLocal(h, local_name, extra);
}

// Plans the entry named by item with the stream's data, in place of replaced when
// given. False when an entry of that name is in the new archive already.
bool TZipWriter::PlanNewEntry(const std::string& item, TMemoryStream* stream, const std::string* comment,
                              const TZipHeaderInfo* replaced, UpdatePlan& plan) {
  PlannedEntry entry;
  entry.record = std::make_unique<TZipHeaderInfo>();
  TZipHeaderInfo& r = *entry.record;
  r.dos_date_time = DosNow();
  NormalizeName(item, store_paths_, r.path, r.file_name);
  const bool directory = !item.empty() && item.back() == '\\';
  if (plan.Contains(r)) return false;  // the same name was planned already
  if (comment && !comment->empty()) {
    r.comment = *comment;
    r.comment_length = static_cast<uint16_t>(comment->size());
  }
  const uint8_t* data = stream->Bytes().data();
  const size_t size = directory ? 0 : stream->Size();
  if (size > kMaxEntrySize) throw EZipError("The item is too large for an archive");
  r.uncompressed_size = size;
  r.version_made_by = kMadeByUnix20;
  r.version_needed = kVersion20;
  r.disk_number_start = 0;
  r.external_attributes = directory ? kUnixDirectoryAttributes : kUnixFileAttributes;
  if (replaced) {
    // What still applies of the entry it replaces: its owner, and the permissions
    // of a Unix regular file.
    const uint32_t mode = replaced->external_attributes >> 16;
    if (!directory && replaced->Host() == kHostUnix && (mode & 0170000) == 0100000)
      r.external_attributes = ((0100000u | (mode & 07777)) << 16) | 0x20;
    r.central_extra = ExtraForReplacement(replaced->central_extra);
    uint8_t fixed[kLocalHeaderSize];
    LocalHeader old;
    if (file_->ReadAt(replaced->local_header_offset, fixed, sizeof fixed) == sizeof fixed &&
        DecodeLocalHeader(fixed, old)) {
      std::string old_extra(old.extra_length, '\0');
      if (file_->ReadAt(replaced->local_header_offset + kLocalHeaderSize + old.name_length, old_extra.data(),
                        old_extra.size()) == old_extra.size())
        r.local_extra = ExtraForReplacement(old_extra);
    }
  }

  // Compress first: the header then goes out once, complete.
  bool stored = true;
  uint16_t level_flags = 0;
  bool no_compress = pack_level_ == 0 || directory;
  for (const std::string& pattern : no_compress_list_)
    if (!no_compress &&
        WildcardMatch(codepage::AsciiLowerCase(pattern), codepage::AsciiLowerCase(r.file_name)))
      no_compress = true;
  r.internal_attributes = 0;
  // The checksum, and the compression unless the entry is stored: on a worker
  // thread for a large item, so that the window stays responsive meanwhile.
  DeflateOutput deflated;
  auto digest = [&] {
    r.crc = size ? Crc32(0, data, size) : 0;
    if (!no_compress) deflated = Deflate(data, size, pack_level_);
  };
  if (size >= kWorkerThreshold)
    OffTheWindowThread(digest);
  else
    digest();
  if (!no_compress) {
    level_flags = pack_level_ <= 2 ? kFlagDeflateFast : pack_level_ >= 8 ? kFlagDeflateMax : 0;
    r.internal_attributes = deflated.is_text ? 1 : 0;
    if (!deflated.stored_whole) {
      entry.body_storage = std::move(deflated.data);
      stored = false;
    }
  }
  r.method = stored ? kMethodStored : kMethodDeflated;
  r.flags = level_flags;
  entry.flags = r.flags;
  entry.body = stored ? data : entry.body_storage.data();
  entry.body_size = stored ? size : entry.body_storage.size();
  if (!password_.empty()) {
    r.flags |= kFlagEncrypted;
    entry.flags = r.flags;
    std::vector<uint8_t> encrypted(kEncryptionHeaderSize + entry.body_size);
    std::random_device random;
    for (size_t i = 0; i < 10; ++i) encrypted[i] = static_cast<uint8_t>(random());
    encrypted[10] = static_cast<uint8_t>(r.crc >> 16);
    encrypted[11] = static_cast<uint8_t>(r.crc >> 24);
    if (entry.body_size) std::memcpy(encrypted.data() + kEncryptionHeaderSize, entry.body, entry.body_size);
    ZipCrypto(password_).Encrypt(encrypted.data(), encrypted.size());
    entry.body_storage = std::move(encrypted);
    entry.body = entry.body_storage.data();
    entry.body_size = entry.body_storage.size();
  }
  if (entry.body_size > kMaxEntrySize) throw EZipError("The item is too large for an archive");
  r.compressed_size = entry.body_size;
  entry.name = NameForWriting(r, entry.flags);
  r.flags = entry.flags;
  entry.central_extra = r.central_extra;
  r.local_extra_length = static_cast<uint16_t>(r.local_extra.size());
  entry.local_extra_length = r.local_extra_length;

  entry.header = EncodeNewLocal(r, entry.name);
  plan.Add(std::move(entry));
  return true;
}

// Plans an entry of another archive under the name item, its stored bytes
// unchanged (AddStoredEntries).
void TZipWriter::PlanStoredEntry(const std::string& item, const TStoredEntry& stored, UpdatePlan& plan) {
  const TZipHeaderInfo& from = stored.record;
  PlannedEntry entry;
  entry.record = std::make_unique<TZipHeaderInfo>();
  TZipHeaderInfo& r = *entry.record;
  NormalizeName(item, store_paths_, r.path, r.file_name);
  if (plan.Contains(r)) throw EListError("Duplicate Object index");
  if (stored.data.size() > kMaxEntrySize || from.uncompressed_size > kMaxEntrySize)
    throw EZipError("The item is too large for an archive");
  if (stored.data.size() != from.compressed_size ||
      (from.Encrypted() && stored.data.size() < kEncryptionHeaderSize))
    throw EZipError("The stored data of \"" + r.FullName() + "\" does not match its record");
  if (from.comment && from.comment->size() > 0xFFFF) throw EZipError("Comment too long");
  r.version_made_by = from.version_made_by;
  r.version_needed = from.version_needed;
  r.method = from.method;
  // Kept bit for bit: an encrypted entry with a data descriptor checks its
  // password against the time.
  r.dos_date_time = from.dos_date_time;
  r.crc = from.crc;
  r.compressed_size = stored.data.size();
  r.uncompressed_size = from.uncompressed_size;
  r.internal_attributes = from.internal_attributes;
  r.external_attributes = from.external_attributes;
  r.disk_number_start = 0;
  if (from.comment && !from.comment->empty()) {
    r.comment = *from.comment;
    r.comment_length = static_cast<uint16_t>(from.comment->size());
  }
  // The name's stored bytes go over unchanged when they name the entry as item
  // does; otherwise the name is encoded afresh and a Unicode path field, which
  // names the old bytes, is left out.
  const bool same_name = from.stored_name && r.path == from.path && r.file_name == from.file_name;
  const bool descriptor = from.Encrypted() && (from.flags & kFlagDataDescriptor);
  entry.flags = static_cast<uint16_t>(from.flags & ~(kFlagDataDescriptor | kFlagUtf8Names));
  if (descriptor) entry.flags |= kFlagDataDescriptor;
  if (same_name) {
    r.stored_name = from.stored_name;
    entry.flags |= from.flags & kFlagUtf8Names;
  }
  entry.name = NameForWriting(r, entry.flags);
  r.flags = entry.flags;
  r.central_extra = ExtraForRewrite(from.central_extra, !same_name);
  r.local_extra = ExtraForRewrite(stored.local_extra, !same_name);
  entry.central_extra = r.central_extra;
  r.local_extra_length = static_cast<uint16_t>(r.local_extra.size());
  entry.local_extra_length = r.local_extra_length;
  r.stored_name.reset();  // ApplyPlan sets the bytes written

  entry.header = EncodeNewLocal(r, entry.name);
  entry.body = stored.data.data();
  entry.body_size = stored.data.size();
  if (descriptor) {
    entry.trailer.resize(16);
    Put32(entry.trailer.data(), kDataDescriptorSignature);
    Put32(entry.trailer.data() + 4, r.crc);
    Put32(entry.trailer.data() + 8, static_cast<uint32_t>(r.compressed_size));
    Put32(entry.trailer.data() + 12, static_cast<uint32_t>(r.uncompressed_size));
  }
  plan.Add(std::move(entry));
}

// Goes through the old entries in file order: each is removed, replaced by the new
// entry, or copied; then the new entries not placed yet. Returns the count of
// entries added, replaced or removed.
int TZipWriter::PlanEntries(UpdateMode mode, TMemoryStream* stream, const std::string* comment,
                            UpdatePlan& plan) {
  int count = 0;
  std::vector<std::string> wanted;  // normalised, lower-cased names of the FilesList items
  for (const std::string& item : files_list_) {
    std::string path, file_name;
    NormalizeName(item, store_paths_, path, file_name);
    wanted.push_back(codepage::AsciiLowerCase(path + file_name));
  }
  const bool removal = mode == UpdateMode::Removal;
  // Batch: files_list_ holds the incoming names; origin maps each to its entry.
  std::vector<size_t> origin(files_list_.size());
  for (size_t i = 0; i < origin.size(); ++i) origin[i] = i;
  auto plan_new = [&](const std::string& item, size_t i, const TZipHeaderInfo* replaced) {
    if (mode != UpdateMode::Batch) return PlanNewEntry(item, stream, comment, replaced, plan);
    PlanStoredEntry(item, (*batch_)[origin[i]], plan);
    return true;
  };
  if (physical_) {
    HeaderReader headers(*this, true);
    const TSortedZip& olds = *physical_;
    const size_t old_count = static_cast<size_t>(olds.Count());
    plan.entries.reserve(old_count + files_list_.size());
    size_t far = 0;
    for (size_t k = 0; k < old_count; ++k) {
      TZipHeaderInfo* old = olds[static_cast<int>(k)];
      // Headers far apart are read alone, not with the data after them.
      headers.SetAhead(HeaderBlockAhead(
          k, old_count, far, [&](size_t j) { return olds[static_cast<int>(j)]->local_header_offset; }));
      if (!old->comment && old->comment_length != 0) old->comment = ReadCommentFromFile(*old);
      if (removal) {
        const std::string lower =
            files_list_.empty() ? std::string() : codepage::AsciiLowerCase(old->FullName());
        bool remove = old->selection_mark != 0;
        for (size_t i = 0; !remove && i < files_list_.size(); ++i) {
          const std::string& item = files_list_[i];
          bool hit = HasPatternChars(item) ? WildcardMatch(codepage::AsciiLowerCase(item),
                                                           item.find('\\') == std::string::npos
                                                               ? codepage::AsciiLowerCase(old->file_name)
                                                               : lower)
                                           : codepage::AsciiLowerCase(item) == lower;
          if (hit) {
            remove = true;
            if (!HasPatternChars(item)) files_list_.erase(files_list_.begin() + static_cast<long>(i));
          }
        }
        if (remove) {
          ++count;
          continue;
        }
      } else if (mode == UpdateMode::Stream || mode == UpdateMode::Batch) {
        auto it = std::find_if(wanted.begin(), wanted.end(),
                               [&](const std::string& name) { return HasLowerName(*old, name); });
        if (it != wanted.end()) {
          size_t i = static_cast<size_t>(it - wanted.begin());
          std::string item = files_list_[i];
          if (plan_new(item, i, old)) ++count;
          files_list_.erase(files_list_.begin() + static_cast<long>(i));
          wanted.erase(wanted.begin() + static_cast<long>(i));
          origin.erase(origin.begin() + static_cast<long>(i));
          continue;
        }
      }
      PlannedEntry entry;
      PlanCopy(*old, entry, headers);
      plan.Add(std::move(entry));
    }
  }
  if (mode == UpdateMode::Stream || mode == UpdateMode::Batch)
    for (size_t i = 0; i < files_list_.size(); ++i)
      if (plan_new(files_list_[i], i, nullptr)) ++count;
  return count;
}

void TZipWriter::OffTheWindowThread(const std::function<void()>& work) {
  if (!Pumping()) {
    work();
    return;
  }
  std::packaged_task<void()> task(work);
  std::future<void> done = task.get_future();
  worker_running_ = true;
  std::thread worker(std::move(task));
  struct Join {
    std::thread& worker;
    bool& running;
    ~Join() {
      worker.join();
      running = false;
    }
  } join{worker, worker_running_};
  do ProcessMessages();
  while (done.wait_for(kPumpInterval) != std::future_status::ready);
  done.get();  // the work's exception, if it threw
}

void TZipWriter::PumpWhenDue() {
  if (!Pumping()) return;
  if (std::chrono::steady_clock::now() - last_pump_ < kPassPumpInterval) return;
  ProcessMessages();
  last_pump_ = std::chrono::steady_clock::now();
}

namespace {

// Copies count bytes of the old file from position to where the output stands,
// and sends them on their way to the disk (see StartWriteback).
void CopyPiece(TLFNFileStream& out, TLFNFileStream& old, uint64_t position, uint64_t count) {
  if (out.CopyFrom(old, position, count) != count) {
    // Short: another program may have cut the file since it was opened.
    const std::optional<uint64_t> now = old.SizeOnDisk();
    if (old.Size() < position + count || (now && *now < position + count)) throw EFatalUnzipError();
    throw ENotEnoughRoom();
  }
  out.StartWriteback();
}

}  // namespace

// Copies length bytes of the old file from position to the output in pieces, each
// on a worker thread while the window's messages are dispatched, so that a long
// run of old entries does not hold up the window (nor a clipboard change that
// must be read before the next copy replaces it), however slow the disk. Each
// piece is sent on its way to the disk while the next one is copied, so the final
// sync has little left to wait for. The old file goes when the new one replaces
// it, so the cached pages of each piece copied are let go at once: the next
// pieces' pages take the memory they leave, rather than memory freed long ago.
// (In a virtual machine that hands freed memory back to its host, such memory
// costs a fault in the host per page: at 1.4 GB that made an add 2.2-3.5 s
// rather than 1.4-1.7 s. The cache stays as large as the copy, not twice.)
void TZipWriter::CopyOldBytes(TLFNFileStream& out, uint64_t position, uint64_t length) {
  while (length > 0) {
    const uint64_t piece = std::min(length, kCopyPiece);
    auto copy = [&] {
      CopyPiece(out, *file_, position, piece);
      file_->AdviseDoneWith(position, piece);
    };
    if (piece >= kWorkerThreshold) {
      OffTheWindowThread(copy);
    } else {
      copy();
      ProcessMessages();
    }
    position += piece;
    length -= piece;
  }
}

// The copy of an add's old local parts, the first length bytes of the old file,
// on a thread of its own: started before the checks of an append (see CanAppend)
// and the making of the new entry, it goes on while they run rather than after
// them. AppendEntry waits for it; where the add turns out to need a rewrite, it is
// stopped and its output emptied. Until the checks are over (LetGo), the old
// file's pages stay in the cache, for the check reads them too; from then on
// they go as the copy goes, as in CopyOldBytes.
class TZipWriter::CopyAhead {
 public:
  CopyAhead(TLFNFileStream& out, TLFNFileStream& old, uint64_t length)
      : out_(out), old_(old), length_(length), thread_([this] { Run(); }) {}
  ~CopyAhead() { Stop(); }
  CopyAhead(const CopyAhead&) = delete;
  CopyAhead& operator=(const CopyAhead&) = delete;

  void LetGo() { let_go_ = true; }
  // Waits for the copy to end; throws what it threw, as CopyOldBytes throws it.
  void Wait() {
    Join();
    if (error_) std::rethrow_exception(error_);
    old_.AdviseDoneWith(released_, length_ - released_);
    released_ = length_;
  }
  // Stops the copy after the piece under way; what it threw is forgotten.
  void Stop() {
    stop_ = true;
    Join();
  }
  // Stops the copy and empties the output, for a rewrite to write from the start.
  void Discard() {
    Stop();
    out_.Restart();
  }

 private:
  void Join() {
    if (thread_.joinable()) thread_.join();
  }
  void Run() {
    try {
      for (uint64_t done = 0; done < length_ && !stop_;) {
        const uint64_t piece = std::min(length_ - done, kCopyPiece);
        CopyPiece(out_, old_, done, piece);
        done += piece;
        if (let_go_) {
          old_.AdviseDoneWith(released_, done - released_);
          released_ = done;
        }
      }
    } catch (...) {
      error_ = std::current_exception();
    }
  }

  TLFNFileStream& out_;
  TLFNFileStream& old_;
  const uint64_t length_;
  std::atomic<bool> stop_ = false, let_go_ = false;
  uint64_t released_ = 0;  // the old pages let go so far
  std::exception_ptr error_;
  std::thread thread_;  // last: it starts once the rest is in place
};

// Starts copying the old local parts for an append, unless there are none or the
// archive might then outgrow the size limit, which is checked before anything is
// written: the new entry, whatever it compresses to, must surely fit. Not under
// a message pump: there nobody waits for the add itself (AutoSave), while the
// copy beside the check's worker makes two busy threads, and on a machine of two
// cores the window thread may then wait for a CPU.
std::unique_ptr<TZipWriter::CopyAhead> TZipWriter::StartCopyAhead(TLFNFileStream& out,
                                                                  const TMemoryStream* stream) {
  if (Pumping()) return nullptr;
  const uint64_t data = stream ? stream->Size() : 0;
  const uint64_t most_added = data + data / 8 + (uint64_t{1} << 20);  // headers, names, comments
  if (end_.directory_offset == 0 || file_->Size() > kMaxArchiveSize ||
      most_added > kMaxArchiveSize - file_->Size())
    return nullptr;
  return std::make_unique<CopyAhead>(out, *file_, end_.directory_offset);
}

// Writes the entries' local parts. Old entries whose local parts follow each
// other unchanged are copied in one run.
void TZipWriter::WriteEntries(TLFNFileStream& out, UpdatePlan& plan) {
  uint64_t run_from = 0, run_length = 0;
  auto flush_run = [&] {
    if (run_length == 0) return;
    CopyOldBytes(out, run_from, run_length);
    run_length = 0;
  };
  for (PlannedEntry& entry : plan.entries) {
    if (out.Position() + run_length != entry.offset) throw EZipError("Archive update out of step");
    if (!entry.copied) {
      flush_run();
      WriteNewEntry(out, entry);
    } else if (!entry.new_header) {
      if (run_length == 0 || run_from + run_length != entry.old_header_start) {
        flush_run();
        run_from = entry.old_header_start;
      }
      run_length += entry.LocalSize();
    } else {
      flush_run();
      CopyOldEntry(out, entry);
    }
  }
  flush_run();
}

// Writes a new entry: its local header, then its data in pieces (a large one on a
// worker thread).
void TZipWriter::WriteNewEntry(TLFNFileStream& out, PlannedEntry& entry) {
  WriteAll(out, entry.header.data(), entry.header.size());
  for (size_t done = 0; done < entry.body_size;) {
    const size_t piece = std::min(static_cast<size_t>(kCopyPiece), entry.body_size - done);
    auto write = [&] { WriteAll(out, entry.body + done, piece); };
    if (piece >= kWorkerThreshold) {
      OffTheWindowThread(write);
    } else {
      write();
      ProcessMessages();
    }
    done += piece;
  }
  if (!entry.trailer.empty()) WriteAll(out, entry.trailer.data(), entry.trailer.size());
}

// Writes an old entry under a new local header: the header, then the old data
// byte for byte, then its data descriptor (a new one where the old one had ZIP64
// sizes).
void TZipWriter::CopyOldEntry(TLFNFileStream& out, PlannedEntry& entry) {
  WriteAll(out, entry.header.data(), entry.header.size());
  const uint64_t length = entry.old_data_length + (entry.new_descriptor ? 0 : entry.old_descriptor_length);
  CopyOldBytes(out, entry.old_data_start, length);
  if (entry.new_descriptor) {
    const TZipHeaderInfo& r = entry.Record();
    uint8_t descriptor[16];
    Put32(descriptor, kDataDescriptorSignature);
    Put32(descriptor + 4, r.crc);
    Put32(descriptor + 8, static_cast<uint32_t>(r.compressed_size));
    Put32(descriptor + 12, static_cast<uint32_t>(r.uncompressed_size));
    WriteAll(out, descriptor, sizeof descriptor);
  }
  ProcessMessages();
}

// Writes the central directory and the end record, on a worker thread while the
// window's messages are dispatched: at 60,000 entries that is 5 MB of records
// made and written, and a write may wait for the disk.
void TZipWriter::WriteDirectory(TLFNFileStream& out, UpdatePlan& plan) {
  OffTheWindowThread([&] {
    const uint64_t directory_offset = out.Position();
    for (PlannedEntry& entry : plan.entries) WriteCentralRecord(out, entry);
    WriteEndRecord(out, plan.end, directory_offset);
  });
}

// Writes an entry's central record where the output stands (its central offset).
void TZipWriter::WriteCentralRecord(TLFNFileStream& out, PlannedEntry& entry) {
  const TZipHeaderInfo& r = entry.Record();
  static const std::string kNone;
  const std::string& text = r.comment ? *r.comment : kNone;
  CentralHeader h;
  h.version_made_by = r.version_made_by;
  h.version_needed = r.version_needed;
  h.flags = entry.flags;
  h.method = r.method;
  h.dos_date_time = r.dos_date_time;
  h.crc = r.crc;
  h.compressed_size = static_cast<uint32_t>(r.compressed_size);
  h.uncompressed_size = static_cast<uint32_t>(r.uncompressed_size);
  h.name_length = static_cast<uint16_t>(entry.name.size());
  h.extra_length = static_cast<uint16_t>(entry.central_extra.size());
  h.comment_length = static_cast<uint16_t>(text.size());
  h.disk_number_start = 0;  // the whole archive is one file, whatever the old record said
  h.internal_attributes = r.internal_attributes;
  h.external_attributes = r.external_attributes;
  h.local_header_offset = static_cast<uint32_t>(entry.offset);
  std::vector<uint8_t>& bytes = central_scratch_;
  bytes.resize(entry.CentralSize());
  EncodeCentralHeader(h, bytes.data());
  uint8_t* p = bytes.data() + kCentralHeaderSize;
  std::memcpy(p, entry.name.data(), entry.name.size());
  p += entry.name.size();
  if (!entry.central_extra.empty()) std::memcpy(p, entry.central_extra.data(), entry.central_extra.size());
  p += entry.central_extra.size();
  if (!text.empty()) std::memcpy(p, text.data(), text.size());
  entry.central_offset = out.Position();
  WriteAll(out, bytes.data(), bytes.size());
}

// Writes the end record (and the archive comment) of a directory that began at
// directory_offset and ends where the output stands; end gets its values.
void TZipWriter::WriteEndRecord(TLFNFileStream& out, TEndCentral& end, uint64_t directory_offset) {
  const std::string archive_comment = end.comment ? *end.comment : std::string();
  end.directory_offset = directory_offset;
  end.directory_size = out.Position() - directory_offset;
  EndRecord record;
  record.entries_this_disk = static_cast<uint16_t>(end.entries_this_disk);
  record.total_entries = static_cast<uint16_t>(end.total_entries);
  record.directory_size = static_cast<uint32_t>(end.directory_size);
  record.directory_offset = static_cast<uint32_t>(end.directory_offset);
  record.comment_length = static_cast<uint16_t>(archive_comment.size());
  uint8_t end_record[kEndRecordSize];
  EncodeEndRecord(record, end_record);
  end_record_position_ = out.Position();
  zip64_end_position_ = end_record_position_;
  WriteAll(out, end_record, sizeof end_record);
  if (!archive_comment.empty()) WriteAll(out, archive_comment.data(), archive_comment.size());
  end.comment_position = out.Position() - archive_comment.size();
}

// Makes the written plan the loaded directory: the copied entries' records get
// their new places, names and fields; the records of entries left out are freed.
// The sorted view by name is brought up to date by a merge, without sorting again.
void TZipWriter::ApplyPlan(UpdatePlan& plan) {
  std::vector<TZipHeaderInfo*> records, renamed;
  records.reserve(plan.entries.size());
  for (PlannedEntry& entry : plan.entries) {
    TZipHeaderInfo* r = entry.old ? entry.old : entry.record.release();
    if (entry.old && !r->stored_name) renamed.push_back(r);  // given a new name since the view was made
    r->flags = entry.flags;
    r->local_header_offset = entry.offset;
    r->central_header_offset = entry.central_offset;
    r->comment_length = static_cast<uint16_t>(r->comment ? r->comment->size() : 0);
    r->stored_name = std::move(entry.name);
    r->central_extra = std::move(entry.central_extra);
    r->local_extra.clear();
    r->local_extra_length = entry.local_extra_length;
    records.push_back(r);
  }
  // The old records in the plan now belong to the new list; the others go.
  std::vector<TZipHeaderInfo*> old_records =
      physical_ ? physical_->ReleaseAll() : std::vector<TZipHeaderInfo*>();
  std::vector<TZipHeaderInfo*> dropped;
  {
    std::vector<TZipHeaderInfo*> kept;
    for (const PlannedEntry& entry : plan.entries)
      if (entry.old) kept.push_back(entry.old);
    std::sort(kept.begin(), kept.end());
    for (TZipHeaderInfo* r : old_records)
      if (!std::binary_search(kept.begin(), kept.end(), r)) dropped.push_back(r);
  }
  std::unique_ptr<TSortedZip> old_view = std::move(sorted_);
  physical_ = std::make_unique<TSortedZip>(true, TDuplicates::dupError, TZipSortMode::ByNone);
  for (TZipHeaderInfo* r : records) physical_->AppendItem(r);
  end_ = plan.end;
  end_.modified = false;
  directory_loaded_ = true;
  damage_.clear();
  recovered_ = false;
  stamp_ = StampOf(zip_name_);
  selected_count_ = 0;
  for (TZipHeaderInfo* r : *physical_) selected_count_ += r->selection_mark ? 1 : 0;

  if (old_view && sort_mode_ == TZipSortMode::ByName && old_view->Mode() == sort_mode_) {
    // The names are those of the old view less the entries left out or renamed,
    // plus the new and the renamed ones, all different (the plan refuses two of one
    // name): a merge. The entries the old view keeps are still in its order; a
    // renamed one may not be, so it goes in again by its new name.
    std::vector<TZipHeaderInfo*> left = dropped;
    left.insert(left.end(), renamed.begin(), renamed.end());
    std::sort(left.begin(), left.end());
    std::vector<TZipHeaderInfo*> added = renamed;
    for (size_t i : plan.new_entries) added.push_back(records[i]);
    auto less = [&](const TZipHeaderInfo* a, const TZipHeaderInfo* b) { return old_view->Compare(a, b) < 0; };
    std::sort(added.begin(), added.end(), less);
    auto view = std::make_unique<TSortedZip>(false, TDuplicates::dupAccept, sort_mode_);
    auto next = added.begin();
    for (TZipHeaderInfo* r : *old_view) {
      if (std::binary_search(left.begin(), left.end(), r)) continue;
      for (; next != added.end() && less(*next, r); ++next) view->AppendItem(*next);
      view->AppendItem(r);
    }
    for (; next != added.end(); ++next) view->AppendItem(*next);
    sorted_ = std::move(view);
  } else {
    RebuildSortedView();
  }
  for (TZipHeaderInfo* r : dropped) delete r;
  FactsFromRecords();
}

namespace {

// Whether the record's central record reads back as written: no value that reads
// as "see the ZIP64 field", an extra field kept whole by a rewrite, a date that
// needs no mending, disk 0.
bool WrittenAsItIs(const TZipHeaderInfo& r) {
  bool zip64 = false;
  const bool whole = ForEachExtraField(r.central_extra, [&](uint16_t id, auto) {
    zip64 = id == kExtraZip64;
    return !zip64;
  });
  return whole && !zip64 && r.disk_number_start == 0 && r.compressed_size < kMasked32 &&
         r.uncompressed_size < kMasked32 && r.local_header_offset < kMasked32 &&
         SanitizeDosDateTime(r.dos_date_time) == r.dos_date_time;
}

}  // namespace

namespace {

// Whether the records' name hashes and one more surely all differ: an
// open-addressing set, at most half full, of 32-bit tags (the hash's high half, its
// low bits choosing the slot), the slots looked up a little ahead of their turn.
// Two hashes alike, or two tags alike where they meet (once in billions of names),
// give false: the caller leaves those to the exact check.
bool HashesDiffer(const TCentralFactsList& facts, uint64_t more) {
  size_t slots = 16;
  while (slots < 2 * (facts.size() + 1)) slots *= 2;
  std::vector<uint32_t, TPrefaultedAllocator<uint32_t>> table(slots, 0);
  const auto slot_of = [slots](uint64_t h) { return static_cast<size_t>(h) & (slots - 1); };
  auto insert = [&](uint64_t h) {
    const uint32_t tag = static_cast<uint32_t>(h >> 32) | 1;  // 0 marks a free slot
    for (size_t i = slot_of(h);; i = (i + 1) & (slots - 1)) {
      if (table[i] == tag) return false;
      if (table[i] == 0) {
        table[i] = tag;
        return true;
      }
    }
  };
  constexpr size_t kAhead = 8;
  for (size_t i = 0; i < facts.size(); ++i) {
    if (i + kAhead < facts.size()) __builtin_prefetch(table.data() + slot_of(facts[i + kAhead].name_hash), 1);
    if (!insert(facts[i].name_hash)) return false;
  }
  return insert(more);
}

}  // namespace

void TZipWriter::FactsFromRecords() {
  central_facts_.clear();
  central_facts_.reserve(static_cast<size_t>(physical_->Count()) + 1);
  bool as_written = true;
  for (const TZipHeaderInfo* r : *physical_) {
    TCentralFacts& f = central_facts_.emplace_back();
    f.local_header_offset = r->local_header_offset;
    f.compressed_size = static_cast<uint32_t>(std::min<uint64_t>(r->compressed_size, kMasked32));
    f.name_hash = FoldedNameHash(r->path, r->file_name);
    f.crc = r->crc;
    f.flags = r->flags;
    f.disk = r->disk_number_start;
    f.as_written = WrittenAsItIs(*r);
    as_written = as_written && f.as_written;
  }
  // Written as planned: in file order, without gaps, under a plain end record.
  directory_copyable_ = as_written;
}

void TZipWriter::ReadWholeDirectory() {
  if (name_filter_.empty()) return;
  // Changes made in memory to the records read would be lost by reading again.
  if (end_.modified || selected_count_ > 0)
    throw EZipError("Changes to a partly read directory cannot be written");
  name_filter_.clear();
  directory_loaded_ = false;
  OpenStep();
  if (!damage_.empty() && !repairing_) throw EDamagedZip(damage_);
}

bool TZipWriter::MayAppend(const std::string& item) {
  if (!directory_copyable_ || !directory_loaded_ || end_.modified || repairing_ || !damage_.empty() ||
      recovered_ || !physical_ || static_cast<size_t>(physical_->Count()) > central_facts_.size())
    return false;
  std::string path, file_name;
  NormalizeName(item, store_paths_, path, file_name);
  const std::string full = path + file_name;
  // A name the filter left out might be in the file under that name.
  if (!name_filter_.empty() &&
      std::none_of(name_filter_.begin(), name_filter_.end(),
                   [&](const std::string& name) { return codepage::SameTextAscii(name, full); }))
    return false;
  return FindEntry(full) >= EntryCount();  // else replaced in place: a rewrite
}

bool TZipWriter::CanAppend(const std::string& item) {
  std::string path, file_name;
  NormalizeName(item, store_paths_, path, file_name);
  // Two entries of one name: the rewrite refuses them, or decides on a tie of hashes.
  if (!HashesDiffer(central_facts_, FoldedNameHash(path, file_name))) return false;
  return LocalPartsInPlace();
}

namespace {

enum class LocalParts { InPlace, NotInPlace, BadHeader, PastEnd };

// HeaderReader's work within a guarded pass over a window of the file (see
// RunGuarded and TFileWindow): a block of headers close together is looked at in
// the window, mapped where the window's way is to map it rather than copied out of
// the cache, which for a pass over nearly the whole file (many small entries) took
// most of its time. Headers far apart are still read one by one: a window would
// take in the data between them. A read that fails is only noted (Failed); the
// caller then reads the headers again, where the error is told.
class MappedHeaderReader {
 public:
  // local: how long the local part is that the pass goes through.
  MappedHeaderReader(TLFNFileStream& file, uint64_t size, uint64_t local)
      : file_(file), size_(size), window_(file.Handle(), size, local) {
    block_.resize(kReadAhead);
  }
  // headers: how many headers the block holds.
  void SetAhead(size_t ahead, size_t headers = 1) {
    ahead_ = std::min(ahead, kReadAhead);
    mapped_ = ahead_ >= kMapBlocksFrom && ahead <= headers * kDenseHeaders;
  }
  size_t ReadAt(uint64_t position, void* buffer, size_t count) {
    if (position >= size_) return 0;
    const size_t n = static_cast<size_t>(std::min<uint64_t>(count, size_ - position));
    const uint8_t* bytes = Peek(position, n);
    if (!bytes) return 0;
    std::memcpy(buffer, bytes, n);
    return n;
  }
  const uint8_t* Peek(uint64_t position, size_t count) {
    if (mapped_) return window_.Peek(position, count);
    if (position < start_ || position + count > start_ + length_) Fill(position, count);
    return position + count <= start_ + length_ ? block_.data() + (position - start_) : nullptr;
  }
  bool Failed() const { return failed_; }

 private:
  void Fill(uint64_t position, size_t count) {
    start_ = position;
    const size_t want =
        static_cast<size_t>(std::min<uint64_t>(std::max(count, ahead_), size_ - std::min(position, size_)));
    const ssize_t n = file_.TryReadAt(position, block_.data(), want);
    failed_ = failed_ || n < 0;
    length_ = n > 0 ? static_cast<size_t>(n) : 0;
  }

  TLFNFileStream& file_;
  uint64_t size_;
  TFileWindow window_;
  std::vector<uint8_t, TPrefaultedAllocator<uint8_t>> block_;
  uint64_t start_ = 0;
  size_t length_ = 0;
  size_t ahead_ = kReadAhead;
  bool mapped_ = false;
  bool failed_ = false;
};

// The loop of LocalPartsInPlace; stops at the first entry that is not in place or
// is refused.
template <class Headers>
LocalParts CheckLocalParts(Headers& headers, const TCentralFactsList& facts, uint64_t file_size,
                           uint64_t directory_offset) {
  size_t far = 0;
  for (size_t i = 0; i < facts.size(); ++i) {
    const TCentralFacts& f = facts[i];
    const uint64_t at = f.local_header_offset;
    // A block takes in the headers that follow closely; headers far apart are
    // read one by one rather than the data between them.
    const size_t ahead =
        HeaderBlockAhead(i, facts.size(), far, [&](size_t k) { return facts[k].local_header_offset; });
    headers.SetAhead(ahead, far - i + 1);
    const uint8_t* fixed = headers.Peek(at, kLocalHeaderSize);
    LocalHeader h;
    if (!fixed || !DecodeLocalHeader(fixed, h)) return LocalParts::BadHeader;
    // The name and extra field must be there; only the extra field matters here.
    if (at + h.Span() > file_size) return LocalParts::PastEnd;
    bool zip64_local = false;
    if (h.extra_length > 0) {
      const uint8_t* extra = headers.Peek(at + kLocalHeaderSize + h.name_length, h.extra_length);
      if (!extra) return LocalParts::PastEnd;  // the file was cut short since its size was taken
      zip64_local =
          FindExtraField({reinterpret_cast<const char*>(extra), h.extra_length}, kExtraZip64).has_value();
    }
    const uint64_t data_start = at + h.Span();
    const uint64_t descriptor =
        (f.flags & kFlagDataDescriptor)
            ? DescriptorLength(headers, data_start + f.compressed_size, f.crc, zip64_local)
            : 0;
    const uint64_t end = data_start + f.compressed_size + descriptor;
    if (end > file_size) return LocalParts::PastEnd;
    const uint64_t limit = i + 1 < facts.size() ? facts[i + 1].local_header_offset : directory_offset;
    if (zip64_local || end > limit) return LocalParts::NotInPlace;
  }
  return LocalParts::InPlace;
}

}  // namespace

// Reads every old local header as the rewrite does, with the same errors; true
// when each local part lies whole before the next one (the last one before the
// directory) and would be copied byte for byte. The headers are taken in blocks:
// close together, through a file window (mapped with its pages in place, or read
// whole where that is cheaper); some KiB apart, by reads (see kDenseHeaders). (A
// mapping whose pages came one by one as they were touched cost a fault per header
// page: in a virtual machine a third of the whole append at 10,000 items of 100 MB.)
// The copy, which runs beside the pass or after it, reads the whole local part,
// so the disk is asked for it first, all of it at once: headers far apart that
// are not in the cache then arrive together rather than one read of the disk
// after the other. The pass runs on a worker thread while the window's messages
// are dispatched: a read from a disk busy with writeback, or the advice to read
// 1 GB ahead, can take tens of ms.
bool TZipWriter::LocalPartsInPlace() {
  const uint64_t file_size = file_->Size();
  LocalParts result = LocalParts::InPlace;
  OffTheWindowThread([&] {
    file_->AdviseWillRead(0, end_.directory_offset);
    if (file_size <= SIZE_MAX) {
      MappedHeaderReader headers(*file_, file_size, end_.directory_offset);
      auto pass = [&] {
        result = CheckLocalParts(headers, central_facts_, file_size, end_.directory_offset);
      };
      // Cut short within the last page touched, the mapping reads zeros there
      // rather than fault: the file must still be as long as it was.
      const bool whole = RunGuarded(pass) && !headers.Failed();
      const std::optional<uint64_t> now = file_->SizeOnDisk();
      if (whole && now && *now >= file_size) return;
    }
    // Read again as the rewrite reads them, where the errors are told as it tells
    // them: a read that failed, a mapping refused or a file cut short meanwhile.
    HeaderReader headers(*this, false);
    result = CheckLocalParts(headers, central_facts_, file_size, end_.directory_offset);
  });
  if (result == LocalParts::BadHeader) throw EBadZipFile();
  if (result == LocalParts::PastEnd) throw EFatalUnzipError();
  return result == LocalParts::InPlace;
}

// Writes the archive with the new entry appended (see CanAppend); returns 1.
int TZipWriter::AppendEntry(TLFNFileStream& out, TMemoryStream* stream, const std::string* comment,
                            UpdatePlan& plan, CopyAhead* ahead) {
  if (central_facts_.size() >= static_cast<size_t>(kMaxListSize))
    throw EListError("List capacity out of bounds (" + std::to_string(central_facts_.size() + 1) + ")");
  const uint64_t directory_offset = end_.directory_offset, directory_size = end_.directory_size;
  plan.local_size = directory_offset;
  if (!PlanNewEntry(files_list_.front(), stream, comment, nullptr, plan))
    throw EZipError("Archive update out of step");  // a plan of one entry takes it
  PlannedEntry& entry = plan.entries.back();
  plan.end.total_entries = plan.end.entries_this_disk = central_facts_.size() + 1;
  const uint64_t size = directory_offset + entry.LocalSize() + directory_size + entry.CentralSize() +
                        kEndRecordSize + (plan.end.comment ? plan.end.comment->size() : 0);
  if (size > kMaxArchiveSize) throw EZipError("The archive would grow beyond 2 GB");

  if (ahead)
    OffTheWindowThread([&] { ahead->Wait(); });
  else
    CopyOldBytes(out, 0, directory_offset);
  if (out.Position() != entry.offset) throw EZipError("Archive update out of step");
  WriteNewEntry(out, entry);
  const uint64_t new_directory = out.Position();
  CopyOldBytes(out, directory_offset, directory_size);
  WriteCentralRecord(out, entry);
  WriteEndRecord(out, plan.end, new_directory);
  return 1;
}

// Makes the appended archive the loaded directory: the old records' central
// records moved by the new local part; the new record joins the lists.
void TZipWriter::ApplyAppend(UpdatePlan& plan) {
  PlannedEntry& entry = plan.entries.back();
  const uint64_t moved = entry.LocalSize();
  for (TZipHeaderInfo* r : *physical_) r->central_header_offset += moved;
  TZipHeaderInfo* r = entry.record.release();
  r->flags = entry.flags;
  r->local_header_offset = entry.offset;
  r->central_header_offset = entry.central_offset;
  r->comment_length = static_cast<uint16_t>(r->comment ? r->comment->size() : 0);
  r->stored_name = std::move(entry.name);
  r->central_extra = std::move(entry.central_extra);
  r->local_extra.clear();
  r->local_extra_length = entry.local_extra_length;
  physical_->AppendItem(r);  // the last in the file
  TCentralFacts& f = central_facts_.emplace_back();
  f.local_header_offset = r->local_header_offset;
  f.compressed_size = static_cast<uint32_t>(std::min<uint64_t>(r->compressed_size, kMasked32));
  f.name_hash = FoldedNameHash(r->path, r->file_name);
  f.crc = r->crc;
  f.flags = r->flags;
  f.as_written = WrittenAsItIs(*r);
  directory_copyable_ = f.as_written;
  end_ = plan.end;
  end_.modified = false;
  stamp_ = StampOf(zip_name_);
  if (sort_mode_ == TZipSortMode::ByNone)
    sorted_.reset();
  else if (sorted_ && sorted_->Mode() == sort_mode_)
    sorted_->Add(r);  // before its equals, as a read of the file places it
  else
    RebuildSortedView();
}

int TZipWriter::ArchiveUpdate(UpdateMode mode, TMemoryStream* stream, const std::string* comment) {
  auto is_blank = [](char c) { return static_cast<uint8_t>(c) <= ' '; };
  if (std::all_of(zip_name_.begin(), zip_name_.end(), is_blank)) return 0;

  const TZipSortMode saved_sort = sort_mode_;
  const bool saved_keep = keep_zip_open_;
  keep_zip_open_ = true;
  auto restore = [&] {
    sort_mode_ = saved_sort;
    keep_zip_open_ = saved_keep;
    CloseFile();
    files_list_.clear();
  };

  int count = 0;
  std::string folder_warning;
  last_pump_ = std::chrono::steady_clock::now();
  try {
    CabinetReplacement replacement(zip_name_, held_lock_.get(), lock_wait_, [this] { ProcessMessages(); });
    const bool existing = replacement.Existing();
    // Changes made in memory to a directory that another writer has replaced since
    // would be written over that writer's work.
    if (directory_loaded_ && (end_.modified || (mode == UpdateMode::Removal && selected_count_ > 0)) &&
        !(StampOf(zip_name_) == stamp_))
      throw ECabinetChanged(zip_name_);
    TLFNFileStream& out = replacement.Output();
    std::unique_ptr<CopyAhead> ahead;  // stopped before the output goes
    bool append = false;
    if (existing) {
      OpenStep();
      // A directory not read whole would lose the entries it does not list.
      if (!damage_.empty() && !repairing_) throw EDamagedZip(damage_);
      append = mode == UpdateMode::Stream && files_list_.size() == 1 && MayAppend(files_list_.front());
      if (append) {
        // Read now: a read that finds the file changed opens it again, which must
        // not happen under the copy.
        ArchiveComment();
        ahead = StartCopyAhead(out, stream);
        append = CanAppend(files_list_.front());
        if (ahead && append) {
          ahead->LetGo();
        } else if (ahead) {
          ahead->Discard();
          ahead.reset();
        }
      }
      if (!append) {
        ReadWholeDirectory();
        ReadMissingComments();  // every comment is carried over
      }
    } else {
      auto pending_comment = end_.comment;  // an archive comment set before the file exists
      ClearDirectory();
      end_.comment = pending_comment;
    }

    UpdatePlan plan;
    if (existing || end_.comment) {
      if (existing && !end_.comment) ArchiveComment();
      plan.end.comment = end_.comment;
      plan.end.comment_length = end_.comment ? static_cast<uint16_t>(end_.comment->size()) : 0;
    }
    if (append) {
      count = AppendEntry(out, stream, comment, plan, ahead.get());
    } else {
      count = PlanEntries(mode, stream, comment, plan);
      plan.CheckNames();
      if (plan.ArchiveSize() > kMaxArchiveSize) throw EZipError("The archive would grow beyond 2 GB");
      WriteEntries(out, plan);
      WriteDirectory(out, plan);
    }

    // Replace: the complete new archive goes to the disk, then takes the old one's
    // name in one step. The old file stays whole until that moment.
    CloseFile();
    OffTheWindowThread([&] { replacement.Commit(); });  // the sync may take long
    folder_warning = replacement.FolderSyncWarning();

    // The new archive is the loaded directory now.
    sort_mode_ = saved_sort;
    if (append)
      ApplyAppend(plan);
    else
      ApplyPlan(plan);
  } catch (...) {
    restore();
    throw;
  }
  restore();
  // Told once the lock is let go: a box waiting for the user must not hold up
  // other writers.
  if (!folder_warning.empty() && interaction_)
    interaction_->MessageBox(MsgKind::Error, DefaultCaption(MsgKind::Error), folder_warning, MsgButtons::Ok);
  return count;
}

}  // namespace qb::zip
