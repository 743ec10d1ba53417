// Inflate, and how it got fast.
//
// The naive version. Read the stream one bit at a time. For each symbol, walk
// the Huffman code: take a bit, compare against the count of codewords of each
// length in turn, until the codeword is known (canonical codes make that a
// loop over at most 15 lengths). A length symbol then reads its extra bits, the
// distance symbol is decoded the same way, and the match is copied byte by byte,
// with a bounds check on every input bit and every output byte. Correct,
// simple, and many times slower than it needs to be.
//
// Table lookup. Instead of walking the code, peek at the next 11 bits (8 for
// distances, fewer for short codes) and index a table that holds, for every possible bit pattern, the
// symbol whose codeword starts it and that codeword's length. Codes longer than
// the main table point to a small second-level subtable. One load per symbol.
//
// Packed entries. Everything the hot loop needs about a symbol is one 32-bit
// word: a literal flag in the sign bit, one "exceptional" bit that covers end of
// block, subtable links and invalid codewords, the base value of a length or
// distance, and the number of bits to drop in the low byte, which counts the
// codeword AND its extra bits, so one shift consumes both; the extra bits'
// value is (bits & mask(total)) >> codeword length. The layout is spelled out
// and checked below.
//
// A 64-bit bit buffer. Refilling takes one unaligned 8-byte load, a shift and
// an OR, and no branch: the load is ORed in above the bits already held, the
// input pointer advances by the whole bytes that fitted, and the buffer then
// holds 56 to 63 bits. That is enough for a length code with its extra bits and
// a distance code with its extra bits (20 + 28 = 48 bits), or for three
// literals, without looking at the input again.
//
// A fast loop with margins. As long as at least kInputMargin input bytes and
// kOutputMargin output bytes remain, nothing in the loop can run past either
// buffer, so the loop checks nothing but the match distance. Near the ends of
// the buffers a fully checked loop, one symbol at a time, finishes the job.
//
// Word copies. Matches are copied 16 bytes at a time (8 for distances below
// 16) and may write a little past their end, into the margin, where later
// output overwrites it; the first 24 or 32 bytes go unconditionally, since
// most matches are short and a loop exit is a branch that mispredicts. A
// distance of 1 broadcasts one byte, 32 bytes per round. Other distances below
// 8 repeat the last few bytes in a register and store it again and again,
// moving on by a multiple of the distance: copying from the output instead
// would make every load wait for the store before it, which the long runs of
// a picture's flat areas paid for on every word.
//
// Two builds. The decoder is compiled twice, once for any processor and once
// with BMI2, whose shifts by a register count and low-bit extraction (SHRX,
// BZHI) are most of the work per symbol; the processor picks at start-up.
//
// Looking ahead. The entry of the symbol after a match is loaded before the
// match is copied, so the table load overlaps the copy (and survives the
// copy loop's mispredicted exit), and an entry's bits are dropped before its
// kind is even tested. The fast loop is a function of its own, whose few
// locals the compiler keeps in registers; it subtracts whole entries from the
// bit count (only its low bits matter there), and with BMI2 takes a length's
// or distance's extra bits straight from the entry (BZHI, SHRX).
//
// Truncation without special cases. When the input is exhausted, the checked
// refill appends zero bytes and counts them. Decoding proceeds as usual; after
// each symbol, if the bits it used reach into the appended zeros, the input
// ended (InputEnded) - and a symbol that was invalid only because of those
// zeros is reported the same way.
//
// Tables built by doubling, of one size. The main table is filled length by
// length: the slots of all codewords up to one length are copied onto the
// next half, and the codewords of the next length dropped in. Codewords are
// reversed a byte at a time through a table. For a 1 KiB clip, building its
// tables used to cost more than decoding it; with doubling, a code shorter
// than the table's index bits costs only the copies. So every main table has
// the same size (11 bits, 8 for distances), the masks are constants, and both
// tables of a block lie in one block of memory, the distance table at a fixed
// place: the fast loop needs one register for all of that instead of four.
//
// Tables built by code. The fixed Huffman tables of block type 1 come from the
// same builder as the dynamic ones, run at compile time; the length and
// distance base tables are derived from their rules. No global is built lazily,
// so there is nothing to initialise and nothing to race on. The dynamic tables
// live on the stack of the call (about 16 KiB).
#include "zip/inflate.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <memory>
#include <vector>

#if (defined(__x86_64__) || defined(__i386__)) && (defined(__GNUC__) || defined(__clang__))
#define QB_INFLATE_HAVE_BMI2 1
#else
#define QB_INFLATE_HAVE_BMI2 0
#endif

namespace qb::zip {
namespace {

// ---- Deflate format constants ------------------------------------------------

constexpr unsigned kNumLitlenSymbols = 288;  // 0-255 literals, 256 end, 257-285 lengths, 286-287 unused
constexpr unsigned kNumDistSymbols = 32;     // 0-29 distances, 30-31 unused
constexpr unsigned kNumPrecodeSymbols = 19;
constexpr unsigned kMaxLitlenInHeader = 286;
constexpr unsigned kMaxDistInHeader = 30;
constexpr unsigned kMaxCodewordLength = 15;
constexpr unsigned kMaxMatchLength = 258;
constexpr size_t kWindowSize = 32768;  // the longest match distance

// The order in which a dynamic block header lists the code length code lengths.
constexpr uint8_t kPrecodeOrder[kNumPrecodeSymbols] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                                       11, 4,  12, 3, 13, 2, 14, 1, 15};

struct BaseAndExtra {
  uint16_t base;
  uint8_t extra_bits;
};

// Length symbols 257..285: 0 extra bits for the first eight, then one more
// extra bit every four symbols; each base follows the previous range. 285 is
// the exception: 258 with no extra bits.
constexpr std::array<BaseAndExtra, 29> MakeLengthTable() {
  std::array<BaseAndExtra, 29> t{};
  unsigned base = 3;
  for (unsigned i = 0; i < 28; ++i) {
    const unsigned extra = i < 8 ? 0 : (i - 4) / 4;
    t[i] = {static_cast<uint16_t>(base), static_cast<uint8_t>(extra)};
    base += 1u << extra;
  }
  t[28] = {kMaxMatchLength, 0};
  return t;
}

// Distance symbols 0..29: 0 extra bits for the first four, then one more
// extra bit every two symbols.
constexpr std::array<BaseAndExtra, 30> MakeDistanceTable() {
  std::array<BaseAndExtra, 30> t{};
  unsigned base = 1;
  for (unsigned i = 0; i < 30; ++i) {
    const unsigned extra = i < 4 ? 0 : (i - 2) / 2;
    t[i] = {static_cast<uint16_t>(base), static_cast<uint8_t>(extra)};
    base += 1u << extra;
  }
  return t;
}

constexpr auto kLengthTable = MakeLengthTable();
constexpr auto kDistanceTable = MakeDistanceTable();
static_assert(kLengthTable[8].base == 11 && kLengthTable[8].extra_bits == 1);
static_assert(kLengthTable[27].base == 227 && kLengthTable[27].extra_bits == 5);
static_assert(kDistanceTable[4].base == 5 && kDistanceTable[4].extra_bits == 1);
static_assert(kDistanceTable[29].base == 24577 && kDistanceTable[29].extra_bits == 13);
static_assert(kDistanceTable[29].base + (1u << 13) - 1 == kWindowSize);

// ---- Decode table entries ----------------------------------------------------
//
//  31  30 ............ 16  15  14  13  12 ......... 8  7 . 5  4 ........ 0
// [L ][      value       ][X ][S ][E ][ codeword len ][ 000 ][ bits used  ]
//
// bits used     bits to drop for this entry: codeword + extra bits (<= 28).
//               Subtable link: the main table's index bits.
// codeword len  the codeword alone; the extra bits' value is
//               (bitbuf & mask(bits used)) >> codeword len.
//               Subtable link: the subtable's index bits.
// E             end of block.
// S             subtable link; value = the subtable's first index.
// X             exceptional: set together with E or S, and alone for an
//               invalid codeword (unused symbols, holes of an incomplete code).
// value         literal byte, length base, distance base, precode symbol,
//               or subtable start.
// L             literal (literal/length table only), tested as the sign bit.
constexpr uint32_t kEntryLiteral = 1u << 31;
constexpr uint32_t kEntryExceptional = 1u << 15;
constexpr uint32_t kEntrySubtable = 1u << 14;
constexpr uint32_t kEntryEndOfBlock = 1u << 13;
constexpr unsigned kEntryValueShift = 16;
constexpr uint32_t kEntryValueMask = 0x7FFF;
constexpr unsigned kEntryCodewordShift = 8;
constexpr uint32_t kEntryFieldMask = 0x1F;  // the two 5-bit bit counts

static_assert((kEntryValueMask << kEntryValueShift) + kEntryLiteral == 0xFFFF0000u,
              "value and L fill the top half");
static_assert(((kEntryExceptional | kEntrySubtable | kEntryEndOfBlock) &
               (kEntryFieldMask << kEntryCodewordShift)) == 0,
              "flags clear of the codeword field");
static_assert(kMaxCodewordLength + 13 <= kEntryFieldMask, "bits used fits its field");
static_assert(kMaxMatchLength <= kEntryValueMask && 24577 <= kEntryValueMask, "bases fit the value field");

constexpr uint32_t EntryValue(uint32_t e) {
  return (e >> kEntryValueShift) & kEntryValueMask;
}
// Bits 5-7 are always zero, so the low byte is the count: shifting by it needs
// no masking.
constexpr unsigned EntryBitsUsed(uint32_t e) {
  return static_cast<uint8_t>(e);
}
constexpr unsigned EntryCodewordBits(uint32_t e) {
  return (e >> kEntryCodewordShift) & kEntryFieldMask;
}
constexpr uint64_t LowBits(unsigned n) {
  return (uint64_t{1} << n) - 1;
}
// An entry for `tmpl` reached through a codeword of `len` bits.
constexpr uint32_t WithCodeword(uint32_t tmpl, unsigned len) {
  return tmpl + len + (len << kEntryCodewordShift);
}

// Per-symbol templates: the entry minus its codeword length.
constexpr std::array<uint32_t, kNumLitlenSymbols> MakeLitlenTemplates() {
  std::array<uint32_t, kNumLitlenSymbols> t{};
  for (uint32_t s = 0; s < 256; ++s) t[s] = kEntryLiteral | (s << kEntryValueShift);
  t[256] = kEntryExceptional | kEntryEndOfBlock;
  for (uint32_t s = 257; s < 286; ++s)
    t[s] = (uint32_t{kLengthTable[s - 257].base} << kEntryValueShift) | kLengthTable[s - 257].extra_bits;
  t[286] = t[287] = kEntryExceptional;
  return t;
}
constexpr std::array<uint32_t, kNumDistSymbols> MakeDistTemplates() {
  std::array<uint32_t, kNumDistSymbols> t{};
  for (uint32_t s = 0; s < 30; ++s)
    t[s] = (uint32_t{kDistanceTable[s].base} << kEntryValueShift) | kDistanceTable[s].extra_bits;
  t[30] = t[31] = kEntryExceptional;
  return t;
}
constexpr std::array<uint32_t, kNumPrecodeSymbols> MakePrecodeTemplates() {
  std::array<uint32_t, kNumPrecodeSymbols> t{};
  for (uint32_t s = 0; s < kNumPrecodeSymbols; ++s) t[s] = s << kEntryValueShift;
  return t;
}
constexpr auto kLitlenTemplates = MakeLitlenTemplates();
constexpr auto kDistTemplates = MakeDistTemplates();
constexpr auto kPrecodeTemplates = MakePrecodeTemplates();

// ---- Table sizes -------------------------------------------------------------

constexpr unsigned kLitlenTableBits = 11;
constexpr unsigned kDistTableBits = 8;
constexpr unsigned kPrecodeTableBits = 7;  // = the longest precode codeword: no subtables

// A subtable with b index bits exists because some codeword is table_bits + b
// long; in a complete code the subtree under that prefix then has at least b+1
// leaves (a full binary tree of height b does). So the subtables hold at most
// num_symbols * max_b(2^b / (b+1)) entries.
constexpr unsigned SubtableBound(unsigned num_symbols, unsigned table_bits) {
  unsigned worst_num = 0, worst_den = 1;
  for (unsigned b = 1; b <= kMaxCodewordLength - table_bits; ++b)
    if ((1u << b) * worst_den > worst_num * (b + 1)) worst_num = 1u << b, worst_den = b + 1;
  return (num_symbols * worst_num + worst_den - 1) / worst_den;
}
constexpr unsigned kLitlenTableCapacity =
    (1u << kLitlenTableBits) + SubtableBound(kNumLitlenSymbols, kLitlenTableBits);
constexpr unsigned kDistTableCapacity =
    (1u << kDistTableBits) + SubtableBound(kNumDistSymbols, kDistTableBits);
constexpr unsigned kPrecodeTableCapacity = 1u << kPrecodeTableBits;
static_assert(kLitlenTableCapacity == 2048 + 922 && kDistTableCapacity == 256 + 512);
static_assert(kLitlenTableCapacity - 1 <= kEntryValueMask, "subtable starts fit the value field");
constexpr uint64_t kLitlenMask = (1u << kLitlenTableBits) - 1;
constexpr uint64_t kDistMask = (1u << kDistTableBits) - 1;
constexpr uint64_t kPrecodeMask = (1u << kPrecodeTableBits) - 1;
// A block's two tables: the distance table follows the literal/length table.
constexpr unsigned kDistTableOffset = kLitlenTableCapacity;
constexpr unsigned kTablesSize = kLitlenTableCapacity + kDistTableCapacity;

// ---- Table builder -----------------------------------------------------------

enum class Incomplete { Reject, AllowLoneOneBitCode };

constexpr std::array<uint8_t, 256> kReversedBytes = [] {
  std::array<uint8_t, 256> t{};
  for (unsigned b = 0; b < 256; ++b)
    for (unsigned i = 0; i < 8; ++i) t[b] |= static_cast<uint8_t>(((b >> i) & 1) << (7 - i));
  return t;
}();

// The low `len` bits of `code` in reverse order (len 1 to 16).
constexpr unsigned ReverseBits(unsigned code, unsigned len) {
  return ((unsigned{kReversedBytes[code & 0xFF]} << 8) | kReversedBytes[(code >> 8) & 0xFF]) >> (16 - len);
}

// Builds the decode table for the canonical Huffman code given by lens[0,
// num_symbols) (each <= 15; 0 = unused). Returns false when the code is
// over-subscribed, or incomplete and not allowed to be: a literal/length or
// distance code may be empty or consist of one 1-bit codeword (as zlib
// accepts); the holes then decode as invalid. Every table slot the decoder can
// reach is written.
//
// The main table is indexed by the next table_bits bits, however short the
// code. It is built by doubling: once the codewords of length len are in
// place, the first 2^len slots are final for every codeword up to that length,
// and copying them onto the next 2^len slots gives the table for len + 1, into
// which the codewords of that length go.
constexpr bool BuildDecodeTable(uint32_t* table, unsigned capacity, const uint8_t* lens, unsigned num_symbols,
                                const uint32_t* templates, unsigned table_bits, Incomplete incomplete) {
  // Four partial counts: most symbols share a length (often 0), and a single
  // counter bumped over and over makes every increment wait for the last.
  unsigned partial[4][kMaxCodewordLength + 1] = {};
  for (unsigned s = 0; s < num_symbols; ++s) ++partial[s & 3][lens[s]];
  unsigned count[kMaxCodewordLength + 1] = {};
  for (unsigned len = 1; len <= kMaxCodewordLength; ++len)
    count[len] = partial[0][len] + partial[1][len] + partial[2][len] + partial[3][len];

  // Kraft sum: `left` = codewords still unassigned at the current length.
  int left = 1;
  unsigned max_len = 0;
  for (unsigned len = 1; len <= kMaxCodewordLength; ++len) {
    left = 2 * left - static_cast<int>(count[len]);
    if (left < 0) return false;  // over-subscribed
    if (count[len] != 0) max_len = len;
  }
  const unsigned main_size = 1u << table_bits;
  // The doubling below copies slots that longer codewords fill in later; they
  // start as 0 so that nothing indeterminate is ever copied.
  table[0] = table[1] = 0;
  if (left > 0) {
    if (incomplete == Incomplete::Reject || max_len > 1) return false;
    // Empty code: nothing decodes, and no bits are read to find that out.
    // One 1-bit codeword: the other 1-bit pattern is the hole.
    const uint32_t hole = WithCodeword(kEntryExceptional, max_len);
    for (unsigned i = 0; i < main_size; ++i) table[i] = hole;
  }

  // Symbols sorted by codeword length, then by value: canonical order.
  unsigned offset[kMaxCodewordLength + 2] = {};
  for (unsigned len = 1; len <= kMaxCodewordLength; ++len) offset[len + 1] = offset[len] + count[len];
  uint16_t sorted[kNumLitlenSymbols] = {};
  for (unsigned s = 0; s < num_symbols; ++s)
    if (lens[s] != 0) sorted[offset[lens[s]]++] = static_cast<uint16_t>(s);
  const unsigned num_used = offset[kMaxCodewordLength];  // offsets now point at each length's end

  // Codewords that fit the main table, length by length.
  unsigned code = 0;  // the canonical codeword of the next symbol
  unsigned i = 0;     // its place in `sorted`
  for (unsigned len = 1; len <= table_bits; ++len, code <<= 1) {
    if (len > 1) std::copy_n(table, 1u << (len - 1), table + (1u << (len - 1)));
    for (const unsigned end = i + count[len]; i < end; ++i, ++code)
      table[ReverseBits(code, len)] = WithCodeword(templates[sorted[i]], len);
  }

  // Longer codewords go to subtables, reached through their first table_bits
  // bits. Canonical order lists every codeword under one prefix before any
  // later prefix, shortest first.
  unsigned remaining[kMaxCodewordLength + 1] = {};
  for (unsigned len = table_bits + 1; len <= kMaxCodewordLength; ++len) remaining[len] = count[len];
  unsigned next_free = main_size;
  unsigned current_prefix = main_size;  // none yet
  unsigned sub_start = 0, sub_bits = 0;
  for (unsigned len = table_bits + 1; len <= max_len; ++len, code <<= 1) {
    for (const unsigned end = i + count[len]; i < end; ++i, ++code) {
      // Deflate sends codewords most significant bit first into a stream read
      // from the least significant bit, so tables are indexed by reversed codes.
      const unsigned reversed = ReverseBits(code, len);
      const unsigned prefix = reversed & (main_size - 1);
      if (prefix != current_prefix) {
        // Grow the subtable until it covers every codeword under this prefix.
        sub_bits = len - table_bits;
        int slots = 1 << sub_bits;
        while (table_bits + sub_bits < max_len) {
          slots -= static_cast<int>(remaining[table_bits + sub_bits]);
          if (slots <= 0) break;
          ++sub_bits;
          slots *= 2;
        }
        sub_start = next_free;
        next_free += 1u << sub_bits;
        if (next_free > capacity) return false;
        for (unsigned at = sub_start; at < next_free; ++at)
          table[at] = WithCodeword(kEntryExceptional, sub_bits);
        table[prefix] = kEntryExceptional | kEntrySubtable | (sub_start << kEntryValueShift) |
                        (sub_bits << kEntryCodewordShift) | table_bits;
        current_prefix = prefix;
      }
      const unsigned sub_len = len - table_bits;
      const uint32_t e = WithCodeword(templates[sorted[i]], sub_len);
      for (unsigned at = reversed >> table_bits; at < (1u << sub_bits); at += 1u << sub_len)
        table[sub_start + at] = e;
      --remaining[len];
    }
  }
  return i == num_used;
}

// ---- Fixed Huffman tables (block type 1), built at compile time ---------------

struct FixedTables {
  std::array<uint32_t, kTablesSize> tables{};
  bool ok = false;
};

constexpr FixedTables MakeFixedTables() {
  FixedTables t;
  uint8_t litlen_lens[kNumLitlenSymbols] = {};
  for (unsigned s = 0; s < kNumLitlenSymbols; ++s)
    litlen_lens[s] = s < 144 ? 8 : s < 256 ? 9 : s < 280 ? 7 : 8;
  uint8_t dist_lens[kNumDistSymbols] = {};
  for (unsigned s = 0; s < kNumDistSymbols; ++s) dist_lens[s] = 5;
  t.ok = BuildDecodeTable(t.tables.data(), kLitlenTableCapacity, litlen_lens, kNumLitlenSymbols,
                          kLitlenTemplates.data(), kLitlenTableBits, Incomplete::Reject) &&
         BuildDecodeTable(t.tables.data() + kDistTableOffset, kDistTableCapacity, dist_lens, kNumDistSymbols,
                          kDistTemplates.data(), kDistTableBits, Incomplete::Reject);
  return t;
}

constexpr FixedTables kFixedTables = MakeFixedTables();
static_assert(kFixedTables.ok, "the fixed codes are complete");
// Spot checks: 7-bit 0000000 is end of block; 8-bit 00110000 (reversed: 0x0C)
// is literal 0, and so is every slot that extends it to the table's 11 bits.
static_assert(kFixedTables.tables[0] == WithCodeword(kEntryExceptional | kEntryEndOfBlock, 7));
static_assert(kFixedTables.tables[0x0C] == WithCodeword(kEntryLiteral, 8));
static_assert(kFixedTables.tables[0x70C] == WithCodeword(kEntryLiteral, 8));
static_assert(kFixedTables.tables[kDistTableOffset + 0xFF] == WithCodeword(kDistTemplates[31], 5));

// ---- Memory helpers ----------------------------------------------------------

inline uint64_t LoadLE64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, 8);
  if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap64(v);
  return v;
}
inline uint64_t LoadWord(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, 8);
  return v;
}
inline void StoreWord(uint8_t* p, uint64_t v) {
  std::memcpy(p, &v, 8);
}

// Bit buffer: after a refill it holds at least this many bits.
constexpr unsigned kRefilledBits = 56;

inline void StoreLE64(uint8_t* p, uint64_t v) {
  if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap64(v);
  std::memcpy(p, &v, 8);
}
inline void Copy16(uint8_t* dst, const uint8_t* src) {
  uint8_t chunk[16];
  std::memcpy(chunk, src, 16);
  std::memcpy(dst, chunk, 16);
}

// One round of the fast loop refills at most twice (each reads 8 bytes and
// advances at most 7), and writes at most 2 literals and one match of up to 258
// bytes, whose copy may run up to 31 bytes past its end (or write 32 bytes,
// whichever is more).
constexpr size_t kInputMargin = 32;
constexpr size_t kOutputMargin = 2 + kMaxMatchLength + 32 + 4;
static_assert(kInputMargin >= 7 + 8, "two refills fit");
static_assert(kOutputMargin >= 2 + kMaxMatchLength + 31 && kOutputMargin >= 2 + 32, "a match copy fits");

// For distances below 8: after the first 8 bytes of a match are in place, the
// bytes repeat with this period (the smallest multiple of the distance >= 8),
// and the period's start is still within the pattern.
constexpr std::array<uint8_t, 8> MakePatternPeriods() {
  std::array<uint8_t, 8> p{};
  for (unsigned d = 1; d < 8; ++d) p[d] = static_cast<uint8_t>((8 + d - 1) / d * d);
  return p;
}
constexpr auto kPatternPeriod = MakePatternPeriods();
// The largest multiple of each distance below 8 that fits in 8 bytes.
constexpr std::array<uint8_t, 8> kPatternStep = {0, 8, 8, 6, 8, 5, 6, 7};
static_assert(kPatternPeriod[3] == 9 && kPatternPeriod[7] == 14);

// The state lives in locals shared by a few helper lambdas. They must all be
// inlined: one out-of-line call would take the locals' addresses and keep the
// bit buffer in memory instead of registers.
#if defined(__GNUC__) || defined(__clang__)
#define QB_INLINE __attribute__((always_inline))
#else
#define QB_INLINE
#endif

// Branch hints for the fast loop. Exceptional entries (end of block, subtable
// links, invalid codewords) are rare, and most matches reach back 16 bytes or
// more; laid out accordingly, the loop's common path runs straight through.
#if defined(__GNUC__) || defined(__clang__)
#define QB_LIKELY(x) __builtin_expect(static_cast<bool>(x), 1)
#define QB_UNLIKELY(x) __builtin_expect(static_cast<bool>(x), 0)
#else
#define QB_LIKELY(x) (x)
#define QB_UNLIKELY(x) (x)
#endif

// The fast loop works on its own copy of the decoder's state: in a function of
// its own, with only what it needs in locals, the compiler keeps those in
// registers instead of spilling some of them on every round.
struct FastState {
  const uint8_t* in_next;
  const uint8_t* in_fast_end;
  uint8_t* out_next;
  uint8_t* out_fast_end;
  uint8_t* out;  // the start of the output, the limit of match distances
  uint64_t bitbuf;
  unsigned bitsleft;
  const uint32_t* tables;  // kTablesSize entries
};
enum class FastExit { Margins, EndOfBlock, BadData };

// ---- Huffman block, fast loop: no bounds checks while the margins hold.
// Each round starts with a full bit buffer and the entry of the next symbol
// already looked up; its bits are dropped before its kind is even known.
// With kCheckDistance false, every distance is taken to lie within the output:
// that holds once a whole window of output lies behind.
template <bool kBmi2, bool kCheckDistance>
QB_INLINE inline FastExit FastLoop(FastState& state) {
  // The value of a length or distance entry, given the bits before its codeword:
  // base + extra bits. BZHI takes the count of bits to keep from the entry's low
  // byte and SHRX the shift from its low 6 bits, so the entry needs no unpacking.
  auto value = [](uint64_t saved, uint32_t entry) QB_INLINE {
#if QB_INFLATE_HAVE_BMI2
    if constexpr (kBmi2) {
      // The intrinsic would need this function compiled for BMI2 as well.
      uint64_t kept;
      __asm__("bzhi %q2, %1, %0" : "=r"(kept) : "r"(saved), "r"(entry));
      return (entry >> kEntryValueShift) +
             static_cast<uint32_t>(kept >> ((entry >> kEntryCodewordShift) & 63));
    }
#endif
    return EntryValue(entry) +
           static_cast<uint32_t>((saved & LowBits(EntryBitsUsed(entry))) >> EntryCodewordBits(entry));
  };
  const uint8_t* in_next = state.in_next;
  const uint8_t* const in_fast_end = state.in_fast_end;
  uint8_t* out_next = state.out_next;
  uint8_t* const out_fast_end = state.out_fast_end;
  const uint8_t* const out = state.out;
  uint64_t bitbuf = state.bitbuf;
  unsigned bitsleft = state.bitsleft;
  const uint32_t* const litlen_table = state.tables;
  const uint32_t* const dist_table = state.tables + kDistTableOffset;
  constexpr uint64_t litlen_mask = kLitlenMask;
  constexpr uint64_t dist_mask = kDistMask;
  // Only the low 6 bits of bitsleft count here: consume() subtracts whole
  // entries, whose bits above the low byte end up in bitsleft's high bits.
  // A refill counts 56 to 63 bits, but all 64 bits of bitbuf are then stream
  // bits (above the counted ones sits the start of the next byte), and they
  // stay valid as they are shifted down: after a refill, a table lookup may
  // read bits up to the 64th, as long as the bits consumed stay below the 56.
  auto refill_fast = [&]() QB_INLINE {
    bitbuf |= LoadLE64(in_next) << (bitsleft & 63);
    in_next += (~bitsleft & 63) >> 3;
    bitsleft |= kRefilledBits;
  };
  auto consume = [&](uint32_t entry) QB_INLINE {
    bitbuf >>= (entry & 63);
    bitsleft -= entry;
  };
  auto leave = [&](FastExit exit) QB_INLINE {
    state.in_next = in_next;
    state.out_next = out_next;
    state.bitbuf = bitbuf;
    state.bitsleft = bitsleft & 63;
    return exit;
  };
  refill_fast();
  uint32_t e = litlen_table[bitbuf & litlen_mask];
  do {
    uint64_t saved = bitbuf;
    consume(e);
    if (e & kEntryLiteral) {
      // Up to three literals per refill. Literals decoded here come from the
      // main table (those from subtables take the exceptional path below), so
      // each takes at most 11 bits.
      *out_next++ = static_cast<uint8_t>(e >> kEntryValueShift);
      e = litlen_table[bitbuf & litlen_mask];
      if (e & kEntryLiteral) {
        consume(e);
        *out_next++ = static_cast<uint8_t>(e >> kEntryValueShift);
        e = litlen_table[bitbuf & litlen_mask];
        if (e & kEntryLiteral) {
          consume(e);
          *out_next++ = static_cast<uint8_t>(e >> kEntryValueShift);
          // Three literals took at most 33 of the 64 bits.
          e = litlen_table[bitbuf & litlen_mask];
          refill_fast();
          continue;
        }
      }
      // A length (or something rarer) follows; at least 26 bits are left,
      // enough for the lookup just made but maybe not for what it starts.
      refill_fast();
      saved = bitbuf;
      consume(e);
    }
    if (QB_UNLIKELY(e & kEntryExceptional)) {
      if (e & kEntrySubtable) {
        e = litlen_table[EntryValue(e) + (bitbuf & LowBits(EntryCodewordBits(e)))];
        saved = bitbuf;
        consume(e);
        if (e & kEntryLiteral) {
          *out_next++ = static_cast<uint8_t>(e >> kEntryValueShift);
          e = litlen_table[bitbuf & litlen_mask];
          refill_fast();
          continue;
        }
      }
      if (QB_UNLIKELY(e & kEntryExceptional)) {
        if (e & kEntryEndOfBlock) return leave(FastExit::EndOfBlock);
        return leave(FastExit::BadData);
      }
    }
    // A length; saved holds the bits before its codeword.
    const unsigned length = value(saved, e);
    e = dist_table[bitbuf & dist_mask];
    if (QB_UNLIKELY(e & kEntryExceptional)) {
      if (e & kEntrySubtable) {
        consume(e);
        e = dist_table[EntryValue(e) + (bitbuf & LowBits(EntryCodewordBits(e)))];
      }
      if (e & kEntryExceptional) return leave(FastExit::BadData);
    }
    saved = bitbuf;
    consume(e);
    const size_t distance = value(saved, e);
    if (kCheckDistance && distance > static_cast<size_t>(out_next - out)) return leave(FastExit::BadData);

    // Look up the next symbol before copying, so the load overlaps the copy,
    // and before refilling, so that it need not wait for the refill. The
    // length and the distance took at most 20 + 28 of the 64 bits.
    e = litlen_table[bitbuf & litlen_mask];
    refill_fast();

    uint8_t* dst = out_next;
    uint8_t* const end = out_next + length;
    const uint8_t* src = dst - distance;
    if (QB_LIKELY(distance >= 16)) {
      // Most matches are short: copy 32 bytes without asking.
      Copy16(dst, src);
      Copy16(dst + 16, src + 16);
      src += 32;
      dst += 32;
      while (dst < end) {
        Copy16(dst, src);
        Copy16(dst + 16, src + 16);
        src += 32;
        dst += 32;
      }
    } else if (distance >= 8) {
      StoreWord(dst, LoadWord(src));
      StoreWord(dst + 8, LoadWord(src + 8));
      StoreWord(dst + 16, LoadWord(src + 16));
      src += 24;
      dst += 24;
      while (dst < end) {
        StoreWord(dst, LoadWord(src));
        src += 8;
        dst += 8;
      }
    } else if (distance == 1) {
      const uint64_t v = uint64_t{*src} * 0x0101010101010101u;
      do {
        StoreWord(dst, v);
        StoreWord(dst + 8, v);
        StoreWord(dst + 16, v);
        StoreWord(dst + 24, v);
        dst += 32;
      } while (dst < end);
    } else if (dst - out >= 8) {
      // The last `distance` bytes, repeated in a register to fill 8 bytes,
      // then stored over and over, each store moving on by the largest
      // multiple of the distance that fits. Copying from the output instead
      // would make every load wait for the store just before it.
      const unsigned bits = 8 * static_cast<unsigned>(distance);
      uint64_t pattern = LoadLE64(dst - 8) >> (64 - bits);
      pattern |= pattern << bits;
      if (distance < 4) pattern |= pattern << (2 * bits);
      const size_t step = kPatternStep[distance];
      do {
        StoreLE64(dst, pattern);
        StoreLE64(dst + step, pattern);
        dst += 2 * step;
      } while (dst < end);
    } else {
      for (int k = 0; k < 8; ++k) dst[k] = src[k];
      src = dst + 8 - kPatternPeriod[distance];
      dst += 8;
      while (dst < end) {
        StoreWord(dst, LoadWord(src));
        src += 8;
        dst += 8;
      }
    }
    out_next = end;
  } while (in_next < in_fast_end && out_next < out_fast_end);
  return leave(FastExit::Margins);
}

// Where the loop falls relative to 32-byte boundaries moved the 64 KiB clip's
// speed by a fifth (measured: the same code shifted by 16 bytes at a time);
// starting the function on a cache line keeps it in one place.
#if defined(__GNUC__) || defined(__clang__)
#define QB_FAST_LOOP_ATTRS __attribute__((noinline, aligned(64)))
#else
#define QB_FAST_LOOP_ATTRS
#endif
QB_FAST_LOOP_ATTRS FastExit FastLoopPortable(FastState& state) {
  return FastLoop<false, true>(state);
}
QB_FAST_LOOP_ATTRS FastExit FastLoopPortableFar(FastState& state) {
  return FastLoop<false, false>(state);
}

// The decoder proper, over an I/O policy. WholeBuffer (Inflate()) has all the
// input and a fixed output buffer: its top-ups always fail and compile away.
// StreamingIo (InflateStream()) refills the input buffer from a source and makes
// room in the output window, by growing it or by handing its older part to a sink
// and keeping the last 32 KiB of history. Top-ups happen only between symbols,
// where the decoder's whole state is in its locals, so the window's bytes and the
// input's unread bytes are all that must survive one: both are moved together
// with the pointers into them.
template <class Io, FastExit (*kFastLoop)(FastState&), FastExit (*kFastLoopFar)(FastState&)>
QB_INLINE inline CodecResult InflateWith(Io& io, const uint8_t* in, size_t in_len, uint8_t* out,
                                         size_t out_cap) {
  const uint8_t* in_next = in;
  const uint8_t* in_end = in + in_len;
  uint8_t* out_next = out;
  uint8_t* out_end = out + out_cap;
  const uint8_t* in_fast_end = in_len > kInputMargin ? in_end - kInputMargin : in;
  uint8_t* out_fast_end = out_cap > kOutputMargin ? out_end - kOutputMargin : out;
  uint64_t in_discarded = 0;  // input bytes dropped from the buffer's front by top-ups

  // Bits not yet consumed are bitbuf's low `bitsleft` bits. Above them, bitbuf
  // may hold copies of the input bytes that follow in_next (the fast refill
  // loads a whole word), never anything else.
  uint64_t bitbuf = 0;
  unsigned bitsleft = 0;
  unsigned zeros_appended = 0;  // bytes appended past in_end by the checked refill

  uint32_t table_storage[kTablesSize];
  uint32_t precode_table[kPrecodeTableCapacity];
  const uint32_t* tables = nullptr;  // the current block's, kTablesSize entries

  // More input after the unread bytes; false at the end of the input.
  auto more_input = [&]() QB_INLINE {
    if constexpr (!Io::kStreaming) {
      return false;
    } else {
      if (zeros_appended != 0) return false;
      const bool more = io.MoreInput(in, in_next, in_end, in_discarded);
      in_fast_end = in_end - in > static_cast<ptrdiff_t>(kInputMargin) ? in_end - kInputMargin : in;
      return more;
    }
  };
  // Room for at least one more match in the output; false when none can be made.
  auto more_output = [&]() QB_INLINE {
    if constexpr (!Io::kStreaming) {
      return false;
    } else {
      const bool more = io.MoreOutput(out, out_next, out_end);
      out_fast_end = out_end - out > static_cast<ptrdiff_t>(kOutputMargin) ? out_end - kOutputMargin : out;
      return more;
    }
  };

  // Needs in_end - in_next >= 8.
  auto refill_fast = [&]() QB_INLINE {
    bitbuf |= LoadLE64(in_next) << bitsleft;
    in_next += (63 - bitsleft) >> 3;
    bitsleft |= kRefilledBits;  // bitsleft + 8 * whole bytes added, in [56, 63]
  };
  auto refill_checked = [&]() QB_INLINE {
    if (in_end - in_next >= 8 || (more_input() && in_end - in_next >= 8)) {
      refill_fast();
      return;
    }
    while (bitsleft < kRefilledBits) {
      uint64_t byte = 0;
      if (in_next != in_end)
        byte = *in_next++;
      else
        ++zeros_appended;
      bitbuf |= byte << bitsleft;
      bitsleft += 8;
    }
  };
  auto consume = [&](unsigned n) QB_INLINE {
    bitbuf >>= n;
    bitsleft -= n;
  };
  auto used_appended_zeros = [&]() QB_INLINE { return bitsleft < 8 * zeros_appended; };
  auto finish = [&](CodecStatus status) QB_INLINE {
    CodecResult r;
    r.status = status;
    r.produced = static_cast<size_t>(out_next - out);
    const uint64_t used = in_discarded + static_cast<uint64_t>(in_next - in) + zeros_appended - bitsleft / 8;
    r.consumed =
        static_cast<size_t>(std::min<uint64_t>(used, in_discarded + static_cast<uint64_t>(in_end - in)));
    io.Finish(out, out_next);
    return r;
  };

  for (;;) {
    // ---- Block header.
    refill_checked();
    const bool final_block = bitbuf & 1;
    const unsigned block_type = (bitbuf >> 1) & 3;
    consume(3);
    if (used_appended_zeros()) return finish(CodecStatus::InputEnded);

    if (block_type == 0) {
      // ---- Stored block: skip to a byte boundary, hand the whole bytes still
      // buffered back to the input, then LEN, NLEN and LEN raw bytes.
      consume(bitsleft & 7);
      in_next -= bitsleft / 8 - zeros_appended;  // the appended zeros sit on top
      bitbuf = 0;
      bitsleft = 0;
      zeros_appended = 0;
      if (in_end - in_next < 4) more_input();
      if (in_end - in_next < 4) {
        in_next = in_end;
        return finish(CodecStatus::InputEnded);
      }
      const unsigned len = in_next[0] | (in_next[1] << 8);
      const unsigned nlen = in_next[2] | (in_next[3] << 8);
      in_next += 4;
      if (len != (~nlen & 0xFFFF)) return finish(CodecStatus::BadData);
      for (size_t left = len; left != 0;) {
        if (in_next == in_end && !more_input()) return finish(CodecStatus::InputEnded);
        if (out_next == out_end && !more_output()) return finish(CodecStatus::OutputFull);
        const size_t n =
            std::min({left, static_cast<size_t>(in_end - in_next), static_cast<size_t>(out_end - out_next)});
        std::memcpy(out_next, in_next, n);
        out_next += n;
        in_next += n;
        left -= n;
      }
      if (final_block) break;
      continue;
    }
    if (block_type == 3) return finish(CodecStatus::BadData);

    if (block_type == 1) {
      tables = kFixedTables.tables.data();
    } else {
      // ---- Dynamic block header: the code length code, then the code lengths.
      refill_checked();
      const unsigned num_litlen = 257 + (bitbuf & 0x1F);
      const unsigned num_dist = 1 + ((bitbuf >> 5) & 0x1F);
      const unsigned num_precode = 4 + ((bitbuf >> 10) & 0xF);
      consume(14);
      if (used_appended_zeros()) return finish(CodecStatus::InputEnded);
      if (num_litlen > kMaxLitlenInHeader || num_dist > kMaxDistInHeader) return finish(CodecStatus::BadData);

      uint8_t precode_lens[kNumPrecodeSymbols] = {};
      for (unsigned i = 0; i < num_precode; ++i) {
        refill_checked();
        precode_lens[kPrecodeOrder[i]] = static_cast<uint8_t>(bitbuf & 7);
        consume(3);
      }
      if (used_appended_zeros()) return finish(CodecStatus::InputEnded);
      if (!BuildDecodeTable(precode_table, kPrecodeTableCapacity, precode_lens, kNumPrecodeSymbols,
                            kPrecodeTemplates.data(), kPrecodeTableBits, Incomplete::Reject))
        return finish(CodecStatus::BadData);

      // Literal/length and distance code lengths form one sequence; a repeat
      // may run from one into the other.
      // A repeat of 3 to 10 is stored as 16 bytes at once: the slack takes
      // what lands past the end.
      uint8_t lens[kMaxLitlenInHeader + kMaxDistInHeader + 16];
      const unsigned num_lens = num_litlen + num_dist;
      for (unsigned i = 0; i < num_lens;) {
        // A precode codeword (<= 7 bits) and its extra bits (<= 7); a refill
        // lasts several.
        if (bitsleft < 14) refill_checked();
        const uint32_t e = precode_table[bitbuf & kPrecodeMask];
        consume(EntryBitsUsed(e));
        const unsigned sym = EntryValue(e);
        if (sym < 16) {
          if (used_appended_zeros()) return finish(CodecStatus::InputEnded);
          lens[i++] = static_cast<uint8_t>(sym);
          continue;
        }
        uint8_t value = 0;
        unsigned repeat;
        if (sym == 16) {
          repeat = 3 + (bitbuf & 3);
          consume(2);
        } else if (sym == 17) {
          repeat = 3 + (bitbuf & 7);
          consume(3);
        } else {
          repeat = 11 + (bitbuf & 0x7F);
          consume(7);
        }
        if (used_appended_zeros()) return finish(CodecStatus::InputEnded);
        if (sym == 16) {
          if (i == 0) return finish(CodecStatus::BadData);  // nothing to repeat
          value = lens[i - 1];
        }
        if (repeat > num_lens - i) return finish(CodecStatus::BadData);
        if (sym == 18)
          std::memset(lens + i, 0, repeat);
        else
          std::memset(lens + i, value, 16);
        i += repeat;
      }
      if (lens[256] == 0) return finish(CodecStatus::BadData);  // a block must be able to end
      if (!BuildDecodeTable(table_storage, kLitlenTableCapacity, lens, num_litlen, kLitlenTemplates.data(),
                            kLitlenTableBits, Incomplete::AllowLoneOneBitCode) ||
          !BuildDecodeTable(table_storage + kDistTableOffset, kDistTableCapacity, lens + num_litlen, num_dist,
                            kDistTemplates.data(), kDistTableBits, Incomplete::AllowLoneOneBitCode))
        return finish(CodecStatus::BadData);
      tables = table_storage;
    }

    for (;;) {
      if constexpr (Io::kStreaming) {
        // Top up between symbols, so that the fast loop can go on.
        if (in_next >= in_fast_end) more_input();
        if (out_next >= out_fast_end) more_output();
      }
      // ---- Huffman block, fast loop (above) while the margins hold.
      if (in_next < in_fast_end && out_next < out_fast_end) {
        // Once a whole window of output lies behind, no distance can reach
        // past the output's start: the loop for that case checks none, and the
        // other one stops where it begins.
        const bool far = static_cast<size_t>(out_next - out) >= kWindowSize;
        FastState s{
            in_next, in_fast_end, out_next, far ? out_fast_end : std::min(out_fast_end, out + kWindowSize),
            out,     bitbuf,      bitsleft, tables};
        const FastExit exit = far ? kFastLoopFar(s) : kFastLoop(s);
        in_next = s.in_next;
        out_next = s.out_next;
        bitbuf = s.bitbuf;
        bitsleft = s.bitsleft;
        if (exit == FastExit::EndOfBlock) goto block_done;
        if (exit == FastExit::BadData) return finish(CodecStatus::BadData);
        continue;
      }

      // ---- Huffman block, checked: one symbol.
      if (static_cast<size_t>(out_end - out_next) < kMaxMatchLength) more_output();
      refill_checked();
      const uint32_t* const litlen_table = tables;
      const uint32_t* const dist_table = tables + kDistTableOffset;
      uint32_t e = litlen_table[bitbuf & kLitlenMask];
      if (e & kEntrySubtable) {
        consume(EntryBitsUsed(e));
        e = litlen_table[EntryValue(e) + (bitbuf & LowBits(EntryCodewordBits(e)))];
      }
      uint64_t saved = bitbuf;
      consume(EntryBitsUsed(e));
      if (used_appended_zeros()) return finish(CodecStatus::InputEnded);
      if (e & kEntryLiteral) {
        if (out_next == out_end) return finish(CodecStatus::OutputFull);
        *out_next++ = static_cast<uint8_t>(e >> kEntryValueShift);
        continue;
      }
      if (e & kEntryExceptional) {
        if (e & kEntryEndOfBlock) break;
        return finish(CodecStatus::BadData);
      }
      const unsigned length =
          EntryValue(e) + static_cast<unsigned>((saved & LowBits(EntryBitsUsed(e))) >> EntryCodewordBits(e));

      e = dist_table[bitbuf & kDistMask];
      if (e & kEntrySubtable) {
        consume(EntryBitsUsed(e));
        e = dist_table[EntryValue(e) + (bitbuf & LowBits(EntryCodewordBits(e)))];
      }
      saved = bitbuf;
      consume(EntryBitsUsed(e));
      if (used_appended_zeros()) return finish(CodecStatus::InputEnded);
      if (e & kEntryExceptional) return finish(CodecStatus::BadData);
      const size_t distance =
          EntryValue(e) + static_cast<size_t>((saved & LowBits(EntryBitsUsed(e))) >> EntryCodewordBits(e));
      if (distance > static_cast<size_t>(out_next - out)) return finish(CodecStatus::BadData);

      const size_t n = std::min<size_t>(length, static_cast<size_t>(out_end - out_next));
      // Each piece copied is at most as long as the distance from the copy's
      // start, so it never overlaps its source, and the distance doubles.
      // (Near the end of a highly compressed input, this copies a lot.)
      const uint8_t* const src = out_next - distance;
      for (uint8_t* const stop = out_next + n; out_next < stop;) {
        const size_t piece =
            std::min(static_cast<size_t>(stop - out_next), static_cast<size_t>(out_next - src));
        std::memcpy(out_next, src, piece);
        out_next += piece;
      }
      if (n < length) return finish(CodecStatus::OutputFull);
    }
  block_done:
    if (final_block) break;
  }
  return finish(CodecStatus::Ok);
}

// Inflate(): everything is in memory already.
struct WholeBuffer {
  static constexpr bool kStreaming = false;
  void Finish(uint8_t*, uint8_t*) {}
};

// InflateStream(): the input comes in pieces from a source; the output window
// grows by doubling up to its limit, then slides, handing its older bytes to the
// sink and keeping the last 32 KiB (the largest match distance) as history.
class StreamingIo {
 public:
  static constexpr bool kStreaming = true;
  static constexpr size_t kInputBuffer = 64 << 10;
  static constexpr size_t kHistory = 32 << 10;
  // Bytes kept before the unread input: a stored block hands back up to 7.
  static constexpr size_t kInputKept = 8;

  StreamingIo(InflateSource& source, InflateSink& sink, size_t initial_window, size_t max_window)
      : source_(source), sink_(sink) {
    max_window_ = std::max(max_window, kHistory + 4 * kOutputMargin);
    window_.Resize(std::min(std::max(initial_window, 2 * kOutputMargin), max_window_), 0);
    input_.Resize(kInputBuffer, 0);
  }
  uint8_t* Window() { return window_.data(); }
  size_t WindowSize() const { return window_.size(); }
  const uint8_t* Input() const { return input_.data(); }
  // Fills the input buffer the first time.
  size_t FirstInput() {
    size_t got = 0;
    while (got < input_.size()) {
      size_t n = source_.Read(input_.data() + got, input_.size() - got);
      if (n == 0) break;
      got += n;
    }
    return got;
  }
  bool MoreInput(const uint8_t*& in, const uint8_t*& in_next, const uint8_t*& in_end, uint64_t& discarded) {
    if (ended_) return false;
    const size_t keep_from = static_cast<size_t>(std::max<ptrdiff_t>(0, in_next - in - kInputKept));
    const size_t unread_and_kept = static_cast<size_t>(in_end - in) - keep_from;
    std::memmove(input_.data(), input_.data() + keep_from, unread_and_kept);
    discarded += keep_from;
    size_t got = unread_and_kept;
    while (got < input_.size()) {
      size_t n = source_.Read(input_.data() + got, input_.size() - got);
      if (n == 0) {
        ended_ = true;
        break;
      }
      got += n;
    }
    in = input_.data();
    in_next -= keep_from;  // the bytes moved down by that much
    in_end = in + got;
    return got > unread_and_kept;
  }
  bool MoreOutput(uint8_t*& out, uint8_t*& out_next, uint8_t*& out_end) {
    if (stopped_) return false;
    const size_t used = static_cast<size_t>(out_next - out);
    if (window_.size() < max_window_) {
      window_.Resize(std::min(window_.size() * 2, max_window_), used);
    } else {
      // Hand over what is not history yet, then keep the history.
      if (used < kHistory + kOutputMargin) return false;
      if (!Deliver(out, out_next)) return false;
      std::memmove(window_.data(), out_next - kHistory, kHistory);
      delivered_from_ = kHistory;
      out = window_.data();
      out_next = out + kHistory;
      out_end = out + window_.size();
      return true;
    }
    out = window_.data();
    out_next = out + used;
    out_end = out + window_.size();
    return true;
  }
  // Hands the bytes not delivered yet to the sink.
  void Finish(uint8_t* out, uint8_t* out_next) {
    if (!stopped_) Deliver(out, out_next);
  }
  uint64_t Delivered() const { return delivered_; }
  bool Stopped() const { return stopped_; }

 private:
  bool Deliver(uint8_t* out, uint8_t* out_next) {
    const size_t from = delivered_from_;
    const size_t to = static_cast<size_t>(out_next - out);
    if (to > from) {
      delivered_ += to - from;
      if (!sink_.Write(out + from, to - from)) {
        stopped_ = true;
        return false;
      }
    }
    delivered_from_ = to;
    return true;
  }

  // A byte buffer that is not cleared: what the decoder reads of it, it wrote.
  class Buffer {
   public:
    uint8_t* data() { return bytes_.get(); }
    const uint8_t* data() const { return bytes_.get(); }
    size_t size() const { return size_; }
    // A new size, keeping the first `keep` bytes.
    void Resize(size_t size, size_t keep) {
      std::unique_ptr<uint8_t[]> bytes(new uint8_t[size]);
      if (keep) std::memcpy(bytes.get(), bytes_.get(), keep);
      bytes_ = std::move(bytes);
      size_ = size;
    }

   private:
    std::unique_ptr<uint8_t[]> bytes_;
    size_t size_ = 0;
  };

  InflateSource& source_;
  InflateSink& sink_;
  Buffer window_;
  Buffer input_;
  size_t max_window_ = 0;
  size_t delivered_from_ = 0;  // window bytes before this were handed to the sink
  uint64_t delivered_ = 0;
  bool ended_ = false;
  bool stopped_ = false;
};

// The decoder is compiled once for any processor and once more for those with
// BMI2 (see "Two builds" above); both forms of the decoder come in both builds.
template <class Io>
CodecResult DecodePortable(Io& io, const uint8_t* in, size_t in_len, uint8_t* out, size_t out_cap) {
  return InflateWith<Io, FastLoopPortable, FastLoopPortableFar>(io, in, in_len, out, out_cap);
}

#if QB_INFLATE_HAVE_BMI2
QB_FAST_LOOP_ATTRS __attribute__((target("bmi,bmi2"))) FastExit FastLoopBmi2(FastState& state) {
  return FastLoop<true, true>(state);
}
// The two loops are nearly the same code. Laid out at the same offsets within
// their cache lines, they made a 64 KiB clip, which goes through both, 15%
// slower than with one of them 32 bytes further in (measured at every 16-byte
// offset of both); the branch predictor seems to mix them up. The padding runs
// once per call.
QB_FAST_LOOP_ATTRS __attribute__((target("bmi,bmi2"))) FastExit FastLoopBmi2Far(FastState& state) {
  __asm__ volatile(".skip 32, 0x90");
  return FastLoop<true, false>(state);
}
template <class Io>
__attribute__((target("bmi,bmi2"))) CodecResult DecodeBmi2(Io& io, const uint8_t* in, size_t in_len,
                                                           uint8_t* out, size_t out_cap) {
  return InflateWith<Io, FastLoopBmi2, FastLoopBmi2Far>(io, in, in_len, out, out_cap);
}
bool DetectBmi2() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("bmi2");
}
const bool kHaveBmi2 = DetectBmi2();
#endif

template <class Io>
CodecResult Decode(Io& io, const uint8_t* in, size_t in_len, uint8_t* out, size_t out_cap) {
#if QB_INFLATE_HAVE_BMI2
  if (kHaveBmi2) return DecodeBmi2(io, in, in_len, out, out_cap);
#endif
  return DecodePortable(io, in, in_len, out, out_cap);
}

}  // namespace

CodecResult Inflate(const uint8_t* in, size_t in_len, uint8_t* out, size_t out_cap) {
  WholeBuffer io;
  return Decode(io, in, in_len, out, out_cap);
}

CodecResult InflatePortable(const uint8_t* in, size_t in_len, uint8_t* out, size_t out_cap) {
  WholeBuffer io;
  return DecodePortable(io, in, in_len, out, out_cap);
}

CodecResult InflateStream(InflateSource& source, InflateSink& sink, size_t initial_window,
                          size_t max_window) {
  StreamingIo io(source, sink, initial_window, max_window);
  const size_t first = io.FirstInput();
  CodecResult result = Decode(io, io.Input(), first, io.Window(), io.WindowSize());
  result.produced = static_cast<size_t>(io.Delivered());
  if (io.Stopped()) result.status = CodecStatus::OutputFull;
  return result;
}

}  // namespace qb::zip
