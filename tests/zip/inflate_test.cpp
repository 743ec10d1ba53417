#include "zip/inflate.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace qb::zip {
namespace {

using Bytes = std::vector<uint8_t>;

// ---- Helpers ------------------------------------------------------------------

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
    // Alternate the flush kinds: each leaves a byte-aligned empty stored block.
    const int flush = at == data.size() ? Z_FINISH : (at / flush_every) % 2 ? Z_SYNC_FLUSH : Z_FULL_FLUSH;
    const int rc = deflate(&zs, flush);
    EXPECT_EQ(rc, flush == Z_FINISH ? Z_STREAM_END : Z_OK);
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
  Decoded d;
  d.out.resize(out_cap);
  d.result = Inflate(stream.data(), stream.size(), d.out.data(), out_cap);
  return d;
}

// Asserts that out[0, produced) is a prefix of `expected`.
void ExpectPrefixOf(const Decoded& d, const Bytes& expected) {
  ASSERT_LE(d.result.produced, expected.size());
  ASSERT_LE(d.result.produced, d.out.size());
  EXPECT_TRUE(
      std::equal(d.out.begin(), d.out.begin() + static_cast<ptrdiff_t>(d.result.produced), expected.begin()));
}

// Writes a Deflate bit stream: fields least significant bit first, Huffman
// codewords most significant bit first.
class BitWriter {
 public:
  void Bits(uint32_t value, unsigned count) {
    for (unsigned i = 0; i < count; ++i) PutBit((value >> i) & 1);
  }
  void Code(uint32_t code, unsigned len) {
    for (unsigned i = len; i-- > 0;) PutBit((code >> i) & 1);
  }
  void AlignToByte() {
    while (bit_count_ % 8) PutBit(0);
  }
  void Byte(uint8_t b) {
    AlignToByte();
    Bits(b, 8);
  }
  const Bytes& Data() const { return bytes_; }

 private:
  void PutBit(unsigned bit) {
    if (bit_count_ % 8 == 0) bytes_.push_back(0);
    bytes_.back() |= static_cast<uint8_t>(bit << (bit_count_ % 8));
    ++bit_count_;
  }
  Bytes bytes_;
  size_t bit_count_ = 0;
};

// Canonical codewords for a list of code lengths.
std::vector<uint32_t> CanonicalCodes(const std::vector<uint8_t>& lens) {
  unsigned count[16] = {}, next[16] = {};
  for (uint8_t l : lens) ++count[l];
  count[0] = 0;
  for (unsigned len = 1, code = 0; len < 16; ++len) next[len] = code = (code + count[len - 1]) << 1;
  std::vector<uint32_t> codes(lens.size());
  for (size_t s = 0; s < lens.size(); ++s)
    if (lens[s]) codes[s] = next[lens[s]]++;
  return codes;
}

// A block header with fixed codes.
void FixedHeader(BitWriter& w, bool final_block) {
  w.Bits(final_block, 1);
  w.Bits(1, 2);
}
void FixedLiteral(BitWriter& w, unsigned sym) {  // also 256..287
  if (sym < 144)
    w.Code(0x30 + sym, 8);
  else if (sym < 256)
    w.Code(0x190 + sym - 144, 9);
  else if (sym < 280)
    w.Code(sym - 256, 7);
  else
    w.Code(0xC0 + sym - 280, 8);
}
// A match in a fixed block. Only the lengths and distances the tests need.
void FixedMatch(BitWriter& w, unsigned length, unsigned distance) {
  if (length == 258) {
    FixedLiteral(w, 285);
  } else {
    ASSERT_TRUE(length >= 3 && length <= 10);
    FixedLiteral(w, 257 + length - 3);
  }
  if (distance <= 4) {
    w.Code(distance - 1, 5);
  } else if (distance > 24576) {
    w.Code(29, 5);
    w.Bits(distance - 24577, 13);
  } else {
    // Symbols 4..27: base and extra bits by the rule.
    unsigned sym = 4, base = 5;
    for (;; ++sym) {
      const unsigned extra = (sym - 2) / 2;
      if (distance < base + (1u << extra)) {
        w.Code(sym, 5);
        w.Bits(distance - base, extra);
        break;
      }
      base += 1u << extra;
    }
  }
}
void StoredBlock(BitWriter& w, bool final_block, const Bytes& data) {
  w.Bits(final_block, 1);
  w.Bits(0, 2);
  w.AlignToByte();
  const unsigned len = static_cast<unsigned>(data.size());
  w.Bits(len, 16);
  w.Bits(~len & 0xFFFF, 16);
  for (uint8_t b : data) w.Byte(b);
}

// A dynamic block header sending the given code lengths through a precode in
// which symbols 0..15 all have 4-bit codes (so each length is sent as itself).
void DynamicHeader(BitWriter& w, bool final_block, const std::vector<uint8_t>& litlen_lens,
                   const std::vector<uint8_t>& dist_lens) {
  w.Bits(final_block, 1);
  w.Bits(2, 2);
  w.Bits(static_cast<uint32_t>(litlen_lens.size() - 257), 5);
  w.Bits(static_cast<uint32_t>(dist_lens.size() - 1), 5);
  w.Bits(19 - 4, 4);
  const unsigned order[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
  for (unsigned sym : order) w.Bits(sym < 16 ? 4 : 0, 3);
  for (uint8_t l : litlen_lens) w.Code(l, 4);
  for (uint8_t l : dist_lens) w.Code(l, 4);
}

// A dynamic Huffman block over a small alphabet: 'a' (97), 'b' (98), end of block, and length 3 (symbol 257).
struct SmallCode {
  std::vector<uint8_t> litlen = std::vector<uint8_t>(258, 0);
  std::vector<uint8_t> dist;
  std::vector<uint32_t> litlen_codes, dist_codes;
  void Finish() {
    litlen_codes = CanonicalCodes(litlen);
    dist_codes = CanonicalCodes(dist);
  }
  void Sym(BitWriter& w, unsigned s) const { w.Code(litlen_codes[s], litlen[s]); }
  void Dist(BitWriter& w, unsigned s) const { w.Code(dist_codes[s], dist[s]); }
};

// ---- Round trips of zlib streams --------------------------------------------------

struct NamedData {
  std::string name;
  Bytes data;
};

std::vector<NamedData> RoundTripInputs() {
  std::vector<NamedData> inputs;
  inputs.push_back({"empty", {}});
  inputs.push_back({"one byte", {0x42}});
  inputs.push_back({"random 32K-1", qbtest::RandomBytes(32767, 1)});
  inputs.push_back({"random 64K+1", qbtest::RandomBytes(65537, 2)});
  inputs.push_back({"text 100K", qbtest::TextLikeBytes(100000, 3)});
  Bytes zeros(70000, 0);
  inputs.push_back({"zeros 70000", zeros});
  Bytes pattern;
  for (size_t i = 0; i < 50000; ++i) pattern.push_back(static_cast<uint8_t>("abcabdabcabcx"[i % 13]));
  inputs.push_back({"period 13", pattern});
  // Runs whose distances are 1..9 (the short-distance copies), separated by noise.
  Bytes runs;
  const Bytes noise = qbtest::RandomBytes(4000, 4);
  for (unsigned period = 1; period <= 9; ++period) {
    for (unsigned i = 0; i < 300; ++i) runs.push_back(noise[period * 10 + i % period]);
    runs.insert(runs.end(), noise.begin() + period * 100, noise.begin() + period * 100 + 50);
  }
  inputs.push_back({"short periods", runs});
  // Text, then the same text again 32 KiB later: the longest distances zlib makes.
  Bytes far = qbtest::TextLikeBytes(20000, 5);
  const Bytes filler = qbtest::RandomBytes(12500, 6);
  far.insert(far.end(), filler.begin(), filler.end());
  const Bytes head(far.begin(), far.begin() + 20000);
  far.insert(far.end(), head.begin(), head.end());
  inputs.push_back({"far repeats", far});
  return inputs;
}

void ExpectRoundTrip(const Bytes& data, const Bytes& stream) {
  // Exactly the right capacity, as the archive reader decodes.
  Decoded exact = Decode(stream, data.size());
  ASSERT_EQ(exact.result.status, CodecStatus::Ok);
  EXPECT_EQ(exact.result.produced, data.size());
  EXPECT_EQ(exact.result.consumed, stream.size());
  EXPECT_TRUE(exact.out == data);
  // Spare room must not change anything.
  Decoded roomy = Decode(stream, data.size() + 1000);
  ASSERT_EQ(roomy.result.status, CodecStatus::Ok);
  EXPECT_EQ(roomy.result.produced, data.size());
  EXPECT_TRUE(std::equal(data.begin(), data.end(), roomy.out.begin()));
}

TEST(InflateRoundTripTest, ZlibStreamsAtEveryLevel) {
  for (const NamedData& input : RoundTripInputs()) {
    for (int level = 0; level <= 9; ++level) {
      SCOPED_TRACE(input.name + ", level " + std::to_string(level));
      ExpectRoundTrip(input.data, ZlibDeflateRaw(input.data, level));
    }
  }
}

TEST(InflateRoundTripTest, ZlibStrategies) {
  const std::pair<const char*, int> strategies[] = {
      {"fixed", Z_FIXED}, {"huffman only", Z_HUFFMAN_ONLY}, {"rle", Z_RLE}, {"filtered", Z_FILTERED}};
  for (const NamedData& input : RoundTripInputs()) {
    for (const auto& [name, strategy] : strategies) {
      SCOPED_TRACE(input.name + ", " + name);
      ExpectRoundTrip(input.data, ZlibDeflateRaw(input.data, 6, strategy));
    }
  }
}

// memLevel 1 gives blocks of a few hundred symbols, and flushes add empty stored
// blocks and byte alignment between them; blocks of every type follow each other.
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

TEST(InflateStreamTest, StoredBlocks) {
  const Bytes first = qbtest::RandomBytes(300, 10);
  const Bytes second = qbtest::RandomBytes(65535, 11);  // the largest stored block
  BitWriter w;
  StoredBlock(w, false, {});  // empty blocks are legal, also before the final one
  StoredBlock(w, false, first);
  StoredBlock(w, false, {});
  StoredBlock(w, true, second);
  Bytes expected = first;
  expected.insert(expected.end(), second.begin(), second.end());
  ExpectRoundTrip(expected, w.Data());
}

TEST(InflateStreamTest, StoredBlockAfterHuffmanBlockEndsMidByte) {
  // A fixed block of 3 literals ends 3 + 3*8 + 7 = 34 bits in; the stored block's
  // header follows at bit 34 and its length field starts at the next byte.
  BitWriter w;
  FixedHeader(w, false);
  for (char c : std::string("xyz")) FixedLiteral(w, static_cast<uint8_t>(c));
  FixedLiteral(w, 256);
  StoredBlock(w, true, {'1', '2'});
  ExpectRoundTrip({'x', 'y', 'z', '1', '2'}, w.Data());
}

TEST(InflateStreamTest, FixedBlockWithLongestMatchAndEveryShortDistance) {
  BitWriter w;
  FixedHeader(w, true);
  Bytes expected;
  for (unsigned i = 0; i < 10; ++i) {
    FixedLiteral(w, 'A' + i);
    expected.push_back(static_cast<uint8_t>('A' + i));
  }
  for (unsigned distance = 1; distance <= 10; ++distance) {
    for (unsigned length : {3u, 10u, 258u}) {
      FixedMatch(w, length, distance);
      for (unsigned k = 0; k < length; ++k) expected.push_back(expected[expected.size() - distance]);
    }
  }
  FixedLiteral(w, 256);
  ExpectRoundTrip(expected, w.Data());
}

TEST(InflateStreamTest, DistanceOfExactly32768) {
  const Bytes window = qbtest::RandomBytes(32768, 12);
  BitWriter w;
  StoredBlock(w, false, window);
  FixedHeader(w, true);
  FixedMatch(w, 258, 32768);
  FixedMatch(w, 3, 32768);
  FixedLiteral(w, 256);
  Bytes expected = window;
  expected.insert(expected.end(), window.begin(), window.begin() + 258 + 3);
  ExpectRoundTrip(expected, w.Data());
}

TEST(InflateStreamTest, DynamicCodesWithLoneOneBitDistanceCode) {
  // One distance code of length 1 is incomplete but allowed; "aaaa" via a match.
  SmallCode c;
  c.litlen['a'] = 1;
  c.litlen[256] = 2;
  c.litlen[257] = 2;
  c.dist = {1};
  c.Finish();
  BitWriter w;
  DynamicHeader(w, true, c.litlen, c.dist);
  c.Sym(w, 'a');
  c.Sym(w, 257);
  c.Dist(w, 0);
  c.Sym(w, 256);
  ExpectRoundTrip({'a', 'a', 'a', 'a'}, w.Data());
}

TEST(InflateStreamTest, DynamicCodeWithLongCodewords) {
  // Lengths 1, 2, ..., 15, 15 make a complete code whose long codewords live
  // in subtables of the literal/length table.
  SmallCode c;
  c.litlen.assign(286, 0);
  const unsigned syms[16] = {'e', 't', 'a', 'o', 'i', 'n', 's', 'h', 'r', 'd', 'l', 256, 'u', 257, 'c', 285};
  for (unsigned k = 0; k < 16; ++k) c.litlen[syms[k]] = static_cast<uint8_t>(k < 15 ? k + 1 : 15);
  c.dist.assign(30, 0);
  for (unsigned d = 0; d < 15; ++d) c.dist[d] = static_cast<uint8_t>(d + 1);
  c.dist[29] = 15;  // distance code lengths 1..15, 15: subtables there too
  c.Finish();
  BitWriter w;
  DynamicHeader(w, true, c.litlen, c.dist);
  Bytes expected;
  for (unsigned k = 0; k < 16; ++k) {
    if (syms[k] >= 256) continue;
    c.Sym(w, syms[k]);
    expected.push_back(static_cast<uint8_t>(syms[k]));
  }
  c.Sym(w, 257);  // length 3, distance 2 (symbol 1)
  c.Dist(w, 1);
  for (int k = 0; k < 3; ++k) expected.push_back(expected[expected.size() - 2]);
  c.Sym(w, 285);  // length 258, distance 3 (symbol 2)
  c.Dist(w, 2);
  for (int k = 0; k < 258; ++k) expected.push_back(expected[expected.size() - 3]);
  c.Sym(w, 256);
  ExpectRoundTrip(expected, w.Data());
}

// The most bits one round of the fast loop can need: two literals of the main
// table's longest codeword (11 bits), then a 15-bit length code with 5 extra
// bits and a 15-bit distance code with 13 extra bits, 70 bits in all, over and
// over, with room enough for the fast loop.
TEST(InflateStreamTest, LongestCodewordsNeverStarveTheBitBuffer) {
  // Literal/length codeword lengths 1..9 once each, two of 11 bits, 32 of 15 bits.
  SmallCode c;
  c.litlen.assign(286, 0);
  for (unsigned k = 0; k < 9; ++k) c.litlen['a' + k] = static_cast<uint8_t>(k + 1);
  c.litlen['A'] = c.litlen['B'] = 11;
  for (unsigned k = 0; k < 30; ++k) c.litlen['C' + k] = 15;
  c.litlen[256] = c.litlen[284] = 15;
  // Distance codeword lengths 1..13 once each leave room for four of 15 bits.
  c.dist.assign(30, 0);
  for (unsigned k = 0; k < 13; ++k) c.dist[k] = static_cast<uint8_t>(k + 1);
  for (unsigned sym : {26u, 27u, 28u, 29u}) c.dist[sym] = 15;
  c.Finish();

  const Bytes window = qbtest::RandomBytes(32768, 13);
  Bytes expected = window;
  BitWriter w;
  StoredBlock(w, false, window);
  DynamicHeader(w, true, c.litlen, c.dist);
  for (unsigned round = 0; round < 300; ++round) {
    c.Sym(w, 'A');
    c.Sym(w, 'B');
    expected.push_back('A');
    expected.push_back('B');
    const unsigned length_extra = round % 32, distance_extra = (round * 2654435761u) % 8192;
    c.Sym(w, 284);
    w.Bits(length_extra, 5);
    c.Dist(w, 29);
    w.Bits(distance_extra, 13);
    const size_t length = 227 + length_extra, distance = 24577 + distance_extra;
    for (size_t k = 0; k < length; ++k) expected.push_back(expected[expected.size() - distance]);
  }
  c.Sym(w, 256);
  ExpectRoundTrip(expected, w.Data());
}

// ---- Error classes ------------------------------------------------------------

// A few streams of different shapes, with their decoded bytes.
std::vector<std::pair<Bytes, Bytes>> SampleStreams() {
  std::vector<std::pair<Bytes, Bytes>> samples;
  const Bytes text = qbtest::TextLikeBytes(3000, 20);
  samples.emplace_back(ZlibDeflateRaw(text, 6), text);
  samples.emplace_back(ZlibDeflateRaw(text, 6, Z_FIXED), text);
  samples.emplace_back(ZlibDeflateRaw(text, 0), text);
  samples.emplace_back(ZlibDeflateRaw(text, 9, Z_DEFAULT_STRATEGY, 1, 700), text);
  return samples;
}

TEST(InflateErrorTest, TruncationAtEveryOffsetIsInputEnded) {
  for (const auto& [stream, expected] : SampleStreams()) {
    for (size_t cut = 0; cut < stream.size(); ++cut) {
      const Bytes prefix(stream.begin(), stream.begin() + static_cast<ptrdiff_t>(cut));
      const Decoded d = Decode(prefix, expected.size());
      ASSERT_EQ(d.result.status, CodecStatus::InputEnded) << "cut at " << cut << " of " << stream.size();
      ASSERT_LE(d.result.consumed, cut);
      ExpectPrefixOf(d, expected);
    }
  }
}

TEST(InflateErrorTest, OutputLimitGivesOutputFullWithExactPrefix) {
  for (const auto& [stream, expected] : SampleStreams()) {
    for (size_t cap = 0; cap < expected.size(); cap += (cap < 600 ? 1 : 37)) {
      const Decoded d = Decode(stream, cap);
      ASSERT_EQ(d.result.status, CodecStatus::OutputFull) << "cap " << cap;
      ASSERT_EQ(d.result.produced, cap);
      ASSERT_TRUE(std::equal(d.out.begin(), d.out.end(), expected.begin())) << "cap " << cap;
    }
  }
}

TEST(InflateErrorTest, TrailingBytesAreNotConsumed) {
  const Bytes text = qbtest::TextLikeBytes(5000, 21);
  Bytes stream = ZlibDeflateRaw(text, 6);
  const size_t stream_size = stream.size();
  for (uint8_t b : {0x00, 0xFF, 0x07}) stream.push_back(b);  // 0x07 would be an invalid block
  const Decoded d = Decode(stream, text.size());
  EXPECT_EQ(d.result.status, CodecStatus::Ok);
  EXPECT_EQ(d.result.consumed, stream_size);
  // A stream ending mid-byte counts that byte: 3 header bits + 7 end bits = 10 bits.
  BitWriter w;
  FixedHeader(w, true);
  FixedLiteral(w, 256);
  Bytes tiny = w.Data();
  ASSERT_EQ(tiny.size(), 2u);
  tiny.push_back(0xAA);
  const Decoded t = Decode(tiny, 0);
  EXPECT_EQ(t.result.status, CodecStatus::Ok);
  EXPECT_EQ(t.result.consumed, 2u);
  EXPECT_EQ(t.result.produced, 0u);
}

TEST(InflateErrorTest, DistanceTooFarBack) {
  // In the checked loop (tiny buffers) and in the fast loop (plenty of both).
  for (size_t padding : {size_t{0}, size_t{400}}) {
    SCOPED_TRACE("padding " + std::to_string(padding));
    for (unsigned produced_before : {0u, 1u, 5u, 1000u}) {
      for (unsigned extra : {0u, 1u}) {
        BitWriter w;
        const Bytes lead = qbtest::RandomBytes(produced_before, 22);
        if (!lead.empty()) StoredBlock(w, false, lead);
        FixedHeader(w, true);
        if (produced_before == 0 && extra == 0) continue;
        FixedMatch(w, 3, produced_before + extra);
        for (size_t k = 0; k < padding; ++k) FixedLiteral(w, 'p');
        FixedLiteral(w, 256);
        const Decoded d = Decode(w.Data(), produced_before + 3 + padding + 300);
        if (extra == 0) {
          EXPECT_EQ(d.result.status, CodecStatus::Ok) << produced_before;
        } else {
          EXPECT_EQ(d.result.status, CodecStatus::BadData) << produced_before;
          EXPECT_EQ(d.result.produced, produced_before);
        }
      }
    }
  }
}

TEST(InflateErrorTest, InvalidBlockType) {
  EXPECT_EQ(Decode({0x07}, 10).result.status, CodecStatus::BadData);        // final, type 3
  EXPECT_EQ(Decode({0x06, 0x00}, 10).result.status, CodecStatus::BadData);  // not final, type 3
  BitWriter w;
  StoredBlock(w, false, {'o', 'k'});
  w.Bits(1, 1);
  w.Bits(3, 2);
  const Decoded d = Decode(w.Data(), 10);
  EXPECT_EQ(d.result.status, CodecStatus::BadData);
  EXPECT_EQ(d.result.produced, 2u);
}

TEST(InflateErrorTest, StoredLengthMismatch) {
  BitWriter w;
  StoredBlock(w, true, {'a', 'b', 'c'});
  Bytes stream = w.Data();
  stream[3] ^= 0x01;  // NLEN no longer the complement of LEN
  EXPECT_EQ(Decode(stream, 10).result.status, CodecStatus::BadData);
  // A stored block claiming more bytes than the input holds ran out of input.
  Bytes shortened = w.Data();
  shortened.pop_back();
  const Decoded d = Decode(shortened, 10);
  EXPECT_EQ(d.result.status, CodecStatus::InputEnded);
  EXPECT_EQ(d.result.produced, 2u);
}

TEST(InflateErrorTest, InvalidSymbolsOfTheFixedCode) {
  for (unsigned sym : {286u, 287u}) {
    BitWriter w;
    FixedHeader(w, true);
    FixedLiteral(w, sym);
    w.Bits(0, 16);
    EXPECT_EQ(Decode(w.Data(), 10).result.status, CodecStatus::BadData) << sym;
  }
  for (unsigned dist_sym : {30u, 31u}) {
    BitWriter w;
    FixedHeader(w, true);
    FixedLiteral(w, 'a');
    FixedLiteral(w, 257);
    w.Code(dist_sym, 5);
    w.Bits(0, 16);
    EXPECT_EQ(Decode(w.Data(), 10).result.status, CodecStatus::BadData) << dist_sym;
  }
}

Decoded DecodeSmallCode(SmallCode c, bool use_match, unsigned dist_sym = 0) {
  c.Finish();
  BitWriter w;
  DynamicHeader(w, true, c.litlen, c.dist);
  if (c.litlen['a']) c.Sym(w, 'a');
  if (use_match) {
    c.Sym(w, 257);
    w.Code(dist_sym, 1);  // raw: the lone distance code is 0; 1 is its hole
  }
  c.Sym(w, 256);
  w.Bits(0, 16);
  return Decode(w.Data(), 100);
}

TEST(InflateErrorTest, OverSubscribedAndIncompleteCodes) {
  SmallCode over;  // three 1-bit codewords
  over.litlen['a'] = over.litlen[256] = over.litlen[257] = 1;
  over.dist = {1};
  EXPECT_EQ(DecodeSmallCode(over, false).result.status, CodecStatus::BadData);

  SmallCode incomplete_litlen;  // two 2-bit codewords cover half the code space
  incomplete_litlen.litlen['a'] = incomplete_litlen.litlen[256] = 2;
  incomplete_litlen.dist = {1};
  EXPECT_EQ(DecodeSmallCode(incomplete_litlen, false).result.status, CodecStatus::BadData);

  SmallCode lone_litlen;  // only end of block, as one 1-bit code: allowed
  lone_litlen.litlen[256] = 1;
  lone_litlen.dist = {0};
  EXPECT_EQ(DecodeSmallCode(lone_litlen, false).result.status, CodecStatus::Ok);

  SmallCode base;
  base.litlen['a'] = 1;
  base.litlen[256] = 2;
  base.litlen[257] = 2;

  SmallCode incomplete_dist = base;  // one 2-bit distance codeword: not allowed
  incomplete_dist.dist = {2};
  EXPECT_EQ(DecodeSmallCode(incomplete_dist, false).result.status, CodecStatus::BadData);

  SmallCode over_dist = base;
  over_dist.dist = {1, 1, 1};
  EXPECT_EQ(DecodeSmallCode(over_dist, false).result.status, CodecStatus::BadData);

  SmallCode lone_dist = base;  // one 1-bit distance codeword: allowed, but its hole is not a distance
  lone_dist.dist = {1};
  EXPECT_EQ(DecodeSmallCode(lone_dist, true, 0).result.status, CodecStatus::Ok);
  EXPECT_EQ(DecodeSmallCode(lone_dist, true, 1).result.status, CodecStatus::BadData);

  SmallCode no_dist = base;  // no distance codes at all: fine until a match needs one
  no_dist.dist = {0};
  EXPECT_EQ(DecodeSmallCode(no_dist, false).result.status, CodecStatus::Ok);
  EXPECT_EQ(DecodeSmallCode(no_dist, true).result.status, CodecStatus::BadData);

  SmallCode no_end = base;  // a block that cannot end
  no_end.litlen[256] = 0;
  no_end.litlen['b'] = 2;
  no_end.dist = {1};
  EXPECT_EQ(DecodeSmallCode(no_end, false).result.status, CodecStatus::BadData);
}

// Dynamic headers written field by field, to break the precode and the length list.
Bytes RawDynamicHeader(unsigned hlit, unsigned hdist, const std::vector<uint8_t>& precode_lens_in_order,
                       const std::vector<std::pair<uint32_t, unsigned>>& codes) {
  BitWriter w;
  w.Bits(1, 1);
  w.Bits(2, 2);
  w.Bits(hlit, 5);
  w.Bits(hdist, 5);
  w.Bits(static_cast<uint32_t>(precode_lens_in_order.size() - 4), 4);
  for (uint8_t l : precode_lens_in_order) w.Bits(l, 3);
  for (const auto& [code, len] : codes) w.Bits(code, len);
  w.Bits(0, 32);
  return w.Data();
}

TEST(InflateErrorTest, BrokenDynamicHeaders) {
  // A complete precode: 4-bit codewords for lengths 0..15, in transmission order.
  std::vector<uint8_t> complete;
  for (unsigned sym : {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15})
    complete.push_back(sym < 16 ? 4 : 0);
  // HLIT above 286 or HDIST above 30. At the limits, the same lengths make a
  // valid empty block: 'a' and end of block 1 bit each, one 1-bit distance code.
  auto lengths = [](unsigned num_litlen, unsigned num_dist) {
    std::vector<std::pair<uint32_t, unsigned>> codes;
    for (unsigned i = 0; i < num_litlen + num_dist; ++i) {
      const bool one = i == 'a' || i == 256 || i == num_litlen;
      codes.push_back({one ? 0x8u : 0x0u, 4});  // 4-bit codeword of length 1 or 0, sent backwards
    }
    codes.push_back({1, 1});  // end of block
    return codes;
  };
  EXPECT_EQ(Decode(RawDynamicHeader(29, 0, complete, lengths(286, 1)), 10).result.status, CodecStatus::Ok);
  EXPECT_EQ(Decode(RawDynamicHeader(30, 0, complete, lengths(287, 1)), 10).result.status,
            CodecStatus::BadData);
  EXPECT_EQ(Decode(RawDynamicHeader(0, 29, complete, lengths(257, 30)), 10).result.status, CodecStatus::Ok);
  EXPECT_EQ(Decode(RawDynamicHeader(0, 30, complete, lengths(257, 31)), 10).result.status,
            CodecStatus::BadData);
  // Over-subscribed precode: 19 codewords of 1 bit.
  EXPECT_EQ(Decode(RawDynamicHeader(0, 0, std::vector<uint8_t>(19, 1), {}), 10).result.status,
            CodecStatus::BadData);
  // Incomplete precode: two 2-bit codewords. Also a lone 1-bit one, which only
  // literal/length and distance codes may have.
  EXPECT_EQ(Decode(RawDynamicHeader(0, 0, {2, 2, 0, 0}, {}), 10).result.status, CodecStatus::BadData);
  EXPECT_EQ(Decode(RawDynamicHeader(0, 0, {0, 0, 0, 1}, {}), 10).result.status, CodecStatus::BadData);
  // Precode {16: 1 bit "0", 17: 1 bit "1"}: repeat-previous as the first length.
  EXPECT_EQ(Decode(RawDynamicHeader(0, 0, {1, 1, 0, 0}, {{0, 1}, {0, 2}}), 10).result.status,
            CodecStatus::BadData);
  // Precode {17: "0", 18: "1"}: zeros repeated past the 258 lengths announced.
  EXPECT_EQ(
      Decode(RawDynamicHeader(0, 0, {0, 1, 1, 0}, {{1, 1}, {127, 7}, {1, 1}, {127, 7}, {1, 1}, {0, 7}}), 10)
          .result.status,
      CodecStatus::BadData);
  // The same zeros stopping exactly at 258 are fine as lengths, but then end of
  // block has no code.
  EXPECT_EQ(
      Decode(RawDynamicHeader(0, 0, {0, 1, 1, 0}, {{1, 1}, {127, 7}, {1, 1}, {109, 7}}), 10).result.status,
      CodecStatus::BadData);
}

// Random damage must never crash or overrun, and a damaged stream zlib rejects
// or accepts we must judge the same way, with the same bytes.
TEST(InflateErrorTest, BitFlipsAgreeWithZlib) {
  const auto samples = SampleStreams();
  uint64_t seed = 0x9E3779B97F4A7C15u;
  auto next = [&] {
    seed ^= seed << 13, seed ^= seed >> 7, seed ^= seed << 17;
    return seed;
  };
  int differing_outcomes = 0;
  for (int round = 0; round < 3000; ++round) {
    const auto& [original, expected] = samples[static_cast<size_t>(round) % samples.size()];
    Bytes stream = original;
    const int flips = 1 + static_cast<int>(next() % 3);
    for (int f = 0; f < flips; ++f)
      stream[next() % stream.size()] ^= static_cast<uint8_t>(1u << (next() % 8));
    const size_t cap = expected.size() + (round % 2 ? 5000 : 0);

    Decoded ours = Decode(stream, cap);
    ASSERT_LE(ours.result.produced, cap);
    ASSERT_LE(ours.result.consumed, stream.size());

    Bytes theirs(cap);
    z_stream zs{};
    ASSERT_EQ(inflateInit2(&zs, -15), Z_OK);
    zs.next_in = stream.data();
    zs.avail_in = static_cast<uInt>(stream.size());
    zs.next_out = theirs.data();
    zs.avail_out = static_cast<uInt>(cap);
    const int rc = inflate(&zs, Z_FINISH);
    const size_t their_produced = zs.total_out;
    const size_t their_consumed = zs.total_in;
    const bool their_out_full = zs.avail_out == 0;
    inflateEnd(&zs);

    SCOPED_TRACE("round " + std::to_string(round));
    if (rc == Z_STREAM_END) {
      ASSERT_EQ(ours.result.status, CodecStatus::Ok);
      ASSERT_EQ(ours.result.produced, their_produced);
      ASSERT_EQ(ours.result.consumed, their_consumed);
      ASSERT_TRUE(std::equal(theirs.begin(), theirs.begin() + static_cast<ptrdiff_t>(their_produced),
                             ours.out.begin()));
    } else if (rc == Z_DATA_ERROR) {
      ASSERT_EQ(ours.result.status, CodecStatus::BadData);
    } else {
      ASSERT_EQ(rc, Z_BUF_ERROR);
      if (their_out_full) {
        // zlib stops as soon as the output is full. We may look one symbol
        // further first: a match's distance is checked, and the input may end.
        ASSERT_NE(ours.result.status, CodecStatus::Ok);
        ASSERT_EQ(ours.result.produced, cap);
        ASSERT_TRUE(std::equal(theirs.begin(), theirs.end(), ours.out.begin()));
      } else {
        ASSERT_EQ(ours.result.status, CodecStatus::InputEnded);
        ASSERT_EQ(ours.result.produced, their_produced);
        ASSERT_TRUE(std::equal(theirs.begin(), theirs.begin() + static_cast<ptrdiff_t>(their_produced),
                               ours.out.begin()));
      }
    }
    differing_outcomes += ours.result.status != CodecStatus::Ok;
  }
  EXPECT_GT(differing_outcomes, 100);  // the damage did reach the decoder
}

TEST(InflateErrorTest, RandomInputsNeverOverrun) {
  for (uint64_t seed = 1; seed <= 400; ++seed) {
    Bytes junk = qbtest::RandomBytes(1 + seed * 7 % 600, seed);
    // Make most of them Huffman blocks, so more than the block header is read.
    junk[0] = static_cast<uint8_t>((junk[0] & ~6u) | (seed % 3 == 0 ? 2 : 4));
    for (size_t cap : {size_t{0}, size_t{17}, size_t{5000}}) {
      const Decoded d = Decode(junk, cap);
      ASSERT_LE(d.result.produced, cap);
      ASSERT_LE(d.result.consumed, junk.size());
    }
  }
}

}  // namespace
}  // namespace qb::zip
