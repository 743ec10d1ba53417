// Shrink (method 1) decoder.
//
// The textbook LZW decoder keeps every dictionary string as a (prefix code,
// last byte) pair and walks the prefix chain backwards to spell a string out.
// That walk is where LZW decoders go wrong on hostile input: a chain that
// loops never ends, and Shrink's partial clear makes loops possible, since a
// freed code can be handed out again while a newer string still names it as
// its prefix.
//
// This decoder spells strings differently. The string a step adds is "the
// previous code's output + the first byte of this code's output", which is
// exactly the output bytes starting where the previous code's string was
// written, one longer. So a code is stored as the position and length of those
// output bytes, and decoding it is one copy from earlier output. No chains, no
// walks, no loops; the KwKwK case (a code that names the string this very step
// defines) becomes an overlapping copy, like an LZ77 match.
//
// A partial clear does not forget the previous code: the first code after
// 256,2 still adds "previous string + its first byte" under the lowest free
// code, even when the clear has just freed the previous code itself. PKZIP's
// streams rely on this.
//
// The prefix code of every string is still kept, only to find the leaves at a
// partial clear. A clear must not cost a scan of the whole 8192-code table
// (a stream of nothing but clears would then cost 8192 steps per 18 input
// bits), so each code counts the strings that name it as prefix, and a
// candidate list holds every code that may be a leaf: codes added since the
// last clear and codes whose last child that clear freed. A clear frees the
// candidates that really are leaves, which makes its cost proportional to the
// work done since the previous one. Free codes sit in a bit set, searched for
// the lowest one from a hint word that only moves back at a clear.
//
// The prefix counts go by code number, as a chain-based decoder's would: if a
// string is added while its prefix code is free (the previous code was
// freed by the clear just before), that code counts a child, and whichever
// string later takes the code is no leaf until that child is freed.

#include <algorithm>
#include <bit>
#include <cstring>
#include <memory>

#include "zip/legacy_decoders.h"

namespace qb::zip {

namespace {

using legacy_internal::BitReader;

constexpr unsigned kMinCodeBits = 9;
constexpr unsigned kMaxCodeBits = 13;
constexpr uint32_t kCodeCount = 1u << kMaxCodeBits;  // 8192
constexpr uint32_t kEscape = 256;                    // 256,1 = wider codes; 256,2 = partial clear
constexpr uint32_t kFirstStringCode = 257;
constexpr uint32_t kFreeWords = kCodeCount / 64;

// One allocation per call; nothing here depends on the input's values.
struct ShrinkTable {
  size_t pos[kCodeCount];         // where the string was written in the output
  size_t len[kCodeCount];         // its length
  uint16_t prefix[kCodeCount];    // the code it extends
  uint16_t children[kCodeCount];  // how many strings name this code as prefix
  bool in_use[kCodeCount];
  bool candidate[kCodeCount];       // listed in `candidates`
  uint16_t candidates[kCodeCount];  // every in-use code with no children is listed here
  uint16_t to_free[kCodeCount];
  uint64_t free_bits[kFreeWords];  // bit set = code free (string codes only)
  uint32_t candidate_count;
  uint32_t free_hint;  // no free code below word free_hint
};

void InitTable(ShrinkTable& t) {
  std::memset(t.children, 0, sizeof t.children);
  std::memset(t.in_use, 0, sizeof t.in_use);
  std::memset(t.candidate, 0, sizeof t.candidate);
  for (uint32_t w = 0; w < kFreeWords; ++w) t.free_bits[w] = ~uint64_t{0};
  t.free_bits[kFirstStringCode / 64] &= ~uint64_t{0} << (kFirstStringCode % 64);  // 256 is no string code
  for (uint32_t w = 0; w < kFirstStringCode / 64; ++w) t.free_bits[w] = 0;
  t.candidate_count = 0;
  t.free_hint = kFirstStringCode / 64;
}

// The lowest free code, or kCodeCount when the table is full.
uint32_t LowestFree(ShrinkTable& t) {
  while (t.free_hint < kFreeWords && t.free_bits[t.free_hint] == 0) ++t.free_hint;
  if (t.free_hint == kFreeWords) return kCodeCount;
  return t.free_hint * 64 + static_cast<uint32_t>(std::countr_zero(t.free_bits[t.free_hint]));
}

void AddCandidate(ShrinkTable& t, uint32_t code) {
  if (!t.candidate[code]) {
    t.candidate[code] = true;
    t.candidates[t.candidate_count++] = static_cast<uint16_t>(code);
  }
}

// Frees every string code that is in use and no other string's prefix.
void PartialClear(ShrinkTable& t) {
  uint32_t leaves = 0;
  for (uint32_t i = 0; i < t.candidate_count; ++i) {
    const uint32_t code = t.candidates[i];
    t.candidate[code] = false;
    if (t.in_use[code] && t.children[code] == 0) t.to_free[leaves++] = static_cast<uint16_t>(code);
  }
  t.candidate_count = 0;
  for (uint32_t i = 0; i < leaves; ++i) {
    const uint32_t code = t.to_free[i];
    t.in_use[code] = false;
    t.free_bits[code / 64] |= uint64_t{1} << (code % 64);
    t.free_hint = std::min(t.free_hint, code / 64);
    const uint32_t parent = t.prefix[code];
    if (parent >= kFirstStringCode && --t.children[parent] == 0 && t.in_use[parent]) AddCandidate(t, parent);
  }
}

}  // namespace

CodecResult Unshrink(const uint8_t* in, size_t in_len, uint8_t* out, size_t out_size) {
  auto result = [&](CodecStatus status, const BitReader& br, size_t produced) {
    return CodecResult{status, br.Consumed(), produced};
  };
  BitReader br(in, in_len);
  if (out_size == 0) return result(CodecStatus::Ok, br, 0);

  auto table = std::make_unique_for_overwrite<ShrinkTable>();
  ShrinkTable& t = *table;
  InitTable(t);

  unsigned code_bits = kMinCodeBits;
  uint32_t prev = kCodeCount;  // none yet
  size_t prev_pos = 0, prev_len = 0;
  size_t pos = 0;
  uint32_t next_free = kFirstStringCode;

  while (pos < out_size) {
    br.Refill();  // two codes of at most 13 bits fit in 56
    const uint32_t code = br.Take(code_bits);
    if (code == kEscape) {
      const uint32_t op = br.Take(code_bits);
      if (br.Overran()) return result(CodecStatus::InputEnded, br, pos);
      if (op == 1 && code_bits < kMaxCodeBits) {
        ++code_bits;
      } else if (op == 2) {
        PartialClear(t);
        next_free = LowestFree(t);
      } else {
        return result(CodecStatus::BadData, br, pos);
      }
      continue;
    }
    if (br.Overran()) return result(CodecStatus::InputEnded, br, pos);

    size_t src, len;
    if (code < 256) {
      src = 0;
      len = 1;
    } else if (t.in_use[code]) {
      src = t.pos[code];
      len = t.len[code];
    } else if (code == next_free && prev != kCodeCount) {
      src = prev_pos;  // KwKwK: the string this step defines
      len = prev_len + 1;
    } else {
      return result(CodecStatus::BadData, br, pos);
    }

    if (prev != kCodeCount && next_free < kCodeCount) {
      const uint32_t added = next_free;
      t.pos[added] = prev_pos;
      t.len[added] = prev_len + 1;
      t.prefix[added] = static_cast<uint16_t>(prev);
      t.in_use[added] = true;
      t.free_bits[added / 64] &= ~(uint64_t{1} << (added % 64));
      if (prev >= kFirstStringCode) ++t.children[prev];
      AddCandidate(t, added);
      next_free = LowestFree(t);
    }

    const size_t room = out_size - pos;
    const size_t n = std::min(len, room);
    if (code < 256) {
      out[pos] = static_cast<uint8_t>(code);
    } else if (src + n <= pos) {
      std::memcpy(out + pos, out + src, n);
    } else {
      for (size_t i = 0; i < n; ++i) out[pos + i] = out[src + i];  // KwKwK overlaps by one byte
    }
    prev = code;
    prev_pos = pos;
    prev_len = len;
    pos += n;
    if (len > room) return result(CodecStatus::OutputFull, br, pos);
  }
  return result(CodecStatus::Ok, br, pos);
}

}  // namespace qb::zip
