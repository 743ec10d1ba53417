#include "platform/codepage.h"

#include <gtest/gtest.h>

#include "platform/errors.h"

namespace qb::codepage {
namespace {

TEST(CodePage, Cp437RoundTripsEveryByte) {
  std::string all;
  for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
  std::string utf8 = Cp437ToUtf8(all);
  EXPECT_TRUE(IsValidUtf8(utf8));
  auto back = Utf8ToCp437(utf8);
  ASSERT_TRUE(back.has_value());
  EXPECT_EQ(*back, all);
  EXPECT_FALSE(Utf8ToCp437("\xE2\x82\xAC").has_value());  // the euro sign has no place there
}

TEST(CodePage, LossyCp437MarksEachUnplaceableCharacterAndKeepsWhatFollows) {
  EXPECT_EQ(Utf8ToCp437Lossy("caf\xC3\xA9 \xE2\x82\xAC!"), "caf\x82 ?!");  // the euro: one '?'
  EXPECT_EQ(Utf8ToCp437Lossy("\xF0\x9F\x98\x80x"), "?x");                  // four bytes, one character
  // A byte that starts no valid character is one '?'; the next byte is read afresh.
  EXPECT_EQ(Utf8ToCp437Lossy("\xC3"
                             "A"),
            "?A");
  EXPECT_EQ(Utf8ToCp437Lossy("\xE2\x82"), "??");
  EXPECT_EQ(Utf8ToCp437Lossy("\xED\xA0\x80z"), "???z");  // a surrogate is not a character
  EXPECT_EQ(Utf8ToCp437Lossy(""), "");
}

TEST(CodePage, Utf8ValidationRejectsMalformedSequences) {
  EXPECT_TRUE(IsValidUtf8("plain \xC3\xA9 \xF0\x9F\x98\x80"));
  for (const char* bad :
       {"\xC3", "\xC0\xAF", "\xE0\x80\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xFF", "\x80", "\xE6\x97"}) {
    EXPECT_FALSE(IsValidUtf8(bad)) << bad;
  }
  // Not UTF-8: read as Windows-1252.
  EXPECT_EQ(BytesToUtf8("\x93quoted\x94"), "\xE2\x80\x9Cquoted\xE2\x80\x9D");
  EXPECT_EQ(BytesToUtf8("caf\xC3\xA9"), "caf\xC3\xA9");
}

TEST(CodePage, AsciiFoldingLeavesOtherBytesAlone) {
  EXPECT_TRUE(SameTextAscii("Work\\A", "WORK\\a"));
  EXPECT_FALSE(SameTextAscii("\xC3\xA9", "\xC3\x89"));
  EXPECT_EQ(AsciiLowerCase("AbC\xC3\x89"), "abc\xC3\x89");
}

TEST(Errors, StrToIntAcceptsOnlyWholeNumbers) {
  EXPECT_EQ(StrToInt("42"), 42);
  EXPECT_EQ(StrToInt("-7"), -7);
  for (const char* bad : {"", "1a", " 1", "0x10", "+", "99999999999999999999"}) {
    try {
      StrToInt(bad);
      FAIL() << bad;
    } catch (const EConvertError& e) {
      EXPECT_EQ(std::string(e.what()), std::string("'") + bad + "' is not a valid integer value");
    }
  }
}

}  // namespace
}  // namespace qb::codepage
