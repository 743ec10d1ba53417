// Reduce (methods 2 to 5) decoder.
//
// Reduce stacks two simple coders, and a naive decoder runs them as two
// passes: undo the byte prediction into a temporary buffer, then expand the
// DLE-escaped matches from it. The temporary buffer has no size known in
// advance, which would make memory depend on the input. Since the data is
// whole in memory, the inner layer here simply pulls bytes from the outer one
// as it needs them, so an escape sequence reads as straight-line code rather
// than a state machine and nothing but the output buffer is ever written.
//
// Outer layer: the 256 follower sets come first, last byte value first, each
// as a 6-bit count (at most 32; more is BadData) and that many 8-bit bytes.
// Then every byte is coded against the byte before it in this layer's output
// (not the final output), starting from 0: with an empty set, 8 literal bits;
// otherwise a 1 bit and 8 literal bits, or a 0 bit and an index of
// kIndexBits[n] bits into the set of n followers. An index past the set's end
// is BadData.
//
// Inner layer: any byte but DLE (144) is itself. DLE 0 is a 144. DLE V, with
// V != 0, starts a match: its length is the low (7 - (factor - 1)) bits of V,
// plus the next byte when those bits are all ones, plus 3; its distance is the
// remaining high bits of V times 256, plus the byte after that, plus 1, so at
// most 256 << factor. Positions before the output read as zero bytes.

#include <array>
#include <cstring>

#include "zip/legacy_decoders.h"

namespace qb::zip {

namespace {

using legacy_internal::BitReader;

constexpr uint8_t kDle = 144;
constexpr unsigned kMaxFollowers = 32;
constexpr unsigned kMinMatch = 3;

// Bits of a follower index for a set of n followers: enough to write n - 1,
// but at least one.
constexpr std::array<uint8_t, kMaxFollowers + 1> kIndexBits = [] {
  std::array<uint8_t, kMaxFollowers + 1> bits{};
  for (unsigned n = 1; n <= kMaxFollowers; ++n) {
    uint8_t b = 1;
    while ((1u << b) < n) ++b;
    bits[n] = b;
  }
  return bits;
}();
static_assert(kIndexBits[1] == 1 && kIndexBits[2] == 1 && kIndexBits[3] == 2 && kIndexBits[32] == 5);

struct FollowerSets {
  uint8_t count[256];
  uint8_t bytes[256][kMaxFollowers];
};

// What NextByte() returns besides a byte value.
constexpr int kInputEnded = -1;
constexpr int kBadIndex = -2;

}  // namespace

CodecResult Unreduce(int factor, const uint8_t* in, size_t in_len, uint8_t* out, size_t out_size) {
  BitReader br(in, in_len);
  auto result = [&](CodecStatus status, size_t produced) {
    return CodecResult{status, br.Consumed(), produced};
  };
  if (factor < 1 || factor > 4) return result(CodecStatus::BadData, 0);

  FollowerSets sets;  // 8.5 KiB
  for (int j = 255; j >= 0; --j) {
    br.Refill();
    const unsigned n = br.Take(6);
    if (br.Overran()) return result(CodecStatus::InputEnded, 0);
    if (n > kMaxFollowers) return result(CodecStatus::BadData, 0);
    sets.count[j] = static_cast<uint8_t>(n);
    for (unsigned k = 0; k < n; ++k) {
      if (br.Buffered() < 8) br.Refill();
      sets.bytes[j][k] = static_cast<uint8_t>(br.Take(8));
    }
    if (br.Overran()) return result(CodecStatus::InputEnded, 0);
  }
  if (out_size == 0) return result(CodecStatus::Ok, 0);

  const unsigned length_mask = 0x7Fu >> (factor - 1);
  const unsigned distance_shift = 8 - static_cast<unsigned>(factor);
  unsigned last = 0;  // the outer layer's previous byte

  // The outer layer's next byte, or kInputEnded / kBadIndex.
  auto next_byte = [&]() -> int {
    if (br.Buffered() < 14) br.Refill();  // 1 + 8 bits, or 1 + 5
    const unsigned n = sets.count[last];
    unsigned c;
    if (n == 0 || br.Take(1) != 0) {
      c = br.Take(8);
    } else {
      const unsigned index = br.Take(kIndexBits[n]);
      if (br.Overran()) return kInputEnded;
      if (index >= n) return kBadIndex;
      c = sets.bytes[last][index];
    }
    if (br.Overran()) return kInputEnded;
    last = c;
    return static_cast<int>(c);
  };
  auto failure = [&](int code, size_t produced) {
    return result(code == kInputEnded ? CodecStatus::InputEnded : CodecStatus::BadData, produced);
  };

  size_t pos = 0;
  while (pos < out_size) {
    int c = next_byte();
    if (c < 0) return failure(c, pos);
    if (c != kDle) {
      out[pos++] = static_cast<uint8_t>(c);
      continue;
    }
    const int v = next_byte();
    if (v < 0) return failure(v, pos);
    if (v == 0) {
      out[pos++] = kDle;
      continue;
    }
    size_t length = static_cast<unsigned>(v) & length_mask;
    if (length == length_mask) {
      c = next_byte();
      if (c < 0) return failure(c, pos);
      length += static_cast<unsigned>(c);
    }
    c = next_byte();
    if (c < 0) return failure(c, pos);
    const size_t distance = ((static_cast<size_t>(v) >> distance_shift) << 8) + static_cast<unsigned>(c) + 1;
    length += kMinMatch;
    const bool fits = length <= out_size - pos;
    pos = legacy_internal::CopyMatch(out, pos, out_size, distance, length);
    if (!fits) return result(CodecStatus::OutputFull, pos);
  }
  return result(CodecStatus::Ok, pos);
}

}  // namespace qb::zip
