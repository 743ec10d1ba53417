// A tiny ZIP central-directory walker for tests: it lists an archive's entries
// with their header fields and the raw (still compressed, still encrypted)
// bytes of their data, and decodes nothing. It is independent of the archive
// engine, so tests can check the engine's pieces against it.
//
// Every offset and length is bounds-checked; a damaged archive gives an error
// message, never a crash. Not handled: ZIP64, multi-disk archives, archives
// without a central directory.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace qbtest {

struct RawZipEntry {
  std::string name;  // the stored bytes, unconverted
  uint16_t method = 0;
  uint16_t flags = 0;  // general-purpose flags from the central directory
  uint32_t crc32 = 0;
  uint32_t compressed_size = 0;
  uint32_t uncompressed_size = 0;
  uint32_t local_header_offset = 0;  // as stored
  std::vector<uint8_t> data;         // compressed_size bytes after the local header
};

// Walks the central directory of a whole archive in memory, in directory
// order. Bytes before the archive (a self-extractor stub) are allowed, also
// when the stored offsets do not count them. Returns false and sets *error
// when a record or an entry's data lies outside the archive.
bool ParseRawZip(const std::vector<uint8_t>& archive, std::vector<RawZipEntry>* entries, std::string* error);

// Reads a file and parses it; throws std::runtime_error on failure.
std::vector<RawZipEntry> ReadRawZip(const std::filesystem::path& path);

}  // namespace qbtest
