#include "support/raw_zip.h"

#include <stdexcept>

#include "support/test_support.h"
#include "zip/zip_format.h"

namespace qbtest {

namespace {

using namespace qb::zip::format;

// True when [at, at + len) lies inside a buffer of `size` bytes.
bool Fits(size_t size, uint64_t at, uint64_t len) {
  return at <= size && len <= size - at;
}

bool Fail(std::string* error, const std::string& message) {
  *error = message;
  return false;
}

std::string Bytes(const std::vector<uint8_t>& b, uint64_t at, size_t length) {
  return std::string(reinterpret_cast<const char*>(b.data() + at), length);
}

}  // namespace

bool ParseRawZip(const std::vector<uint8_t>& archive, std::vector<RawZipEntry>* entries, std::string* error,
                 bool keep_data) {
  entries->clear();
  const size_t size = archive.size();
  if (size < kEndRecordSize) return Fail(error, "too short for an end record");

  // The last end record whose comment ends inside the file.
  size_t end = SIZE_MAX;
  EndRecord record;
  const size_t lowest = size - kEndRecordSize > 65535 ? size - kEndRecordSize - 65535 : 0;
  for (size_t at = size - kEndRecordSize + 1; at-- > lowest;) {
    if (DecodeEndRecord(&archive[at], record) && record.comment_length <= size - kEndRecordSize - at) {
      end = at;
      break;
    }
  }
  if (end == SIZE_MAX) return Fail(error, "no end record");

  uint64_t count = record.total_entries, dir_size = record.directory_size,
           dir_offset = record.directory_offset;
  size_t dir_end = end;  // where the directory must end: the ZIP64 end record, or the end record
  Zip64Locator locator;
  Zip64EndRecord record64;
  if (end >= kZip64LocatorSize && DecodeZip64Locator(&archive[end - kZip64LocatorSize], locator)) {
    const size_t at = end - kZip64LocatorSize - kZip64EndRecordSize;
    if (end < kZip64LocatorSize + kZip64EndRecordSize || !DecodeZip64EndRecord(&archive[at], record64))
      return Fail(error, "ZIP64 locator without its end record");
    count = record64.total_entries;
    dir_size = record64.directory_size;
    dir_offset = record64.directory_offset;
    dir_end = at;
  } else if (record.Masked()) {
    return Fail(error, "masked end record without a ZIP64 end record");
  }
  if (dir_offset + dir_size > dir_end) return Fail(error, "central directory overlaps the end record");
  // Bytes in front of the archive that the offsets do not count.
  const uint64_t shift = dir_end - (dir_offset + dir_size);

  uint64_t at = shift + dir_offset;
  for (uint64_t i = 0; i < count; ++i) {
    CentralHeader h;
    if (!Fits(dir_end, at, kCentralHeaderSize) || !DecodeCentralHeader(&archive[at], h))
      return Fail(error, "bad central record " + std::to_string(i));
    if (!Fits(dir_end, at + kCentralHeaderSize, h.Span() - kCentralHeaderSize))
      return Fail(error, "central record " + std::to_string(i) + " runs past the directory");
    RawZipEntry e;
    e.version_made_by = h.version_made_by;
    e.flags = h.flags;
    e.method = h.method;
    e.crc32 = h.crc;
    e.external_attributes = h.external_attributes;
    e.name = Bytes(archive, at + kCentralHeaderSize, h.name_length);
    e.central_extra = Bytes(archive, at + kCentralHeaderSize + h.name_length, h.extra_length);
    e.comment = Bytes(archive, at + kCentralHeaderSize + h.name_length + h.extra_length, h.comment_length);
    Zip64Values values{h.uncompressed_size, h.compressed_size, h.local_header_offset, h.disk_number_start};
    if (!ReadZip64Extra(e.central_extra, h.uncompressed_size == kMasked32, h.compressed_size == kMasked32,
                        h.local_header_offset == kMasked32, false, values))
      return Fail(error, "ZIP64 values missing for " + e.name);
    e.uncompressed_size = values.uncompressed_size;
    e.compressed_size = values.compressed_size;
    e.local_header_offset = values.local_header_offset;
    at += h.Span();

    const uint64_t local = shift + e.local_header_offset;
    LocalHeader lh;
    if (!Fits(size, local, kLocalHeaderSize) || !DecodeLocalHeader(&archive[local], lh))
      return Fail(error, "bad local header for " + e.name);
    if (!Fits(size, local + kLocalHeaderSize, lh.Span() - kLocalHeaderSize))
      return Fail(error, "local header of " + e.name + " runs past the file");
    e.local_extra = Bytes(archive, local + kLocalHeaderSize + lh.name_length, lh.extra_length);
    const uint64_t data_at = local + lh.Span();
    if (!Fits(size, data_at, e.compressed_size))
      return Fail(error, "data of " + e.name + " runs past the file");
    if (keep_data)
      e.data.assign(archive.begin() + static_cast<ptrdiff_t>(data_at),
                    archive.begin() + static_cast<ptrdiff_t>(data_at + e.compressed_size));
    entries->push_back(std::move(e));
  }
  return true;
}

std::vector<RawZipEntry> ReadRawZip(const std::filesystem::path& path) {
  std::vector<RawZipEntry> entries;
  std::string error;
  if (!ParseRawZip(ReadFileBytes(path), &entries, &error))
    throw std::runtime_error(path.string() + ": " + error);
  return entries;
}

}  // namespace qbtest
