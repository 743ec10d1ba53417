// Tests of the Deflate compressor. zlib's inflate is the judge of every stream:
// it must decode to exactly the input and end exactly at the end of the data;
// our own Inflate must agree. zlib's inflate with Z_BLOCK also reports where
// each block ends, which lets the block-splitting rules be checked from the
// outside.
#include "zip/deflate.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "support/test_support.h"
#include "zip/inflate.h"

namespace {

using qb::zip::Deflate;
using qb::zip::DeflateOutput;
using Bytes = std::vector<uint8_t>;

// Inflates a raw Deflate stream with zlib. Fails unless the stream ends exactly
// at the end of `stream` and yields `expected`. Collects the output offsets at
// which blocks end when block_ends is given.
::testing::AssertionResult ZlibInflatesTo(const Bytes& stream, const Bytes& expected,
                                          std::vector<size_t>* block_ends = nullptr) {
  z_stream z{};
  if (inflateInit2(&z, -15) != Z_OK) return ::testing::AssertionFailure() << "inflateInit2 failed";
  Bytes out(expected.size() + 1);
  z.next_in = const_cast<Bytes::value_type*>(stream.data());
  z.avail_in = static_cast<uInt>(stream.size());
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  int rc = Z_OK;
  while (rc == Z_OK) {
    rc = inflate(&z, block_ends ? Z_BLOCK : Z_FINISH);
    if (block_ends && (z.data_type & 128) && z.total_out > 0 &&
        (block_ends->empty() || block_ends->back() != z.total_out))
      block_ends->push_back(z.total_out);
    if (!block_ends && rc == Z_BUF_ERROR) break;
    if (block_ends && rc == Z_BUF_ERROR && z.avail_in == 0) break;
  }
  const size_t produced = z.total_out, left = z.avail_in;
  inflateEnd(&z);
  if (rc != Z_STREAM_END) return ::testing::AssertionFailure() << "inflate ended with " << rc;
  if (left != 0) return ::testing::AssertionFailure() << left << " bytes after the end of the stream";
  if (produced != expected.size())
    return ::testing::AssertionFailure() << "inflated " << produced << " bytes, expected " << expected.size();
  if (!std::equal(expected.begin(), expected.end(), out.begin())) {
    const size_t at = static_cast<size_t>(std::mismatch(expected.begin(), expected.end(), out.begin()).first -
                                          expected.begin());
    return ::testing::AssertionFailure() << "first wrong byte at " << at;
  }
  return ::testing::AssertionSuccess();
}

// The same with our decoder, given one byte of room more than needed.
::testing::AssertionResult OwnInflatesTo(const Bytes& stream, const Bytes& expected) {
  Bytes out(expected.size() + 1);
  const qb::zip::CodecResult r = qb::zip::Inflate(stream.data(), stream.size(), out.data(), out.size());
  if (r.status != qb::zip::CodecStatus::Ok)
    return ::testing::AssertionFailure() << "Inflate status " << static_cast<int>(r.status);
  if (r.consumed != stream.size())
    return ::testing::AssertionFailure() << "Inflate consumed " << r.consumed << " of " << stream.size();
  if (r.produced != expected.size() || !std::equal(expected.begin(), expected.end(), out.begin()))
    return ::testing::AssertionFailure() << "Inflate produced other bytes (" << r.produced << ")";
  return ::testing::AssertionSuccess();
}

// Compresses and checks the result: either a stream that both decoders
// inflate back to the input, or "store it" with no data.
::testing::AssertionResult RoundTrips(const Bytes& input, int level, DeflateOutput* result = nullptr) {
  DeflateOutput out = Deflate(input.data(), input.size(), level);
  ::testing::AssertionResult ok = ::testing::AssertionSuccess();
  if (out.stored_whole) {
    if (!out.data.empty())
      ok = ::testing::AssertionFailure() << "stored_whole with " << out.data.size() << " bytes";
  } else {
    ok = ZlibInflatesTo(out.data, input);
    if (ok) ok = OwnInflatesTo(out.data, input);
  }
  if (!ok) ok << " (level " << level << ", " << input.size() << " bytes)";
  if (result) *result = std::move(out);
  return ok;
}

size_t ZlibDeflateSize(const Bytes& input, int level) {
  z_stream z{};
  EXPECT_EQ(deflateInit2(&z, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY), Z_OK);
  Bytes out(deflateBound(&z, static_cast<uLong>(input.size())));
  z.next_in = const_cast<Bytes::value_type*>(input.data());
  z.avail_in = static_cast<uInt>(input.size());
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
  const size_t size = z.total_out;
  deflateEnd(&z);
  return size;
}

Bytes Periodic(size_t size, size_t period, uint64_t seed) {
  const Bytes unit = qbtest::RandomBytes(period, seed);
  Bytes out(size);
  for (size_t i = 0; i < size; ++i) out[i] = unit[i % period];
  return out;
}

// Runs of one byte, of random lengths 1..300.
Bytes Runs(size_t size, uint64_t seed) {
  const Bytes r = qbtest::RandomBytes(size * 2 + 2, seed);
  Bytes out;
  for (size_t i = 0; out.size() < size; i += 2)
    out.insert(out.end(), 1 + (r[i] * 7 + r[i + 1]) % 300, r[i + 1]);
  out.resize(size);
  return out;
}

// Up to `limit` bytes of C headers from /usr/include, in a fixed order.
Bytes SystemHeaders(size_t limit) {
  std::vector<std::filesystem::path> files;
  std::error_code ec;
  for (const char* dir : {"/usr/include", "/usr/include/linux"})
    for (const auto& e : std::filesystem::directory_iterator(dir, ec))
      if (e.is_regular_file() && e.path().extension() == ".h") files.push_back(e.path());
  std::sort(files.begin(), files.end());
  Bytes out;
  for (const auto& f : files) {
    if (out.size() >= limit) break;
    const Bytes b = qbtest::ReadFileBytes(f);
    out.insert(out.end(), b.begin(), b.end());
  }
  out.resize(std::min(out.size(), limit));
  return out;
}

bool HasRepeated3Gram(const Bytes& b) {
  std::set<uint32_t> seen;
  for (size_t i = 0; i + 2 < b.size(); ++i)
    if (!seen.insert(b[i] << 16 | b[i + 1] << 8 | b[i + 2]).second) return true;
  return false;
}

std::vector<size_t> BlockEnds(const Bytes& input, int level) {
  const DeflateOutput out = Deflate(input.data(), input.size(), level);
  EXPECT_FALSE(out.stored_whole);
  std::vector<size_t> ends;
  EXPECT_TRUE(ZlibInflatesTo(out.data, input, &ends));
  return ends;
}

TEST(Deflate, RoundTripsAroundBlockAndWindowBoundaries) {
  const size_t sizes[] = {1,    2,    3,     4,     257,   258,   259,   260,  4095,
                          4096, 4097, 32767, 32768, 32769, 65535, 65536, 65537};
  for (size_t size : sizes) {
    const Bytes inputs[] = {
        qbtest::TextLikeBytes(size, size), Periodic(size, 1, size), Periodic(size, 3, size),
        Periodic(size, 259, size),         Runs(size, size),        qbtest::RandomBytes(size, size)};
    // Greedy without and with the early block end, lazy with the shortest and
    // the longest lazy limit.
    for (const Bytes& input : inputs)
      for (int level : {1, 3, 4, 9}) ASSERT_TRUE(RoundTrips(input, level));
  }
}

TEST(Deflate, RoundTripsEverySmallSize) {
  for (size_t size = 0; size <= 300; ++size) {
    const Bytes text = qbtest::TextLikeBytes(size, 7 + size);
    const Bytes runs = Runs(size, size);
    for (int level = 1; level <= 9; ++level) {
      if (size > 20 && level != 1 && level != 6 && level != 9) continue;
      ASSERT_TRUE(RoundTrips(text, level));
      ASSERT_TRUE(RoundTrips(runs, level));
    }
  }
}

TEST(Deflate, RoundTripsEveryPeriod) {
  for (size_t period = 1; period <= 300; ++period) {
    const Bytes input = Periodic(3000 + period, period, period);
    for (int level : {1, 4, 6, 9}) ASSERT_TRUE(RoundTrips(input, level)) << "period " << period;
  }
  // Long inputs whose period straddles the match length limits and the window.
  for (size_t period : {2u, 257u, 258u, 259u, 32505u, 32506u, 32507u, 40000u}) {
    const Bytes input = Periodic(100000, period, period);
    for (int level : {1, 3, 4, 6, 9}) ASSERT_TRUE(RoundTrips(input, level)) << "period " << period;
  }
}

TEST(Deflate, RoundTripsRealAndMixedData) {
  const Bytes headers = SystemHeaders(150000);
  ASSERT_GT(headers.size(), 100000u);
  // Text, then noise, then text again, then long runs: blocks of every kind in one stream.
  Bytes mixed(headers.begin(), headers.begin() + 70000);
  const Bytes noise = qbtest::RandomBytes(50000, 99);
  mixed.insert(mixed.end(), noise.begin(), noise.end());
  mixed.insert(mixed.end(), headers.begin() + 70000, headers.begin() + 100000);
  const Bytes runs = Runs(40000, 5);
  mixed.insert(mixed.end(), runs.begin(), runs.end());
  for (int level = 1; level <= 9; ++level) {
    DeflateOutput out;
    ASSERT_TRUE(RoundTrips(headers, level));
    ASSERT_TRUE(RoundTrips(mixed, level, &out));
    EXPECT_FALSE(out.stored_whole);
    // The noise costs its size (stored), the rest compresses.
    EXPECT_LT(out.data.size(), noise.size() + 40000) << "level " << level;
    EXPECT_GT(out.data.size(), noise.size()) << "level " << level;
  }
}

TEST(Deflate, RoundTripsWhenCodeLengthsMustBeLimited) {
  // Runs of random bytes whose lengths hit 20 length symbols with Fibonacci
  // counts (1, 1, 2, 3, ... 6765), shuffled. The code lengths of such blocks
  // spread so unevenly that an unlimited code for them (the code-length code)
  // would be longer than Deflate allows.
  const unsigned match_lengths[] = {3, 4, 5, 6, 7, 8, 9, 10, 11, 13, 15, 17, 19, 23, 27, 31, 35, 43, 51, 59};
  for (uint64_t seed : {2, 3, 13}) {
    std::vector<unsigned> runs;
    uint32_t a = 1, b = 1;
    for (int k = 19; k >= 0; --k, b = a + b, a = b - a) runs.insert(runs.end(), a, match_lengths[k] + 1);
    const Bytes r = qbtest::RandomBytes(runs.size() * 8, seed);
    for (size_t i = runs.size() - 1; i > 0; --i) {
      uint32_t pick;
      std::memcpy(&pick, &r[4 * i], 4);
      std::swap(runs[i], runs[pick % (i + 1)]);
    }
    Bytes input;
    uint8_t byte = 0;
    for (size_t i = 0; i < runs.size(); ++i) {
      byte = static_cast<uint8_t>(byte + 1 + r[4 * runs.size() + i] % 255);  // never the previous byte
      input.insert(input.end(), runs[i], byte);
    }
    for (int level : {1, 6, 9}) ASSERT_TRUE(RoundTrips(input, level)) << "seed " << seed;
  }
}

// Random literals and copies whose symbols come about as often as the fixed
// code's lengths suggest: bytes 0-143 twice as often as 144-255, the length
// symbols of 7 bits twice as often as those of 8, every distance symbol alike.
// Such blocks cost no more with the fixed codes than with their own, and go
// out with the fixed codes.
Bytes FixedCodeShaped(size_t size, uint32_t seed) {
  constexpr uint16_t kLengthBase[] = {3,  4,  5,  6,  7,  8,  9,  10, 11, 13,  15,  17,  19,  23,
                                      27, 31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227};
  std::mt19937 engine(seed);
  auto rng = [&engine] { return static_cast<uint32_t>(engine()); };
  Bytes out;
  while (out.size() < size) {
    if (rng() % 1000 < 220 && out.size() >= 1024) {
      const uint32_t w = rng() % 51, slot = w < 46 ? w / 2 : 23 + (w - 46);
      const uint32_t extra_bits = slot < 8 ? 0 : (slot - 4) / 4;
      const size_t len = kLengthBase[slot] + rng() % (1u << extra_bits);
      size_t dist;
      do {
        const uint32_t code = rng() % 30;
        dist =
            code < 4 ? code + 1 : ((2u + (code & 1)) << (code / 2 - 1)) + 1 + rng() % (1u << (code / 2 - 1));
      } while (dist > out.size());
      for (size_t k = 0; k < len; ++k) out.push_back(out[out.size() - dist]);
    } else {
      const uint32_t w = rng() % 400;
      out.push_back(static_cast<uint8_t>(w < 288 ? w / 2 : 144 + (w - 288)));
    }
  }
  out.resize(size);
  return out;
}

TEST(Deflate, RoundTripsLongAndShortBlocksWithFixedCodes) {
  // Long blocks are written another way than short ones. At levels 3 and 6 the
  // first block of 60000 bytes ends early, after 4096 symbols; 30000 bytes are
  // one block of fewer symbols.
  for (size_t size : {30000u, 60000u}) {
    for (uint32_t seed : {1u, 2u}) {
      const Bytes input = FixedCodeShaped(size, seed);
      for (int level : {3, 6}) {
        DeflateOutput out;
        ASSERT_TRUE(RoundTrips(input, level, &out)) << "seed " << seed;
        ASSERT_FALSE(out.data.empty());
        EXPECT_EQ((out.data[0] >> 1) & 3, 1) << "the first block has the fixed codes (level " << level << ")";
      }
    }
  }
}

TEST(Deflate, UsesDistancesUpToTheWindowLimitButNotBeyond) {
  // A random 1000-byte string R, filler, then R again at distance d. With
  // random filler R's copy is reached along the hash chains; with zero filler
  // it is the newest entry of its chain.
  for (bool random_filler : {true, false}) {
    for (size_t prefix : {0u, 40000u}) {
      for (int level : {1, 4, 6, 9}) {
        size_t size_at_limit = 0;
        for (size_t d = 32505; d <= 32507; ++d) {
          Bytes input = qbtest::RandomBytes(prefix + d, 1000 + d);
          if (!random_filler) std::fill(input.begin() + prefix + 1000, input.end(), 0);
          input.insert(input.end(), input.begin() + prefix, input.begin() + prefix + 1000);
          DeflateOutput out;
          ASSERT_TRUE(RoundTrips(input, level, &out)) << "distance " << d;
          const size_t literal_cost = random_filler ? input.size() - 900 : prefix + 1700;
          if (d == 32506) size_at_limit = out.data.size();
          if (d == 32507) {
            EXPECT_GT(out.data.size(), size_at_limit + 900)
                << "a match at distance 32507 must not be used (level " << level << ")";
          }
          if (d <= 32506) {
            EXPECT_LT(out.data.size(), literal_cost)
                << "the repeat at " << d << " was missed (level " << level << ")";
          }
        }
      }
    }
  }
}

TEST(Deflate, LazyLevelsIgnoreFarThreeByteMatches) {
  // Three non-text bytes, a long run, the same three bytes 5003 bytes back
  // (only three bytes long: what follows differs), then 18 distinct text
  // bytes. Greedy levels code the second copy as a match, lazy levels as three
  // literals, and the literal counts of the text detection tell them apart:
  // 20 text literals against 3 non-text ones is text, against 6 it is not.
  Bytes input = {200, 201, 202};
  input.insert(input.end(), 5000, 'a');
  input.insert(input.end(), {200, 201, 202});
  for (char c = 'b'; c <= 's'; ++c) input.push_back(static_cast<uint8_t>(c));
  for (int level = 1; level <= 9; ++level) {
    DeflateOutput out;
    ASSERT_TRUE(RoundTrips(input, level, &out));
    EXPECT_EQ(out.is_text, level <= 3) << "level " << level;
  }
}

TEST(Deflate, StoresWholeEntryWhenCompressionDoesNotPay) {
  for (size_t size : {0u, 1u, 2u, 10u, 1000u, 32000u}) {
    DeflateOutput out;
    ASSERT_TRUE(RoundTrips(qbtest::RandomBytes(size, size), 6, &out));
    EXPECT_TRUE(out.stored_whole) << size;
    EXPECT_TRUE(out.data.empty());
  }
  const Bytes empty;
  EXPECT_TRUE(Deflate(nullptr, 0, 9).stored_whole);
  // Compressible input is not stored, even when tiny.
  const std::string s = "abcabcabcabcabcabcabcabc";
  EXPECT_FALSE(Deflate(reinterpret_cast<const uint8_t*>(s.data()), s.size(), 1).stored_whole);
}

TEST(Deflate, IncompressibleDataAfterTheFirstBlockGoesOutAsStoredBlocks) {
  // Only a first block that is also the last can turn into a stored entry;
  // longer noise becomes a stream of stored blocks of 32767 literals each.
  const Bytes noise = qbtest::RandomBytes(100000, 3);
  for (int level : {1, 2}) {
    DeflateOutput out;
    ASSERT_TRUE(RoundTrips(noise, level, &out));
    EXPECT_FALSE(out.stored_whole);
    const size_t blocks = (noise.size() + 32766) / 32767;
    EXPECT_LE(out.data.size(), noise.size() + 5 * blocks);
    const std::vector<size_t> ends = BlockEnds(noise, level);
    EXPECT_GE(ends.size(), blocks);
    for (size_t i = 0; i + 1 < ends.size(); ++i)
      EXPECT_GE(ends[i] - (i ? ends[i - 1] : 0), 32767u - 100) << "block " << i << " ended too early";
  }
}

TEST(Deflate, BlockEndsAfter32767Symbols) {
  // Unique 3-grams everywhere: every symbol is a literal, so every block but
  // the last covers exactly 32767 bytes.
  // Bytes of a 24-bit maximal-length LFSR sequence: each 24-bit window occurs once.
  Bytes input;
  uint32_t state = 1;
  while (input.size() < 100000) {
    uint8_t byte = 0;
    for (int b = 0; b < 8; ++b) {
      const uint32_t bit = ((state >> 23) ^ (state >> 22) ^ (state >> 21) ^ (state >> 16)) & 1;
      state = ((state << 1) | bit) & 0xFFFFFF;
      byte = static_cast<uint8_t>(byte << 1 | bit);
    }
    input.push_back(byte);
  }
  ASSERT_FALSE(HasRepeated3Gram(input));
  for (int level : {1, 2, 5, 9}) {
    const std::vector<size_t> ends = BlockEnds(input, level);
    EXPECT_EQ(ends, (std::vector<size_t>{32767, 65534, 98301, 100000})) << "level " << level;
  }
}

TEST(Deflate, EndsBlockEarlyWhenMostlyLiteralsCodeToUnderHalfTheInput) {
  // Units of two fresh bytes (a unique 16-bit counter) and a fixed 258-byte
  // string R: after the first unit, each unit codes as 2 literals + 1 match.
  // The 4096th symbol is the second literal of unit 1279; at that point the
  // block has fewer matches than half its symbols and its rough size is far
  // below half of its input, so levels 3 to 9 end it there.
  const Bytes r = qbtest::RandomBytes(258, 42);
  ASSERT_FALSE(HasRepeated3Gram(r));
  Bytes input;
  for (uint32_t k = 0; k < 1540; ++k) {
    input.push_back(static_cast<uint8_t>(k >> 8));
    input.push_back(static_cast<uint8_t>(k));
    input.insert(input.end(), r.begin(), r.end());
  }
  for (int level = 1; level <= 9; ++level) {
    const std::vector<size_t> ends = BlockEnds(input, level);
    ASSERT_FALSE(ends.empty());
    if (level >= 3) {
      EXPECT_EQ(ends[0], 260u * 1279 + 2) << "level " << level;
    } else {
      EXPECT_EQ(ends, std::vector<size_t>{input.size()}) << "level " << level;
    }
  }
}

TEST(Deflate, DetectsTextFromTheLiteralsOfTheFirstBlock) {
  // Literal-only inputs (no repeated 3-byte string) with a given mix of text
  // bytes (7-127) and non-text bytes (0-6, 128-255); the boundary values included.
  auto make = [](size_t text, size_t binary, uint64_t seed) {
    const Bytes r = qbtest::RandomBytes((text + binary) * 2, seed);
    Bytes b;
    for (size_t i = 0; i < text; ++i)
      b.push_back(static_cast<uint8_t>(i == 0 ? 7 : i == 1 ? 127 : 7 + r[i] % 121));
    for (size_t i = 0; i < binary; ++i) {
      const uint8_t v = r[text + i];
      b.push_back(static_cast<uint8_t>(i == 0 ? 6 : i == 1 ? 128 : v < 7 ? v : 128 | v));
    }
    // Interleave deterministically.
    std::vector<std::pair<uint8_t, uint8_t>> keyed;
    for (size_t i = 0; i < b.size(); ++i) keyed.push_back({r[b.size() + i], b[i]});
    std::stable_sort(keyed.begin(), keyed.end(), [](auto& x, auto& y) { return x.first < y.first; });
    for (size_t i = 0; i < b.size(); ++i) b[i] = keyed[i].second;
    return b;
  };
  const Bytes at_limit = make(400, 100, 1), over_limit = make(400, 101, 1);
  ASSERT_FALSE(HasRepeated3Gram(at_limit));
  ASSERT_FALSE(HasRepeated3Gram(over_limit));
  for (int level : {1, 6}) {
    EXPECT_TRUE(Deflate(at_limit.data(), at_limit.size(), level).is_text);
    EXPECT_FALSE(Deflate(over_limit.data(), over_limit.size(), level).is_text);
  }
  const Bytes text = SystemHeaders(200000), noise = qbtest::RandomBytes(50000, 1);
  EXPECT_TRUE(Deflate(text.data(), text.size(), 6).is_text);
  EXPECT_FALSE(Deflate(noise.data(), noise.size(), 6).is_text);
  // Only the first block counts.
  Bytes text_then_noise = text;
  text_then_noise.insert(text_then_noise.end(), noise.begin(), noise.end());
  Bytes noise_then_text = noise;
  noise_then_text.insert(noise_then_text.end(), text.begin(), text.end());
  ASSERT_LT(BlockEnds(text_then_noise, 6).front(), text.size());
  EXPECT_TRUE(Deflate(text_then_noise.data(), text_then_noise.size(), 6).is_text);
  EXPECT_FALSE(Deflate(noise_then_text.data(), noise_then_text.size(), 6).is_text);
}

TEST(Deflate, ClampsTheLevel) {
  const Bytes input = SystemHeaders(60000);
  auto at = [&](int level) { return Deflate(input.data(), input.size(), level).data; };
  ASSERT_NE(at(1), at(9));  // the levels really differ on this input
  EXPECT_EQ(at(0), at(1));
  EXPECT_EQ(at(-7), at(1));
  EXPECT_EQ(at(10), at(9));
  EXPECT_EQ(at(1000), at(9));
}

// Each thread keeps the compressor's tables from one call to the next. Whatever
// came before, a call must give the bytes a first call on a fresh thread gives:
// hash heads left over from an earlier input would offer candidates from it
// (and positions beyond the current input). Sizes straddle the point where
// heads are cleared one by one instead of all at once, and the large input
// moves the window origin several times.
TEST(Deflate, EarlierCallsOnTheSameThreadLeaveNoTrace) {
  const Bytes headers = SystemHeaders(300000);
  const Bytes runs = Runs(200000, 4);
  std::vector<Bytes> inputs;
  for (size_t size :
       {size_t{5}, size_t{700}, size_t{2047}, size_t{2048}, size_t{2049}, size_t{5000}, size_t{40000}})
    inputs.emplace_back(headers.begin() + 1000, headers.begin() + 1000 + static_cast<ptrdiff_t>(size));
  inputs.push_back(Bytes(runs.begin(), runs.begin() + 3000));
  for (int level : {1, 4, 9}) {
    SCOPED_TRACE(level);
    std::vector<Bytes> fresh;
    for (const Bytes& input : inputs) {
      std::thread([&] { fresh.push_back(Deflate(input.data(), input.size(), level).data); }).join();
    }
    std::vector<const Bytes*> before = {&headers, &runs};
    for (const Bytes& input : inputs) before.push_back(&input);
    for (size_t i = 0; i < inputs.size(); ++i) {
      for (const Bytes* b : before) {
        (void)Deflate(b->data(), b->size(), 10 - level);
        EXPECT_EQ(Deflate(inputs[i].data(), inputs[i].size(), level).data, fresh[i])
            << inputs[i].size() << " bytes after " << b->size();
      }
    }
  }
}

// Runs of one byte value take shortcuts: entered into the hash chains in bulk,
// and skipped in the match search at the levels with long chains; the few
// positions of a short match at the greedy levels are entered one by one; the
// shortest chains are kept as single links; the search counts its candidates
// node by node; and the tables slide with AVX2
// where the processor has it. All must leave the output
// exactly as the plain path makes it; a slip there still gives a valid stream,
// so only a byte-for-byte comparison finds it. The
// inputs have runs of every length up to and past the longest match, ending
// at every offset, at the very start of the input, in 24-bit pixels, and long
// enough to move the window origin, and there is text, where chains are
// long and full of hash collisions.
TEST(Deflate, ShortcutsLeaveTheOutputUnchanged) {
  std::vector<Bytes> inputs;
  inputs.push_back(Runs(120000, 21));
  inputs.push_back(SystemHeaders(100000));
  Bytes stairs;  // a run whose end moves by one byte from line to line
  for (size_t n = 1; stairs.size() < 90000; n = n % 300 + 1) {
    stairs.insert(stairs.end(), n, 0xAA);
    stairs.push_back(static_cast<uint8_t>(n));
    stairs.insert(stairs.end(), 300 - n, 0xAA);
    stairs.push_back(1);
  }
  inputs.push_back(stairs);
  Bytes pixels;  // flat areas of grey and coloured 24-bit pixels
  const Bytes r = qbtest::RandomBytes(4000, 22);
  for (size_t i = 0; pixels.size() < 150000; i += 4) {
    const uint8_t c[3] = {r[i % r.size()], r[(i + 1) % r.size()], r[(i + 2) % r.size()]};
    const bool grey = r[(i + 3) % r.size()] & 1;
    for (size_t k = 0; k < 1 + r[(i + 3) % r.size()] * 2u; ++k)
      for (int b = 0; b < 3; ++b) pixels.push_back(grey ? c[0] : c[b]);
  }
  inputs.push_back(pixels);
  Bytes start(5000, 0);  // a run from the first byte, then text
  const Bytes text = qbtest::TextLikeBytes(20000, 23);
  start.insert(start.end(), text.begin(), text.end());
  inputs.push_back(start);
  for (const Bytes& input : inputs) {
    for (int level = 1; level <= 9; ++level) {
      const DeflateOutput fast = Deflate(input.data(), input.size(), level);
      const DeflateOutput plain = qb::zip::DeflatePlain(input.data(), input.size(), level);
      EXPECT_EQ(fast.data, plain.data) << "level " << level << ", " << input.size() << " bytes";
    }
  }
}

// The bytes of every level are pinned: speed-ups of the match finder must
// make the same choices, and a changed choice often still round-trips and
// compresses as well, so only the bytes themselves show it. Both fast and
// plain paths go through shared code (the insertion above all), which the
// comparison of the two cannot check. The inputs come from fixed generators
// and cover text with long chains, runs of every length and random bytes,
// long enough to move the window origin.
TEST(Deflate, OutputOfEveryLevelStaysTheSame) {
  Bytes mixed = qbtest::TextLikeBytes(90000, 41);
  const Bytes runs = Runs(80000, 42), noise = qbtest::RandomBytes(5000, 43);
  mixed.insert(mixed.end(), runs.begin(), runs.end());
  mixed.insert(mixed.end(), noise.begin(), noise.end());
  const Bytes early(mixed.begin() + 1000, mixed.begin() + 60000);
  mixed.insert(mixed.end(), early.begin(), early.end());  // a copy out of reach
  const auto fnv = [](const Bytes& bytes) {
    uint64_t h = 0xCBF29CE484222325u;
    for (const uint8_t b : bytes) h = (h ^ b) * 0x100000001B3u;
    return h;
  };
  const uint64_t expected[10] = {0,
                                 0xE2A459AD08F12DF0u,
                                 0x2BDA916536AC3819u,
                                 0xC8F8366927CC6A93u,
                                 0xC3FCA2445FC43668u,
                                 0x1B5FA0CB4021BA1Du,
                                 0xF05DF35D04357087u,
                                 0x27295B18AD3AB68Du,
                                 0x3C4FEB56499695ACu,
                                 0x0525DDCC28AA6F27u};
  for (int level = 1; level <= 9; ++level) {
    const DeflateOutput out = Deflate(mixed.data(), mixed.size(), level);
    EXPECT_TRUE(ZlibInflatesTo(out.data, mixed)) << "level " << level;
    EXPECT_EQ(fnv(out.data), expected[level]) << "level " << level << ", " << out.data.size() << " bytes";
  }
}

// Prose-like bytes: words of random letters from a vocabulary of 400, the
// common ones far more often, with capitals, digits, punctuation and line
// breaks. 4 KiB of it use some fifty byte values, with counts from one to
// hundreds, as a clip of real text does.
Bytes WordSoup(size_t size, uint64_t seed) {
  std::mt19937_64 rng(seed);
  std::vector<std::string> words(400);
  for (std::string& w : words)
    for (size_t k = 0, n = 1 + rng() % 9; k < n; ++k) w.push_back(static_cast<char>('a' + rng() % 26));
  Bytes out;
  while (out.size() < size) {
    // Two draws, in this order: the word, then how many of the most common
    // words it is taken from.
    const uint64_t pick = rng();
    std::string w = words[pick % (1 + rng() % words.size())];
    const uint64_t r = rng() % 40;
    if (r == 0) w[0] = static_cast<char>(w[0] - 'a' + 'A');
    if (r == 1) w += std::to_string(rng() % 1000);
    out.insert(out.end(), w.begin(), w.end());
    out.push_back(static_cast<uint8_t>(r < 3 ? '\n' : r < 6 ? ',' : r == 6 ? '.' : ' '));
  }
  out.resize(size);
  return out;
}

// The bytes of short inputs are pinned too. Clips come one after another on a
// thread, each a block of its own, and take paths that long inputs do not: the
// heads are cleared hash by hash, symbols are written without merged codes,
// and the codes are built from small counts, many of them equal.
TEST(Deflate, OutputOfShortInputsStaysTheSame) {
  const Bytes soup = WordSoup(120000, 51);
  std::vector<Bytes> inputs;
  size_t at = 0;
  for (size_t size : {40u, 300u, 1024u, 2047u, 2048u, 2049u, 3000u, 4096u, 4096u, 4096u, 8192u, 16000u}) {
    inputs.emplace_back(soup.begin() + static_cast<ptrdiff_t>(at),
                        soup.begin() + static_cast<ptrdiff_t>(at + size));
    at += size + 5000;
  }
  Bytes sprinkled(soup.begin() + 90000, soup.begin() + 94096);  // mostly literals
  const Bytes noise = qbtest::RandomBytes(sprinkled.size(), 52);
  for (size_t i = 0; i < sprinkled.size(); i += 3) sprinkled[i] = noise[i];
  inputs.push_back(sprinkled);
  inputs.push_back(Runs(4096, 53));
  inputs.push_back(qbtest::TextLikeBytes(4096, 54));
  const uint64_t expected[10] = {0,
                                 0x60D6FE3F50CE9316u,
                                 0x7CB3FF934D48B0FEu,
                                 0xE7EE880B681027CEu,
                                 0xDE0ACFA150A0C47Fu,
                                 0xD037A79B60FC4320u,
                                 0x24BB43B1D8FFF64Eu,
                                 0x24BB43B1D8FFF64Eu,
                                 0x24BB43B1D8FFF64Eu,
                                 0x24BB43B1D8FFF64Eu};
  for (int level = 1; level <= 9; ++level) {
    uint64_t h = 0xCBF29CE484222325u;
    for (const Bytes& input : inputs) {
      const DeflateOutput out = Deflate(input.data(), input.size(), level);
      if (!out.stored_whole) {
        EXPECT_TRUE(ZlibInflatesTo(out.data, input)) << "level " << level;
      }
      for (const uint8_t b : out.data) h = (h ^ b) * 0x100000001B3u;
      h = (h ^ out.data.size()) * 0x100000001B3u;
    }
    EXPECT_EQ(h, expected[level]) << "level " << level;
  }
}

TEST(Deflate, CompressesWithinOnePercentOfZlib) {
  // A weak match finder or a poor Huffman code shows up here first.
  const Bytes headers = SystemHeaders(250000);
  const Bytes text = qbtest::TextLikeBytes(200000, 11);
  Bytes picture;  // a smooth gradient with some texture, like a screenshot row
  const Bytes grain = qbtest::RandomBytes(200000, 12);
  for (size_t i = 0; i < 200000; ++i)
    picture.push_back(static_cast<uint8_t>((i % 3000) / 12 + (grain[i] & 3)));
  for (const Bytes* input : std::vector<const Bytes*>{&headers, &text, &picture}) {
    for (int level : {1, 6, 9}) {
      const size_t ours = Deflate(input->data(), input->size(), level).data.size();
      const size_t theirs = ZlibDeflateSize(*input, level);
      EXPECT_LE(ours, theirs + theirs / 100) << "level " << level << ", " << input->size() << " bytes";
    }
  }
}

}  // namespace
