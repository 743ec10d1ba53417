#include "zip/zip_reader.h"

#include <strings.h>

#include <algorithm>
#include <cstring>

#include "platform/codepage.h"
#include "zip/crc32.h"
#include "zip/inflate.h"
#include "zip/legacy.h"
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
// Largest output one byte of compressed data can stand for, by method: Deflate
// codes a 258-byte match in one bit at best; LZW, Reduce and Implode are looser.
// Output buffers are sized by this bound, never by the declared size alone.
uint64_t MaxExpansion(uint16_t method) {
  return method == kMethodDeflated ? 1032 : method == kMethodStored ? 1 : 8192;
}

bool EndsWithIgnoringCase(const std::string& text, const char* suffix) {
  size_t n = std::strlen(suffix);
  return text.size() >= n && strncasecmp(text.c_str() + text.size() - n, suffix, n) == 0;
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

std::string NameFromArchive(std::string_view bytes, bool utf8_flag) {
  std::string name = utf8_flag ? codepage::BytesToUtf8(bytes) : codepage::Cp437ToUtf8(bytes);
  std::replace(name.begin(), name.end(), '/', '\\');
  return name;
}

std::string NameToArchive(const std::string& name, bool& utf8_flag) {
  std::string stored = name;
  std::replace(stored.begin(), stored.end(), '\\', '/');
  if (auto cp437 = codepage::Utf8ToCp437(stored)) {
    utf8_flag = false;
    return *cp437;
  }
  utf8_flag = true;
  return stored;
}

// ---------------------------------------------------------------------------------
// Properties and state

TZipReader::TZipReader() = default;
TZipReader::~TZipReader() = default;

void TZipReader::SetZipName(const std::string& path) {
  if (strcasecmp(path.c_str(), zip_name_.c_str()) == 0 && path.size() == zip_name_.size()) return;
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
}

void TZipReader::CloseFile() {
  file_.reset();
}

void TZipReader::CloseUnlessKept() {
  if (!keep_zip_open_) CloseFile();
}

void TZipReader::ProcessMessages() {
  if (do_process_messages_ && pump_) pump_();
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
    if (directory_loaded_ || file_->Size() != static_cast<uint64_t>(std::max<int64_t>(now.size, 0)))
      file_ = std::make_unique<TLFNFileStream>(zip_name_, TLFNFileStream::Mode::Read);
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

void TZipReader::ReadDirectoryFromFile() {
  physical_.reset();
  sorted_.reset();
  directory_loaded_ = false;
  selected_count_ = 0;
  end_ = TEndCentral{};
  physical_ = std::make_unique<TSortedZip>(true, TDuplicates::dupError, TZipSortMode::ByNone);
  try {
    if (file_->Size() > 0) {
      if (!LocateEndRecord()) {
        if (incomplete_mode_ == TIncompleteZipMode::izAssumeMulti) throw EIncompleteZip();
        if (incomplete_mode_ == TIncompleteZipMode::izAssumeNotAZip) throw ENotAZipFile();
        RecoverFromLocalHeaders();
      } else if (end_.total_entries != 0 &&
                 !ReadCentralRecords(end_.directory_offset, end_.total_entries, false) &&
                 !ReadShiftedDirectory()) {
        RecoverFromLocalHeaders();
      }
    }
    RebuildSortedView();
  } catch (...) {
    physical_.reset();
    sorted_.reset();
    end_ = TEndCentral{};
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
    if (tail[at] != 'P' || Get32(&tail[at]) != kEndRecordSignature) continue;
    const uint8_t* p = &tail[at];
    end_.this_disk = Get16(p + 4);
    end_.directory_disk = Get16(p + 6);
    end_.entries_this_disk = Get16(p + 8);
    end_.total_entries = Get16(p + 10);
    end_.directory_size = Get32(p + 12);
    end_.directory_offset = Get32(p + 16);
    end_.comment_length = Get16(p + 20);
    // A comment length running past the end of the file is cut to what is there.
    uint64_t record_end = size - tail_size + at + kEndRecordSize;
    end_.comment_length = static_cast<uint16_t>(std::min<uint64_t>(end_.comment_length, size - record_end));
    end_.comment_position = size - end_.comment_length;
    end_record_position_ = size - tail_size + at;
    return true;
  }
  return false;
}

// An archive with data prepended to it (a self-extractor stub, a mail header) keeps
// offsets counted from its own start; the directory then ends right before the end
// record instead of where the record says. Reading it there, and shifting every
// offset by the same amount, keeps the names, comments and data of such archives.
bool TZipReader::ReadShiftedDirectory() {
  if (end_record_position_ < end_.directory_size) return false;
  uint64_t actual = end_record_position_ - end_.directory_size;
  if (actual <= end_.directory_offset) return false;
  uint64_t shift = actual - end_.directory_offset;
  if (!ReadCentralRecords(actual, end_.total_entries, false)) return false;
  for (TZipHeaderInfo* record : *physical_) {
    if (record->local_header_offset + shift > UINT32_MAX) {
      physical_->Clear();
      return false;
    }
    record->local_header_offset += static_cast<uint32_t>(shift);
  }
  end_.directory_offset = static_cast<uint32_t>(actual);
  return true;
}

// Reads count central records from offset. Without replace_recovered the records
// form the directory (false when one cannot be read); with it, each readable record
// whose local header offset matches a recovered entry replaces that entry's fields.
bool TZipReader::ReadCentralRecords(uint64_t offset, uint32_t count, bool replace_recovered) {
  for (uint32_t n = 0; n < count || replace_recovered; ++n) {
    uint8_t fixed[kCentralHeaderSize];
    file_->Seek(offset);
    if (file_->Read(fixed, sizeof fixed) != sizeof fixed || Get32(fixed) != kCentralHeaderSignature) {
      if (replace_recovered) return true;
      physical_->Clear();
      return false;
    }
    auto record = std::make_unique<TZipHeaderInfo>();
    record->version_made_by = Get16(fixed + 4);
    record->version_needed = Get16(fixed + 6);
    record->flags = Get16(fixed + 8);
    record->method = Get16(fixed + 10);
    record->dos_date_time = SanitizeDosDateTime(Get32(fixed + 12));
    record->crc = Get32(fixed + 16);
    record->compressed_size = Get32(fixed + 20);
    record->uncompressed_size = Get32(fixed + 24);
    uint16_t name_length = Get16(fixed + 28);
    record->central_extra_length = Get16(fixed + 30);
    record->comment_length = Get16(fixed + 32);
    record->disk_number_start = Get16(fixed + 34);
    record->internal_attributes = Get16(fixed + 36);
    record->external_attributes = Get32(fixed + 38);
    record->local_header_offset = Get32(fixed + 42);
    record->central_header_offset = static_cast<uint32_t>(offset);
    std::string raw(name_length, '\0');
    if (file_->Read(raw.data(), name_length) != name_length) {
      if (replace_recovered) return true;
      physical_->Clear();
      return false;
    }
    SplitEntryName(NameFromArchive(raw, record->flags & kFlagUtf8Names), record->path, record->file_name);
    offset += kCentralHeaderSize + name_length + record->central_extra_length + record->comment_length;
    if (replace_recovered) {
      int index = physical_->IndexOf(record.get());
      if (index < 0) continue;
      TZipHeaderInfo* target = physical_->Get(index);
      record->local_extra_length = target->local_extra_length;
      *target = *record;
      continue;
    }
    physical_->Add(record.get());  // a second record for the same local header: "Duplicate Object index"
    record.release();
  }
  return true;
}

void TZipReader::RecoverFromLocalHeaders() {
  physical_->Clear();
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
    file_->Seek(position);
    if (file_->Read(fixed, sizeof fixed) != sizeof fixed || Get32(fixed) != kLocalHeaderSignature) break;
    uint16_t name_length = Get16(fixed + 26);
    std::string raw(name_length, '\0');
    if (file_->Read(raw.data(), name_length) != name_length) break;
    auto record = std::make_unique<TZipHeaderInfo>();
    record->version_needed = Get16(fixed + 4);
    record->flags = Get16(fixed + 6);
    record->method = Get16(fixed + 8);
    record->dos_date_time = SanitizeDosDateTime(Get32(fixed + 10));
    record->crc = Get32(fixed + 14);
    record->compressed_size = Get32(fixed + 18);
    record->uncompressed_size = Get32(fixed + 22);
    record->local_extra_length = Get16(fixed + 28);
    record->local_header_offset = static_cast<uint32_t>(position);
    record->central_header_offset = 0;
    record->external_attributes = 0;
    SplitEntryName(NameFromArchive(raw, record->flags & kFlagUtf8Names), record->path, record->file_name);
    uint64_t next = position + kLocalHeaderSize + name_length + record->local_extra_length +
                    record->compressed_size + ((record->flags & kFlagDataDescriptor) ? 16 : 0);
    if (next > size || next <= position) break;
    physical_->Add(record.get());
    record.release();
    position = next;
    if (physical_->Count() >= kMaxListSize) break;
  }
  end_.total_entries = static_cast<uint16_t>(physical_->Count());
  end_.entries_this_disk = end_.total_entries;
  end_.directory_offset = static_cast<uint32_t>(position);
  ReadCentralRecords(position, 0, true);
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

// Extracts one entry at the stream's position; true when its CRC was right.
bool TZipReader::ExtractOne(TZipHeaderInfo& record, TMemoryStream* stream) {
  uint8_t local[kLocalHeaderSize];
  ReadExactAt(record.local_header_offset, local, sizeof local);
  uint64_t data_start = record.local_header_offset + kLocalHeaderSize + Get16(local + 26) + Get16(local + 28);
  uint64_t file_size = file_->Size();
  uint64_t available =
      data_start >= file_size ? 0 : std::min<uint64_t>(record.compressed_size, file_size - data_start);

  // Only what the file really holds is read; a shortfall is a premature end, found
  // when the decoder needs the missing bytes.
  std::vector<uint8_t> input(static_cast<size_t>(available));
  for (size_t done = 0; done < input.size();) {
    ProcessMessages();
    size_t piece = std::min(kPieceSize, input.size() - done);
    file_->Seek(data_start + done);
    if (file_->Read(input.data() + done, piece) != piece) throw EFatalUnzipError();
    done += piece;
  }
  const bool truncated = available < record.compressed_size;

  const uint8_t* data = input.data();
  size_t data_length = input.size();
  if (record.Encrypted()) {
    if (data_length < kEncryptionHeaderSize) throw EFatalUnzipError();
    ZipCrypto crypto(password_);
    crypto.Decrypt(input.data(), input.size());
    uint8_t check = (record.flags & kFlagDataDescriptor) ? static_cast<uint8_t>(record.dos_date_time >> 8)
                                                         : static_cast<uint8_t>(record.crc >> 24);
    if (input[kEncryptionHeaderSize - 1] != check) return false;  // wrong password: skipped
    data += kEncryptionHeaderSize;
    data_length -= kEncryptionHeaderSize;
  }

  const uint16_t method = record.method;
  const bool legacy = method >= kMethodShrunk && method <= kMethodImploded;
  if (method != kMethodStored && method != kMethodDeflated && !legacy) {
    if (interaction_)
      interaction_->MessageBox(MsgKind::Error, "Zip Error", "Unknown Compression Method", MsgButtons::Ok);
    return false;
  }
  // The output buffer: the declared size, but never more than the data could make,
  // so a forged size cannot make us allocate memory the data does not justify.
  const uint64_t declared = record.uncompressed_size;
  const uint64_t bound = static_cast<uint64_t>(data_length) * MaxExpansion(method) + 1024;
  const size_t output_size = static_cast<size_t>(std::min(declared, bound));
  std::unique_ptr<uint8_t[]> output(new uint8_t[output_size + 1]);
  CodecResult result;
  if (method == kMethodStored) {
    size_t n = std::min(output_size, data_length);
    if (n) std::memcpy(output.get(), data, n);
    result.produced = result.consumed = n;
    result.status = data_length > output_size ? CodecStatus::OutputFull
                    : truncated               ? CodecStatus::InputEnded
                                              : CodecStatus::Ok;
  } else if (method == kMethodDeflated) {
    result = Inflate(data, data_length, output.get(), output_size);
  } else if (method == kMethodShrunk) {
    result = Unshrink(data, data_length, output.get(), output_size);
  } else if (method == kMethodImploded) {
    result = Explode(record.flags, data, data_length, output.get(), output_size);
  } else {
    result = Unreduce(method - 1, data, data_length, output.get(), output_size);
  }
  // Output cut by the bound rather than the declared size: the data cannot be genuine.
  if (output_size < declared && result.status == CodecStatus::OutputFull)
    result.status = CodecStatus::BadData;
  // Input that ran out only because the file ends early is a premature end too.
  if (truncated && result.status == CodecStatus::BadData) result.status = CodecStatus::InputEnded;

  // How much the stream may still take for this entry, counted from its start.
  const uint64_t position = stream->Position();
  const uint64_t allowance = position >= declared ? 0 : declared - position;
  if (result.produced > allowance) result.status = CodecStatus::OutputFull;

  // Hand the output over in pieces; a piece that would pass the entry's size stops it.
  size_t written = 0;
  auto write_pieces = [&](size_t total) {
    while (written < total) {
      size_t piece = std::min(kPieceSize, total - written);
      if (stream->Write(output.get() + written, piece) != piece) throw ECantWriteUCF();
      written += piece;
    }
  };
  switch (result.status) {
    case CodecStatus::Ok:
      write_pieces(result.produced);
      break;
    case CodecStatus::OutputFull:
      // Only whole pieces that fit within the size are written; the entry is not counted.
      write_pieces(std::min<uint64_t>(result.produced, allowance) / kPieceSize * kPieceSize);
      return false;
    case CodecStatus::InputEnded:
      write_pieces(result.produced);
      throw EFatalUnzipError();
    case CodecStatus::BadData:
      write_pieces(result.produced);
      return false;
  }
  return Crc32(0, stream->Bytes().data() + position, written) == record.crc;
}

}  // namespace qb::zip
