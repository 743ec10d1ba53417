#include "support/raw_zip.h"

#include <stdexcept>

#include "support/test_support.h"
#include "zip/zip_format.h"

namespace qbtest {

namespace {

using namespace qb::zip::format;
constexpr uint32_t kEndSignature = kEndRecordSignature;
constexpr uint32_t kCentralSignature = kCentralHeaderSignature;
constexpr uint32_t kLocalSignature = kLocalHeaderSignature;
constexpr size_t kEndSize = kEndRecordSize;
constexpr size_t kCentralSize = kCentralHeaderSize;
constexpr size_t kLocalSize = kLocalHeaderSize;

uint16_t Get16(const std::vector<uint8_t>& b, size_t at) {
  return qb::zip::format::Get16(&b[at]);
}
uint32_t Get32(const std::vector<uint8_t>& b, size_t at) {
  return qb::zip::format::Get32(&b[at]);
}
// True when [at, at + len) lies inside a buffer of `size` bytes.
bool Fits(size_t size, uint64_t at, uint64_t len) {
  return at <= size && len <= size - at;
}

bool Fail(std::string* error, const std::string& message) {
  *error = message;
  return false;
}

}  // namespace

bool ParseRawZip(const std::vector<uint8_t>& archive, std::vector<RawZipEntry>* entries, std::string* error) {
  entries->clear();
  const size_t size = archive.size();
  if (size < kEndSize) return Fail(error, "too short for an end record");

  // The last end record whose comment ends inside the file.
  size_t end = SIZE_MAX;
  const size_t lowest = size - kEndSize > 65535 ? size - kEndSize - 65535 : 0;
  for (size_t at = size - kEndSize + 1; at-- > lowest;) {
    if (Get32(archive, at) == kEndSignature && Get16(archive, at + 20) <= size - kEndSize - at) {
      end = at;
      break;
    }
  }
  if (end == SIZE_MAX) return Fail(error, "no end record");

  const uint16_t count = Get16(archive, end + 10);
  const uint32_t dir_size = Get32(archive, end + 12);
  const uint32_t dir_offset = Get32(archive, end + 16);
  if (uint64_t{dir_offset} + dir_size > end) return Fail(error, "central directory overlaps the end record");
  // Bytes in front of the archive that the offsets do not count.
  const size_t shift = end - (size_t{dir_offset} + dir_size);

  size_t at = shift + dir_offset;
  for (uint32_t i = 0; i < count; ++i) {
    if (!Fits(end, at, kCentralSize) || Get32(archive, at) != kCentralSignature)
      return Fail(error, "bad central record " + std::to_string(i));
    RawZipEntry e;
    e.flags = Get16(archive, at + 8);
    e.method = Get16(archive, at + 10);
    e.crc32 = Get32(archive, at + 16);
    e.compressed_size = Get32(archive, at + 20);
    e.uncompressed_size = Get32(archive, at + 24);
    const size_t name_len = Get16(archive, at + 28);
    const size_t extra_len = Get16(archive, at + 30);
    const size_t comment_len = Get16(archive, at + 32);
    e.local_header_offset = Get32(archive, at + 42);
    if (!Fits(end, at + kCentralSize, name_len + extra_len + comment_len))
      return Fail(error, "central record " + std::to_string(i) + " runs past the directory");
    e.name.assign(archive.begin() + static_cast<ptrdiff_t>(at + kCentralSize),
                  archive.begin() + static_cast<ptrdiff_t>(at + kCentralSize + name_len));
    at += kCentralSize + name_len + extra_len + comment_len;

    const uint64_t local = uint64_t{shift} + e.local_header_offset;
    if (!Fits(size, local, kLocalSize) || Get32(archive, static_cast<size_t>(local)) != kLocalSignature)
      return Fail(error, "bad local header for " + e.name);
    const uint64_t data_at = local + kLocalSize + Get16(archive, static_cast<size_t>(local) + 26) +
                             Get16(archive, static_cast<size_t>(local) + 28);
    if (!Fits(size, data_at, e.compressed_size))
      return Fail(error, "data of " + e.name + " runs past the file");
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
