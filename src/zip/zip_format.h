// The byte layout of the ZIP records the engine reads and writes, shared by the
// reader and the writer. All fields are little-endian.
//
// Local file header (30 bytes + name + extra, then the entry data):
//    0 u32 signature 0x04034B50      14 u32 CRC-32
//    4 u16 version needed            18 u32 compressed size
//    6 u16 general purpose flags     22 u32 uncompressed size
//    8 u16 compression method        26 u16 name length
//   10 u32 DOS time (low), date      28 u16 extra length
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
// End of central directory record (22 bytes + archive comment):
//    0 u32 signature 0x06054B50      10 u16 total entries
//    4 u16 number of this disk       12 u32 central directory size
//    6 u16 disk where the directory  16 u32 central directory offset
//          starts                    20 u16 archive comment length
//    8 u16 entries on this disk
#pragma once

#include <cstdint>
#include <cstring>

namespace qb::zip::format {

constexpr uint32_t kLocalHeaderSignature = 0x04034B50;
constexpr uint32_t kCentralHeaderSignature = 0x02014B50;
constexpr uint32_t kEndRecordSignature = 0x06054B50;

constexpr size_t kLocalHeaderSize = 30;
constexpr size_t kCentralHeaderSize = 46;
constexpr size_t kEndRecordSize = 22;
// The end record lies within the last 65535 + 22 bytes (largest comment plus record).
constexpr size_t kEndRecordSearchSpan = 65535 + kEndRecordSize;
constexpr size_t kEncryptionHeaderSize = 12;

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

inline uint16_t Get16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
inline uint32_t Get32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline void Put16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline void Put32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

}  // namespace qb::zip::format
