// Deflate compressor: hash-chain LZ77 plus per-block Huffman coding.
//
// What it does
// ------------
// Deflate describes the input as a sequence of literal bytes and (length,
// distance) back-references to the previous 32 KiB, Huffman-coded block by
// block. The naive encoder would, at every position, try every earlier position
// in the window and keep the longest match: correct, and about 32768 string
// comparisons per input byte.
//
// The classic encoder that this one follows instead keeps hash chains: `head_`
// maps a 15-bit hash of the next three bytes ((b0 << 10) ^ (b1 << 5) ^ b2) to
// the most recent position with that hash, and each position links to the
// previous one with the same hash. Only positions on the chain are tried,
// newest first, and the level table bounds the work: at most `chain`
// candidates, stop as soon as a match reaches `nice` bytes, and try only a
// quarter of the chain when the match in hand already reaches `good` bytes. A
// match is never taken further back than 32506 bytes (the 32 KiB window less
// the 262-byte lookahead the classic sliding-window design keeps in reserve).
//
// Levels 1 to 3 are greedy: the longest match at a position is taken at once,
// and the positions it covers are entered into the hash chains only when it is
// at most `lazy` bytes long (a long match skips that work). Levels 4 to 9 are
// lazy: a match found at position p is held back while position p + 1 is
// searched, and when p + 1 has a longer match, p goes out as a literal instead.
// The search at p + 1 is skipped once the held match reaches `lazy` bytes, and a
// 3-byte match further than 4096 bytes back is ignored because its distance code
// costs about as much as three literals.
//
// Symbols are collected per block. A block ends after 32767 symbols (the match
// limit of 32768 can never be reached first), at the end of the input, and at
// levels 3 to 9 at every 4096th symbol when the block so far is mostly literals
// and its rough coded size is below half of the input it covers: a cheap guess
// that the data has changed character and a new set of codes will pay. Each
// block goes out stored when its length plus 4 bytes of framing is no more than
// its best coded length, else with the fixed codes when these are as short as
// its own dynamic codes, else with the dynamic codes. When the only block of
// the input would not be shorter than the input, the caller is told to store
// the entry instead.
//
// Speed-ups over the textbook version, and why
// --------------------------------------------
// The choices above fix which candidates are tried and which symbols come
// out; everything below only makes the same work cheaper.
// 1. No window copy. The input is one buffer in memory, so matches are compared
//    in place; the "sliding window" is only a change of origin for positions.
// 2. 16-bit positions. Hash heads and chain links hold positions relative to a
//    moving origin, so the tables stay within the L2 cache. Every 32 KiB the
//    origin moves and each entry drops by 32768 with a saturating subtract,
//    which the compiler turns into a few vector instructions per cache line;
//    entries that fall off the window become 0, which is never a candidate.
// 3. Four links per node (levels 2 to 9, see 13). Walking a chain is a series
//    of dependent loads, and in the textbook version every candidate waits for
//    the load of its link. Here each position's node holds the next four
//    positions of its chain, so one 8-byte load yields four candidates, and
//    the following node is being loaded while they are tried. Entering a
//    position stays cheap: its node is the node of the chain's previous head
//    shifted by one lane.
// 4. Cheap rejection. Before a candidate is extended it must agree with the
//    current position on the two bytes ending at the length to beat, then on
//    its first two bytes; most candidates fail the first 16-bit compare.
// 5. Eight bytes at a time. Matches are extended by XOR-ing 64-bit words; the
//    first differing byte is the count of trailing zero bits divided by eight.
// 6. A rolling hash. The positions inside a match are entered one after the
//    other, each hash made from the previous one with one shift and one XOR.
// 7. Symbols are packed when found (see kSymbol* below): the Huffman symbol and
//    extra-bit values of a match are computed once and reused for the block's
//    frequencies, its size estimates and its output.
// 8. A 64-bit bit buffer. Up to 55 bits (one whole match plus the leftover) are
//    accumulated, then stored with a single unaligned 8-byte write; the output
//    is sized from each block's exact coded length before the block is written,
//    so the writer loop has no bounds checks.
// 9. Small inputs stay cheap. The tables live in a workspace that each thread
//    keeps between calls, with every hash head back at 0 after a call: a short
//    input clears only the heads of its own hashes, and only the chain nodes it
//    can reach. Canonical codes are reversed a byte at a time through a table,
//    and all fixed tables (length slots, extra-bit counts, the fixed Huffman
//    codes) are computed by constexpr code at compile time.
// 10. Runs are entered from registers. Inside a run of one byte value each
//    position's chain head is the position before it; its node follows from
//    the previous one without reading back what was just stored, and once
//    four such positions are in, each further node is the last one plus one
//    in every lane, stored in bulk for the rest of the run.
// 11. The origin moves with AVX2 where the processor has it: 320 KiB of
//    tables are rewritten for every 32 KiB of input.
// 12. Runs are skipped in the search at the levels with long chains. When the
//    position being coded starts a run of one byte value that ends before the
//    longest match, and the match in hand is already that long, the chain's
//    next candidates run backwards through another run of that value; each of
//    them gives at most the same length, except the one whose run ends where
//    ours does. That one is tried, the others are counted as tried without
//    touching them, and the walk goes on from the run's start. Searches at the
//    edges of the flat areas of a picture used to spend thousands of
//    candidates this way at level 9.
// 13. Single links where chains are short. At level 1 a search tries at most
//    four candidates, so each position keeps only the previous position of
//    its hash (see InsertLink): entering a position no longer waits for the
//    load of another node, and the tables to keep in cache and to slide
//    shrink from 320 to 128 KiB.
// 14. Fewer branches where they are mispredicted. Whether a literal or a
//    match comes next, and whether a candidate beats the one before, are as
//    good as random: long blocks are written through codes merged per block,
//    one addition per symbol, and level 1 takes each candidate's length from
//    its first eight bytes and keeps the longer one with conditional moves.
//    Short inputs keep the branchy forms, which are faster there once the
//    branch predictor has learnt them (the same clip compressed again).
#include "zip/deflate.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <memory>

namespace qb::zip {
namespace {

// ---- Format constants (RFC 1951) ----
constexpr unsigned kNumLiterals = 256;
constexpr unsigned kEndOfBlock = 256;
constexpr unsigned kNumLitLenSyms = 286;  // literals, end of block, 29 length symbols
constexpr unsigned kNumLengthSyms = 29;
constexpr unsigned kNumDistSyms = 30;
constexpr unsigned kNumCodeLenSyms = 19;
constexpr unsigned kMaxCodeBits = 15;
constexpr unsigned kMaxCodeLenBits = 7;
constexpr unsigned kMinMatch = 3;
constexpr unsigned kMaxMatch = 258;
constexpr size_t kMaxStoredLen = 65535;

// The order in which code-length code lengths are sent.
constexpr uint8_t kCodeLenOrder[kNumCodeLenSyms] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                                    11, 4,  12, 3, 13, 2, 14, 1, 15};

// ---- Compressor settings ----
constexpr uint32_t kWindowSize = 32768;
constexpr uint32_t kWindowMask = kWindowSize - 1;
constexpr uint32_t kMinLookahead = kMaxMatch + kMinMatch + 1;
constexpr uint32_t kMaxDist = kWindowSize - kMinLookahead;
static_assert(kMaxDist == 32506);
constexpr unsigned kHashBits = 15;
constexpr unsigned kHashShift = 5;
constexpr uint32_t kHashSize = 1u << kHashBits;
static_assert(kHashShift * kMinMatch >= kHashBits, "the hash must cover all three bytes");
constexpr uint32_t kTooFar = 4096;
constexpr uint32_t kMaxBlockSymbols = 32767;
constexpr uint32_t kMaxBlockMatches = 32768;
static_assert(kMaxBlockMatches > kMaxBlockSymbols,
              "a block is always full of symbols before it is full of matches");
constexpr uint32_t kEarlyFlushInterval = 4096;
// Up to this input length the used hash heads are cleared one by one after a
// call rather than all 32768 of them.
constexpr size_t kClearByHashLimit = 2048;
// From this input length on, the lazy levels load the next position's first
// chain node ahead of its search.
constexpr size_t kPrefetchFromLength = 16384;

// Positions in the hash tables are 16-bit values relative to a moving origin;
// 0 means "none". The position being coded starts at kWindowSize and the origin
// moves by kWindowSize whenever it reaches kSlideAt. Up to kMaxMatch - 1 further
// positions are entered before the next check, so they must still fit in 16
// bits, and right after a move the oldest usable position must stay above 0.
constexpr uint32_t kSlideAt = 65536 - kMaxMatch;
static_assert(kSlideAt - 1 + kMaxMatch - 1 <= 0xFFFF);
static_assert(kSlideAt - kWindowSize > kMaxDist);

// Chain node: the relative positions of the previous four positions with the
// same hash, newest first, in 16-bit lanes.
//   bits  0-15  previous position      bits 32-47  third previous
//   bits 16-31  second previous        bits 48-63  fourth previous
// Entering position p whose hash chain starts at q makes p's node q's node
// shifted up one lane with q in lane 0. The lanes of a node are only
// meaningful up to the first one that is out of reach.
constexpr unsigned kLinkBits = 16;
constexpr unsigned kLinksPerNode = 4;
static_assert(kLinkBits * kLinksPerNode == 64);
constexpr size_t kNodeBytes = 8;
static_assert(kNodeBytes * 8 == kLinkBits * kLinksPerNode);

struct LevelParams {
  uint16_t good;   // a match this long cuts the chain search to a quarter
  uint16_t lazy;   // lazy levels: no look-ahead search past a match this long;
                   // greedy levels: longest match whose positions are all hashed
  uint16_t nice;   // stop searching once a match is this long
  uint16_t chain;  // candidates tried per search
};

constexpr LevelParams kLevelParams[10] = {
    {0, 0, 0, 0},  // unused
    {4, 4, 8, 4},      {4, 5, 16, 8},     {4, 6, 32, 32},       {4, 4, 16, 16},       {8, 16, 32, 32},
    {8, 16, 128, 128}, {8, 32, 128, 256}, {32, 128, 258, 1024}, {32, 258, 258, 4096},
};
constexpr int kFirstLazyLevel = 4;
// Levels whose chains are this long skip runs in bulk (see SkipRuns in
// LongestMatch); on shorter chains the bookkeeping costs more than it saves.
constexpr unsigned kSkipRunsFromChain = 1024;
constexpr int kFirstEarlyFlushLevel = 3;
// Level 1 searches inputs of this length or more without a branch on each
// candidate's outcome (see ShortChainMatchFar).
constexpr size_t kBranchFreeSearchFrom = 8192;

// LongestMatch walks whole nodes: every count of candidates it is given (a
// level's chain, and a quarter of it at the lazy levels) is a multiple of the
// lanes in a node. (Level 1 walks single links, ShortChainMatch, except in
// DeflatePlain(), where its chain of 4 is one node.)
constexpr bool kChainsInNodes = [] {
  for (int level = 1; level <= 9; ++level) {
    const unsigned chain = kLevelParams[level].chain;
    if (chain % kLinksPerNode != 0 || (level >= kFirstLazyLevel && (chain >> 2) % kLinksPerNode != 0))
      return false;
  }
  return true;
}();
static_assert(kChainsInNodes);

// ---- Length and distance symbols (constexpr-generated) ----

constexpr std::array<uint8_t, kNumLengthSyms> kLengthExtraBits = [] {
  std::array<uint8_t, kNumLengthSyms> t{};
  for (unsigned i = 0; i < kNumLengthSyms - 1; ++i) t[i] = static_cast<uint8_t>(i < 8 ? 0 : (i - 4) / 4);
  t[kNumLengthSyms - 1] = 0;  // symbol 285: length 258 exactly
  return t;
}();

constexpr std::array<uint16_t, kNumLengthSyms> kLengthBase = [] {
  std::array<uint16_t, kNumLengthSyms> t{};
  unsigned base = kMinMatch;
  for (unsigned i = 0; i < kNumLengthSyms - 1; ++i) {
    t[i] = static_cast<uint16_t>(base);
    base += 1u << kLengthExtraBits[i];
  }
  t[kNumLengthSyms - 1] = kMaxMatch;
  return t;
}();
static_assert(kLengthBase[kNumLengthSyms - 2] == 227);

constexpr std::array<uint8_t, kNumDistSyms> kDistExtraBits = [] {
  std::array<uint8_t, kNumDistSyms> t{};
  for (unsigned i = 0; i < kNumDistSyms; ++i) t[i] = static_cast<uint8_t>(i < 4 ? 0 : i / 2 - 1);
  return t;
}();

// Packed symbol: one entry of the block's symbol buffer.
//   bits  0-8   literal/length symbol: 0-255 a literal byte, 257-285 a match length
//   bits  9-13  extra-bit value of the length (the count is kLengthExtraBits)
//   bits 14-18  distance symbol 0-29 (matches only)
//   bits 19-31  extra-bit value of the distance (the count is kDistExtraBits)
constexpr unsigned kSymbolLenExtraShift = 9;
constexpr unsigned kSymbolDistShift = 14;
constexpr unsigned kSymbolDistExtraShift = 19;
constexpr uint32_t kSymbolMask = (1u << kSymbolLenExtraShift) - 1;
static_assert(kNumLitLenSyms - 1 <= kSymbolMask);
static_assert((1u << (kSymbolDistShift - kSymbolLenExtraShift)) >
              (1u << 5) - 1);  // length extras up to 5 bits
static_assert(kNumDistSyms - 1 < (1u << (kSymbolDistExtraShift - kSymbolDistShift)));
static_assert(kSymbolDistExtraShift + 13 == 32, "distance extras take 13 bits");

// The length part of a packed match symbol, indexed by length - 3.
constexpr std::array<uint16_t, kMaxMatch - kMinMatch + 1> kLengthPart = [] {
  std::array<uint16_t, kMaxMatch - kMinMatch + 1> t{};
  for (unsigned len = kMinMatch; len <= kMaxMatch; ++len) {
    unsigned slot = kNumLengthSyms - 1;
    if (len != kMaxMatch)
      while (kLengthBase[slot] > len || slot == kNumLengthSyms - 1) --slot;
    t[len - kMinMatch] =
        static_cast<uint16_t>((kEndOfBlock + 1 + slot) | ((len - kLengthBase[slot]) << kSymbolLenExtraShift));
  }
  return t;
}();

// The distance part of a packed match symbol. Distance d - 1 = 2^k + r with
// k >= 2 has symbol 2k or 2k + 1 (chosen by the bit below the top one) and k - 1
// extra bits; distances 1 to 4 are symbols 0 to 3.
inline uint32_t DistancePart(uint32_t dist) {
  const uint32_t d = dist - 1;
  if (d < 4) return d << kSymbolDistShift;
  const unsigned k = static_cast<unsigned>(std::bit_width(d)) - 1;
  const uint32_t sym = 2 * k + ((d >> (k - 1)) & 1);
  const uint32_t extra = d & ((1u << (k - 1)) - 1);
  return (sym << kSymbolDistShift) | (extra << kSymbolDistExtraShift);
}

// ---- Huffman codes ----

// A prefix code: per symbol its length in bits (0 = unused) and its code, bit
// reversed so that it can be sent least significant bit first.
template <size_t N>
struct PrefixCode {
  std::array<uint16_t, N> codes{};
  std::array<uint8_t, N> lens{};
};

constexpr std::array<uint8_t, 256> kReversedBytes = [] {
  std::array<uint8_t, 256> t{};
  for (unsigned b = 0; b < 256; ++b)
    for (unsigned i = 0; i < 8; ++i) t[b] |= static_cast<uint8_t>(((b >> i) & 1) << (7 - i));
  return t;
}();

// The low `len` bits of `code` in reverse order (len 1 to 16).
constexpr uint16_t ReverseBits(uint16_t code, unsigned len) {
  const unsigned both = (unsigned{kReversedBytes[code & 0xFF]} << 8) | kReversedBytes[code >> 8];
  return static_cast<uint16_t>(both >> (16 - len));
}
static_assert(ReverseBits(0x1, 1) == 0x1 && ReverseBits(0x6, 3) == 0x3 && ReverseBits(0x190, 9) == 0x13);

// Assigns canonical codes from the lengths (RFC 1951, 3.2.2), given the
// number of codes of each length 1 to 15 (count[0] is not read).
constexpr void FirstCanonicalCodes(const uint16_t* count, uint16_t* next) {
  uint32_t c = 0;
  for (unsigned bits = 1; bits <= kMaxCodeBits; ++bits) {
    c = (c + (bits > 1 ? count[bits - 1] : 0u)) << 1;
    next[bits] = static_cast<uint16_t>(c);
  }
}

template <size_t N>
constexpr void AssignCanonicalCodes(PrefixCode<N>& code, const uint16_t* count) {
  uint16_t next[kMaxCodeBits + 1] = {};
  FirstCanonicalCodes(count, next);
  for (size_t s = 0; s < N; ++s) {
    const unsigned len = code.lens[s];
    code.codes[s] = len ? ReverseBits(next[len]++, len) : 0;
  }
}

// The same, given the symbols that have a code, in order (see
// BuildCodeLengths): one step for each of them and none for the others, which
// in a short block are many and scattered, a mispredicted branch each time
// the loop above passes from used to unused symbols or back.
template <size_t N>
void AssignCanonicalCodes(PrefixCode<N>& code, const uint16_t* count, const uint16_t* coded,
                          unsigned num_coded) {
  uint16_t next[kMaxCodeBits + 1] = {};
  FirstCanonicalCodes(count, next);
  code.codes.fill(0);
  for (unsigned i = 0; i < num_coded; ++i) {
    const unsigned s = coded[i], len = code.lens[s];
    code.codes[s] = ReverseBits(next[len]++, len);
  }
}

template <size_t N>
constexpr void AssignCanonicalCodes(PrefixCode<N>& code) {
  uint16_t count[kMaxCodeBits + 1] = {};
  for (size_t s = 0; s < N; ++s) ++count[code.lens[s]];
  AssignCanonicalCodes(code, count);
}

// The fixed code is defined over 288 symbols; the two that never occur (286,
// 287) still take part in the canonical numbering.
constexpr PrefixCode<kNumLitLenSyms> kFixedLitLenCode = [] {
  PrefixCode<kNumLitLenSyms + 2> all;
  for (unsigned s = 0; s < all.lens.size(); ++s) all.lens[s] = s < 144 ? 8 : s < 256 ? 9 : s < 280 ? 7 : 8;
  AssignCanonicalCodes(all);
  PrefixCode<kNumLitLenSyms> c;
  for (unsigned s = 0; s < kNumLitLenSyms; ++s) c.codes[s] = all.codes[s], c.lens[s] = all.lens[s];
  return c;
}();

constexpr PrefixCode<kNumDistSyms> kFixedDistCode = [] {
  PrefixCode<kNumDistSyms> c;
  c.lens.fill(5);
  AssignCanonicalCodes(c);
  return c;
}();
static_assert(kFixedLitLenCode.codes[0] == ReverseBits(0x30, 8));
static_assert(kFixedLitLenCode.codes[kEndOfBlock] == 0 && kFixedLitLenCode.lens[kEndOfBlock] == 7);
static_assert(kFixedLitLenCode.codes[144] == ReverseBits(0x190, 9));
static_assert(kFixedLitLenCode.codes[280] == ReverseBits(0xC0, 8));

// Computes code lengths for `n` symbols with frequencies `freq`, at most
// `max_bits` long. The code is always complete and has at least two codes
// (unused symbols 0 and 1 are given codes when fewer than two are used), which
// every decoder accepts. Also gives the number of codes of each length in
// len_count[1..15] and the symbols that have a code, in order, in coded
// (room for n) and *num_coded, and returns the coded size of the symbols in
// bits.
uint32_t BuildCodeLengths(const uint32_t* freq, unsigned n, unsigned max_bits, uint8_t* lens,
                          uint16_t* len_count, uint16_t* coded, unsigned* num_coded) {
  // Leaves sorted by weight, then symbol: (freq << 9) | symbol. No symbol
  // occurs more often than a block has symbols.
  static_assert(kMaxBlockSymbols < (1u << 15) && kNumLitLenSyms <= (1u << 9), "keys fit in 24 bits");
  // The used symbols first, in order, without a branch on each: whether a
  // symbol occurs is as good as random in a short block.
  uint16_t* const used = coded;
  unsigned m = 0;
  for (unsigned s = 0; s < n; ++s) {
    lens[s] = 0;
    used[m] = static_cast<uint16_t>(s);
    m += freq[s] != 0;
  }
  *num_coded = m;
  if (m < 2) {  // give one or two unused symbols a 1-bit code
    const unsigned used_sym = m == 1 ? used[0] : 1, other = used_sym == 0 ? 1 : 0;
    lens[used_sym] = 1;
    lens[other] = 1;
    coded[0] = static_cast<uint16_t>(std::min(used_sym, other));
    coded[1] = static_cast<uint16_t>(std::max(used_sym, other));
    *num_coded = 2;
    std::fill_n(len_count, kMaxCodeBits + 1, uint16_t{0});
    len_count[1] = 2;
    return freq[used_sym];
  }
  // A counting sort on the weight: weights below kHeavy have a bucket each,
  // where the symbols arrive in order; the heavier leaves share the last
  // bucket and are sorted there. Most weights of a short block are small, and
  // comparison sorting them cost a mispredicted branch for about every leaf.
  constexpr unsigned kHeavy = 64;
  uint16_t start[kHeavy + 1] = {};  // the counts of the buckets, then where each one starts
  unsigned top = 0;                 // the last bucket used
  for (unsigned i = 0; i < m; ++i) {
    const unsigned bucket = std::min(freq[used[i]], kHeavy);
    ++start[bucket];
    top = std::max(top, bucket);
  }
  for (unsigned w = 0, at = 0; w <= top; ++w) {
    const unsigned count = start[w];
    start[w] = static_cast<uint16_t>(at);
    at += count;
  }
  uint32_t leaves[kNumLitLenSyms];
  for (unsigned i = 0; i < m; ++i) {
    const unsigned s = used[i];
    leaves[start[std::min(freq[s], kHeavy)]++] = (freq[s] << 9) | s;
  }
  if (top == kHeavy)
    std::sort(leaves + start[kHeavy - 1], leaves + m);  // (start moved on to the next bucket's)

  // Two-queue Huffman construction: leaves and new internal nodes are both
  // taken in weight order; on a tie the leaf goes first, which keeps the tree
  // shallow. Nodes 0..m-1 are the leaves, m..2m-2 the internal nodes. Weights
  // add up to at most the block's symbol count.
  uint32_t weight[2 * kNumLitLenSyms];
  uint16_t parent[2 * kNumLitLenSyms];
  for (unsigned i = 0; i < m; ++i) weight[i] = leaves[i] >> 9;
  unsigned next_leaf = 0, next_internal = m, end_internal = m;
  auto take = [&] {
    if (next_leaf < m && (next_internal == end_internal || weight[next_leaf] <= weight[next_internal]))
      return next_leaf++;
    return next_internal++;
  };
  while (end_internal < 2 * m - 1) {
    const unsigned a = take(), b = take();
    weight[end_internal] = weight[a] + weight[b];
    parent[a] = parent[b] = static_cast<uint16_t>(end_internal);
    ++end_internal;
  }
  // Depths, root first (parents always have higher indexes than children).
  uint8_t depth[2 * kNumLitLenSyms];
  depth[2 * m - 2] = 0;
  unsigned count[kMaxCodeBits + 1] = {};
  for (unsigned i = 2 * m - 2; i-- > 0;) {
    depth[i] = static_cast<uint8_t>(std::min<unsigned>(depth[parent[i]] + 1u, 255u));
    if (i < m) ++count[std::min<unsigned>(depth[i], max_bits)];
  }

  // Length limiting: leaves deeper than max_bits were lifted to max_bits, which
  // oversubscribes the code. Push the deepest leaves above max_bits down one
  // level until the Kraft sum fits, then lift leaves back up while it falls
  // short, so that the code ends up complete.
  const uint64_t full = uint64_t{1} << max_bits;
  uint64_t kraft = 0;
  for (unsigned len = 1; len <= max_bits; ++len)
    kraft += static_cast<uint64_t>(count[len]) << (max_bits - len);
  while (kraft > full) {
    unsigned len = max_bits - 1;
    while (count[len] == 0) --len;
    --count[len];
    ++count[len + 1];
    kraft -= uint64_t{1} << (max_bits - len - 1);
  }
  while (kraft < full) {
    unsigned len = max_bits;
    while (count[len] == 0) --len;
    --count[len];
    ++count[len - 1];
    kraft += uint64_t{1} << (max_bits - len);
  }

  // The lightest leaves get the longest codes. A block has at most 32767
  // symbols of at most 15 bits each, so 32 bits hold the coded size.
  static_assert(uint64_t{kMaxBlockSymbols} * kMaxCodeBits <= UINT32_MAX);
  unsigned leaf = 0;
  uint32_t bits = 0;
  for (unsigned len = max_bits; len >= 1; --len) {
    for (unsigned k = 0; k < count[len]; ++k, ++leaf) {
      lens[leaves[leaf] & 0x1FF] = static_cast<uint8_t>(len);
      bits += (leaves[leaf] >> 9) * len;
    }
  }
  for (unsigned len = 0; len <= kMaxCodeBits; ++len)
    len_count[len] = static_cast<uint16_t>(len <= max_bits ? count[len] : 0);
  return bits;
}

// ---- Bit output ----

inline void Store64LE(uint8_t* p, uint64_t v) {
  if constexpr (std::endian::native == std::endian::big) {
    for (int i = 0; i < 8; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
  } else {
    std::memcpy(p, &v, 8);
  }
}

// Bits go out least significant first. Add() may be called until 64 bits would
// be exceeded; Flush() then writes the complete bytes, leaving at most 7 bits.
// Flush() stores 8 bytes, so the output needs 8 bytes of room past the data.
class BitWriter {
 public:
  explicit BitWriter(uint8_t* out) : out_(out) {}

  void Add(uint32_t bits, unsigned count) { AddWide(bits, count); }
  // Up to 57 bits.
  void AddWide(uint64_t bits, unsigned count) {
    buf_ |= bits << filled_;
    filled_ += count;
  }
  void Flush() {
    Store64LE(out_, buf_);
    out_ += filled_ >> 3;
    buf_ >>= filled_ & ~7u;
    filled_ &= 7;
  }
  // Flushes and pads with zero bits to a byte boundary.
  void AlignToByte() {
    Flush();
    if (filled_) ++out_;
    buf_ = 0;
    filled_ = 0;
  }
  // Copies bytes; the writer must be byte-aligned.
  void CopyBytes(const uint8_t* data, size_t n) {
    if (n) std::memcpy(out_, data, n);
    out_ += n;
  }
  uint8_t* Position() const { return out_; }
  void Rebase(uint8_t* out) { out_ = out; }

 private:
  uint8_t* out_;
  uint64_t buf_ = 0;
  unsigned filled_ = 0;
};

// Writes a block's packed symbols and its end-of-block code. The writer is
// copied into a local for the loop: the bytes it stores could alias anything
// the caller keeps in memory, so a writer there would go through memory.
using LitLenCode = PrefixCode<kNumLitLenSyms>;
using DistCode = PrefixCode<kNumDistSyms>;

[[gnu::always_inline]] inline void WriteSymbolsWith(BitWriter& writer, const uint32_t* syms, uint32_t n,
                                                    const LitLenCode& litlen, const DistCode& dist) {
  BitWriter w = writer;
  for (uint32_t i = 0; i < n; ++i) {
    const uint32_t e = syms[i];
    const uint32_t s = e & kSymbolMask;
    w.Add(litlen.codes[s], litlen.lens[s]);
    if (s > kEndOfBlock) {
      w.Add((e >> kSymbolLenExtraShift) & 31, kLengthExtraBits[s - kEndOfBlock - 1]);
      const uint32_t d = (e >> kSymbolDistShift) & 31;
      w.Add(dist.codes[d], dist.lens[d]);
      w.Add(e >> kSymbolDistExtraShift, kDistExtraBits[d]);
    }
    w.Flush();
  }
  w.Add(litlen.codes[kEndOfBlock], litlen.lens[kEndOfBlock]);
  w.Flush();
  writer = w;
}

// The codes of a block merged for the writer: each literal/length symbol's
// code with its length and the bits it takes with its extra bits, and a
// distance index of its own (see below); each distance symbol's code, length
// and bits with its extra bits.
struct MergedLitLen {
  uint16_t code;
  uint8_t len;
  uint8_t bits;     // len plus the extra-bit count
  uint8_t dist_or;  // kNoDistance for a literal (and end of block), 0 for a length
  uint8_t unused[3];
};
struct MergedDist {
  uint16_t code;
  uint8_t len;
  uint8_t bits;
};
// A literal's packed entry has distance symbol 0; or-ed with this it picks the
// table's last entry, which codes nothing.
constexpr uint32_t kNoDistance = 31;
static_assert(kNumDistSyms <= kNoDistance);
struct MergedCodes {
  MergedLitLen litlen[kNumLitLenSyms];
  MergedDist dist[kNoDistance + 1];
};

constexpr void MergeCodes(MergedCodes& m, const LitLenCode& litlen, const DistCode& dist) {
  for (unsigned s = 0; s < kNumLitLenSyms; ++s) {
    const uint8_t extra = s > kEndOfBlock ? kLengthExtraBits[s - kEndOfBlock - 1] : 0;
    m.litlen[s] = {litlen.codes[s],
                   litlen.lens[s],
                   static_cast<uint8_t>(litlen.lens[s] + extra),
                   static_cast<uint8_t>(s > kEndOfBlock ? 0 : kNoDistance),
                   {}};
  }
  for (unsigned d = 0; d < kNumDistSyms; ++d)
    m.dist[d] = {dist.codes[d], dist.lens[d], static_cast<uint8_t>(dist.lens[d] + kDistExtraBits[d])};
  for (unsigned d = kNumDistSyms; d <= kNoDistance; ++d) m.dist[d] = {};
}

constexpr MergedCodes kFixedMerged = [] {
  MergedCodes m{};
  MergeCodes(m, kFixedLitLenCode, kFixedDistCode);
  return m;
}();

// The same output as WriteSymbolsWith without a branch per symbol: a symbol's
// bits are put together first, each part shifted by the lengths of the parts
// before it, and added to the bit buffer at once. A literal goes through the
// same steps, with zero extra bits and the distance entry that codes nothing.
// Whether a literal or a match comes next is as good as random in most data,
// and the branchy loop pays a misprediction for many of its symbols. The
// merged loop does more work per symbol than the branchy one does for a
// literal, though, and merging costs a pass over both codes per block.
[[gnu::always_inline]] inline void WriteMergedWith(BitWriter& writer, const uint32_t* syms, uint32_t n,
                                                   const MergedCodes& m) {
  static_assert(kMaxCodeBits + 5 + kMaxCodeBits + 13 + 7 <= 64, "a whole match fits with the leftover bits");
  BitWriter w = writer;
  for (uint32_t i = 0; i < n; ++i) {
    const uint32_t e = syms[i];
    const MergedLitLen& l = m.litlen[e & kSymbolMask];
    const MergedDist& d = m.dist[((e >> kSymbolDistShift) & 31) | l.dist_or];
    const uint32_t length_part = l.code | (((e >> kSymbolLenExtraShift) & 31) << l.len);
    const uint64_t dist_part = d.code | (uint64_t{e >> kSymbolDistExtraShift} << d.len);
    w.AddWide(length_part | (dist_part << l.bits), l.bits + d.bits);
    w.Flush();
  }
  const MergedLitLen& eob = m.litlen[kEndOfBlock];
  w.Add(eob.code, eob.len);
  w.Flush();
  writer = w;
}

void WriteSymbolsPortable(BitWriter& w, const uint32_t* syms, uint32_t n, const LitLenCode& litlen,
                          const DistCode& dist) {
  WriteSymbolsWith(w, syms, n, litlen, dist);
}
void WriteMergedPortable(BitWriter& w, const uint32_t* syms, uint32_t n, const MergedCodes& m) {
  WriteMergedWith(w, syms, n, m);
}

#if (defined(__x86_64__) || defined(__i386__)) && (defined(__GNUC__) || defined(__clang__))
// With BMI2 each of the loop's variable shifts is one instruction.
__attribute__((target("bmi2"))) void WriteSymbolsBmi2(BitWriter& w, const uint32_t* syms, uint32_t n,
                                                      const LitLenCode& litlen, const DistCode& dist) {
  WriteSymbolsWith(w, syms, n, litlen, dist);
}
__attribute__((target("bmi2"))) void WriteMergedBmi2(BitWriter& w, const uint32_t* syms, uint32_t n,
                                                     const MergedCodes& m) {
  WriteMergedWith(w, syms, n, m);
}
bool DetectBmi2() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("bmi2");
}
const bool kHaveBmi2 = DetectBmi2();

void WriteBlockSymbols(BitWriter& w, const uint32_t* syms, uint32_t n, const LitLenCode& litlen,
                       const DistCode& dist) {
  if (kHaveBmi2)
    WriteSymbolsBmi2(w, syms, n, litlen, dist);
  else
    WriteSymbolsPortable(w, syms, n, litlen, dist);
}
void WriteBlockMerged(BitWriter& w, const uint32_t* syms, uint32_t n, const MergedCodes& m) {
  if (kHaveBmi2)
    WriteMergedBmi2(w, syms, n, m);
  else
    WriteMergedPortable(w, syms, n, m);
}
#else
void WriteBlockSymbols(BitWriter& w, const uint32_t* syms, uint32_t n, const LitLenCode& litlen,
                       const DistCode& dist) {
  WriteSymbolsPortable(w, syms, n, litlen, dist);
}
void WriteBlockMerged(BitWriter& w, const uint32_t* syms, uint32_t n, const MergedCodes& m) {
  WriteMergedPortable(w, syms, n, m);
}
#endif

// ---- Little helpers ----

inline uint16_t Load16(const uint8_t* p) {
  uint16_t v;
  std::memcpy(&v, p, 2);
  return v;
}
inline uint64_t Load64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, 8);
  return v;
}

// Index of the first differing byte of two words that differ, in memory order.
inline unsigned FirstDifferentByte(uint64_t x) {
  if constexpr (std::endian::native == std::endian::big)
    return static_cast<unsigned>(std::countl_zero(x)) >> 3;
  else
    return static_cast<unsigned>(std::countr_zero(x)) >> 3;
}

// The number of equal bytes right before the end of two 8-byte strings that
// differ, given their XOR.
inline unsigned EqualBytesBeforeEnd(uint64_t x) {
  if constexpr (std::endian::native == std::endian::big)
    return static_cast<unsigned>(std::countr_zero(x)) >> 3;
  else
    return static_cast<unsigned>(std::countl_zero(x)) >> 3;
}

// Length of the common prefix of a and b, from `len` (already known equal) up
// to at most max_len.
inline uint32_t MatchLength(const uint8_t* a, const uint8_t* b, uint32_t len, uint32_t max_len) {
  while (len + 8 <= max_len) {
    const uint64_t x = Load64(a + len) ^ Load64(b + len);
    if (x) return len + FirstDifferentByte(x);
    len += 8;
  }
  while (len < max_len && a[len] == b[len]) ++len;
  return len;
}

inline uint32_t Hash3(const uint8_t* p) {
  return ((uint32_t{p[0]} << (2 * kHashShift)) ^ (uint32_t{p[1]} << kHashShift) ^ p[2]) & (kHashSize - 1);
}

// ---- Moving the origin of relative positions ----

// Lowers every entry of both tables by kWindowSize, stopping at 0 ("none").
// The loops become saturating vector subtractions; a second build with AVX2
// does twice as much per instruction, which counts since 320 KiB of tables are
// rewritten for every 32 KiB of input.
template <size_t N>
inline void DropEntries(uint16_t* t) {
  for (size_t i = 0; i < N; ++i)
    t[i] = static_cast<uint16_t>(std::max<uint32_t>(t[i], kWindowSize) - kWindowSize);
}

void SlideTablesPortable(uint16_t* head, uint16_t* chains) {
  DropEntries<kHashSize>(head);
  DropEntries<kLinksPerNode * kWindowSize>(chains);
}

// The heads and the single links of the short chains (the first kWindowSize
// entries of the chain table).
void SlideSingleLinksPortable(uint16_t* head, uint16_t* links) {
  DropEntries<kHashSize>(head);
  DropEntries<kWindowSize>(links);
}

#if (defined(__x86_64__) || defined(__i386__)) && (defined(__GNUC__) || defined(__clang__))
__attribute__((target("avx2"))) void SlideTablesAvx2(uint16_t* head, uint16_t* chains) {
  DropEntries<kHashSize>(head);
  DropEntries<kLinksPerNode * kWindowSize>(chains);
}
__attribute__((target("avx2"))) void SlideSingleLinksAvx2(uint16_t* head, uint16_t* links) {
  DropEntries<kHashSize>(head);
  DropEntries<kWindowSize>(links);
}
bool DetectAvx2() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2");
}
const bool kHaveAvx2 = DetectAvx2();

void SlideTables(uint16_t* head, uint16_t* chains) {
  if (kHaveAvx2)
    SlideTablesAvx2(head, chains);
  else
    SlideTablesPortable(head, chains);
}
void SlideSingleLinks(uint16_t* head, uint16_t* links) {
  if (kHaveAvx2)
    SlideSingleLinksAvx2(head, links);
  else
    SlideSingleLinksPortable(head, links);
}
#else
void SlideTables(uint16_t* head, uint16_t* chains) {
  SlideTablesPortable(head, chains);
}
void SlideSingleLinks(uint16_t* head, uint16_t* links) {
  SlideSingleLinksPortable(head, links);
}
#endif

// ---- The compressor ----

class Compressor {
 public:
  struct Workspace;

  Compressor(const uint8_t* in, size_t len, int level, bool shortcuts, Workspace& ws)
      : in_(in),
        len_(len),
        level_(level),
        params_(kLevelParams[level]),
        shortcuts_(shortcuts),
        head_(ws.head.get()),
        chains_(ws.chains.get()),
        single_links_(kLevelParams[level].chain <= kLinksPerNode && shortcuts),
        symbols_(ws.symbols.get()),
        dynamic_(ws.dynamic),
        merged_(ws.merged),
        writer_(nullptr) {
    // Every node that is read belongs to a position entered earlier in this
    // call, or is slot 0, the node of "none": heads start at 0 and lanes only
    // ever hold entered positions or 0, whatever the slots held before. A
    // chain that reaches "none" ends there, so slot 0 is cleared only so that
    // nothing of an earlier call is ever copied into a new node.
    StoreNode(0, 0);
    out_.data.resize(std::min<size_t>(len / 2, size_t{1} << 20) + 64);
    writer_.Rebase(out_.data.data());
  }

  DeflateOutput Run() {
    // The nodes of a short input stay in the nearest cache: asking for them
    // early would only cost the instructions.
    const bool prefetch = len_ > kPrefetchFromLength;
    if (level_ >= kFirstLazyLevel && params_.chain >= kSkipRunsFromChain && shortcuts_)
      prefetch ? CompressLazy<true, true>() : CompressLazy<true, false>();
    else if (level_ >= kFirstLazyLevel)
      prefetch ? CompressLazy<false, true>() : CompressLazy<false, false>();
    else if (single_links_)
      len_ >= kBranchFreeSearchFrom ? CompressGreedyBranchFree() : CompressGreedy<true>();
    else
      CompressGreedy<false>();
    if (!out_.stored_whole) {
      writer_.AlignToByte();
      out_.data.resize(static_cast<size_t>(writer_.Position() - out_.data.data()));
    } else {
      out_.data.clear();
    }
    return std::move(out_);
  }

  // Makes every head entry 0 again, as the workspace keeps them between calls.
  // A short input has touched only the entries of its own hashes, which are
  // cheaper to recompute than 64 KiB are to clear. No slide has happened yet
  // for such an input, so those entries are all it changed.
  void ClearHeads() {
    static_assert(kClearByHashLimit < kSlideAt - kWindowSize, "short inputs never slide");
    if (len_ > kClearByHashLimit) {
      std::fill_n(head_, kHashSize, uint16_t{0});
    } else if (len_ >= kMinMatch) {
      // Each hash from its own three bytes: rolled from the one before, the
      // hashes would make a chain of dependent steps.
      for (size_t p = 0; p + kMinMatch <= len_; ++p) head_[Hash3(in_ + p)] = 0;
    }
  }

 private:
  // ---- Match finding ----

  // Enters the position of relative position `rel`, whose next three bytes
  // have the hash h, into the hash chains and returns the previous head of
  // its chain.
  uint32_t InsertHashed(uint32_t h, uint32_t rel) {
    const uint32_t cand = head_[h];
    head_[h] = static_cast<uint16_t>(rel);
    StoreNode(rel, (LoadNode(cand) << kLinkBits) | cand);
    return cand;
  }

  // Enters `count` consecutive positions from `pos` into the chains, rolling the
  // hash from one position to the next. Each needs three bytes.
  //
  // Inside a run of one byte value every position has the hash of the one
  // before, which is therefore its chain head, and its node follows from the
  // previous node in registers. Reading both back from the tables instead would
  // wait on the stores just made, twice per position, and long runs (the flat
  // areas of pictures) are where a compressor spends its time on insertion.
  void InsertRun(size_t pos, uint32_t rel, size_t count) {
    if (count == 0) return;
    // The tables' addresses in locals: a node is stored as raw bytes, which
    // could alias the members, and they would be read again after each store.
    uint16_t* const head = head_;
    uint16_t* const chains = chains_;
    const bool shortcuts = shortcuts_;
    const uint8_t* next = in_ + pos + kMinMatch;  // the byte that the next position's hash takes in
    uint32_t h = Hash3(in_ + pos);
    for (;;) {
      // A position whose hash differs from the one before (most of them, in
      // text): its chain head comes from the table.
      const uint32_t cand = head[h];
      uint64_t node = (NodeOf(chains, cand) << kLinkBits) | cand;
      head[h] = static_cast<uint16_t>(rel);
      PutNode(chains, rel, node);
      if (--count == 0) return;
      uint32_t next_h = ((h << kHashShift) ^ *next++) & (kHashSize - 1);
      ++rel;
      if (next_h != h) {
        h = next_h;
        continue;
      }
      // Positions with the hash of the one before.
      unsigned linked = 0;  // positions in a row whose chain went on at the position before
      do {
        node = (node << kLinkBits) | (rel - 1);
        if (++linked >= kLinksPerNode && count > 1 && shortcuts) {
          // The node holds the four positions just before this one. While the
          // run of one byte value goes on, each following position repeats the
          // pattern one further on: add one to every lane and store.
          const uint8_t v = next[-1];
          size_t more = 0;
          if (next[-2] == v && next[-3] == v) {
            const size_t limit = count - 1;
            const uint64_t vs = uint64_t{v} * 0x0101010101010101u;
            while (more + 8 <= limit) {
              const uint64_t x = Load64(next + more) ^ vs;
              if (x) {
                more += FirstDifferentByte(x);
                goto run_end;
              }
              more += 8;
            }
            while (more < limit && next[more] == v) ++more;
          }
        run_end:
          if (more > 0) {
            constexpr uint64_t kOneEach = 0x0001000100010001u;
            // The slots follow one another, except where they wrap around.
            const uint32_t slot = (rel + 1) & kWindowMask;
            const size_t first_part = std::min<size_t>(more, kWindowSize - slot);
            uint16_t* const at = &chains[kLinksPerNode * slot];
            StoreCountingNodes(at, node, first_part);
            for (size_t k = first_part; k < more; ++k)
              PutNode(chains, rel + 1 + static_cast<uint32_t>(k), node + (k + 1) * kOneEach);
            PutNode(chains, rel, node);  // this position's own node; the last one is stored below
            rel += static_cast<uint32_t>(more);
            node += more * kOneEach;
            next += more;
            count -= more;
          }
        }
        head[h] = static_cast<uint16_t>(rel);
        PutNode(chains, rel, node);
        if (--count == 0) return;
        next_h = ((h << kHashShift) ^ *next++) & (kHashSize - 1);
        ++rel;
      } while (next_h == h);
      h = next_h;
    }
  }

  // A node is kept as four 16-bit values and handled as one 64-bit word. The
  // lanes keep their meaning in either byte order, since every lane-wise
  // operation (the slide) treats all lanes alike.
  //
  // The walks are a series of dependent node loads, so the address of a node
  // is formed in as few steps as the processor allows: a byte offset masked
  // from the position (or straight from the shifted node), no index scaled
  // twice.
  // The node at a byte offset into the chains, and those of and for a position.
  static uint64_t NodeAt(const uint16_t* chains, size_t byte_offset) {
    uint64_t node;
    std::memcpy(&node, reinterpret_cast<const char*>(chains) + byte_offset, sizeof node);
    return node;
  }
  static uint64_t NodeOf(const uint16_t* chains, uint32_t rel) {
    return NodeAt(chains, kNodeBytes * (rel & kWindowMask));
  }
  static void PutNode(uint16_t* chains, uint32_t rel, uint64_t node) {
    std::memcpy(reinterpret_cast<char*>(chains) + kNodeBytes * (rel & kWindowMask), &node, sizeof node);
  }
  uint64_t LoadNode(uint32_t rel) const { return NodeOf(chains_, rel); }
  void StoreNode(uint32_t rel, uint64_t node) { PutNode(chains_, rel, node); }
  // The node of the position in the last lane of `node`.
  uint64_t LoadLastLaneNode(uint64_t node) const {
    static_assert(kNodeBytes == 8, "the shift below multiplies by 8");
    return NodeAt(chains_, (node >> (3 * kLinkBits - 3)) & (kNodeBytes * kWindowMask));
  }
  // Asks for the node of `rel` ahead of its use.
  void PrefetchNode(uint32_t rel) const {
#if defined(__GNUC__) || defined(__clang__)
    __builtin_prefetch(reinterpret_cast<const char*>(chains_) + kNodeBytes * (rel & kWindowMask));
#else
    (void)rel;
#endif
  }
  // Stores `count` nodes from `at` on, the first one `node` plus one in every
  // lane, each following one plus one more. A function of its own, so that
  // the node being counted up stays in a register.
  [[gnu::noinline]] static void StoreCountingNodes(uint16_t* at, uint64_t node, size_t count) {
    constexpr uint64_t kOneEach = 0x0001000100010001u;
    // Two at a time: half the loop's own instructions per node.
    uint64_t a = node + kOneEach, b = node + 2 * kOneEach;
    size_t k = 0;
    for (; k + 2 <= count; k += 2) {
      std::memcpy(at + kLinksPerNode * k, &a, sizeof a);
      std::memcpy(at + kLinksPerNode * (k + 1), &b, sizeof b);
      a += 2 * kOneEach;
      b += 2 * kOneEach;
    }
    if (k < count) std::memcpy(at + kLinksPerNode * k, &a, sizeof a);
  }

  // Moves the origin of relative positions by kWindowSize.
  void Slide() {
    if (!shortcuts_)
      SlideTablesPortable(head_, chains_);
    else if (single_links_)
      SlideSingleLinks(head_, chains_);
    else
      SlideTables(head_, chains_);
  }

  // ---- Single links, for chains of at most four ----
  //
  // A chain that is never walked past its fourth position costs less with one
  // link per position, the previous position of its hash, kept in the first
  // kWindowSize entries of the chain table (the textbook layout): entering a
  // position stores its link without reading the previous node first, the
  // links take a quarter of the room of nodes (more of them stay in the
  // nearest cache), and a slide rewrites 128 KiB instead of 320 KiB. A search
  // pays with at most three dependent loads, one per further candidate.

  static uint32_t InsertLink(uint16_t* head, uint16_t* links, uint32_t h, uint32_t rel) {
    const uint32_t cand = head[h];
    head[h] = static_cast<uint16_t>(rel);
    links[rel & kWindowMask] = static_cast<uint16_t>(cand);
    return cand;
  }

  // LongestMatch() over single links from `cand` (within reach).
  static uint32_t ShortChainMatch(const uint8_t* in, const uint16_t* chains, size_t pos, uint32_t rel,
                                  uint32_t cand, uint32_t max_len, uint32_t nice_len, uint32_t chain,
                                  uint32_t* dist) {
    const uint8_t* const scan = in + pos;
    const uint32_t limit = rel - kMaxDist;
    const size_t base = pos - rel;
    const uint16_t scan_start = Load16(scan);
    uint32_t best_len = kMinMatch - 1, best_cand = 0;
    uint16_t scan_end = Load16(scan + best_len - 1);
    for (uint32_t c = cand;;) {
      const uint32_t next = chains[c & kWindowMask];
      const uint8_t* const match = in + (base + c);
      if (Load16(match + best_len - 1) == scan_end && Load16(match) == scan_start) {
        const uint32_t len = MatchLength(scan, match, 2, max_len);
        if (len > best_len) {
          best_len = len;
          best_cand = c;
          if (len >= nice_len) break;
          scan_end = Load16(scan + best_len - 1);
        }
      }
      if (--chain == 0 || next < limit) break;
      c = next;
    }
    if (best_cand) *dist = rel - best_cand;
    return best_len;
  }

  // ShortChainMatch() for level 1 (nice_len 8) at a position with at least
  // kMaxMatch bytes from it, without a branch on each candidate's outcome. The
  // first eight bytes give a candidate's length at once: below 8 it is where
  // they first differ, and the longer one is kept by a conditional move; at 8
  // the search is over. Whether a candidate is longer is as good as random, and
  // those branches were mispredicted often. But where they are learnt, on a
  // short input compressed over and over, the branchy search is faster.
  static uint32_t ShortChainMatchFar(const uint8_t* in, const uint16_t* chains, size_t pos, uint32_t rel,
                                     uint32_t cand, uint32_t chain, uint32_t* dist) {
    // Single links are kept at level 1 only (see Compressor()).
    static_assert([] {
      for (int level = 2; level <= 9; ++level)
        if (kLevelParams[level].chain <= kLinksPerNode) return false;
      return kLevelParams[1].nice == 8;
    }());
    const uint8_t* const scan = in + pos;
    const uint32_t limit = rel - kMaxDist;
    const size_t base = pos - rel;
    const uint64_t first8 = Load64(scan);
    uint32_t best_len = kMinMatch - 1, best_cand = 0;
    for (uint32_t c = cand;;) {
      const uint32_t next = chains[c & kWindowMask];
      const uint8_t* const match = in + (base + c);
      const uint64_t x = Load64(match) ^ first8;
      if (x == 0) {
        best_len = MatchLength(scan, match, 8, kMaxMatch);
        best_cand = c;
        break;
      }
      const uint32_t len = FirstDifferentByte(x);
      const bool longer = len > best_len;
      best_len = longer ? len : best_len;
      best_cand = longer ? c : best_cand;
      if (--chain == 0 || next < limit) break;
      c = next;
    }
    if (best_len >= kMinMatch) *dist = rel - best_cand;
    return best_len;
  }

  // Walks the chain from `cand` (a position within reach) looking for a match
  // longer than best_len (which is below max_len), trying at most `chain`
  // candidates. Returns the best length found, or best_len itself with *dist
  // untouched when nothing is longer.
  template <bool kSkipRuns>
  uint32_t LongestMatch(size_t pos, uint32_t rel, uint32_t cand, uint32_t best_len, uint32_t max_len,
                        uint32_t nice_len, uint32_t chain, uint32_t* dist, uint32_t scan_run = 0) const {
    const uint8_t* const in = in_;
    const uint8_t* const scan = in + pos;
    const uint32_t limit = rel - kMaxDist;
    // in[base + c] is the byte at relative position c (unsigned wrap-around
    // makes the sum a valid index for every c within reach).
    const size_t base = pos - rel;
    const uint16_t scan_start = Load16(scan);
    uint16_t scan_end = Load16(scan + best_len - 1);
    // The byte at relative position c is at address at_rel + c. The
    // addresses are kept as integers, since early in the input at_rel lies
    // before the buffer, where no pointer may point. One register for each,
    // where in + (offset + c) took two and an addition per candidate.
    const uintptr_t at_rel = reinterpret_cast<uintptr_t>(in) + base;
    uintptr_t end_at_rel = at_rel + best_len - 1;
    uint32_t best_cand = 0;
    // Tries one candidate; true when the search can stop. The quick test
    // compares the two bytes ending at the length to beat.
    auto try_candidate = [&](uint32_t c) {
      if (Load16(reinterpret_cast<const uint8_t*>(end_at_rel + c)) != scan_end) return false;
      const uint8_t* const match = reinterpret_cast<const uint8_t*>(at_rel + c);
      if (Load16(match) != scan_start) return false;
      const uint32_t len = MatchLength(scan, match, 2, max_len);
      if (len <= best_len) return false;
      best_len = len;
      best_cand = c;
      if (len >= nice_len) return true;
      scan_end = Load16(scan + best_len - 1);
      end_at_rel = at_rel + best_len - 1;
      return false;
    };
    // The oldest candidate that is in reach and in the input.
    const uint32_t first = std::max<uint32_t>(limit, pos >= rel ? 0 : rel - static_cast<uint32_t>(pos));
    // The first node is asked for before the first candidate is tried: that
    // one often matches, and the branches of a match are rarely foreseen.
    const uint64_t first_node = LoadNode(cand);
    if (try_candidate(cand)) goto done;
    // A node holds the next four links of the chain, so one load yields four
    // candidates, and the load of the following node is under way while they
    // are tried.
    // The four lanes are written out so that each has its own branches.
    if (!kSkipRuns && shortcuts_) {
      // The count of candidates is a multiple of four (see kChainsInNodes):
      // after cand, node k holds the candidates 4k + 1 to 4k + 4, and the
      // count runs out right before the fourth lane of the last node. So it
      // is kept in nodes, checked once per node.
      uint32_t nodes = chain / kLinksPerNode;
      for (uint64_t node = first_node;;) {
        const uint64_t next_node = LoadLastLaneNode(node);
        const uint32_t c0 = node & 0xFFFF, c1 = (node >> kLinkBits) & 0xFFFF;
        const uint32_t c2 = (node >> (2 * kLinkBits)) & 0xFFFF,
                       c3 = static_cast<uint32_t>(node >> (3 * kLinkBits));
        if (c0 < limit || try_candidate(c0)) break;
        if (c1 < limit || try_candidate(c1)) break;
        if (c2 < limit || try_candidate(c2)) break;
        if (c3 < limit || --nodes == 0 || try_candidate(c3)) break;
        node = next_node;
      }
      goto done;
    }
    for (uint64_t node = first_node;;) {
      // With kSkipRuns, scan starts a run of scan_run bytes of one value, which
      // ends before max_len.
      if (kSkipRuns && best_len >= scan_run) {
        const uint32_t c = node & 0xFFFF;
        // (c may be out of reach or before the input; at is only read when not.)
        const uint8_t* const at = in + (base + std::max(c, first));
        const uint64_t eight = uint64_t{scan[0]} * 0x0101010101010101u;
        // Only long stretches pay for the bookkeeping: eight more of the byte
        // before c.
        if (c >= first + 8 && at[0] == scan[0] && at[1] == scan[0] && at[2] == scan[0] &&
            Load64(at - 8) == eight) {
          // The next candidates are c, c - 1, c - 2, ... down to the start of
          // the run c lies in: one run of the same byte value as at scan.
          // Each gives scan_run bytes or fewer (best_len has that already),
          // except the one whose run ends exactly where scan's does, which
          // may go on; count them all as tried and try only that one.
          const uint32_t usable = chain - 1;  // candidates that may be tried before the count runs out
          if (usable == 0) break;
          const uint32_t floor = std::max(first, c + 1 > usable ? c + 1 - usable : 0u);
          // Both ends of the run are found eight bytes at a time (runs in
          // pictures are long).
          uint32_t lowest = c;
          for (;;) {
            if (lowest < floor + 8) {
              while (lowest > floor && in[base + lowest - 1] == scan[0]) --lowest;
              break;
            }
            const uint64_t x = Load64(in + (base + lowest - 8)) ^ eight;
            if (x) {
              lowest -= EqualBytesBeforeEnd(x);
              break;
            }
            lowest -= 8;
          }
          const uint32_t run = c - lowest + 1;
          // The run of c reaches past c + scan_run, or ends at c + ahead.
          uint32_t ahead = 3;
          for (;;) {
            if (ahead + 8 > scan_run + 1) {
              while (ahead <= scan_run && at[ahead] == scan[0]) ++ahead;
              break;
            }
            const uint64_t x = Load64(at + ahead) ^ eight;
            if (x) {
              ahead += FirstDifferentByte(x);
              break;
            }
            ahead += 8;
          }
          if (ahead <= scan_run) {
            const uint32_t same_end = c + ahead - scan_run;  // its run ends where scan's does
            if (same_end >= lowest && same_end <= c && try_candidate(same_end)) goto done;
          }
          if (run >= usable || lowest == limit) break;
          // (lowest at the input's first byte: its node leads nowhere, and the
          // walk ends on that.)
          chain -= run;
          node = LoadNode(lowest);
          continue;
        }
      }
      const uint64_t next_node = LoadLastLaneNode(node);
      const uint32_t c0 = node & 0xFFFF, c1 = (node >> kLinkBits) & 0xFFFF;
      const uint32_t c2 = (node >> (2 * kLinkBits)) & 0xFFFF,
                     c3 = static_cast<uint32_t>(node >> (3 * kLinkBits));
      if (c0 < limit || --chain == 0 || try_candidate(c0)) break;
      if (c1 < limit || --chain == 0 || try_candidate(c1)) break;
      if (c2 < limit || --chain == 0 || try_candidate(c2)) break;
      if (c3 < limit || --chain == 0 || try_candidate(c3)) break;
      node = next_node;
    }
  done:
    if (best_cand) *dist = rel - best_cand;
    return best_len;
  }

  // The number of bytes at p equal to p[0], when there are at least three of
  // them and fewer than max_len; max_len otherwise.
  static uint32_t RunLength(const uint8_t* p, uint32_t max_len) {
    if (max_len < kMinMatch || p[1] != p[0] || p[2] != p[0]) return max_len;
    uint32_t n = kMinMatch;
    while (n < max_len && p[n] == p[0]) ++n;
    return n;
  }

  // Level 1's loop with the branch-free search (see ShortChainMatchFar), not
  // inlined, so that its register allocation is its own.
  [[gnu::noinline]] void CompressGreedyBranchFree() {
    CompressGreedy<true, true>();
  }

  // The greedy loop keeps its state in locals: the symbols it stores could
  // alias any member, so members would be reloaded and stored for every
  // position. The block's counts go back to the members before a block is
  // weighed or written.
  template <bool kSingleLinks, bool kBranchFreeSearch = false>
  void CompressGreedy() {
    static_assert(kSingleLinks || !kBranchFreeSearch);
    const uint8_t* const in = in_;
    const size_t len = len_;
    uint16_t* const head = head_;
    uint16_t* const chains = chains_;
    uint32_t* const symbols = symbols_;
    uint32_t* const litlen_freq = litlen_freq_;
    uint32_t* const dist_freq = dist_freq_;
    const uint32_t max_insert = params_.lazy, nice_len = params_.nice, chain = params_.chain;
    // Single links come only with the shortcuts, and never at a level that
    // ends blocks early.
    static_assert([] {
      for (int level = kFirstEarlyFlushLevel; level <= 9; ++level)
        if (kLevelParams[level].chain <= kLinksPerNode) return false;
      return true;
    }());
    const bool early_flush = !kSingleLinks && level_ >= kFirstEarlyFlushLevel;
    const bool shortcuts = kSingleLinks || shortcuts_;
    uint32_t num_symbols = num_symbols_, num_matches = num_matches_;
    size_t pos = 0;
    uint32_t rel = kWindowSize;
    // Bytes left from which a position's search and insertion never reach the
    // end of the input: every match may have the longest length.
    constexpr size_t kFarFromEnd = kMaxMatch + kMinMatch;
    // Codes the position at pos, which has `remaining` bytes from it to the
    // end of the input; `far` when that is at least kFarFromEnd.
    auto code_position = [&](size_t remaining, bool far) __attribute__((always_inline)) {
      uint32_t match_len = 0, dist = 0;
      if (remaining >= kMinMatch) {
        const uint32_t h = Hash3(in + pos);
        const uint32_t cand = kSingleLinks ? InsertLink(head, chains, h, rel) : InsertHashed(h, rel);
        if (cand >= rel - kMaxDist) {
          const uint32_t max_len = static_cast<uint32_t>(std::min<size_t>(remaining, kMaxMatch));
          const uint32_t nice = std::min<uint32_t>(nice_len, max_len);
          if (kSingleLinks && far && kBranchFreeSearch)
            match_len = ShortChainMatchFar(in, chains, pos, rel, cand, chain, &dist);
          else if (kSingleLinks)
            match_len = ShortChainMatch(in, chains, pos, rel, cand, max_len, nice, chain, &dist);
          else
            match_len = LongestMatch<false>(pos, rel, cand, kMinMatch - 1, max_len, nice, chain, &dist);
        }
      }
      if (match_len >= kMinMatch) {
        const uint32_t sym = kLengthPart[match_len - kMinMatch] | DistancePart(dist);
        symbols[num_symbols++] = sym;
        ++litlen_freq[sym & kSymbolMask];
        ++dist_freq[(sym >> kSymbolDistShift) & 31];
        ++num_matches;
        if (match_len <= max_insert && remaining - match_len >= kMinMatch) {
          if (shortcuts) {
            // At most five positions: one by one, without InsertRun's watch
            // for runs, which never pays off on so few (the same nodes).
            uint32_t h = Hash3(in + pos + 1);
            for (uint32_t k = 1;; ++k) {
              if (kSingleLinks)
                InsertLink(head, chains, h, rel + k);
              else
                InsertHashed(h, rel + k);
              if (k == match_len - 1) break;
              h = ((h << kHashShift) ^ in[pos + k + kMinMatch]) & (kHashSize - 1);
            }
          } else {
            InsertRun(pos + 1, rel + 1, match_len - 1);
          }
        }
        pos += match_len;
        rel += match_len;
      } else {
        symbols[num_symbols++] = in[pos];
        ++litlen_freq[in[pos]];
        ++pos;
        ++rel;
      }
    };
    while (pos < len) {
      if (rel >= kSlideAt) {
        Slide();
        rel -= kWindowSize;
      }
      if (kSingleLinks) {
        // Up to `stop` no position needs a slide, is near the end or fills
        // the block (each position adds one symbol and at least one byte), so
        // the positions there are coded without those checks.
        const size_t stop = std::min({len - std::min(len, kFarFromEnd), pos + (kSlideAt - rel),
                                      pos + (kMaxBlockSymbols - 1 - num_symbols)});
        if (pos < stop) {
          do code_position(kFarFromEnd, true);
          while (pos < stop);
          continue;
        }
      }
      code_position(len - pos, false);
      if (num_symbols == kMaxBlockSymbols || (early_flush && num_symbols % kEarlyFlushInterval == 0)) {
        num_symbols_ = num_symbols;
        num_matches_ = num_matches;
        if (BlockFull(pos)) {
          FlushBlock(pos);
          num_symbols = 0;
          num_matches = 0;
        }
      }
    }
    num_symbols_ = num_symbols;
    num_matches_ = num_matches;
    if (!final_written_) FlushBlock(len);
  }

  template <bool kSkipRuns, bool kPrefetch>
  void CompressLazy() {
    size_t pos = 0;
    uint32_t rel = kWindowSize;
    uint32_t prev_len = kMinMatch - 1, prev_dist = 0;  // the held-back match at pos - 1
    bool pending = false;                              // pos - 1 is not coded yet
    while (pos < len_) {
      if (rel >= kSlideAt) {
        Slide();
        rel -= kWindowSize;
      }
      const size_t remaining = len_ - pos;
      uint32_t cur_len = kMinMatch - 1, cur_dist = 0;
      if (remaining >= kMinMatch) {
        const uint32_t h = Hash3(in_ + pos);
        const uint32_t cand = InsertHashed(h, rel);
        // The next position is searched next unless a match is coded now:
        // its chain's first node is loaded while this search runs (its hash
        // rolled on from this one's).
        if (kPrefetch && remaining > kMinMatch)
          PrefetchNode(head_[((h << kHashShift) ^ in_[pos + kMinMatch]) & (kHashSize - 1)]);
        const uint32_t max_len = static_cast<uint32_t>(std::min<size_t>(remaining, kMaxMatch));
        if (cand >= rel - kMaxDist && prev_len < params_.lazy && prev_len < max_len) {
          const uint32_t chain = prev_len >= params_.good ? params_.chain >> 2 : params_.chain;
          uint32_t dist = 0;
          const uint32_t from = std::max(prev_len, kMinMatch - 1),
                         nice = std::min<uint32_t>(params_.nice, max_len);
          const uint32_t run = kSkipRuns ? RunLength(in_ + pos, max_len) : max_len;
          const uint32_t len =
              run < max_len ? LongestMatch<true>(pos, rel, cand, from, max_len, nice, chain, &dist, run)
                            : LongestMatch<false>(pos, rel, cand, from, max_len, nice, chain, &dist);
          if (len > prev_len && !(len == kMinMatch && dist > kTooFar)) {
            cur_len = len;
            cur_dist = dist;
          }
        }
      }
      if (prev_len >= kMinMatch && cur_len <= prev_len) {
        // The held-back match wins: code it and hash the positions it covers
        // (pos itself is in the chains already).
        const bool flush = TallyMatch(prev_len, prev_dist, pos);
        const size_t end = pos - 1 + prev_len;
        const size_t hash_end = std::min(end, len_ - (kMinMatch - 1));
        if (hash_end > pos + 1) InsertRun(pos + 1, rel + 1, hash_end - (pos + 1));
        rel += static_cast<uint32_t>(end - pos);
        pos = end;
        pending = false;
        prev_len = kMinMatch - 1;
        if (flush) FlushBlock(pos);
      } else {
        bool flush = false;
        if (pending) flush = TallyLiteral(in_[pos - 1], pos);
        pending = true;
        prev_len = cur_len;
        prev_dist = cur_dist;
        if (flush) FlushBlock(pos);
        ++pos;
        ++rel;
      }
    }
    if (pending) TallyLiteral(in_[len_ - 1], len_);
    if (!final_written_) FlushBlock(len_);
  }

  // ---- Symbol collection ----

  // Records a literal. `scan_pos` is where the match finder stands; the input
  // from the block start to there is what the early-flush guess weighs.
  bool TallyLiteral(uint8_t byte, size_t scan_pos) {
    symbols_[num_symbols_++] = byte;
    ++litlen_freq_[byte];
    return BlockFull(scan_pos);
  }

  bool TallyMatch(uint32_t len, uint32_t dist, size_t scan_pos) {
    const uint32_t sym = kLengthPart[len - kMinMatch] | DistancePart(dist);
    symbols_[num_symbols_++] = sym;
    ++litlen_freq_[sym & kSymbolMask];
    ++dist_freq_[(sym >> kSymbolDistShift) & 31];
    ++num_matches_;
    return BlockFull(scan_pos);
  }

  bool BlockFull(size_t scan_pos) const {
    if (num_symbols_ == kMaxBlockSymbols) return true;
    if (level_ < kFirstEarlyFlushLevel || num_symbols_ % kEarlyFlushInterval != 0) return false;
    // A rough coded size: 8 bits per symbol plus 5 bits and the extra bits per
    // distance. Mostly literals that already code to under half the input
    // suggest that the data changed and fresh codes will pay.
    uint64_t out_bits = uint64_t{num_symbols_} * 8;
    for (unsigned d = 0; d < kNumDistSyms; ++d) out_bits += uint64_t{dist_freq_[d]} * (5 + kDistExtraBits[d]);
    const uint64_t in_bytes = scan_pos - block_start_;
    return num_matches_ < num_symbols_ / 2 && (out_bits >> 3) < in_bytes / 2;
  }

  // ---- Block output ----

  // Extra bits of all matches of the block (the same for fixed and dynamic codes).
  uint64_t ExtraBits() const {
    uint64_t bits = 0;
    for (unsigned s = 0; s < kNumLengthSyms; ++s)
      bits += uint64_t{litlen_freq_[kEndOfBlock + 1 + s]} * kLengthExtraBits[s];
    for (unsigned d = 0; d < kNumDistSyms; ++d) bits += uint64_t{dist_freq_[d]} * kDistExtraBits[d];
    return bits;
  }

  // The block's symbols coded with the fixed codes, in bits: 8 bits per
  // literal/length symbol, one more for 144-255 and one less for 256-279, and
  // 5 bits per distance. Sums of counts only, which vectorize without the
  // multiplications a table of lengths would need; the sums over all symbols
  // are known without adding: each symbol of the block counts once, and each
  // match once among the distances.
  static_assert([] {
    for (unsigned s = 0; s < kNumLitLenSyms; ++s)
      if (kFixedLitLenCode.lens[s] != (s < 144 ? 8 : s < 256 ? 9 : s < 280 ? 7 : 8)) return false;
    for (unsigned d = 0; d < kNumDistSyms; ++d)
      if (kFixedDistCode.lens[d] != 5) return false;
    return true;
  }());
  uint64_t FixedCodedBits() const {
    static_assert(uint64_t{kMaxBlockSymbols} * 9 <= UINT32_MAX);
    const uint32_t all = num_symbols_ + litlen_freq_[kEndOfBlock], dists = num_matches_;
    uint32_t nine = 0, seven = 0;
    for (unsigned s = 144; s < 256; ++s) nine += litlen_freq_[s];
    for (unsigned s = 256; s < 280; ++s) seven += litlen_freq_[s];
    return uint64_t{8} * all + nine - seven + uint64_t{5} * dists;
  }

  // The dynamic codes of a block and the run-length coded description of them.
  struct DynamicCodes {
    PrefixCode<kNumLitLenSyms> litlen;
    PrefixCode<kNumDistSyms> dist;
    PrefixCode<kNumCodeLenSyms> codelen;
    unsigned num_litlen = 0, num_dist = 0, num_codelen = 0;
    // Code-length symbols: bits 0-4 the symbol, bits 5-11 its repeat-count extra value.
    uint16_t items[kNumLitLenSyms + kNumDistSyms];
    unsigned num_items = 0;
    uint64_t header_bits = 0;  // everything after the 3 block-header bits, before the data
    uint64_t symbol_bits = 0;  // the block's literal/length and distance codes, without extra bits
  };

 public:
  // The large tables, kept by each thread from one call to the next so that a
  // small input pays neither for allocating them nor for clearing them. Between
  // calls every head entry is 0 (see ClearHeads); the rest is rewritten before
  // it is read.
  struct Workspace {
    std::unique_ptr<uint16_t[]> head{new uint16_t[kHashSize]()};
    std::unique_ptr<uint16_t[]> chains{new uint16_t[kLinksPerNode * kWindowSize]};
    std::unique_ptr<uint32_t[]> symbols{new uint32_t[kMaxBlockSymbols]};
    DynamicCodes dynamic;
    MergedCodes merged;
  };

 private:
  static constexpr uint8_t CodeLenExtraBits(unsigned sym) {
    return sym == 16 ? 2 : sym == 17 ? 3 : sym == 18 ? 7 : 0;
  }

  void BuildDynamicCodes(DynamicCodes& dc) const {
    uint16_t count[kMaxCodeBits + 1];
    uint16_t coded[kNumLitLenSyms];
    unsigned num_coded;
    dc.symbol_bits = BuildCodeLengths(litlen_freq_, kNumLitLenSyms, kMaxCodeBits, dc.litlen.lens.data(),
                                      count, coded, &num_coded);
    AssignCanonicalCodes(dc.litlen, count, coded, num_coded);
    dc.symbol_bits += BuildCodeLengths(dist_freq_, kNumDistSyms, kMaxCodeBits, dc.dist.lens.data(), count,
                                       coded, &num_coded);
    AssignCanonicalCodes(dc.dist, count, coded, num_coded);
    dc.num_litlen = kNumLitLenSyms;
    while (dc.num_litlen > kEndOfBlock + 1 && dc.litlen.lens[dc.num_litlen - 1] == 0) --dc.num_litlen;
    dc.num_dist = kNumDistSyms;
    while (dc.num_dist > 1 && dc.dist.lens[dc.num_dist - 1] == 0) --dc.num_dist;

    // Both length lists are run-length coded as one sequence (a run may cross
    // from one into the other).
    // A run is measured eight lengths at a time; the padding ends every run,
    // as it is no code length.
    uint8_t all[kNumLitLenSyms + kNumDistSyms + 8];
    const unsigned total = dc.num_litlen + dc.num_dist;
    std::copy_n(dc.litlen.lens.begin(), dc.num_litlen, all);
    std::copy_n(dc.dist.lens.begin(), dc.num_dist, all + dc.num_litlen);
    std::fill_n(all + total, 8, uint8_t{0xFF});
    uint32_t freq[kNumCodeLenSyms] = {};
    dc.num_items = 0;
    auto emit = [&](unsigned sym, unsigned extra) {
      dc.items[dc.num_items++] = static_cast<uint16_t>(sym | (extra << 5));
      ++freq[sym];
    };
    for (unsigned i = 0; i < total;) {
      const uint8_t v = all[i];
      const uint64_t vs = uint64_t{v} * 0x0101010101010101u;
      unsigned run = 1;
      for (;;) {
        const uint64_t x = Load64(all + i + run) ^ vs;
        if (x) {
          run += FirstDifferentByte(x);
          break;
        }
        run += 8;
      }
      i += run;
      if (v == 0) {
        for (; run >= 11;) {
          const unsigned n = std::min(run, 138u);
          emit(18, n - 11);
          run -= n;
        }
        if (run >= 3) {
          emit(17, run - 3);
          run = 0;
        }
      } else {
        emit(v, 0);
        --run;
        for (; run >= 3;) {
          const unsigned n = std::min(run, 6u);
          emit(16, n - 3);
          run -= n;
        }
      }
      for (; run > 0; --run) emit(v, 0);
    }
    BuildCodeLengths(freq, kNumCodeLenSyms, kMaxCodeLenBits, dc.codelen.lens.data(), count, coded,
                     &num_coded);
    AssignCanonicalCodes(dc.codelen, count, coded, num_coded);
    dc.num_codelen = kNumCodeLenSyms;
    while (dc.num_codelen > 4 && dc.codelen.lens[kCodeLenOrder[dc.num_codelen - 1]] == 0) --dc.num_codelen;

    dc.header_bits = 5 + 5 + 4 + 3 * dc.num_codelen;
    for (unsigned s = 0; s < kNumCodeLenSyms; ++s)
      dc.header_bits += uint64_t{freq[s]} * (dc.codelen.lens[s] + CodeLenExtraBits(s));
  }

  // Makes room for `bytes` more output bytes plus the bit writer's margin.
  void Reserve(size_t bytes) {
    std::vector<uint8_t>& data = out_.data;
    const size_t used = static_cast<size_t>(writer_.Position() - data.data());
    const size_t need = used + bytes + 16;
    if (need > data.size()) {
      data.resize(std::max(need, data.size() + data.size() / 2));
      writer_.Rebase(data.data() + used);
    }
  }

  void WriteStored(const uint8_t* data, size_t n, bool final) {
    Reserve(n + 5 * (n / kMaxStoredLen + 1) + 1);
    do {
      const size_t piece = std::min(n, kMaxStoredLen);
      const bool last = final && piece == n;
      writer_.Add(last ? 1u : 0u, 3);  // BFINAL, BTYPE 00
      writer_.AlignToByte();
      writer_.Add(static_cast<uint32_t>(piece), 16);
      writer_.Add(static_cast<uint32_t>(piece ^ 0xFFFF), 16);
      writer_.Flush();
      writer_.CopyBytes(data, piece);
      data += piece;
      n -= piece;
    } while (n > 0);
  }

  // Blocks of this many symbols or more are written through merged codes.
  // Shorter blocks keep the branchy loop: there the merging weighs more, and
  // the pattern of literals and matches of a short input is short enough for
  // the branch predictor to learn when the same input comes again (measured
  // on a 4 KiB clip compressed over and over: the merged loop was 12% slower
  // there, and 5% faster on 64 different 4 KiB clips).
  static constexpr uint32_t kMergeFromSymbols = 4096;

  void WriteFixedSymbols() {
    if (num_symbols_ >= kMergeFromSymbols)
      WriteBlockMerged(writer_, symbols_, num_symbols_, kFixedMerged);
    else
      WriteBlockSymbols(writer_, symbols_, num_symbols_, kFixedLitLenCode, kFixedDistCode);
  }
  void WriteDynamicSymbols(const DynamicCodes& dc) {
    if (num_symbols_ >= kMergeFromSymbols) {
      MergeCodes(merged_, dc.litlen, dc.dist);
      WriteBlockMerged(writer_, symbols_, num_symbols_, merged_);
    } else {
      WriteBlockSymbols(writer_, symbols_, num_symbols_, dc.litlen, dc.dist);
    }
  }

  void WriteDynamicHeader(const DynamicCodes& dc) {
    BitWriter w = writer_;
    w.Add(dc.num_litlen - 257, 5);
    w.Add(dc.num_dist - 1, 5);
    w.Add(dc.num_codelen - 4, 4);
    w.Flush();
    for (unsigned i = 0; i < dc.num_codelen; ++i) {
      w.Add(dc.codelen.lens[kCodeLenOrder[i]], 3);
      w.Flush();
    }
    const unsigned num_items = dc.num_items;
    for (unsigned i = 0; i < num_items; ++i) {
      const unsigned sym = dc.items[i] & 31;
      w.Add(dc.codelen.codes[sym], dc.codelen.lens[sym]);
      w.Add(dc.items[i] >> 5, CodeLenExtraBits(sym));
      w.Flush();
    }
    writer_ = w;
  }

  // Codes the collected symbols as one block covering [block_start_, block_end).
  void FlushBlock(size_t block_end) {
    const bool final = block_end == len_;
    const size_t stored_len = block_end - block_start_;
    litlen_freq_[kEndOfBlock] = 1;

    if (first_block_) {
      // Text unless non-text bytes (0-6, 128-255) exceed a quarter of the text
      // bytes (7-127), counted over the literals of the first block.
      const auto sum = [this](unsigned from, unsigned to) {
        uint32_t n = 0;
        for (unsigned b = from; b < to; ++b) n += litlen_freq_[b];
        return n;
      };
      // Sums over whole groups of four counts, which vectorize.
      const uint32_t low = sum(0, 8) - litlen_freq_[7];
      const uint32_t text = sum(0, 128) - low, binary = low + sum(128, kNumLiterals);
      out_.is_text = (text >> 2) >= binary;
    }

    const uint64_t extra = ExtraBits();
    DynamicCodes& dc = dynamic_;
    BuildDynamicCodes(dc);
    const uint64_t dynamic_bits = dc.header_bits + dc.symbol_bits + extra;
    const uint64_t fixed_bits = FixedCodedBits() + extra;
    const uint64_t dynamic_bytes = (dynamic_bits + 3 + 7) >> 3;
    const uint64_t fixed_bytes = (fixed_bits + 3 + 7) >> 3;
    const uint64_t best_bytes = std::min(dynamic_bytes, fixed_bytes);

    if (first_block_ && final && stored_len <= best_bytes) {
      out_.stored_whole = true;
    } else if (stored_len + 4 <= best_bytes) {
      WriteStored(in_ + block_start_, stored_len, final);
    } else if (fixed_bytes == best_bytes) {
      Reserve(fixed_bytes);
      writer_.Add(final ? 3u : 2u, 3);  // BFINAL, BTYPE 01
      WriteFixedSymbols();
    } else {
      Reserve(dynamic_bytes);
      writer_.Add(final ? 5u : 4u, 3);  // BFINAL, BTYPE 10
      WriteDynamicHeader(dc);
      WriteDynamicSymbols(dc);
    }

    std::fill(std::begin(litlen_freq_), std::end(litlen_freq_), 0u);
    std::fill(std::begin(dist_freq_), std::end(dist_freq_), 0u);
    num_symbols_ = 0;
    num_matches_ = 0;
    block_start_ = block_end;
    first_block_ = false;
    final_written_ = final;
  }

  const uint8_t* const in_;
  const size_t len_;
  const int level_;
  const LevelParams params_;
  const bool shortcuts_;     // false for DeflatePlain
  uint16_t* const head_;     // hash -> newest relative position, 0 = none
  uint16_t* const chains_;   // relative position % window -> chain node (see kLinkBits)
  const bool single_links_;  // chains_ holds single links instead (see InsertLink)
  uint32_t* const symbols_;  // packed symbols of the current block
  DynamicCodes& dynamic_;
  MergedCodes& merged_;
  uint32_t num_symbols_ = 0;
  uint32_t num_matches_ = 0;
  uint32_t litlen_freq_[kNumLitLenSyms] = {};
  uint32_t dist_freq_[kNumDistSyms] = {};
  size_t block_start_ = 0;
  bool first_block_ = true;
  bool final_written_ = false;
  DeflateOutput out_;
  BitWriter writer_;
};

}  // namespace

namespace {

DeflateOutput Compress(const uint8_t* in, size_t len, int level, bool shortcuts) {
  if (len == 0) {
    DeflateOutput out;
    out.stored_whole = true;
    return out;
  }
  // The thread's workspace is taken for the call and given back after it; if
  // the call throws, it is dropped with its tables in an unknown state.
  thread_local std::unique_ptr<Compressor::Workspace> kept;
  std::unique_ptr<Compressor::Workspace> ws =
      kept ? std::move(kept) : std::make_unique<Compressor::Workspace>();
  Compressor compressor(in, len, std::clamp(level, 1, 9), shortcuts, *ws);
  DeflateOutput out = compressor.Run();
  compressor.ClearHeads();
  kept = std::move(ws);
  return out;
}

}  // namespace

DeflateOutput Deflate(const uint8_t* in, size_t len, int level) {
  return Compress(in, len, level, true);
}

DeflateOutput DeflatePlain(const uint8_t* in, size_t len, int level) {
  return Compress(in, len, level, false);
}

}  // namespace qb::zip
