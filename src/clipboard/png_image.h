// EncodePng: a bitmap as a PNG file image, for handing pictures to other programs.
//
// Other programs take pictures from the clipboard as PNG. A general PNG encoder
// (libpng through the toolkit) tries five row filters on every row and compresses
// hard: a 12-megapixel photo takes seconds. Here speed comes first: every row gets
// the "Up" filter (the row minus the row above, which suits photographs and flat
// screenshots alike and costs one subtraction a byte), and the filtered rows go
// through the archive engine's Deflate at a fast level in one zlib stream, split
// into IDAT chunks. The result is an ordinary 8-bit truecolour PNG (colour type 2,
// no alpha: a bitmap's fourth byte is not transparency).
//
// Layout: signature, IHDR (width, height, depth 8, colour type 2, deflate, filter
// method 0, no interlace), IDAT chunks of at most kPngIdatChunk bytes holding the
// zlib stream (header 78 01, raw Deflate, Adler-32 of the filtered rows), IEND.
// Each chunk is length, type, data, CRC-32 of type and data, big-endian.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/picture.h"

namespace qb {

inline constexpr size_t kPngIdatChunk = 1u << 20;

// The PNG file image of a bitmap of any bit count, at Deflate level 1..9. An empty
// bitmap gives an empty result.
std::vector<uint8_t> EncodePng(const TDib& bitmap, int level = 1);

// Adler-32 as zlib computes it (initial value 1).
uint32_t Adler32(uint32_t adler, const uint8_t* data, size_t len);

}  // namespace qb
