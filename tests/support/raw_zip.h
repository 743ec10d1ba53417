// A tiny ZIP central-directory walker for tests: it lists an archive's entries
// with their header fields, extra fields and the raw (still compressed, still
// encrypted) bytes of their data, and decodes nothing. It shares only the record
// layouts (zip/zip_format.h) with the engine, so tests can check the engine's
// reading and writing against it.
//
// Every offset and length is bounds-checked; a damaged archive gives an error
// message, never a crash. ZIP64 end records and extra fields are followed. Not
// handled: multi-disk archives, archives without a central directory.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace qbtest {

struct RawZipEntry {
  std::string name;  // the stored bytes, unconverted
  uint16_t version_made_by = 0;
  uint16_t method = 0;
  uint16_t flags = 0;  // general-purpose flags from the central directory
  uint32_t crc32 = 0;
  uint64_t compressed_size = 0;  // the real sizes (ZIP64 values where the fields are masked)
  uint64_t uncompressed_size = 0;
  uint32_t external_attributes = 0;
  uint64_t local_header_offset = 0;  // as stored
  std::string central_extra;         // the extra fields, bytes as stored
  std::string local_extra;
  std::string comment;
  std::vector<uint8_t> data;  // compressed_size bytes after the local header
};

// Walks the central directory of a whole archive in memory, in directory
// order. Bytes before the archive (a self-extractor stub) are allowed, also
// when the stored offsets do not count them. Returns false and sets *error
// when a record or an entry's data lies outside the archive. With keep_data
// false, data stays empty (for archives too large to copy).
bool ParseRawZip(const std::vector<uint8_t>& archive, std::vector<RawZipEntry>* entries, std::string* error,
                 bool keep_data = true);

// Reads a file and parses it; throws std::runtime_error on failure.
std::vector<RawZipEntry> ReadRawZip(const std::filesystem::path& path);

}  // namespace qbtest
