// The byte layout of the ZIP records, encoded and decoded in one place for the
// reader, the writer and the tests' own archive walker. All fields are
// little-endian.
//
// Local file header (30 bytes + name + extra, then the entry data):
//    0 u32 signature 0x04034B50      14 u32 CRC-32
//    4 u16 version needed            18 u32 compressed size
//    6 u16 general purpose flags     22 u32 uncompressed size
//    8 u16 compression method        26 u16 name length
//   10 u32 DOS time (low), date      28 u16 extra length
//
// Data descriptor (after the data when flag bit 3 is set): an optional
// signature 0x08074B50, then CRC-32 and the two sizes, 4 bytes each, or 8 bytes
// each when the local header carries a ZIP64 extra field.
//
// Central directory record (46 bytes + name + extra + comment):
//    0 u32 signature 0x02014B50      28 u16 name length
//    4 u16 version made by           30 u16 extra length
//    6 u16 version needed            32 u16 comment length
//    8 u16 general purpose flags     34 u16 disk number start
//   10 u16 compression method        36 u16 internal attributes
//   12 u32 DOS time (low), date      38 u32 external attributes
//   16 u32 CRC-32                    42 u32 local header offset
//   20 u32 compressed size
//   24 u32 uncompressed size
//
// ZIP64 end of central directory record (56 bytes + extensible data), written
// by archives that need more than the end record's fields hold:
//    0 u32 signature 0x06064B50      24 u64 entries on this disk
//    4 u64 size of the rest          32 u64 total entries
//   12 u16 version made by           40 u64 central directory size
//   14 u16 version needed            48 u64 central directory offset
//   16 u32 number of this disk
//   20 u32 disk where the directory starts
//
// ZIP64 end of central directory locator (20 bytes, right before the end record):
//    0 u32 signature 0x07064B50       8 u64 offset of the ZIP64 end record
//    4 u32 disk of the ZIP64 record  16 u32 total number of disks
//
// End of central directory record (22 bytes + archive comment):
//    0 u32 signature 0x06054B50      10 u16 total entries
//    4 u16 number of this disk       12 u32 central directory size
//    6 u16 disk where the directory  16 u32 central directory offset
//          starts                    20 u16 archive comment length
//    8 u16 entries on this disk
//
// A 16-bit field of 0xFFFF or a 32-bit field of 0xFFFFFFFF in the end record
// means "see the ZIP64 record"; in a header, a size or offset of 0xFFFFFFFF
// means "see the ZIP64 extra field".
//
// Extra fields: a sequence of (u16 id, u16 data length, data). The ones the
// engine reads or decides about:
//   0x0001 ZIP64 extended information: u64 values for the header fields that
//          are 0xFFFFFFFF, in this order: uncompressed size, compressed size,
//          local header offset; then u32 disk number start when it is 0xFFFF.
//   0x7075 Info-ZIP Unicode path: u8 version (1), u32 CRC-32 of the stored
//          name bytes, then the name in UTF-8. Counts only while the CRC matches.
//   0x7875 Info-ZIP Unix owner (UID and GID); 0x7855 the older form of it.
#pragma once

#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

namespace qb::zip::format {

constexpr uint32_t kLocalHeaderSignature = 0x04034B50;
constexpr uint32_t kCentralHeaderSignature = 0x02014B50;
constexpr uint32_t kEndRecordSignature = 0x06054B50;
constexpr uint32_t kZip64EndRecordSignature = 0x06064B50;
constexpr uint32_t kZip64LocatorSignature = 0x07064B50;
constexpr uint32_t kDataDescriptorSignature = 0x08074B50;

constexpr size_t kLocalHeaderSize = 30;
constexpr size_t kCentralHeaderSize = 46;
constexpr size_t kEndRecordSize = 22;
constexpr size_t kZip64EndRecordSize = 56;
constexpr size_t kZip64LocatorSize = 20;
// The end record lies within the last 65535 + 22 bytes (largest comment plus record).
constexpr size_t kEndRecordSearchSpan = 65535 + kEndRecordSize;
constexpr size_t kEncryptionHeaderSize = 12;

// "See the ZIP64 record / extra field".
constexpr uint16_t kMasked16 = 0xFFFF;
constexpr uint32_t kMasked32 = 0xFFFFFFFF;

// General purpose flag bits.
constexpr uint16_t kFlagEncrypted = 1 << 0;
constexpr uint16_t kFlagDeflateMax = 1 << 1;   // levels 8 and 9
constexpr uint16_t kFlagDeflateFast = 1 << 2;  // levels 1 and 2
constexpr uint16_t kFlagDataDescriptor = 1 << 3;
constexpr uint16_t kFlagUtf8Names = 1 << 11;

// Compression methods.
constexpr uint16_t kMethodStored = 0;
constexpr uint16_t kMethodShrunk = 1;
constexpr uint16_t kMethodReducedFirst = 2;
constexpr uint16_t kMethodReducedLast = 5;
constexpr uint16_t kMethodImploded = 6;
constexpr uint16_t kMethodDeflated = 8;

// "Version made by": the high byte names the host system whose conventions the
// name and the external attributes follow; the low byte the format version.
constexpr uint8_t kHostFat = 0;
constexpr uint8_t kHostUnix = 3;
constexpr uint16_t kVersion20 = 20;
constexpr uint16_t kMadeByUnix20 = (kHostUnix << 8) | kVersion20;
// External attributes of the entries we write: the Unix mode in the high half
// (a regular file 0644, a directory 0755), the MS-DOS attributes in the low byte.
constexpr uint32_t kUnixFileAttributes = (0100644u << 16) | 0x20;
constexpr uint32_t kUnixDirectoryAttributes = (040755u << 16) | 0x10;

// Extra field ids.
constexpr uint16_t kExtraZip64 = 0x0001;
constexpr uint16_t kExtraUnicodePath = 0x7075;
constexpr uint16_t kExtraUnixOwner = 0x7875;
constexpr uint16_t kExtraUnixOwnerOld = 0x7855;

inline uint16_t Get16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
inline uint32_t Get32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline uint64_t Get64(const uint8_t* p) {
  return Get32(p) | (static_cast<uint64_t>(Get32(p + 4)) << 32);
}
inline void Put16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline void Put32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
inline void Put64(uint8_t* p, uint64_t v) {
  Put32(p, static_cast<uint32_t>(v));
  Put32(p + 4, static_cast<uint32_t>(v >> 32));
}

// ---- Fixed parts of the records -------------------------------------------------
// Each Decode reads the fixed part at p (the record's size in bytes must be
// there) and returns false when the signature is not the record's. Each Encode
// writes the fixed part, signature included.

struct LocalHeader {
  uint16_t version_needed = 0;
  uint16_t flags = 0;
  uint16_t method = 0;
  uint32_t dos_date_time = 0;
  uint32_t crc = 0;
  uint32_t compressed_size = 0;
  uint32_t uncompressed_size = 0;
  uint16_t name_length = 0;
  uint16_t extra_length = 0;

  // Bytes from the header's start to its data.
  uint64_t Span() const { return kLocalHeaderSize + uint64_t{name_length} + extra_length; }
};
bool DecodeLocalHeader(const uint8_t* p, LocalHeader& h);
void EncodeLocalHeader(const LocalHeader& h, uint8_t* p);

struct CentralHeader {
  uint16_t version_made_by = 0;
  uint16_t version_needed = 0;
  uint16_t flags = 0;
  uint16_t method = 0;
  uint32_t dos_date_time = 0;
  uint32_t crc = 0;
  uint32_t compressed_size = 0;
  uint32_t uncompressed_size = 0;
  uint16_t name_length = 0;
  uint16_t extra_length = 0;
  uint16_t comment_length = 0;
  uint16_t disk_number_start = 0;
  uint16_t internal_attributes = 0;
  uint32_t external_attributes = 0;
  uint32_t local_header_offset = 0;

  // Bytes of the whole record: fixed part, name, extra field and comment.
  uint64_t Span() const { return kCentralHeaderSize + uint64_t{name_length} + extra_length + comment_length; }
};
bool DecodeCentralHeader(const uint8_t* p, CentralHeader& h);
void EncodeCentralHeader(const CentralHeader& h, uint8_t* p);

struct EndRecord {
  uint16_t this_disk = 0;
  uint16_t directory_disk = 0;
  uint16_t entries_this_disk = 0;
  uint16_t total_entries = 0;
  uint32_t directory_size = 0;
  uint32_t directory_offset = 0;
  uint16_t comment_length = 0;

  // True when some field says "see the ZIP64 record".
  bool Masked() const {
    return this_disk == kMasked16 || directory_disk == kMasked16 || entries_this_disk == kMasked16 ||
           total_entries == kMasked16 || directory_size == kMasked32 || directory_offset == kMasked32;
  }
};
bool DecodeEndRecord(const uint8_t* p, EndRecord& r);
void EncodeEndRecord(const EndRecord& r, uint8_t* p);

struct Zip64EndRecord {
  uint64_t record_size = kZip64EndRecordSize - 12;  // the bytes after this field
  uint16_t version_made_by = 0;
  uint16_t version_needed = 0;
  uint32_t this_disk = 0;
  uint32_t directory_disk = 0;
  uint64_t entries_this_disk = 0;
  uint64_t total_entries = 0;
  uint64_t directory_size = 0;
  uint64_t directory_offset = 0;
};
bool DecodeZip64EndRecord(const uint8_t* p, Zip64EndRecord& r);
void EncodeZip64EndRecord(const Zip64EndRecord& r, uint8_t* p);

struct Zip64Locator {
  uint32_t record_disk = 0;
  uint64_t record_offset = 0;
  uint32_t total_disks = 1;
};
bool DecodeZip64Locator(const uint8_t* p, Zip64Locator& l);
void EncodeZip64Locator(const Zip64Locator& l, uint8_t* p);

// ---- Extra fields ----------------------------------------------------------------

// Calls visit(id, data) for each field of an extra block, in order; stops early
// when visit returns false. Returns false when the block is malformed (a field
// running past its end); the fields before the fault have been visited.
template <class Visit>
bool ForEachExtraField(std::string_view extra, Visit visit) {
  size_t at = 0;
  while (at + 4 <= extra.size()) {
    const auto* p = reinterpret_cast<const uint8_t*>(extra.data() + at);
    const uint16_t id = Get16(p), length = Get16(p + 2);
    if (length > extra.size() - at - 4) return false;
    if (!visit(id, extra.substr(at + 4, length))) return true;
    at += 4 + size_t{length};
  }
  return at == extra.size();
}

// The data of the first field with this id, if any.
std::optional<std::string_view> FindExtraField(std::string_view extra, uint16_t id);

// The block without the fields whose id keep() rejects. Bytes after a malformed
// field are dropped too.
template <class Keep>
std::string FilterExtraFields(std::string_view extra, Keep keep) {
  std::string out;
  size_t at = 0;
  ForEachExtraField(extra, [&](uint16_t id, std::string_view data) {
    if (keep(id)) out.append(extra.substr(at, 4 + data.size()));
    at += 4 + data.size();
    return true;
  });
  return out;
}

// The 64-bit values of a header's masked fields. Fields that are not masked keep
// the header's value. Returns false when a masked field has no value in the
// extra block (the header's 0xFFFFFFFF then stands).
struct Zip64Values {
  uint64_t uncompressed_size = 0;
  uint64_t compressed_size = 0;
  uint64_t local_header_offset = 0;
  uint32_t disk_number_start = 0;
};
bool ReadZip64Extra(std::string_view extra, bool uncompressed_masked, bool compressed_masked,
                    bool offset_masked, bool disk_masked, Zip64Values& values);

// The UTF-8 name of an Info-ZIP Unicode path field, when the block has one whose
// CRC matches the stored name bytes and whose text is valid UTF-8.
std::optional<std::string> UnicodePathName(std::string_view extra, std::string_view stored_name);

}  // namespace qb::zip::format
