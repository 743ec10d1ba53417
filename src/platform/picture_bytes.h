// Internal to the picture readers and writers (picture_*.cpp; the interface is
// picture.h): bounded little-endian access to untrusted bytes, the writers' byte
// appenders, the signatures more than one format checks, and the DIB parser that
// the BMP and icon readers share.
#pragma once

#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <vector>

#include "platform/picture.h"

namespace qb {

namespace picture_bytes {

// Every read of untrusted bytes goes through Fits(): offset and count are checked
// against the size without overflow before anything is touched.

inline bool Fits(std::span<const uint8_t> b, uint64_t offset, uint64_t count) {
  return offset <= b.size() && count <= b.size() - offset;
}
inline uint16_t U16(std::span<const uint8_t> b, size_t o) {
  return static_cast<uint16_t>(b[o] | b[o + 1] << 8);
}
inline uint32_t U32(std::span<const uint8_t> b, size_t o) {
  return static_cast<uint32_t>(b[o]) | static_cast<uint32_t>(b[o + 1]) << 8 |
         static_cast<uint32_t>(b[o + 2]) << 16 | static_cast<uint32_t>(b[o + 3]) << 24;
}
inline int32_t I32(std::span<const uint8_t> b, size_t o) {
  return static_cast<int32_t>(U32(b, o));
}
inline uint32_t BE32(std::span<const uint8_t> b, size_t o) {
  return static_cast<uint32_t>(b[o]) << 24 | static_cast<uint32_t>(b[o + 1]) << 16 |
         static_cast<uint32_t>(b[o + 2]) << 8 | static_cast<uint32_t>(b[o + 3]);
}

inline void Put16(std::vector<uint8_t>& out, uint32_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}
inline void Put32(std::vector<uint8_t>& out, uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}
inline void PutTag(std::vector<uint8_t>& out, const char* tag) {
  for (int k = 0; k < 4; ++k) out.push_back(static_cast<uint8_t>(tag[k]));
}
inline void Set32(std::vector<uint8_t>& out, size_t o, uint32_t v) {
  for (int k = 0; k < 4; ++k) out[o + k] = static_cast<uint8_t>(v >> (8 * k));
}
inline bool StartsWith(std::span<const uint8_t> b, const uint8_t* sig, size_t n) {
  return b.size() >= n && std::memcmp(b.data(), sig, n) == 0;
}

inline constexpr uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
inline constexpr uint32_t kEmfSignature = 0x464D4520;  // " EMF"
inline constexpr uint32_t kEmrHeader = 1, kEmrEof = 14, kEmrComment = 70;
inline constexpr uint32_t kGdiComment = 0x43494447;  // "GDIC"
inline constexpr uint32_t kCommentWindowsMetafile = 0x80000001;
inline constexpr uint32_t kPlaceableKey = 0x9AC6CDD7;

}  // namespace picture_bytes

// What a DIB parse found besides the image: where its bits ended in the input
// (an icon's AND mask follows there).
struct ParsedDib {
  TDib dib;
  uint64_t bits_end = 0;
};

class TDibReader {
 public:
  // Reads the info header at info, the masks and colour table after it, and the
  // bits at bits_offset (when given and plausible) or right after the colour table.
  static ParsedDib Parse(std::span<const uint8_t> d, size_t info, std::optional<uint64_t> bits_offset,
                         int height_divisor);
};

}  // namespace qb
