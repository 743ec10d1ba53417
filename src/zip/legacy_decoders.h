// Decoders for the legacy ZIP compression methods 1 to 6: Shrink, Reduce and
// Implode.
//
// PKZIP 0.9x and 1.x wrote these before Deflate (method 8) replaced them; they
// live on in old archives, so the archive reader decodes them. Nothing in this
// program encodes them. None of the three formats has an end marker: a decoder
// stops once it has produced the entry's declared uncompressed size.
//
// Shrink (method 1) is LZW over bytes. Codes are 9 to 13 bits wide, packed
//   least significant bit first. Codes 0-255 stand for themselves, 257-8191 for
//   dictionary strings; each code after the first adds the string "previous
//   string + first byte of this one" under the lowest free code. Code 256 is an
//   escape: 256,1 widens the codes by one bit (only the compressor decides
//   when), 256,2 frees every dictionary string that is no other string's
//   prefix (a "partial clear"), and freed codes are handed out again lowest
//   first. A code may name the string being defined by that very step
//   (the "KwKwK" case): previous string + its own first byte.
//
// Reduce (methods 2-5; compression factor 1-4 = method - 1) has two layers.
//   The outer one predicts each byte from the byte before it: the data opens
//   with 256 "follower sets" of up to 32 likely successors, and each byte is
//   either a short index into its predecessor's set or a flagged 8-bit
//   literal. Its output feeds the inner layer, LZ77 escaped by the byte 144
//   (DLE): DLE 0 is a literal 144; DLE V [X] C copies a match whose length
//   comes from the low bits of V (plus X when those bits are all ones) and
//   whose distance comes from the high bits of V and C. The factor sets where
//   V is split: more distance bits, fewer length bits.
//
// Implode (method 6) is LZ77 with a 4 KiB window (general-purpose flag bit 1
//   clear) or an 8 KiB window (bit 1 set). Match lengths and the upper six
//   distance bits, and literals when flag bit 2 is set, are coded with
//   Shannon-Fano trees stored as code-length runs at the start of the data.
//   Without a literal tree literals are plain 8-bit bytes and the shortest
//   match is 2 bytes long; with one, 3 bytes.
//
// History before the output: Reduce and Implode matches may reach back past
// the first output byte. The format defines that history as zero bytes (the
// compressors started from a zero-filled window), so such positions copy 0.
//
// Results: Ok when exactly out_size bytes were produced (trailing input is
// ignored); InputEnded when the compressed data ran out first; BadData for an
// invalid code, escape, follower index, tree or factor; OutputFull when a
// string or match would end past out_size (out then holds the first out_size
// bytes). Nothing is ever written past out_size. Each call's memory is a set
// of fixed-size tables (about 210 KiB at most), whatever the input says, and
// its time is linear in in_len + out_size.
#pragma once

#include <cstddef>
#include <cstdint>

#include "zip/codec.h"

namespace qb::zip {

// Method 1.
CodecResult Unshrink(const uint8_t* in, size_t in_len, uint8_t* out, size_t out_size);

// Methods 2 to 5: factor = method - 1 (1..4); any other factor is BadData.
CodecResult Unreduce(int factor, const uint8_t* in, size_t in_len, uint8_t* out, size_t out_size);

// Method 6. Only bits 1 (8 KiB window) and 2 (literal tree) of general_flags
// matter; the others are ignored.
CodecResult Explode(uint16_t general_flags, const uint8_t* in, size_t in_len, uint8_t* out, size_t out_size);

namespace legacy_internal {

// The bit reader shared by the three decoders: bits come least significant
// first, through a 64-bit buffer that one Refill() tops up to at least 56
// bits. Past the end of the input it feeds zero bytes and counts them, so the
// hot loops need no end checks; a decoder asks Overran() once per symbol,
// before acting on it, and reports InputEnded when padding was used.
class BitReader {
 public:
  BitReader(const uint8_t* in, size_t in_len) : begin_(in), next_(in), end_(in + in_len) {}

  // Afterwards at least 56 bits are buffered.
  void Refill() {
    if (end_ - next_ >= 8) {
      const uint8_t* p = next_;
      const uint64_t word = uint64_t{p[0]} | uint64_t{p[1]} << 8 | uint64_t{p[2]} << 16 |
                            uint64_t{p[3]} << 24 | uint64_t{p[4]} << 32 | uint64_t{p[5]} << 40 |
                            uint64_t{p[6]} << 48 | uint64_t{p[7]} << 56;
      bits_ |= word << count_;
      next_ += (63 - count_) >> 3;
      count_ |= 56;  // count_ + 8 * whole bytes taken, as count_ < 64
    } else {
      while (count_ <= 56) {
        uint64_t byte = 0;
        if (next_ < end_)
          byte = *next_++;
        else
          ++padding_;
        bits_ |= byte << count_;
        count_ += 8;
      }
    }
  }

  // n <= the buffered bit count (at most 56 after a Refill()).
  uint32_t Peek(unsigned n) const { return static_cast<uint32_t>(bits_ & ((uint64_t{1} << n) - 1)); }
  uint64_t PeekAll() const { return bits_; }
  void Drop(unsigned n) {
    bits_ >>= n;
    count_ -= n;
  }
  uint32_t Take(unsigned n) {
    const uint32_t value = Peek(n);
    Drop(n);
    return value;
  }
  unsigned Buffered() const { return count_; }

  // True when bits beyond the real input have been taken.
  bool Overran() const { return padding_ * 8 > count_; }

  // Whole input bytes used so far (a partly used byte counts).
  size_t Consumed() const {
    const size_t total = static_cast<size_t>(end_ - begin_);
    if (Overran()) return total;
    const size_t fed_bits = (static_cast<size_t>(next_ - begin_) + padding_) * 8;
    return (fed_bits - count_ + 7) / 8;
  }

 private:
  const uint8_t* begin_;
  const uint8_t* next_;
  const uint8_t* end_;
  uint64_t bits_ = 0;
  unsigned count_ = 0;
  size_t padding_ = 0;  // zero bytes fed after the end of the input
};

// Copies an LZ77 match of `length` bytes from `distance` bytes back to out[pos..],
// clipped at out_size; positions before out[0] read as zero. distance >= 1.
// Returns the new position.
inline size_t CopyMatch(uint8_t* out, size_t pos, size_t out_size, size_t distance, size_t length) {
  size_t end = out_size - pos < length ? out_size : pos + length;
  if (distance > pos) {  // the part that lies before the output
    const size_t zeros = distance - pos < end - pos ? distance - pos : end - pos;
    for (size_t i = 0; i < zeros; ++i) out[pos + i] = 0;
    pos += zeros;
    if (pos == end) return end;
  }
  const uint8_t* src = out + pos - distance;
  uint8_t* dst = out + pos;
  uint8_t* const stop = out + end;
  while (dst < stop) *dst++ = *src++;  // forward byte copy: overlapping matches repeat
  return end;
}

}  // namespace legacy_internal

}  // namespace qb::zip
