// The tokenizer, the per-line rules, the carried states and the word lists.
#include <gtest/gtest.h>

#include "highlight/hl_keywords.h"
#include "hl_test_util.h"
#include "support/test_support.h"

namespace qb {
namespace {

using hltest::Letters;
using hltest::StartStates;

std::vector<std::string> Tokens(int style, std::string_view line, bool comments = true) {
  TIParser p(style);
  p.SetReturnComments(comments);
  p.Start(line);
  std::vector<std::string> out;
  TToken t;
  while (p.Next(t)) out.emplace_back(line.substr(t.start, t.end - t.start));
  return out;
}

using V = std::vector<std::string>;

TEST(IParser, SplitsEachStyle) {
  EXPECT_EQ(Tokens(psPascal, "x:=$1F+#13 {a} (*b*) // c"),
            (V{"x", ":", "=", "$1F", "+", "#", "13", "{a}", "(*b*)", "// c"}));
  EXPECT_EQ(Tokens(psPascal, "a } b"), (V{"a", "} b"}));  // a closer without opener runs to the end
  EXPECT_EQ(Tokens(psPascal, "f(a*) g"), (V{"f", "(", "a", "*) g"}));
  EXPECT_EQ(Tokens(psCLike, "1.2.3 /*x*/ a */ b"), (V{"1.2.3", "/*x*/", "a", "*/ b"}));
  EXPECT_EQ(Tokens(psCLike, R"("a\"b" "c\\" d)"), (V{R"("a\"b")", R"("c\\")", "d"}));
  EXPECT_EQ(Tokens(psVisualBasic, R"(x = "C:\" ' note)"), (V{"x", "=", R"("C:\")", "' note"}));
  EXPECT_EQ(Tokens(psPython, "f(x) # c"), (V{"f", "(", "x", ")", "# c"}));
  EXPECT_EQ(Tokens(psPerl, "$x %h &f @a $ $#"), (V{"$x", "%h", "&f", "@a", "$", "$", "#"}));
  EXPECT_EQ(Tokens(psHtml, R"(</a href="x y">t=1 < /b>)"),
            (V{"<", "/", "a", "href", "=", R"("x y")", ">", "t", "=", "1", "<", "/b", ">"}));
  // Tab is not a blank; LF, CR and space are.
  EXPECT_EQ(Tokens(psPascal, "a\tb\r\nc"), (V{"a", "\t", "b", "c"}));
  EXPECT_EQ(Tokens(psPascal, "a {c} (*d*) // e", false), (V{"a"}));
}

TEST(IParser, UnfinishedConstructsSayWhatTheyCarry) {
  auto last_carries = [](int style, std::string_view line) {
    TIParser p(style);
    p.Start(line);
    TToken t, last;
    while (p.Next(t)) last = t;
    EXPECT_EQ(last.end, line.size());
    return static_cast<int>(last.carries);
  };
  EXPECT_EQ(last_carries(psPascal, "a { b"), lsBraceComment);
  EXPECT_EQ(last_carries(psPascal, "a (*) b"), lsStarComment);  // the "*" of "(*" does not close it
  EXPECT_EQ(last_carries(psCLike, "a /*/ b"), lsStarComment);
  EXPECT_EQ(last_carries(psPython, R"(a "b\")"), lsString);
  EXPECT_EQ(last_carries(psPerl, R"(a "b)"), lsString);
  EXPECT_EQ(last_carries(psCLike, R"(a "b)"), lsNone);
  EXPECT_EQ(last_carries(psPascal, "a 'b"), lsNone);
}

TEST(IParser, TokenTextReducesDoubledQuotesButOffsetsCoverTheString) {
  TIParser p(psPascal);
  const std::string line = "x 'it''s' y";
  p.Start(line);
  TToken t;
  ASSERT_TRUE(p.Next(t));
  ASSERT_TRUE(p.Next(t));
  EXPECT_EQ(t.start, 2u);
  EXPECT_EQ(t.end, 9u);
  EXPECT_EQ(p.TokenText(t), "'it's'");
  p.SetStyle(0);  // ignored
  p.SetStyle(7);
  EXPECT_EQ(p.Style(), psPascal);
}

TEST(IParser, OneCharacterTokensKeepUtf8SequencesWhole) {
  EXPECT_EQ(Tokens(psCLike, "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"),
            (V{"\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x98\x80"}));
  EXPECT_EQ(Tokens(psCLike, "\xC3x\x80\xE2\x82"), (V{"\xC3", "x", "\x80", "\xE2\x82"}));
}

TEST(Rules, ReservedWordsFollowEachModesCase) {
  EXPECT_EQ(Letters(hlPascal, "begin BEGIN Begin"), "RRRRR.RRRRR.RRRRR");
  EXPECT_EQ(Letters(hlCBuilder, "while While"), "RRRRR.iiiii");
  EXPECT_EQ(Letters(hlSql, "SELECT select"), "RRRRRR.RRRRRR");
  EXPECT_EQ(Letters(hlVB, "DIM format WRITE"), "RRR.tttttt.ttttt");
  EXPECT_EQ(Letters(hlPerl, "print Print foreach"), "ttttt.iiiii.RRRRRRR");
}

TEST(Rules, HtmlEntitiesNeedAKnownNameBetweenAmpersandAndSemicolon) {
  EXPECT_EQ(Letters(hlHtml, "&amp; &AMP; &bogus; &;amp; &x&lt; &&amp;; &amp"),
            std::string("ppppp.ppppp.") + "........" + "......." + "..pppp." + ".ppppp.." + "....");
}

TEST(Rules, CarriedLinesCloseAndTokenizeTheRest) {
  // The whole line takes the carried colour first, the tokens after the closer then
  // their own; "#" after a carried comment is no directive.
  EXPECT_EQ(Letters(hlPascal, "x } begin", lsBraceComment), "ccccRRRRR");
  EXPECT_EQ(Letters(hlPascal, "x *) begin", lsStarComment), "cccccRRRRR");
  EXPECT_EQ(Letters(hlCBuilder, "#x */ int", lsStarComment), "ccccccRRR");
  EXPECT_EQ(Letters(hlPython, "#\\\" x\" None", lsString), "sssssssnnnn");
  EXPECT_EQ(Letters(hlPython, "no close", lsString), "ssssssss");
  EXPECT_EQ(Letters(hlHtml, "b=\"1\">x", lsTag), "iysssR.");
  // A state the mode cannot carry reads as 0.
  EXPECT_EQ(Letters(hlCBuilder, "int", lsBraceComment), "RRR");
  EXPECT_EQ(Letters(hlVB, "Dim", 200), "RRR");
}

TEST(Rules, EveryCarriedConstructStartsAndEndsWhereTheLexerSaysSo) {
  using S = std::vector<int>;
  EXPECT_EQ(StartStates(hlPascal, "a {b\nc\nd } e\nf"), (S{0, 1, 1, 0}));
  EXPECT_EQ(StartStates(hlPascal, "(* x\ny *) z\n(*)\n*)"), (S{0, 2, 0, 2}));
  EXPECT_EQ(StartStates(hlPascal, "{ x } (* y\n{ z *)\nw"), (S{0, 2, 0}));
  // Line comments and strings hide openers.
  EXPECT_EQ(StartStates(hlPascal, "// {\n'{' '(*'\nx"), (S{0, 0, 0}));
  for (THighLighter m : {hlCBuilder, hlSql, hlJava}) {
    EXPECT_EQ(StartStates(m, "/* a\nb */ c\n/*/\nx */"), (S{0, 2, 0, 2})) << HighLighterName(m);
    EXPECT_EQ(StartStates(m, "// /*\n\"/*\" '/*' \"\\\"/*\"\nx"), (S{0, 0, 0})) << HighLighterName(m);
    // A directive line is not coloured token by token, but its comment does go on.
    EXPECT_EQ(StartStates(m, "#define X /* c\nd */\ne"), (S{0, 2, 0})) << HighLighterName(m);
  }
  for (THighLighter m : {hlPython, hlPerl}) {
    EXPECT_EQ(StartStates(m, "s = \"abc\ndef\" + \"x\ny"), (S{0, 4, 4})) << HighLighterName(m);
    EXPECT_EQ(StartStates(m, "# \"\n'\"' \"a\\\"\nb\\\" \"\nc"), (S{0, 0, 4, 0})) << HighLighterName(m);
  }
  EXPECT_EQ(StartStates(hlHtml, "<a href\nx=\">\"\n>y\na > b <c\n"), (S{0, 5, 5, 0, 5}));
  for (THighLighter m : {hlNone, hlVB, hlIni})
    EXPECT_EQ(StartStates(m, "{ (* /* \" <\nx"), (S{0, 0})) << HighLighterName(m);
}

TEST(Rules, SpansCarryTheColoursOfTheirClass) {
  TLineColorer c;
  c.SetMode(hlPascal);
  std::vector<THLSpan> spans;
  c.ColorLine("{x}", 0, [&](const THLSpan& s) { spans.push_back(s); });
  ASSERT_EQ(spans.size(), 1u);
  EXPECT_EQ(spans[0].attributes, (TSymbolColor{clOlive, clWindow, fsItalic}));
  c.SetColors(TColors::EditorDialog());
  spans.clear();
  c.ColorLine("{x};", 0, [&](const THLSpan& s) { spans.push_back(s); });
  ASSERT_EQ(spans.size(), 2u);
  EXPECT_EQ(spans[0].attributes, (TSymbolColor{clBlue, clWindow, fsItalic}));
  EXPECT_EQ(spans[1].attributes, (TSymbolColor{clBlack, clWindow, fsBold}));
  EXPECT_EQ(ResolveColor(clWindowText), (TRgb{0, 0, 0}));
  EXPECT_EQ(ResolveColor(clOlive), (TRgb{128, 128, 0}));
}

TEST(WordLists, MatchWholeWordsOnly) {
  EXPECT_EQ(WordListSize(TWordList::Sql), 264u);
  EXPECT_EQ(WordListSize(TWordList::HtmlEntity), 188u);
  EXPECT_TRUE(IsWordInList(TWordList::Pascal, "InHeRiTeD"));
  EXPECT_FALSE(IsWordInList(TWordList::Pascal, "inherit"));
  EXPECT_FALSE(IsWordInList(TWordList::Pascal, "begin end"));
  EXPECT_FALSE(IsWordInList(TWordList::Pascal, ""));
  EXPECT_TRUE(IsWordInList(TWordList::Cpp, "__int64"));
  EXPECT_FALSE(IsWordInList(TWordList::Cpp, "Class"));
  EXPECT_TRUE(IsWordInList(TWordList::HtmlEntity, "THERE4"));
  EXPECT_FALSE(IsWordInList(TWordList::PerlFunction, "Print"));
  EXPECT_FALSE(IsWordInList(TWordList::Sql, std::string(100, 'a')));
}

// Marks the bytes that continue a well-formed UTF-8 character (strict decoding).
std::vector<bool> InsideWellFormedCharacter(std::string_view s) {
  std::vector<bool> inside(s.size() + 1, false);
  for (size_t i = 0; i < s.size();) {
    const auto b = [&](size_t k) { return k < s.size() ? static_cast<uint8_t>(s[k]) : uint8_t{0}; };
    const uint8_t c = b(i);
    size_t len = c >= 0xC2 && c <= 0xDF ? 2 : c >= 0xE0 && c <= 0xEF ? 3 : c >= 0xF0 && c <= 0xF4 ? 4 : 1;
    const uint8_t lo = c == 0xE0 ? 0xA0 : c == 0xF0 ? 0x90 : 0x80;
    const uint8_t hi = c == 0xED ? 0x9F : c == 0xF4 ? 0x8F : 0xBF;
    bool ok = len == 1 || (b(i + 1) >= lo && b(i + 1) <= hi);
    for (size_t k = 2; ok && k < len; ++k) ok = (b(i + k) & 0xC0) == 0x80;
    if (!ok) len = 1;
    for (size_t k = 1; k < len; ++k) inside[i + k] = true;
    i += len;
  }
  return inside;
}

// Any bytes, any state: spans tile the line, no UTF-8 character is split, and the
// scan gives a state of the mode.
TEST(Rules, ArbitraryLinesAreSafeAndNeverSplitACharacter) {
  const std::string_view pieces[] = {"{",   "}",    "(*",   "*)",   "/*",       "*/", "//",    "\"",
                                     "'",   "\\",   "#",    "<",    ">",        "=",  "&amp;", "$1F",
                                     "@x",  " ",    "\t",   "0x",   "1.5",      "é",  "€",     "😀",
                                     "def", "None", "\xC3", "\x80", "\xF0\x9F", "\0", ";",     "["};
  uint64_t seed = 7;
  auto next = [&] { return seed ^= seed << 13, seed ^= seed >> 7, seed ^= seed << 17, seed; };
  TStateScanner scanner;
  TLineColorer colorer;
  for (int round = 0; round < 3000; ++round) {
    std::string line;
    const size_t n = next() % 40;
    for (size_t i = 0; i < n; ++i) line += pieces[next() % std::size(pieces)];
    const auto mode = static_cast<THighLighter>(round % kHighLighterCount);
    const auto state = static_cast<uint8_t>(next() % 7);
    colorer.SetMode(mode, static_cast<int>(next() % 6) + 1);
    std::vector<THLSpan> spans;
    colorer.ColorLine(line, state, [&](const THLSpan& s) { spans.push_back(s); });
    ASSERT_EQ(hltest::CheckTiling(spans, line.size()), "") << line;
    const std::vector<bool> inside = InsideWellFormedCharacter(line);
    for (const THLSpan& s : spans) ASSERT_FALSE(inside[s.begin]) << line;
    scanner.SetMode(mode);
    const uint8_t end = scanner.EndState(line, state);
    ASSERT_TRUE(end == 0 || IsStateOfMode(mode, end));
  }
}

TEST(Rules, Utf16OffsetsCountSurrogatePairsAndBadBytes) {
  const std::string line =
      "a\xC3\xA9\xF0\x9F\x98\x80"
      "b\xFF"
      "c";
  EXPECT_EQ(Utf16Offset(line, 0), 0u);
  EXPECT_EQ(Utf16Offset(line, 1), 1u);
  EXPECT_EQ(Utf16Offset(line, 3), 2u);
  EXPECT_EQ(Utf16Offset(line, 7), 4u);
  EXPECT_EQ(Utf16Offset(line, 9), 6u);
  EXPECT_EQ(Utf16Offset(line, 99), 7u);
  std::vector<THLSpan> spans(3);
  spans[0].end = spans[1].begin = 3;
  spans[1].end = spans[2].begin = 7;
  spans[2].end = 10;
  SpansToUtf16(line, spans);
  EXPECT_EQ(spans[1].begin, 2u);
  EXPECT_EQ(spans[1].end, 4u);
  EXPECT_EQ(spans[2].end, 7u);
  // Back from units to bytes; a count inside the surrogate pair ends after it.
  const size_t expected_bytes[] = {0, 1, 3, 7, 7, 8, 9, 10, 10};
  for (size_t units = 0; units < std::size(expected_bytes); ++units)
    EXPECT_EQ(Utf8OffsetOfUtf16(line, units), expected_bytes[units]) << units;
  // Long ASCII stretches (taken a word at a time) around other characters.
  const std::string mixed =
      std::string(21, 'a') + "\xC3\xA9" + std::string(13, 'b') + "\xFF" + std::string(9, 'c');
  for (size_t byte = 0; byte <= mixed.size(); ++byte) {
    if (byte == 22) continue;  // inside the two-byte character
    EXPECT_EQ(Utf8OffsetOfUtf16(mixed, Utf16Offset(mixed, byte)), byte) << byte;
  }
  EXPECT_EQ(Utf16Offset(mixed, mixed.size()), mixed.size() - 1);
}

}  // namespace
}  // namespace qb
