// Implode (method 6) decoder.
//
// A naive decoder walks each Shannon-Fano tree one bit at a time: up to 16
// steps per symbol and up to three symbols per match. Here every tree becomes
// a lookup table indexed by the next bits of the stream, so a symbol costs one
// lookup, or two for codes longer than kPrimaryBits. Such codes are rare (the
// trees come from symbol frequencies), so they go to small second-level
// tables hung off the primary entry their first kPrimaryBits bits select,
// each sized for the longest code that shares that prefix. Table memory is
// fixed by the symbol counts, whatever the code lengths.
//
// Codes. The stored lengths are sorted (stably) shortest first; walking that
// order backwards, i.e. from the longest code down, each symbol takes the
// running 16-bit value `code` and the value then grows by 2^(16 - length).
// The code of a symbol is the top `length` bits of its value, sent most
// significant bit first, into a stream otherwise read least significant bit
// first; bit-reversing each code turns it into an index for the table. The
// assignment yields a prefix code exactly when the values never pass 2^16 and
// each first value of a new (shorter) length is a multiple of its increment;
// anything else is rejected as BadData. A prefix code may be incomplete: bit
// patterns that match no code have an empty table entry and are BadData when
// met.
//
// Stream. After the trees (each: a byte holding the number of bytes that
// follow minus one, then bytes of (count - 1) << 4 | (length - 1)), a 1 bit
// introduces a literal (coded with the literal tree, or 8 plain bits) and a
// 0 bit a match: 6 or 7 plain low distance bits, the high six distance bits
// from the distance tree, then the length from the length tree (+2, or +3
// with a literal tree; the top length symbol also takes 8 plain bits more).
// The match starts distance + 1 bytes back; positions before the output read
// as zero bytes.
//
// Every step needs at most 1 + 7 + 16 + 16 + 8 = 48 bits, so one refill of
// the 64-bit bit buffer per step suffices and the step itself never checks
// the input; the reader's padding count tells afterwards whether the step
// used bits past the end.

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>

#include "zip/legacy_decoders.h"

namespace qb::zip {

namespace {

using legacy_internal::BitReader;

constexpr unsigned kMaxCodeLength = 16;
constexpr unsigned kPrimaryBits = 9;
constexpr uint32_t kPrimarySize = 1u << kPrimaryBits;
constexpr unsigned kMaxSubtableBits = kMaxCodeLength - kPrimaryBits;

// Table entries, 32 bits:
//   a symbol:    bits 0-7 symbol, bits 8-12 full code length (1..16)
//   a subtable:  bit 13 set, bits 8-12 its index bits (1..7), bits 16-31 its
//                offset in the same array
//   no code:     0 (length 0)
constexpr uint32_t kSubtableFlag = 1u << 13;
constexpr uint32_t SymbolEntry(unsigned symbol, unsigned length) {
  return symbol | length << 8;
}
constexpr uint32_t SubtableEntry(uint32_t offset, unsigned bits) {
  return kSubtableFlag | bits << 8 | offset << 16;
}
constexpr unsigned EntryLength(uint32_t e) {
  return (e >> 8) & 31;
}

// A primary table plus, at worst, a full-size subtable for every symbol.
constexpr uint32_t TableSize(unsigned symbols) {
  return kPrimarySize + symbols * (1u << kMaxSubtableBits);
}
static_assert(TableSize(256) - 1 <= 0xFFFF, "subtable offsets must fit in 16 bits");
static_assert(SubtableEntry(TableSize(256) - 1, kMaxSubtableBits) >> 16 == TableSize(256) - 1);

struct ImplodeTables {
  uint32_t literal[TableSize(256)];
  uint32_t length[TableSize(64)];
  uint32_t distance[TableSize(64)];
};

constexpr uint32_t ReverseBits(uint32_t value, unsigned count) {
  uint32_t reversed = 0;
  for (unsigned i = 0; i < count; ++i) reversed |= ((value >> i) & 1) << (count - 1 - i);
  return reversed;
}
static_assert(ReverseBits(0x1234, 16) == 0x2C48);

// Reads one tree's code lengths, a run-length list starting at in[*p].
CodecStatus ReadLengths(const uint8_t* in, size_t in_len, size_t* p, uint8_t* lengths, unsigned symbols) {
  if (*p >= in_len) return CodecStatus::InputEnded;
  const unsigned bytes = in[(*p)++] + 1u;
  unsigned filled = 0;
  for (unsigned b = 0; b < bytes; ++b) {
    if (*p >= in_len) return CodecStatus::InputEnded;
    const uint8_t run = in[(*p)++];
    const unsigned count = (run >> 4) + 1u;
    const unsigned length = (run & 15) + 1u;
    if (count > symbols - filled) return CodecStatus::BadData;
    std::fill_n(lengths + filled, count, static_cast<uint8_t>(length));
    filled += count;
  }
  return filled == symbols ? CodecStatus::Ok : CodecStatus::BadData;
}

// Builds the lookup table of a tree; false when the lengths make no prefix code.
bool BuildTable(const uint8_t* lengths, unsigned symbols, uint32_t* table) {
  // Stable sort by length (counting sort).
  unsigned first_of_length[kMaxCodeLength + 2] = {};
  for (unsigned s = 0; s < symbols; ++s) ++first_of_length[lengths[s] + 1];
  for (unsigned l = 1; l <= kMaxCodeLength + 1; ++l) first_of_length[l] += first_of_length[l - 1];
  uint8_t order[256];
  for (unsigned s = 0; s < symbols; ++s) order[first_of_length[lengths[s]]++] = static_cast<uint8_t>(s);

  // Assign values from the longest code down; keep each code bit-reversed.
  uint16_t reversed[256];
  uint32_t value = 0, increment = 0;
  unsigned last_length = 0;
  for (unsigned i = symbols; i-- > 0;) {
    const unsigned s = order[i];
    const unsigned length = lengths[s];
    value += increment;
    if (length != last_length) {
      last_length = length;
      increment = 1u << (kMaxCodeLength - length);
      if (value & (increment - 1)) return false;  // a longer code would start with this one
    }
    if (value > (1u << kMaxCodeLength) - increment) return false;  // more codes than 16 bits hold
    reversed[s] = static_cast<uint16_t>(ReverseBits(value >> (kMaxCodeLength - length), length));
  }

  // Subtables: sized by the longest code behind each primary index.
  uint8_t sub_bits[kPrimarySize] = {};
  for (unsigned s = 0; s < symbols; ++s) {
    if (lengths[s] > kPrimaryBits) {
      uint8_t& bits = sub_bits[reversed[s] & (kPrimarySize - 1)];
      bits = std::max<uint8_t>(bits, static_cast<uint8_t>(lengths[s] - kPrimaryBits));
    }
  }
  uint32_t next_subtable = kPrimarySize;
  for (uint32_t p = 0; p < kPrimarySize; ++p) {
    if (sub_bits[p] == 0) {
      table[p] = 0;
      continue;
    }
    table[p] = SubtableEntry(next_subtable, sub_bits[p]);
    std::fill_n(table + next_subtable, 1u << sub_bits[p], 0u);
    next_subtable += 1u << sub_bits[p];
  }

  // Each code fills every entry whose index starts with it. The code is
  // prefix-free, so no entry is filled twice.
  for (unsigned s = 0; s < symbols; ++s) {
    const unsigned length = lengths[s];
    const uint32_t entry = SymbolEntry(s, length);
    if (length <= kPrimaryBits) {
      for (uint32_t i = reversed[s]; i < kPrimarySize; i += 1u << length) table[i] = entry;
    } else {
      const uint32_t link = table[reversed[s] & (kPrimarySize - 1)];
      uint32_t* sub = table + (link >> 16);
      const unsigned sub_size = 1u << EntryLength(link);
      const unsigned tail_length = length - kPrimaryBits;
      for (uint32_t i = reversed[s] >> kPrimaryBits; i < sub_size; i += 1u << tail_length) sub[i] = entry;
    }
  }
  return true;
}

// Reads and builds one tree.
CodecStatus ReadTree(const uint8_t* in, size_t in_len, size_t* p, unsigned symbols, uint32_t* table) {
  uint8_t lengths[256];
  const CodecStatus status = ReadLengths(in, in_len, p, lengths, symbols);
  if (status != CodecStatus::Ok) return status;
  return BuildTable(lengths, symbols, table) ? CodecStatus::Ok : CodecStatus::BadData;
}

// Decodes one symbol from the buffered bits; -1 for a bit pattern with no code.
inline int DecodeSymbol(BitReader& br, const uint32_t* table) {
  const uint64_t bits = br.PeekAll();
  uint32_t entry = table[bits & (kPrimarySize - 1)];
  if (entry & kSubtableFlag) {
    entry = table[(entry >> 16) + ((bits >> kPrimaryBits) & ((1u << EntryLength(entry)) - 1))];
  }
  const unsigned length = EntryLength(entry);
  if (length == 0) return -1;
  br.Drop(length);
  return static_cast<int>(entry & 0xFF);
}

}  // namespace

CodecResult Explode(uint16_t general_flags, const uint8_t* in, size_t in_len, uint8_t* out, size_t out_size) {
  const bool big_window = (general_flags & 2) != 0;
  const bool literal_tree = (general_flags & 4) != 0;
  const unsigned low_distance_bits = big_window ? 7 : 6;
  const unsigned min_match = literal_tree ? 3 : 2;
  constexpr int kLongLengthSymbol = 63;

  auto tables = std::make_unique_for_overwrite<ImplodeTables>();
  size_t p = 0;
  CodecStatus status = CodecStatus::Ok;
  if (literal_tree) status = ReadTree(in, in_len, &p, 256, tables->literal);
  if (status == CodecStatus::Ok) status = ReadTree(in, in_len, &p, 64, tables->length);
  if (status == CodecStatus::Ok) status = ReadTree(in, in_len, &p, 64, tables->distance);
  if (status != CodecStatus::Ok) return CodecResult{status, p, 0};

  BitReader br(in + p, in_len - p);
  auto result = [&](CodecStatus s, size_t produced) { return CodecResult{s, p + br.Consumed(), produced}; };
  const uint32_t* const literal_table = tables->literal;
  const uint32_t* const length_table = tables->length;
  const uint32_t* const distance_table = tables->distance;

  size_t pos = 0;
  while (pos < out_size) {
    br.Refill();
    if (br.Take(1)) {
      const int literal = literal_tree ? DecodeSymbol(br, literal_table) : static_cast<int>(br.Take(8));
      if (br.Overran()) return result(CodecStatus::InputEnded, pos);
      if (literal < 0) return result(CodecStatus::BadData, pos);
      out[pos++] = static_cast<uint8_t>(literal);
      continue;
    }
    const uint32_t low = br.Take(low_distance_bits);
    const int high = DecodeSymbol(br, distance_table);
    const int length_symbol = high < 0 ? -1 : DecodeSymbol(br, length_table);
    size_t length = static_cast<size_t>(length_symbol) + min_match;
    if (length_symbol == kLongLengthSymbol) length += br.Take(8);
    if (br.Overran()) return result(CodecStatus::InputEnded, pos);
    if (length_symbol < 0) return result(CodecStatus::BadData, pos);
    const size_t distance = ((static_cast<size_t>(high) << low_distance_bits) | low) + 1;
    const bool fits = length <= out_size - pos;
    pos = legacy_internal::CopyMatch(out, pos, out_size, distance, length);
    if (!fits) return result(CodecStatus::OutputFull, pos);
  }
  return result(CodecStatus::Ok, pos);
}

}  // namespace qb::zip
