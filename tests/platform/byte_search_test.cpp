// FindBytes against memmem: needle lengths around the vector widths, placed at
// every place near the ends of the text and across block boundaries, among many
// false candidates; with this processor's widest compares and with the 16-byte
// ones that processors without AVX2 use.
#include "platform/byte_search.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

namespace {

using qb::text::FindBytes;
using qb::text::FindBytesNarrow;

const char* Reference(const std::string& text, const std::string& needle) {
  return static_cast<const char*>(::memmem(text.data(), text.size(), needle.data(), needle.size()));
}

TEST(FindBytes, AgreesWithMemmemAtEveryPlaceAndLength) {
  for (auto find : {FindBytes, FindBytesNarrow}) {
    std::mt19937 random(7);
    for (size_t length : {1u, 2u, 3u, 7u, 15u, 16u, 17u, 31u, 32u, 33u, 40u}) {
      for (size_t size : {length, length + 1, size_t{47}, size_t{64}, size_t{100}}) {
        if (size < length) continue;
        for (size_t at = 0; at + length <= size; ++at) {
          // Text and needle of four letters: the bytes tested first (the needle's
          // rarest, anywhere in it) pass at many places that fail on the whole.
          std::string text(size, 'a'), needle(length, 'a');
          for (char& c : text) c = "aeqx"[random() % 4];
          for (char& c : needle) c = "aeqx"[random() % 4];
          text.replace(at, length, needle);
          ASSERT_EQ(find(text.data(), text.size(), needle), Reference(text, needle))
              << "length " << length << " size " << size << " at " << at;
          // Cut one byte short of the placed needle: nothing found past the end.
          const std::string cut = text.substr(0, at + length - 1);
          ASSERT_EQ(find(text.data(), cut.size(), needle),
                    Reference(cut, needle) ? text.data() + (Reference(cut, needle) - cut.data()) : nullptr);
        }
      }
    }
  }
}

TEST(FindBytes, EmptyShortAndRepeatedNeedles) {
  const std::string text = "abcabcabd";
  EXPECT_EQ(FindBytes(text.data(), text.size(), ""), text.data());
  EXPECT_EQ(FindBytes(text.data(), 2, "abc"), nullptr);
  EXPECT_EQ(FindBytes(text.data(), text.size(), "abd"), text.data() + 6);
  EXPECT_EQ(FindBytes(text.data(), text.size(), "d"), text.data() + 8);
  const std::string zeros(100, '\0');
  EXPECT_EQ(FindBytes(zeros.data(), zeros.size(), std::string_view("\0\0", 2)), zeros.data());
  // Bytes above 0x7F compare as bytes (UTF-8 of folded text).
  const std::string utf8 = std::string(40, 'x') +
                           "stra\xc3\x9f"
                           "e";
  EXPECT_EQ(FindBytes(utf8.data(), utf8.size(),
                      "\xc3\x9f"
                      "e"),
            utf8.data() + 44);
}

}  // namespace
