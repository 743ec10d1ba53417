#include "zip/zip_writer.h"

#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <random>
#include <unordered_set>

#include "platform/codepage.h"
#include "zip/crc32.h"
#include "zip/deflate.h"
#include "zip/wildcard.h"
#include "zip/zip_crypto.h"
#include "zip/zip_errors.h"
#include "zip/zip_format.h"

namespace qb::zip {

using namespace format;

namespace {

constexpr size_t kStoredPiece = 16000;
constexpr uint64_t kMaxArchiveSize = 0x7FFFFFFF;  // offsets are kept as signed 32-bit values

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

// The 30-byte local header and the name, built from a record.
std::vector<uint8_t> LocalHeader(const TZipHeaderInfo& r, const std::string& stored_name,
                                 uint16_t extra_length) {
  std::vector<uint8_t> h(kLocalHeaderSize + stored_name.size());
  uint8_t* p = h.data();
  Put32(p, kLocalHeaderSignature);
  Put16(p + 4, r.version_needed);
  Put16(p + 6, r.flags);
  Put16(p + 8, r.method);
  Put32(p + 10, r.dos_date_time);
  Put32(p + 14, r.crc);
  Put32(p + 18, r.compressed_size);
  Put32(p + 22, r.uncompressed_size);
  Put16(p + 26, static_cast<uint16_t>(stored_name.size()));
  Put16(p + 28, extra_length);
  std::memcpy(p + kLocalHeaderSize, stored_name.data(), stored_name.size());
  return h;
}

// The name as stored, with flag bit 11 set or cleared to match its encoding.
std::string StoredName(TZipHeaderInfo& r) {
  bool utf8 = false;
  std::string stored = NameToArchive(r.FullName(), utf8);
  if (stored.size() > 0xFFFF) throw EZipError("Entry name too long: " + r.FullName().substr(0, 80));
  r.flags = static_cast<uint16_t>(utf8 ? (r.flags | kFlagUtf8Names) : (r.flags & ~kFlagUtf8Names));
  return stored;
}

// An output stream that counts every short write as a full disk.
void WriteAll(TLFNFileStream& out, const void* data, size_t count) {
  if (out.Write(data, count) != count) throw ENotEnoughRoom();
  if (out.Position() > kMaxArchiveSize) throw EZipError("The archive would grow beyond 2 GB");
}

// The temporary file of an update, deleted unless the update hands it over.
class TempFile {
 public:
  explicit TempFile(const std::string& folder) {
    std::random_device random;
    for (int attempt = 0;; ++attempt) {
      char name[64];
      std::snprintf(name, sizeof name, ".qbzip-%08x.tmp", random());
      path_ = (std::filesystem::path(folder.empty() ? "." : folder) / name).string();
      int fd = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
      if (fd >= 0) {
        ::close(fd);
        break;
      }
      if (errno != EEXIST || attempt > 100) throw EFCreateError(path_, std::strerror(errno));
    }
    stream_ = std::make_unique<TLFNFileStream>(path_, TLFNFileStream::Mode::Create);
  }
  ~TempFile() {
    stream_.reset();
    if (!kept_) ::unlink(path_.c_str());
  }
  TLFNFileStream& Stream() { return *stream_; }
  const std::string& Path() const { return path_; }
  // Forces the data to the disk and closes the file; false on failure.
  bool Finish() {
    bool ok = stream_->Sync();
    stream_->Close();
    return ok;
  }
  void Keep() { kept_ = true; }

 private:
  std::string path_;
  std::unique_ptr<TLFNFileStream> stream_;
  bool kept_ = false;
};

void SyncFolder(const std::string& folder) {
  int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    ::fsync(fd);
    ::close(fd);
  }
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
  end_.modified = true;
}

void TZipWriter::SetEntryFileName(int index, const std::string& file_name) {
  TZipHeaderInfo* record = Record(index);
  if (file_name == record->file_name) return;
  record->file_name = file_name;
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

void TZipWriter::SetZipName(const std::string& path) {
  if (strcasecmp(path.c_str(), zip_name_.c_str()) == 0 && path.size() == zip_name_.size()) return;
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

// ---------------------------------------------------------------------------------
// The archive update

namespace {

// The full name with a-z folded, the key under which two entries are the same.
std::string FoldedName(const TZipHeaderInfo& r) {
  std::string name = r.FullName();
  for (char& c : name) c = codepage::AsciiUpper(c);
  return name;
}

// The work lists of the archive being written: the entries in file order, and the
// set of their folded names (two equal names are refused).
struct NewArchive {
  TSortedZip physical{true, TDuplicates::dupError, TZipSortMode::ByNone};
  std::unordered_set<std::string> names;
  TEndCentral end;

  bool Contains(const TZipHeaderInfo& r) const { return names.count(FoldedName(r)) != 0; }

  void Add(std::unique_ptr<TZipHeaderInfo> record) {
    if (!names.insert(FoldedName(*record)).second) throw EListError("Duplicate Object index");
    physical.Add(record.get());
    record.release();
    ++end.total_entries;
    ++end.entries_this_disk;
  }
};

// Writes a local header at the output's position and returns the local header offset.
uint32_t WriteLocalHeader(TLFNFileStream& out, TZipHeaderInfo& r, uint16_t extra_length) {
  std::string stored = StoredName(r);
  auto header = LocalHeader(r, stored, extra_length);
  uint32_t offset = static_cast<uint32_t>(out.Position());
  WriteAll(out, header.data(), header.size());
  return offset;
}

}  // namespace

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
  try {
    const bool existing = FileExists(zip_name_);
    if (existing && !replace_read_only_ && ::access(zip_name_.c_str(), W_OK) != 0)
      throw EFCreateError(zip_name_, std::strerror(EACCES));
    const std::string folder = std::filesystem::path(zip_name_).parent_path().string();
    TempFile temp(folder);
    TLFNFileStream& out = temp.Stream();
    if (existing) {
      OpenStep();
      file_->MapForReading();  // many small header reads follow
      ReadMissingComments();   // every comment is carried over
    } else {
      auto pending_comment = end_.comment;  // an archive comment set before the file exists
      ClearDirectory();
      end_.comment = pending_comment;
    }

    NewArchive fresh;
    if (existing || end_.comment) {
      if (existing && !end_.comment) ArchiveComment();
      fresh.end.comment = end_.comment;
      fresh.end.comment_length = end_.comment ? static_cast<uint16_t>(end_.comment->size()) : 0;
    }

    // Writes the new entry named by item at the output's position.
    auto write_new_entry = [&](const std::string& item) -> bool {
      auto record = std::make_unique<TZipHeaderInfo>();
      record->dos_date_time = DosNow();
      record->uncompressed_size = static_cast<uint32_t>(stream->Size());
      record->external_attributes = 0x20;
      NormalizeName(item, store_paths_, record->path, record->file_name);
      const bool directory = !item.empty() && item.back() == '\\';
      record->disk_number_start = 0;
      if (fresh.Contains(*record)) return false;  // the same name was written already
      if (comment && !comment->empty()) {
        record->comment = *comment;
        record->comment_length = static_cast<uint16_t>(comment->size());
      }
      const uint8_t* data = stream->Bytes().data();
      size_t size = directory ? 0 : stream->Size();
      if (size > kMaxArchiveSize) throw EZipError("The item is too large for an archive");
      if (directory) record->uncompressed_size = 0;
      record->crc = size ? Crc32(0, data, size) : 0;

      // Compress first: the header then goes out once, complete.
      std::vector<uint8_t> packed;
      bool stored = true;
      uint16_t level_flags = 0;
      bool no_compress = pack_level_ == 0 || directory;
      for (const std::string& pattern : no_compress_list_)
        if (!no_compress &&
            WildcardMatch(codepage::AsciiLowerCase(pattern), codepage::AsciiLowerCase(record->file_name)))
          no_compress = true;
      record->internal_attributes = 0;
      if (!no_compress) {
        level_flags = pack_level_ <= 2 ? kFlagDeflateFast : pack_level_ >= 8 ? kFlagDeflateMax : 0;
        DeflateOutput deflated = Deflate(data, size, pack_level_);
        record->internal_attributes = deflated.is_text ? 1 : 0;
        if (!deflated.stored_whole) {
          packed = std::move(deflated.data);
          stored = false;
        }
      }
      record->method = stored ? kMethodStored : kMethodDeflated;
      record->flags = level_flags;
      const uint8_t* body = stored ? data : packed.data();
      size_t body_size = stored ? size : packed.size();
      std::vector<uint8_t> encrypted;
      if (!password_.empty()) {
        record->flags |= kFlagEncrypted;
        encrypted.resize(kEncryptionHeaderSize + body_size);
        std::random_device random;
        for (size_t i = 0; i < 10; ++i) encrypted[i] = static_cast<uint8_t>(random());
        encrypted[10] = static_cast<uint8_t>(record->crc >> 16);
        encrypted[11] = static_cast<uint8_t>(record->crc >> 24);
        if (body_size) std::memcpy(encrypted.data() + kEncryptionHeaderSize, body, body_size);
        ZipCrypto(password_).Encrypt(encrypted.data(), encrypted.size());
        body = encrypted.data();
        body_size = encrypted.size();
      }
      record->compressed_size = static_cast<uint32_t>(body_size);
      record->local_header_offset = WriteLocalHeader(out, *record, 0);
      for (size_t done = 0; done < body_size;) {
        size_t piece = std::min(kStoredPiece * 64, body_size - done);
        WriteAll(out, body + done, piece);
        done += piece;
        ProcessMessages();
      }
      fresh.Add(std::move(record));
      return true;
    };

    // Existing entries, in file order: removed, replaced or copied.
    std::vector<std::string> wanted;  // normalised, lower-cased names of the FilesList items
    for (const std::string& item : files_list_) {
      std::string path, file_name;
      NormalizeName(item, store_paths_, path, file_name);
      wanted.push_back(codepage::AsciiLowerCase(path + file_name));
    }
    const bool removal = mode == UpdateMode::Removal;
    uint64_t copy_from = 0, copy_length = 0;  // a run of old bytes copied unchanged
    auto flush_copy = [&] {
      if (copy_length == 0) return;
      if (out.CopyFrom(*file_, copy_from, copy_length) != copy_length) {
        if (file_->Size() < copy_from + copy_length) throw EFatalUnzipError();
        throw ENotEnoughRoom();
      }
      if (out.Position() > kMaxArchiveSize) throw EZipError("The archive would grow beyond 2 GB");
      copy_length = 0;
      ProcessMessages();
    };
    if (physical_) {
      for (TZipHeaderInfo* old : *physical_) {
        auto record = std::make_unique<TZipHeaderInfo>(*old);
        if (!record->comment && record->comment_length != 0) {
          old->comment = ReadCommentFromFile(*old);
          record->comment = old->comment;
        }
        const std::string lower = codepage::AsciiLowerCase(record->FullName());
        if (removal) {
          bool remove = record->selection_mark != 0;
          for (size_t i = 0; !remove && i < files_list_.size(); ++i) {
            const std::string& item = files_list_[i];
            bool hit = HasPatternChars(item) ? WildcardMatch(codepage::AsciiLowerCase(item),
                                                             item.find('\\') == std::string::npos
                                                                 ? codepage::AsciiLowerCase(record->file_name)
                                                                 : lower)
                                             : codepage::AsciiLowerCase(item) == lower;
            if (hit) {
              remove = true;
              if (!HasPatternChars(item)) files_list_.erase(files_list_.begin() + static_cast<long>(i));
            }
          }
          if (remove) {
            record->selection_mark = 0;
            ++count;
            continue;
          }
        } else if (mode == UpdateMode::Stream) {
          auto it = std::find(wanted.begin(), wanted.end(), lower);
          if (it != wanted.end()) {
            size_t i = static_cast<size_t>(it - wanted.begin());
            std::string item = files_list_[i];
            files_list_.erase(files_list_.begin() + static_cast<long>(i));
            wanted.erase(wanted.begin() + static_cast<long>(i));
            flush_copy();
            if (write_new_entry(item)) ++count;
            continue;
          }
        }
        // Copy: a fresh local header from the record, then the old extra field, data
        // and data descriptor byte for byte. Runs whose header is unchanged are copied
        // together.
        // The old local header and name, in one read.
        std::vector<uint8_t> old_header(kLocalHeaderSize + 1024);
        old_header.resize(file_->ReadAt(old->local_header_offset, old_header.data(), old_header.size()));
        if (old_header.size() < kLocalHeaderSize || Get32(old_header.data()) != kLocalHeaderSignature)
          throw EBadZipFile();
        const uint8_t* fixed = old_header.data();
        const uint16_t old_name_length = Get16(fixed + 26);
        const uint16_t extra_length = Get16(fixed + 28);
        uint64_t tail_start = old->local_header_offset + kLocalHeaderSize + old_name_length;
        uint64_t tail_length = extra_length + static_cast<uint64_t>(record->compressed_size);
        if (record->flags & kFlagDataDescriptor) {
          uint8_t sig[4] = {};
          size_t got = file_->ReadAt(tail_start + tail_length, sig, 4);
          tail_length += (got == 4 && Get32(sig) == 0x08074B50) ? 16 : 12;
        }
        if (tail_start + tail_length > file_->Size()) throw EFatalUnzipError();
        record->local_extra_length = extra_length;
        std::string stored = StoredName(*record);
        auto header = LocalHeader(*record, stored, extra_length);
        bool same = false;
        if (old_name_length == stored.size()) {
          if (old_header.size() < header.size()) {
            old_header.resize(header.size());
            old_header.resize(file_->ReadAt(old->local_header_offset, old_header.data(), header.size()));
          }
          same = old_header.size() >= header.size() &&
                 std::equal(header.begin(), header.end(), old_header.begin());
        }
        const uint64_t new_offset = out.Position() + copy_length;
        if (new_offset > kMaxArchiveSize) throw EZipError("The archive would grow beyond 2 GB");
        record->local_header_offset = static_cast<uint32_t>(new_offset);
        if (same && copy_length > 0 && copy_from + copy_length == old->local_header_offset) {
          copy_length += header.size() + tail_length;
        } else if (same) {
          flush_copy();
          copy_from = old->local_header_offset;
          copy_length = header.size() + tail_length;
        } else {
          flush_copy();
          WriteAll(out, header.data(), header.size());
          copy_from = tail_start;
          copy_length = tail_length;
        }
        fresh.Add(std::move(record));
      }
    }
    flush_copy();

    // New entries.
    if (mode == UpdateMode::Stream)
      for (const std::string& item : files_list_)
        if (write_new_entry(item)) ++count;

    // Central directory and end record.
    const uint64_t directory_offset = out.Position();
    for (TZipHeaderInfo* r : fresh.physical) {
      std::string stored = StoredName(*r);
      const std::string& text = r->comment ? *r->comment : std::string();
      std::vector<uint8_t> c(kCentralHeaderSize + stored.size() + text.size());
      uint8_t* p = c.data();
      Put32(p, kCentralHeaderSignature);
      Put16(p + 4, r->version_made_by);
      Put16(p + 6, r->version_needed);
      Put16(p + 8, r->flags);
      Put16(p + 10, r->method);
      Put32(p + 12, r->dos_date_time);
      Put32(p + 16, r->crc);
      Put32(p + 20, r->compressed_size);
      Put32(p + 24, r->uncompressed_size);
      Put16(p + 28, static_cast<uint16_t>(stored.size()));
      Put16(p + 30, 0);
      Put16(p + 32, static_cast<uint16_t>(text.size()));
      Put16(p + 34, r->disk_number_start);
      Put16(p + 36, r->internal_attributes);
      Put32(p + 38, r->external_attributes);
      Put32(p + 42, r->local_header_offset);
      std::memcpy(p + kCentralHeaderSize, stored.data(), stored.size());
      if (!text.empty()) std::memcpy(p + kCentralHeaderSize + stored.size(), text.data(), text.size());
      r->central_header_offset = static_cast<uint32_t>(out.Position());
      r->central_extra_length = 0;
      r->comment_length = static_cast<uint16_t>(text.size());
      WriteAll(out, c.data(), c.size());
    }
    const std::string archive_comment = fresh.end.comment ? *fresh.end.comment : std::string();
    uint8_t end_record[kEndRecordSize];
    Put32(end_record, kEndRecordSignature);
    Put16(end_record + 4, 0);
    Put16(end_record + 6, 0);
    Put16(end_record + 8, fresh.end.entries_this_disk);
    Put16(end_record + 10, fresh.end.total_entries);
    Put32(end_record + 12, static_cast<uint32_t>(out.Position() - directory_offset));
    Put32(end_record + 16, static_cast<uint32_t>(directory_offset));
    Put16(end_record + 20, static_cast<uint16_t>(archive_comment.size()));
    fresh.end.directory_offset = static_cast<uint32_t>(directory_offset);
    fresh.end.directory_size = static_cast<uint32_t>(out.Position() - directory_offset);
    WriteAll(out, end_record, sizeof end_record);
    if (!archive_comment.empty()) WriteAll(out, archive_comment.data(), archive_comment.size());
    fresh.end.comment_position = out.Position() - archive_comment.size();
    end_record_position_ = fresh.end.comment_position - kEndRecordSize;

    // Replace: the complete new archive goes to the disk, then takes the old one's
    // name in one step. The old file stays whole until that moment.
    if (!temp.Finish()) throw ENotEnoughRoom();
    struct stat old_stat {};
    if (existing && ::stat(zip_name_.c_str(), &old_stat) == 0)
      ::chmod(temp.Path().c_str(), old_stat.st_mode & 07777);
    else
      ::chmod(
          temp.Path().c_str(), 0666 & ~[] {
            mode_t m = ::umask(0);
            ::umask(m);
            return m;
          }());
    CloseFile();
    if (::rename(temp.Path().c_str(), zip_name_.c_str()) != 0)
      throw EFCreateError(zip_name_, std::strerror(errno));
    temp.Keep();
    SyncFolder(folder);

    // The new archive is the loaded directory now.
    sort_mode_ = saved_sort;
    physical_ = std::make_unique<TSortedZip>(true, TDuplicates::dupError, TZipSortMode::ByNone);
    while (fresh.physical.Count() > 0) physical_->AppendItem(fresh.physical.Extract(0));
    end_ = fresh.end;
    end_.modified = false;
    directory_loaded_ = true;
    stamp_ = StampOf(zip_name_);
    selected_count_ = 0;
    for (TZipHeaderInfo* r : *physical_) selected_count_ += r->selection_mark ? 1 : 0;
    RebuildSortedView();
  } catch (...) {
    restore();
    throw;
  }
  restore();
  return count;
}

}  // namespace qb::zip
