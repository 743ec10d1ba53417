#include "zip/inflate.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace qb::zip {
namespace {

using Bytes = std::vector<uint8_t>;

// ---- Helpers ------------------------------------------------------------------

// A raw Deflate stream from zlib. flush_every > 0 alternates sync and full
// flushes, each leaving an empty stored block and a byte boundary behind.
Bytes ZlibDeflateRaw(const Bytes& data, int level, int strategy = Z_DEFAULT_STRATEGY, int mem_level = 8,
                     size_t flush_every = 0) {
  z_stream zs{};
  EXPECT_EQ(deflateInit2(&zs, level, Z_DEFLATED, -15, mem_level, strategy), Z_OK);
  Bytes out(deflateBound(&zs, data.size()) + 64 + (flush_every ? data.size() / flush_every * 16 : 0));
  zs.next_out = out.data();
  zs.avail_out = static_cast<uInt>(out.size());
  size_t at = 0;
  do {
    const size_t piece = flush_every ? std::min(flush_every, data.size() - at) : data.size() - at;
    zs.next_in = const_cast<Bytef*>(data.data() + at);
    zs.avail_in = static_cast<uInt>(piece);
    at += piece;
    const int flush = at == data.size() ? Z_FINISH : (at / flush_every) % 2 ? Z_SYNC_FLUSH : Z_FULL_FLUSH;
    EXPECT_EQ(deflate(&zs, flush), flush == Z_FINISH ? Z_STREAM_END : Z_OK);
  } while (at < data.size());
  out.resize(zs.total_out);
  deflateEnd(&zs);
  return out;
}

struct Decoded {
  CodecResult result;
  Bytes out;
};

Decoded Decode(const Bytes& stream, size_t out_cap) {
  Decoded d{{}, Bytes(out_cap)};
  d.result = Inflate(stream.data(), stream.size(), d.out.data(), out_cap);
  return d;
}

CodecStatus StatusOf(const Bytes& stream, size_t out_cap = 100) {
  return Decode(stream, out_cap).result.status;
}

bool StartsWith(const Bytes& whole, const Bytes& out, size_t n) {
  return n <= whole.size() && n <= out.size() &&
         std::equal(out.begin(), out.begin() + static_cast<ptrdiff_t>(n), whole.begin());
}

void ExpectRoundTrip(const Bytes& data, const Bytes& stream) {
  for (size_t spare : {size_t{0}, size_t{1000}}) {  // the exact size, as the archive reader asks, and more
    const Decoded d = Decode(stream, data.size() + spare);
    ASSERT_EQ(d.result.status, CodecStatus::Ok) << "spare " << spare;
    EXPECT_EQ(d.result.produced, data.size());
    EXPECT_EQ(d.result.consumed, stream.size());
    EXPECT_TRUE(StartsWith(data, d.out, data.size()));
  }
}

// Writes a Deflate bit stream: fields least significant bit first, Huffman
// codewords most significant bit first.
class BitWriter {
 public:
  void Bits(uint32_t value, unsigned count) {
    for (unsigned i = 0; i < count; ++i) Put((value >> i) & 1);
  }
  void Code(uint32_t code, unsigned len) {
    for (unsigned i = len; i-- > 0;) Put((code >> i) & 1);
  }
  void Align() {
    while (bits_ % 8) Put(0);
  }
  const Bytes& Data() const { return bytes_; }

 private:
  void Put(unsigned bit) {
    if (bits_ % 8 == 0) bytes_.push_back(0);
    bytes_.back() |= static_cast<uint8_t>(bit << (bits_++ % 8));
  }
  Bytes bytes_;
  size_t bits_ = 0;
};

void StoredBlock(BitWriter& w, bool final_block, const Bytes& data) {
  w.Bits(final_block, 1);
  w.Bits(0, 2);
  w.Align();
  w.Bits(static_cast<uint32_t>(data.size()), 16);
  w.Bits(~static_cast<uint32_t>(data.size()) & 0xFFFF, 16);
  for (uint8_t b : data) w.Bits(b, 8);
}

void FixedHeader(BitWriter& w, bool final_block) {
  w.Bits(final_block, 1);
  w.Bits(1, 2);
}
void FixedSymbol(BitWriter& w, unsigned sym) {  // 0..287
  if (sym < 144)
    w.Code(0x30 + sym, 8);
  else if (sym < 256)
    w.Code(0x190 + sym - 144, 9);
  else if (sym < 280)
    w.Code(sym - 256, 7);
  else
    w.Code(0xC0 + sym - 280, 8);
}
// A match with fixed codes; length 3..10 or 258, any distance.
void FixedMatch(BitWriter& w, unsigned length, unsigned distance) {
  FixedSymbol(w, length == 258 ? 285 : 257 + length - 3);
  for (unsigned sym = 0, base = 1;; ++sym) {
    const unsigned extra = sym < 4 ? 0 : (sym - 2) / 2;
    if (distance < base + (1u << extra)) {
      w.Code(sym, 5);
      w.Bits(distance - base, extra);
      return;
    }
    base += 1u << extra;
  }
}

// A dynamic Huffman code given by its code lengths; the block header sends
// every length as itself through a precode of sixteen 4-bit codewords.
struct DynamicCode {
  std::vector<uint8_t> litlen = std::vector<uint8_t>(258, 0), dist = std::vector<uint8_t>(1, 0);

  void Header(BitWriter& w) const {
    w.Bits(1, 1);
    w.Bits(2, 2);
    w.Bits(static_cast<uint32_t>(litlen.size() - 257), 5);
    w.Bits(static_cast<uint32_t>(dist.size() - 1), 5);
    w.Bits(19 - 4, 4);
    for (unsigned sym : {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15})
      w.Bits(sym < 16 ? 4 : 0, 3);
    for (uint8_t l : litlen) w.Code(l, 4);
    for (uint8_t l : dist) w.Code(l, 4);
  }
  void Lit(BitWriter& w, unsigned sym) const { Put(w, litlen, sym); }
  void Dist(BitWriter& w, unsigned sym) const { Put(w, dist, sym); }

 private:
  static void Put(BitWriter& w, const std::vector<uint8_t>& lens, unsigned sym) {
    unsigned count[16] = {}, code = 0;
    for (uint8_t l : lens) ++count[l];
    count[0] = 0;
    for (unsigned len = 1; len <= lens[sym]; ++len) code = (code + count[len - 1]) << 1;
    for (unsigned s = 0; s < sym; ++s) code += lens[s] == lens[sym];
    w.Code(code, lens[sym]);
  }
};

// ---- Round trips of zlib streams ---------------------------------------------

std::vector<std::pair<std::string, Bytes>> RoundTripInputs() {
  Bytes periods;  // runs with distances 1..9 (the short-distance copies), between noise
  const Bytes noise = qbtest::RandomBytes(1000, 4);
  for (unsigned period = 1; period <= 9; ++period) {
    for (unsigned i = 0; i < 300; ++i) periods.push_back(noise[period * 10 + i % period]);
    periods.insert(periods.end(), noise.begin() + period * 100, noise.begin() + period * 100 + 50);
  }
  Bytes far = qbtest::TextLikeBytes(20000, 5);  // repeats 32 KiB apart: zlib's longest distances
  const Bytes filler = qbtest::RandomBytes(12500, 6);
  far.insert(far.end(), filler.begin(), filler.end());
  far.insert(far.end(), far.begin(), far.begin() + 20000);
  return {{"empty", {}},
          {"random 32K-1", qbtest::RandomBytes(32767, 1)},
          {"random 64K+1", qbtest::RandomBytes(65537, 2)},
          {"text 100K", qbtest::TextLikeBytes(100000, 3)},
          {"zeros 70000", Bytes(70000, 0)},
          {"short periods", periods},
          {"far repeats", far}};
}

TEST(InflateRoundTripTest, ZlibStreamsAtEveryLevelAndStrategy) {
  for (const auto& [name, data] : RoundTripInputs()) {
    for (int level = 0; level <= 9; ++level) {
      SCOPED_TRACE(name + ", level " + std::to_string(level));
      ExpectRoundTrip(data, ZlibDeflateRaw(data, level));
    }
    for (int strategy : {Z_FIXED, Z_HUFFMAN_ONLY, Z_RLE, Z_FILTERED}) {
      SCOPED_TRACE(name + ", strategy " + std::to_string(strategy));
      ExpectRoundTrip(data, ZlibDeflateRaw(data, 6, strategy));
    }
  }
}

// memLevel 1 gives blocks of a few hundred symbols, and flushes add empty stored
// blocks and byte alignment; blocks of every type follow each other.
TEST(InflateRoundTripTest, ManySmallBlocksAndFlushes) {
  Bytes mixed = qbtest::TextLikeBytes(40000, 7);
  const Bytes noise = qbtest::RandomBytes(5000, 8);
  mixed.insert(mixed.begin() + 20000, noise.begin(), noise.end());
  for (size_t flush_every : {size_t{0}, size_t{1000}, size_t{4099}}) {
    for (int level : {1, 6, 9}) {
      SCOPED_TRACE("flush every " + std::to_string(flush_every) + ", level " + std::to_string(level));
      ExpectRoundTrip(mixed, ZlibDeflateRaw(mixed, level, Z_DEFAULT_STRATEGY, 1, flush_every));
      ExpectRoundTrip(mixed, ZlibDeflateRaw(mixed, level, Z_FIXED, 9, flush_every));
    }
  }
}

// ---- Hand-made streams --------------------------------------------------------

TEST(InflateStreamTest, StoredBlocksIncludingEmptyAndLargestAndAfterAMidByteEnd) {
  const Bytes large = qbtest::RandomBytes(65535, 11);
  BitWriter w;
  StoredBlock(w, false, {});
  StoredBlock(w, false, large);
  FixedHeader(w, false);  // ends 3 + 8 + 7 bits in: the next header is mid-byte
  FixedSymbol(w, 'x');
  FixedSymbol(w, 256);
  StoredBlock(w, true, {'1', '2'});
  Bytes expected = large;
  for (uint8_t b : {'x', '1', '2'}) expected.push_back(b);
  ExpectRoundTrip(expected, w.Data());
}

TEST(InflateStreamTest, FixedBlockWithEveryShortDistanceAndLongestMatch) {
  BitWriter w;
  FixedHeader(w, true);
  Bytes expected;
  for (uint8_t c = 'A'; c < 'A' + 10; ++c) {
    FixedSymbol(w, c);
    expected.push_back(c);
  }
  // Distances below 8, 8 to 15, 16 to 31 and beyond take different copy loops.
  for (unsigned distance = 1; distance <= 40; ++distance) {
    for (unsigned length : {3u, 10u, 258u}) {
      FixedMatch(w, length, distance);
      for (unsigned k = 0; k < length; ++k) expected.push_back(expected[expected.size() - distance]);
    }
  }
  FixedSymbol(w, 256);
  ExpectRoundTrip(expected, w.Data());
}

// A short-distance match within the first 8 bytes of output, with plenty of
// stream after it, so that the fast loop meets it.
TEST(InflateStreamTest, ShortDistanceMatchNearTheStartOfTheOutput) {
  for (unsigned start = 1; start < 8; ++start) {
    for (unsigned distance = 1; distance <= start; ++distance) {
      BitWriter w;
      FixedHeader(w, true);
      Bytes expected;
      for (unsigned k = 0; k < start; ++k) {
        FixedSymbol(w, 'a' + k);
        expected.push_back(static_cast<uint8_t>('a' + k));
      }
      FixedMatch(w, 258, distance);
      for (unsigned k = 0; k < 258; ++k) expected.push_back(expected[expected.size() - distance]);
      for (unsigned k = 0; k < 100; ++k) {
        FixedSymbol(w, 'A' + k % 26);
        expected.push_back(static_cast<uint8_t>('A' + k % 26));
      }
      FixedSymbol(w, 256);
      ExpectRoundTrip(expected, w.Data());
    }
  }
}

TEST(InflateStreamTest, DistanceOfExactly32768) {
  const Bytes window = qbtest::RandomBytes(32768, 12);
  BitWriter w;
  StoredBlock(w, false, window);
  FixedHeader(w, true);
  FixedMatch(w, 258, 32768);
  FixedMatch(w, 3, 32768);
  FixedSymbol(w, 256);
  Bytes expected = window;
  expected.insert(expected.end(), window.begin(), window.begin() + 261);
  ExpectRoundTrip(expected, w.Data());
}

// The most bits one round of the fast loop can need: two literals of the main
// table's longest codeword (11 bits), a 15-bit length code with 5 extra bits
// and a 15-bit distance code with 13 extra bits, 70 bits in all, over and over.
// The 15-bit codewords also go through subtables.
TEST(InflateStreamTest, LongestCodewordsNeverStarveTheBitBuffer) {
  DynamicCode c;  // literal/length lengths 1..9 once each, two of 11 bits, 32 of 15 bits
  c.litlen.assign(286, 0);
  for (unsigned k = 0; k < 9; ++k) c.litlen['a' + k] = static_cast<uint8_t>(k + 1);
  c.litlen['A'] = c.litlen['B'] = 11;
  for (unsigned k = 0; k < 30; ++k) c.litlen['C' + k] = 15;
  c.litlen[256] = c.litlen[284] = 15;
  c.dist.assign(30, 0);  // distance lengths 1..13 once each, four of 15 bits
  for (unsigned k = 0; k < 13; ++k) c.dist[k] = static_cast<uint8_t>(k + 1);
  for (unsigned sym : {26u, 27u, 28u, 29u}) c.dist[sym] = 15;

  Bytes expected = qbtest::RandomBytes(32768, 13);
  BitWriter w;
  StoredBlock(w, false, expected);
  c.Header(w);
  for (unsigned round = 0; round < 300; ++round) {
    c.Lit(w, 'A');
    c.Lit(w, 'B');
    const unsigned length_extra = round % 32, distance_extra = (round * 2654435761u) % 8192;
    c.Lit(w, 284);
    w.Bits(length_extra, 5);
    c.Dist(w, 29);
    w.Bits(distance_extra, 13);
    expected.push_back('A');
    expected.push_back('B');
    for (size_t k = 0; k < 227 + length_extra; ++k)
      expected.push_back(expected[expected.size() - 24577 - distance_extra]);
  }
  c.Lit(w, 256);
  ExpectRoundTrip(expected, w.Data());
}

// The decoder sizes its main tables to the longest codeword (up to 11 bits for
// literals and lengths, 8 for distances, subtables beyond). Codes whose longest
// codeword has every length from 1 to 15, for both alphabets: lengths 1, 2,
// ..., L-1 once and L twice, which is complete.
TEST(InflateStreamTest, CodesOfEveryLongestCodewordLength) {
  constexpr unsigned kDistBase[16] = {1, 2, 3, 4, 5, 7, 9, 13, 17, 25, 33, 49, 65, 97, 129, 193};
  constexpr unsigned kDistExtra[16] = {0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6};
  for (unsigned longest = 1; longest <= 15; ++longest) {
    for (unsigned dist_longest : {longest, 16 - longest}) {
      SCOPED_TRACE(std::to_string(longest) + " / " + std::to_string(dist_longest));
      DynamicCode c;
      std::vector<unsigned> literals;  // 'a'.. with lengths 1..L-1, then the length-3 symbol and end of block
      for (unsigned k = 0; k + 1 < longest; ++k) {
        literals.push_back('a' + k);
        c.litlen['a' + k] = static_cast<uint8_t>(k + 1);
      }
      if (longest == 1) literals.push_back('a');
      c.litlen[longest == 1 ? 'a' : 257] = static_cast<uint8_t>(longest);
      c.litlen[256] = static_cast<uint8_t>(longest);
      c.dist.assign(dist_longest + 1, 0);
      for (unsigned k = 0; k + 1 < dist_longest; ++k) c.dist[k] = static_cast<uint8_t>(k + 1);
      c.dist[dist_longest - 1] = c.dist[dist_longest] = static_cast<uint8_t>(dist_longest);

      BitWriter w;
      c.Header(w);
      Bytes expected;
      for (unsigned round = 0; round < 40; ++round)
        for (unsigned lit : literals) {
          c.Lit(w, lit);
          expected.push_back(static_cast<uint8_t>(lit));
        }
      if (longest > 1) {
        for (unsigned sym = 0; sym <= dist_longest && kDistBase[sym] <= expected.size(); ++sym) {
          c.Lit(w, 257);
          c.Dist(w, sym);
          w.Bits(0, kDistExtra[sym]);
          for (int k = 0; k < 3; ++k) expected.push_back(expected[expected.size() - kDistBase[sym]]);
        }
      }
      c.Lit(w, 256);
      ExpectRoundTrip(expected, w.Data());
    }
  }
}

// ---- Error classes ------------------------------------------------------------

std::vector<std::pair<Bytes, Bytes>> SampleStreams() {  // (stream, decoded) of different shapes
  const Bytes text = qbtest::TextLikeBytes(3000, 20);
  return {{ZlibDeflateRaw(text, 6), text},
          {ZlibDeflateRaw(text, 6, Z_FIXED), text},
          {ZlibDeflateRaw(text, 0), text},
          {ZlibDeflateRaw(text, 9, Z_DEFAULT_STRATEGY, 1, 700), text}};
}

TEST(InflateErrorTest, TruncationAtEveryOffsetIsInputEnded) {
  for (const auto& [stream, expected] : SampleStreams()) {
    for (size_t cut = 0; cut < stream.size(); ++cut) {
      const Decoded d =
          Decode(Bytes(stream.begin(), stream.begin() + static_cast<ptrdiff_t>(cut)), expected.size());
      ASSERT_EQ(d.result.status, CodecStatus::InputEnded) << "cut at " << cut << " of " << stream.size();
      ASSERT_LE(d.result.consumed, cut);
      ASSERT_TRUE(StartsWith(expected, d.out, d.result.produced));
    }
  }
}

TEST(InflateErrorTest, OutputLimitGivesOutputFullWithExactPrefix) {
  for (const auto& [stream, expected] : SampleStreams()) {
    for (size_t cap = 0; cap < expected.size(); cap += (cap < 600 ? 1 : 37)) {
      const Decoded d = Decode(stream, cap);
      ASSERT_EQ(d.result.status, CodecStatus::OutputFull) << "cap " << cap;
      ASSERT_EQ(d.result.produced, cap);
      ASSERT_TRUE(StartsWith(expected, d.out, cap)) << "cap " << cap;
    }
  }
}

TEST(InflateErrorTest, TrailingBytesAreNotConsumed) {
  const Bytes text = qbtest::TextLikeBytes(5000, 21);
  Bytes stream = ZlibDeflateRaw(text, 6);
  const size_t stream_size = stream.size();
  for (uint8_t b : {uint8_t{0x00}, uint8_t{0xFF}, uint8_t{0x07}})
    stream.push_back(b);  // 0x07 would start an invalid block
  const Decoded d = Decode(stream, text.size());
  EXPECT_EQ(d.result.status, CodecStatus::Ok);
  EXPECT_EQ(d.result.consumed, stream_size);
  // A stream ending mid-byte counts that byte: 3 header bits + 7 end bits.
  BitWriter w;
  FixedHeader(w, true);
  FixedSymbol(w, 256);
  w.Bits(0x55, 8);
  const Decoded t = Decode(w.Data(), 0);
  EXPECT_EQ(t.result.status, CodecStatus::Ok);
  EXPECT_EQ(t.result.consumed, 2u);
}

TEST(InflateErrorTest, DistanceTooFarBack) {
  // Padding literals after the match put it in the fast loop; without, in the checked one.
  // From 32768 bytes of output on, no distance can reach too far back.
  for (size_t padding : {size_t{0}, size_t{400}}) {
    for (unsigned before : {0u, 1u, 5u, 1000u, 32767u, 32768u}) {
      for (unsigned too_far : {0u, 1u}) {
        if ((before == 0 && too_far == 0) || before + too_far > 32768) continue;
        BitWriter w;
        if (before) StoredBlock(w, false, qbtest::RandomBytes(before, 22));
        FixedHeader(w, true);
        FixedMatch(w, 3, before + too_far);
        for (size_t k = 0; k < padding; ++k) FixedSymbol(w, 'p');
        FixedSymbol(w, 256);
        const Decoded d = Decode(w.Data(), before + 3 + padding + 300);
        SCOPED_TRACE("padding " + std::to_string(padding) + ", before " + std::to_string(before));
        EXPECT_EQ(d.result.status, too_far ? CodecStatus::BadData : CodecStatus::Ok);
        if (too_far) {
          EXPECT_EQ(d.result.produced, before);
        }
      }
    }
  }
}

TEST(InflateErrorTest, BadBlockTypeAndStoredLength) {
  EXPECT_EQ(StatusOf({0x07}), CodecStatus::BadData);        // final, type 3
  EXPECT_EQ(StatusOf({0x06, 0x00}), CodecStatus::BadData);  // not final, type 3
  BitWriter w;
  StoredBlock(w, true, {'a', 'b', 'c'});
  Bytes stream = w.Data();
  stream[3] ^= 0x01;  // NLEN no longer the complement of LEN
  EXPECT_EQ(StatusOf(stream), CodecStatus::BadData);
  stream = w.Data();
  stream.pop_back();  // LEN says more than the input holds
  const Decoded d = Decode(stream, 10);
  EXPECT_EQ(d.result.status, CodecStatus::InputEnded);
  EXPECT_EQ(d.result.produced, 2u);
}

TEST(InflateErrorTest, UnusedSymbolsOfTheFixedCode) {
  for (unsigned litlen : {286u, 287u}) {
    BitWriter w;
    FixedHeader(w, true);
    FixedSymbol(w, litlen);
    w.Bits(0, 16);
    EXPECT_EQ(StatusOf(w.Data()), CodecStatus::BadData) << litlen;
  }
  for (unsigned dist : {30u, 31u}) {
    BitWriter w;
    FixedHeader(w, true);
    FixedSymbol(w, 'a');
    FixedSymbol(w, 257);
    w.Code(dist, 5);
    w.Bits(0, 16);
    EXPECT_EQ(StatusOf(w.Data()), CodecStatus::BadData) << dist;
  }
}

// 'a', then a length-3 match with distance codeword `dist_bit` (1 bit, raw) if
// asked, then end of block.
CodecStatus DecodeWithCode(const DynamicCode& c, bool with_match, unsigned dist_bit = 0) {
  BitWriter w;
  c.Header(w);
  if (c.litlen['a']) c.Lit(w, 'a');
  if (with_match) {
    c.Lit(w, 257);
    w.Code(dist_bit, 1);
  }
  if (c.litlen[256]) c.Lit(w, 256);
  w.Bits(0, 16);
  return StatusOf(w.Data());
}

TEST(InflateErrorTest, OverSubscribedAndIncompleteCodes) {
  DynamicCode base;  // 'a' 1 bit, end of block and length 3 two bits each
  base.litlen['a'] = 1;
  base.litlen[256] = base.litlen[257] = 2;
  base.dist = {1};
  EXPECT_EQ(DecodeWithCode(base, true), CodecStatus::Ok);

  DynamicCode c = base;
  c.litlen[257] = 1;  // three 1-bit codewords
  EXPECT_EQ(DecodeWithCode(c, false), CodecStatus::BadData);
  c = base;
  c.litlen[257] = 0;  // half of the 2-bit space unused
  EXPECT_EQ(DecodeWithCode(c, false), CodecStatus::BadData);
  c = base;
  c.litlen['a'] = c.litlen[257] = 0;
  c.litlen[256] = 1;  // a lone 1-bit codeword is allowed
  EXPECT_EQ(DecodeWithCode(c, false), CodecStatus::Ok);
  c = base;
  c.litlen[256] = 0;
  c.litlen['b'] = 2;  // complete, but a block that cannot end
  EXPECT_EQ(DecodeWithCode(c, false), CodecStatus::BadData);

  c = base;
  c.dist = {2};  // a lone 2-bit distance codeword
  EXPECT_EQ(DecodeWithCode(c, false), CodecStatus::BadData);
  c.dist = {1, 1, 1};
  EXPECT_EQ(DecodeWithCode(c, false), CodecStatus::BadData);
  c.dist = {1};  // the lone 1-bit codeword's hole is no distance
  EXPECT_EQ(DecodeWithCode(c, true, 1), CodecStatus::BadData);
  c.dist = {0};  // no distance codes at all: fine until a match needs one
  EXPECT_EQ(DecodeWithCode(c, false), CodecStatus::Ok);
  EXPECT_EQ(DecodeWithCode(c, true), CodecStatus::BadData);
}

// Dynamic headers written field by field, to break the precode and the length list.
Bytes RawDynamicHeader(unsigned hlit, unsigned hdist, const std::vector<uint8_t>& precode_lens_in_order,
                       const std::vector<std::pair<uint32_t, unsigned>>& fields) {
  BitWriter w;
  w.Bits(1, 1);
  w.Bits(2, 2);
  w.Bits(hlit, 5);
  w.Bits(hdist, 5);
  w.Bits(static_cast<uint32_t>(precode_lens_in_order.size() - 4), 4);
  for (uint8_t l : precode_lens_in_order) w.Bits(l, 3);
  for (const auto& [value, count] : fields) w.Bits(value, count);
  w.Bits(0, 32);
  return w.Data();
}

TEST(InflateErrorTest, BrokenDynamicHeaders) {
  std::vector<uint8_t> complete;  // 4-bit precode codewords for lengths 0..15, in header order
  for (unsigned sym : {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15})
    complete.push_back(sym < 16 ? 4 : 0);
  // At the limits of HLIT (286) and HDIST (30) these lengths make a valid empty
  // block ('a' and end of block 1 bit each, one 1-bit distance); one more is bad.
  auto lengths = [](unsigned num_litlen, unsigned num_dist) {
    std::vector<std::pair<uint32_t, unsigned>> fields;
    for (unsigned i = 0; i < num_litlen + num_dist; ++i)
      fields.push_back({i == 'a' || i == 256 || i == num_litlen ? 0x8u : 0x0u, 4});  // codeword 0001 or 0000
    fields.push_back({1, 1});                                                        // end of block
    return fields;
  };
  EXPECT_EQ(StatusOf(RawDynamicHeader(29, 0, complete, lengths(286, 1))), CodecStatus::Ok);
  EXPECT_EQ(StatusOf(RawDynamicHeader(30, 0, complete, lengths(287, 1))), CodecStatus::BadData);
  EXPECT_EQ(StatusOf(RawDynamicHeader(0, 29, complete, lengths(257, 30))), CodecStatus::Ok);
  EXPECT_EQ(StatusOf(RawDynamicHeader(0, 30, complete, lengths(257, 31))), CodecStatus::BadData);
  // Precodes: over-subscribed, incomplete, and a lone 1-bit codeword (only
  // literal/length and distance codes may have one).
  EXPECT_EQ(StatusOf(RawDynamicHeader(0, 0, std::vector<uint8_t>(19, 1), {})), CodecStatus::BadData);
  EXPECT_EQ(StatusOf(RawDynamicHeader(0, 0, {2, 2, 0, 0}, {})), CodecStatus::BadData);
  EXPECT_EQ(StatusOf(RawDynamicHeader(0, 0, {0, 0, 0, 1}, {})), CodecStatus::BadData);
  // Precode {16: "0", 17: "1"}: "repeat the previous length" with nothing before.
  EXPECT_EQ(StatusOf(RawDynamicHeader(0, 0, {1, 1, 0, 0}, {{0, 1}, {0, 2}})), CodecStatus::BadData);
  // Precode {0: 00, 1: 01, 16: 10, 17: 110, 18: 111} (fields carry codewords
  // backwards): 97 zeros, 'a' = 1, 158 zeros, end of block = 1, then the
  // distance = 1 makes exactly the 258 lengths announced; then end of block.
  // Repeating end of block's length 3 times instead runs 2 past them.
  const std::vector<uint8_t> precode = {2, 3, 3, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0};
  std::vector<std::pair<uint32_t, unsigned>> fields = {{7, 3}, {86, 7}, {2, 2}, {7, 3}, {127, 7},
                                                       {7, 3}, {9, 7},  {2, 2}, {2, 2}, {1, 1}};
  EXPECT_EQ(StatusOf(RawDynamicHeader(0, 0, precode, fields)), CodecStatus::Ok);
  fields[8] = {1, 2};
  fields.insert(fields.begin() + 9, {0, 2});
  EXPECT_EQ(StatusOf(RawDynamicHeader(0, 0, precode, fields)), CodecStatus::BadData);
}

// Random damage never crashes or overruns, and a damaged stream must be judged
// as zlib judges it, with the same bytes.
TEST(InflateErrorTest, BitFlipsAgreeWithZlib) {
  const auto samples = SampleStreams();
  uint64_t seed = 0x9E3779B97F4A7C15u;
  auto next = [&] { return seed ^= seed << 13, seed ^= seed >> 7, seed ^= seed << 17; };
  int failures = 0;
  for (int round = 0; round < 3000; ++round) {
    const auto& [original, expected] = samples[static_cast<size_t>(round) % samples.size()];
    Bytes stream = original;
    for (int f = 1 + static_cast<int>(next() % 3); f > 0; --f)
      stream[next() % stream.size()] ^= static_cast<uint8_t>(1u << (next() % 8));
    const size_t cap = expected.size() + (round % 2 ? 5000 : 0);
    const Decoded ours = Decode(stream, cap);
    ASSERT_LE(ours.result.produced, cap);
    ASSERT_LE(ours.result.consumed, stream.size());
    failures += ours.result.status != CodecStatus::Ok;

    Bytes theirs(cap);
    z_stream zs{};
    ASSERT_EQ(inflateInit2(&zs, -15), Z_OK);
    zs.next_in = stream.data();
    zs.avail_in = static_cast<uInt>(stream.size());
    zs.next_out = theirs.data();
    zs.avail_out = static_cast<uInt>(cap);
    const int rc = inflate(&zs, Z_FINISH);
    const size_t their_produced = zs.total_out, their_consumed = zs.total_in;
    inflateEnd(&zs);

    SCOPED_TRACE("round " + std::to_string(round));
    if (rc == Z_STREAM_END) {
      ASSERT_EQ(ours.result.status, CodecStatus::Ok);
      ASSERT_EQ(ours.result.consumed, their_consumed);
    } else if (rc == Z_DATA_ERROR) {
      ASSERT_EQ(ours.result.status, CodecStatus::BadData);
      continue;
    } else {
      ASSERT_EQ(rc, Z_BUF_ERROR);
      // zlib stops as soon as the output is full. We may look one symbol
      // further first: a match's distance is checked, and the input may end.
      if (their_produced == cap)
        ASSERT_NE(ours.result.status, CodecStatus::Ok);
      else
        ASSERT_EQ(ours.result.status, CodecStatus::InputEnded);
    }
    ASSERT_EQ(ours.result.produced, their_produced);
    ASSERT_TRUE(StartsWith(theirs, ours.out, their_produced));
  }
  EXPECT_GT(failures, 100);  // the damage did reach the decoder
}

// Inflate() runs a build of the decoder for processors with BMI2 where the
// processor has it, so the build for every other processor is not what the
// tests above exercise here. Both must give the same result on every stream,
// whole or broken, with room to spare and with too little.
TEST(InflateBuildsTest, PortableBuildAgreesWithInflate) {
  std::vector<Bytes> streams;
  for (const auto& [name, data] : RoundTripInputs()) {
    for (int level : {1, 6, 9}) streams.push_back(ZlibDeflateRaw(data, level));
    streams.push_back(ZlibDeflateRaw(data, 6, Z_FIXED));
  }
  uint64_t seed = 0x2545F4914F6CDD1Du;
  auto next = [&] { return seed ^= seed << 13, seed ^= seed >> 7, seed ^= seed << 17; };
  for (const auto& [original, expected] : SampleStreams()) {
    for (size_t cut = 0; cut < original.size(); cut += 1 + original.size() / 40)
      streams.emplace_back(original.begin(), original.begin() + static_cast<ptrdiff_t>(cut));
    for (int round = 0; round < 200; ++round) {
      Bytes stream = original;
      stream[next() % stream.size()] ^= static_cast<uint8_t>(1u << (next() % 8));
      streams.push_back(stream);
    }
  }
  for (size_t i = 0; i < streams.size(); ++i) {
    for (size_t cap : {size_t{150000}, size_t{777}}) {
      const Bytes& stream = streams[i];
      Bytes a(cap), b(cap);
      const CodecResult ra = Inflate(stream.data(), stream.size(), a.data(), cap);
      const CodecResult rb = qb::zip::InflatePortable(stream.data(), stream.size(), b.data(), cap);
      ASSERT_EQ(ra.status, rb.status) << "stream " << i << ", room " << cap;
      ASSERT_EQ(ra.produced, rb.produced) << "stream " << i << ", room " << cap;
      ASSERT_EQ(ra.consumed, rb.consumed) << "stream " << i << ", room " << cap;
      ASSERT_TRUE(std::equal(a.begin(), a.begin() + static_cast<ptrdiff_t>(ra.produced), b.begin()))
          << "stream " << i << ", room " << cap;
    }
  }
}

// ---- Streaming ------------------------------------------------------------------

// Hands out a stream in pieces of the given sizes, in turn.
class PieceSource : public InflateSource {
 public:
  PieceSource(const Bytes& data, std::vector<size_t> pieces) : data_(data), pieces_(std::move(pieces)) {}
  size_t Read(uint8_t* buffer, size_t capacity) override {
    const size_t n = std::min({capacity, pieces_[turn_++ % pieces_.size()], data_.size() - at_});
    std::copy_n(data_.begin() + static_cast<ptrdiff_t>(at_), n, buffer);
    at_ += n;
    return n;
  }

 private:
  const Bytes& data_;
  std::vector<size_t> pieces_;
  size_t at_ = 0, turn_ = 0;
};

// Collects what it is given, and refuses what would go past its limit.
class CollectingSink : public InflateSink {
 public:
  explicit CollectingSink(size_t limit = SIZE_MAX) : limit_(limit) {}
  bool Write(const uint8_t* data, size_t size) override {
    if (size > limit_ - out.size()) return false;
    out.insert(out.end(), data, data + size);
    ++calls;
    return true;
  }
  Bytes out;
  int calls = 0;

 private:
  size_t limit_;
};

Decoded DecodeStreaming(const Bytes& stream, std::vector<size_t> pieces, size_t initial_window,
                        size_t max_window, size_t sink_limit = SIZE_MAX) {
  PieceSource source(stream, std::move(pieces));
  CollectingSink sink(sink_limit);
  Decoded d;
  d.result = InflateStream(source, sink, initial_window, max_window);
  d.out = std::move(sink.out);
  return d;
}

// Input in pieces of any size and an output window that grows, slides or holds
// everything: the bytes are the same as the whole-buffer decoder's, to the end.
TEST(InflateStreamingTest, AgreesWithTheWholeBufferDecoderWhateverThePiecesAndTheWindow) {
  Bytes mixed = qbtest::TextLikeBytes(300000, 17);
  const Bytes noise = qbtest::RandomBytes(100000, 18);
  mixed.insert(mixed.begin() + 150000, noise.begin(), noise.end());
  std::vector<std::pair<std::string, Bytes>> cases;
  for (const auto& [name, data] : RoundTripInputs())
    for (int level : {0, 1, 9}) cases.push_back({name + ", level " + std::to_string(level), data});
  cases.push_back({"mixed", mixed});
  cases.push_back({"zeros 3 MB", Bytes(3 << 20, 0)});
  const std::vector<std::vector<size_t>> piecings = {{1}, {7, 3, 1000}, {65536}};
  struct Window {
    size_t initial, max;
  };
  const Window windows[] = {{0, 0}, {1000, 200000}, {SIZE_MAX / 2, SIZE_MAX / 2}};
  for (size_t c = 0; c < cases.size(); ++c) {
    const auto& [name, data] = cases[c];
    const int level = name.find("level 0") != std::string::npos   ? 0
                      : name.find("level 1") != std::string::npos ? 1
                                                                  : 9;
    const Bytes stream = ZlibDeflateRaw(data, level, Z_DEFAULT_STRATEGY, c % 2 ? 1 : 8, c % 3 ? 0 : 4099);
    for (const auto& pieces : piecings) {
      if (pieces[0] == 1 && data.size() > 400000) continue;  // byte by byte is slow for the big ones
      for (const Window& window : windows) {
        SCOPED_TRACE(name + ", first piece " + std::to_string(pieces[0]) + ", window " +
                     std::to_string(window.max));
        const size_t max = std::min(window.max, data.size() + 1000);
        const Decoded d = DecodeStreaming(stream, pieces, std::min(window.initial, max), max);
        ASSERT_EQ(d.result.status, CodecStatus::Ok);
        ASSERT_EQ(d.result.produced, data.size());
        ASSERT_EQ(d.result.consumed, stream.size());
        ASSERT_TRUE(d.out == data);
      }
    }
  }
}

TEST(InflateStreamingTest, TruncationDamageAndASinkThatStops) {
  const Bytes text = qbtest::TextLikeBytes(200000, 23);
  const Bytes stream = ZlibDeflateRaw(text, 6, Z_DEFAULT_STRATEGY, 1, 5000);
  // Cut anywhere: the input ended, and what came out is the start of the data.
  for (size_t cut = 0; cut < stream.size(); cut += 1 + cut / 3) {
    const Decoded d =
        DecodeStreaming(Bytes(stream.begin(), stream.begin() + static_cast<ptrdiff_t>(cut)), {4096}, 0, 0);
    ASSERT_EQ(d.result.status, CodecStatus::InputEnded) << cut;
    ASSERT_EQ(d.result.produced, d.out.size());
    ASSERT_TRUE(StartsWith(text, d.out, d.out.size())) << cut;
  }
  // Damage is judged as the whole-buffer decoder judges it, with the same bytes.
  uint64_t seed = 12345;
  auto next = [&] { return seed ^= seed << 13, seed ^= seed >> 7, seed ^= seed << 17; };
  for (int round = 0; round < 300; ++round) {
    Bytes damaged = stream;
    damaged[next() % damaged.size()] ^= static_cast<uint8_t>(1u << (next() % 8));
    const Decoded whole = Decode(damaged, text.size() + 100000);
    const Decoded streamed = DecodeStreaming(damaged, {1 + next() % 5000}, 0, 0);
    ASSERT_EQ(streamed.result.status, whole.result.status) << round;
    ASSERT_EQ(streamed.result.produced, whole.result.produced) << round;
    ASSERT_TRUE(StartsWith(whole.out, streamed.out, streamed.out.size())) << round;
  }
  // A sink that takes no more stops the decoding: OutputFull, nothing more given.
  for (size_t limit : {size_t{0}, size_t{1}, size_t{40000}, size_t{199999}}) {
    const Decoded d = DecodeStreaming(stream, {65536}, 0, 0, limit);
    EXPECT_EQ(d.result.status, CodecStatus::OutputFull) << limit;
    EXPECT_LE(d.out.size(), limit);
    EXPECT_TRUE(StartsWith(text, d.out, d.out.size()));
  }
  const Decoded exact = DecodeStreaming(stream, {65536}, 0, 0, text.size());
  EXPECT_EQ(exact.result.status, CodecStatus::Ok);
}

}  // namespace
}  // namespace qb::zip
