#include "zip/crc32.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <functional>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace qb::zip {
namespace {

uint32_t ZlibCrc(uint32_t crc, const uint8_t* p, size_t n) {
  return static_cast<uint32_t>(crc32(crc, p, static_cast<uInt>(n)));
}

struct Implementation {
  std::string name;
  std::function<uint32_t(uint32_t, const void*, size_t)> fn;
};

// Crc32() itself and every kernel this processor can run.
std::vector<Implementation> Implementations() {
  std::vector<Implementation> all = {{"Crc32", &Crc32}};
  const std::pair<const char*, Crc32Kernel> kernels[] = {{"portable", Crc32Kernel::Portable},
                                                         {"clmul", Crc32Kernel::Clmul},
                                                         {"avx2 clmul", Crc32Kernel::Avx2Clmul},
                                                         {"wide clmul", Crc32Kernel::WideClmul}};
  for (const auto& [name, kernel] : kernels) {
    if (Crc32KernelAvailable(kernel))
      all.push_back(
          {name, [kernel](uint32_t crc, const void* p, size_t n) { return Crc32With(kernel, crc, p, n); }});
  }
  return all;
}

TEST(Crc32Test, KnownVectors) {
  const std::string check = "123456789";
  const std::string fox = "The quick brown fox jumps over the lazy dog";
  const std::vector<uint8_t> zeros(4096, 0);
  const std::vector<uint8_t> ones(4096, 0xFF);
  for (const auto& impl : Implementations()) {
    SCOPED_TRACE(impl.name);
    EXPECT_EQ(impl.fn(0, check.data(), check.size()), 0xCBF43926u);
    EXPECT_EQ(impl.fn(0, fox.data(), fox.size()), 0x414FA339u);
    EXPECT_EQ(impl.fn(0, nullptr, 0), 0u);
    EXPECT_EQ(impl.fn(0x12345678u, nullptr, 0), 0x12345678u);  // nothing fed, nothing changes
    // Long runs exercise the folding path rather than the table tail.
    EXPECT_EQ(impl.fn(0, zeros.data(), zeros.size()), ZlibCrc(0, zeros.data(), zeros.size()));
    EXPECT_EQ(impl.fn(0, ones.data(), ones.size()), ZlibCrc(0, ones.data(), ones.size()));
  }
}

// Every length from 0 to 5000 against zlib, at every start offset modulo 16 so
// that unaligned heads and every tail length of the 8-byte and 16-byte loops occur.
TEST(Crc32Test, MatchesZlibOnEveryLengthAndAlignment) {
  const std::vector<uint8_t> data = qbtest::RandomBytes(5000 + 16, 77);
  for (const auto& impl : Implementations()) {
    SCOPED_TRACE(impl.name);
    for (size_t len = 0; len <= 5000; len += (len < 600 ? 1 : 97)) {
      for (size_t start = 0; start < 16; start += (len < 600 ? 5 : 1)) {
        const uint8_t* p = data.data() + start;
        ASSERT_EQ(impl.fn(0, p, len), ZlibCrc(0, p, len)) << "len " << len << " start " << start;
      }
    }
  }
}

// A nonzero starting value must enter the fold exactly like the table path.
TEST(Crc32Test, ChainsLikeZlib) {
  const std::vector<uint8_t> data = qbtest::RandomBytes(20000, 5);
  const uint32_t whole = ZlibCrc(0, data.data(), data.size());
  for (const auto& impl : Implementations()) {
    SCOPED_TRACE(impl.name);
    for (size_t cut : {size_t{0}, size_t{1}, size_t{7}, size_t{63}, size_t{64}, size_t{65}, size_t{255},
                       size_t{256}, size_t{4097}, size_t{19999}, size_t{20000}}) {
      uint32_t crc = impl.fn(0, data.data(), cut);
      crc = impl.fn(crc, data.data() + cut, data.size() - cut);
      EXPECT_EQ(crc, whole) << "cut at " << cut;
    }
    // Many small uneven pieces.
    uint32_t crc = 0;
    size_t at = 0;
    for (size_t piece = 1; at < data.size(); piece = piece * 3 % 1031 + 1) {
      const size_t n = std::min(piece, data.size() - at);
      crc = impl.fn(crc, data.data() + at, n);
      at += n;
    }
    EXPECT_EQ(crc, whole);
    // Arbitrary starting values, not only results of earlier calls.
    for (uint32_t seed : {0x1u, 0x80000000u, 0xFFFFFFFFu, 0xDEADBEEFu})
      EXPECT_EQ(impl.fn(seed, data.data(), 1000), ZlibCrc(seed, data.data(), 1000)) << seed;
  }
}

TEST(Crc32Test, AllImplementationsAgreeOnLargeInputs) {
  const std::vector<uint8_t> text = qbtest::TextLikeBytes(1 << 20, 9);
  const uint32_t expected = ZlibCrc(0, text.data(), text.size());
  for (const auto& impl : Implementations()) {
    SCOPED_TRACE(impl.name);
    EXPECT_EQ(impl.fn(0, text.data(), text.size()), expected);
    EXPECT_EQ(impl.fn(0, text.data() + 3, text.size() - 3), ZlibCrc(0, text.data() + 3, text.size() - 3));
  }
}

// Long inputs go in sections of two 64 KiB halves read side by side, after a
// head that brings the loads to a 64-byte boundary: lengths on both sides of
// one, two and three sections (of whatever exact size), from two starts,
// chained from a nonzero value.
TEST(Crc32Test, MatchesZlibAroundTheSectionsOfLongInputs) {
  const std::vector<uint8_t> data = qbtest::RandomBytes(3 * 131072 + 1024, 31);
  std::vector<size_t> lengths;
  for (size_t sections = 1; sections <= 3; ++sections)
    for (size_t len = sections * 131072 - 400; len <= sections * 131072 + 400; len += 19)
      lengths.push_back(len);
  for (const auto& impl : Implementations()) {
    SCOPED_TRACE(impl.name);
    for (size_t len : lengths)
      for (size_t start : {size_t{0}, size_t{33}}) {
        const uint8_t* p = data.data() + start;
        ASSERT_EQ(impl.fn(0xDEADBEEFu, p, len), ZlibCrc(0xDEADBEEFu, p, len))
            << "len " << len << " start " << start;
      }
  }
}

}  // namespace
}  // namespace qb::zip
