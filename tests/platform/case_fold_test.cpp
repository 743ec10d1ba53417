// Case folding: every pair of texts that differ only in letter case folds to the
// same bytes, for the scripts with case beyond ASCII and for the characters whose
// folding changes their length; text without case, and bytes that are not UTF-8,
// pass unchanged.
#include "platform/case_fold.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/codepage.h"

namespace {

using qb::text::CaseFolded;
using qb::text::TFoldedNeedle;

TEST(CaseFold, LettersOfEveryCasedScriptFoldTogether) {
  const std::pair<const char*, const char*> pairs[] = {
      {"HELLO World", "hello world"},
      {"\xC3\x84RGER \xC3\x9C"
       "BER \xC3\x96L",
       "\xC3\xA4rger \xC3\xBC"
       "ber \xC3\xB6l"},  // German umlauts
      {"\xCE\xA3\xCE\x8A\xCE\xA3\xCE\xA5\xCE\xA6\xCE\x9F\xCE\xA3",
       "\xCF\x83\xCE\xAF\xCF\x83\xCF\x85\xCF\x86\xCE\xBF\xCF\x82"},  // Greek, final sigma too
      {"\xD0\x9C\xD0\x9E\xD0\xA1\xD0\x9A\xD0\x92\xD0\x90",
       "\xD0\xBC\xD0\xBE\xD1\x81\xD0\xBA\xD0\xB2\xD0\xB0"},
      {"\xF0\x90\x90\x80", "\xF0\x90\x90\xA8"},  // Deseret, beyond the basic plane
      {"\xE2\x84\xAA", "k"},                     // the Kelvin sign
  };
  for (const auto& [upper, lower] : pairs) EXPECT_EQ(CaseFolded(upper), CaseFolded(lower)) << upper;
}

TEST(CaseFold, FoldingMayChangeTheLength) {
  EXPECT_EQ(CaseFolded("Stra\xC3\x9F"
                       "e"),
            "strasse");
  EXPECT_EQ(CaseFolded("STRASSE"), "strasse");
  EXPECT_EQ(CaseFolded("\xEF\xAC\x81"), "fi");  // the ligature fi
  // Many characters that grow, so the output has to grow past the first guess.
  std::string many;
  for (int i = 0; i < 1000; ++i) many += "\xC3\x9F";
  EXPECT_EQ(CaseFolded(many), std::string(2000, 's'));
}

TEST(CaseFold, TextWithoutCaseAndBrokenBytesPassUnchanged) {
  const std::string uncased = "123 \xE4\xB8\xAD\xE6\x96\x87 \xF0\x9F\x98\x80 -_";
  EXPECT_EQ(CaseFolded(uncased), uncased);
  // A lone continuation byte, a truncated sequence and a byte that is never UTF-8:
  // each copied, and the letters around them still folded.
  EXPECT_EQ(CaseFolded(std::string("A\x80"
                                   "B\xC3") +
                       "C\xFF"
                       "D"),
            std::string("a\x80"
                        "b\xC3") +
                "c\xFF"
                "d");
  EXPECT_EQ(CaseFolded(std::string("X\0Y", 3)), std::string("x\0y", 3));
}

TEST(CaseFold, EveryFoldedTextIsValidUtf8AndFoldsToItself) {
  // Walk the whole code space: folding is idempotent and keeps UTF-8 valid.
  std::string all;
  for (char32_t c = 0x20; c < 0x20000; ++c) {
    if (c >= 0xD800 && c <= 0xDFFF) continue;
    qb::codepage::AppendUtf8(all, c);
  }
  const std::string once = CaseFolded(all);
  EXPECT_TRUE(qb::codepage::IsValidUtf8(once));
  EXPECT_EQ(CaseFolded(once), once);
}

TEST(CaseFold, NeedleFindsTextInAnyCase) {
  std::string scratch;
  EXPECT_TRUE(
      TFoldedNeedle("strasse").FoundIn("An der Stra\xC3\x9F"
                                       "e 3",
                                       scratch));
  EXPECT_TRUE(TFoldedNeedle("\xC3\x9F").FoundIn("GROSS", scratch));
  EXPECT_TRUE(TFoldedNeedle("\xCF\x83\xCE\xAF\xCF\x83").FoundIn("\xCE\xA3\xCE\x8A\xCE\xA3\xCE\xA5", scratch));
  EXPECT_FALSE(TFoldedNeedle("strassen")
                   .FoundIn("Stra\xC3\x9F"
                            "e",
                            scratch));
  EXPECT_TRUE(TFoldedNeedle("").FoundIn("anything", scratch));
  EXPECT_FALSE(TFoldedNeedle("x").FoundIn("", scratch));
}

}  // namespace
