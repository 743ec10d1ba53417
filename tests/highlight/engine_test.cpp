// THLEditor: text edits, the incremental state scan against a full one, trigger
// characters, the lifted limits and hostile bytes.
#include <gtest/gtest.h>

#include "hl_test_util.h"
#include "support/test_support.h"

namespace qb {
namespace {

std::vector<int> States(THLEditor& e) {
  std::vector<int> out;
  for (size_t i = 0; i < e.LineCount(); ++i) out.push_back(e.LineStartState(i));
  return out;
}

std::vector<int> FullScanStates(THighLighter mode, const std::string& text) {
  return hltest::StartStates(mode, text);
}

struct Rng {
  uint64_t s;
  uint64_t operator()() { return s ^= s << 13, s ^= s >> 7, s ^= s << 17, s; }
  size_t Below(size_t n) { return n ? (*this)() % n : 0; }
};

std::string RandomPiece(Rng& rng) {
  static const std::string_view kPieces[] = {"{", "}", "(",  ")", "*",  "/",  "\"", "'",  "\\", "#", "<",
                                             ">", "x", "ab", " ", "\n", "(*", "*)", "/*", "*/", "=", "\r\n"};
  std::string out;
  for (size_t n = 1 + rng.Below(4); n > 0; --n) out += kPieces[rng.Below(std::size(kPieces))];
  return out;
}

TTextPos RandomPos(Rng& rng, THLEditor& e) {
  const size_t line = rng.Below(e.LineCount());
  return {line, rng.Below(e.Line(line).size() + 1)};
}

size_t Offset(THLEditor& e, TTextPos p) {
  size_t off = 0;
  for (size_t i = 0; i < p.Line; ++i) off += e.Line(i).size() + 1;
  return off + p.Column;
}

std::string NormalizeBreaks(std::string s) {
  for (size_t i; (i = s.find("\r\n")) != std::string::npos;) s.erase(i, 1);
  for (char& c : s) c = c == '\r' ? '\n' : c;
  return s;
}

// Random edits (typing, backspacing, pasting, replacing ranges), with lazy queries
// in between, must leave exactly the states of a full scan of the resulting text.
// A big plain text lets openers outrun the eager budget and leave states pending.
void CheckIncrementalAgainstFull(THighLighter mode, size_t lines, bool plain, int edits, uint64_t seed) {
  Rng rng{seed};
  std::string text;
  for (size_t i = 0; i < lines; ++i) text += (plain ? std::string("abc x") : RandomPiece(rng)) + "\n";
  THLEditor e;
  e.SetHighLighter(mode);
  e.SetText(text);
  std::string reference = e.Text("\n");
  for (int i = 0; i < edits; ++i) {
    TTextPos from = RandomPos(rng, e), to = from;
    std::string insert;
    switch (rng.Below(4)) {
      case 0:
        insert = RandomPiece(rng).substr(0, 1);
        break;  // typing
      case 1:
        to.Column = std::min(e.Line(from.Line).size(), from.Column + 1 + rng.Below(3));
        break;
      case 2:
        insert = RandomPiece(rng);
        break;  // pasting
      default:
        to = RandomPos(rng, e), insert = RandomPiece(rng);
        break;  // replacing
    }
    // The same edit on a plain string, as a check of the line store.
    size_t off_from = Offset(e, from), off_to = Offset(e, to);
    if (off_to < off_from) std::swap(off_from, off_to);
    reference.replace(off_from, off_to - off_from, NormalizeBreaks(insert));
    e.Replace(from, to, insert);
    ASSERT_EQ(e.Text("\n"), reference);
    if (rng.Below(2)) e.LineStartState(rng.Below(e.LineCount()));
    if (i % 5 == 0 || lines < 100) {
      ASSERT_EQ(States(e), FullScanStates(mode, e.Text("\n"))) << HighLighterName(mode) << " edit " << i;
    }
  }
}

TEST(Engine, IncrementalRescanEqualsFullRescan) {
  for (THighLighter m : {hlPascal, hlCBuilder, hlSql, hlPython, hlHtml, hlPerl}) {
    CheckIncrementalAgainstFull(m, 30, false, 600, 11 + m);
    CheckIncrementalAgainstFull(m, 20000, true, 80, 97 + m);
  }
}

// With LongTokens off no construct is carried, however the lines came to be: edits
// that add lines (typed, pasted, split) must not let the scan run on the new ones.
TEST(Engine, LongTokensOffCarriesNothingAfterEditsThatAddLines) {
  for (THighLighter m : {hlPascal, hlCBuilder, hlPython, hlHtml}) {
    THLEditor e;
    e.SetHighLighter(m);
    e.SetLongTokens(false);
    e.SetText("a\nb");
    e.Insert({0, 1}, " { (* /* \" <\n{ (* /* \" <\n");
    e.Insert({3, 1}, "\n\n");
    e.Replace({1, 0}, {2, 1}, "{\n");
    std::vector<int> zeros(e.LineCount(), 0);
    EXPECT_EQ(States(e), zeros) << HighLighterName(m);
    // Switching LongTokens on afterwards gives the states of a full scan.
    e.SetLongTokens(true);
    EXPECT_EQ(States(e), FullScanStates(m, e.Text("\n"))) << HighLighterName(m);
  }
}

TEST(Engine, OnlyEditsThatCanChangeAStateScan) {
  THLEditor e;
  e.SetText("begin\n  x := 1;\nend");
  e.Rescan();
  const uint64_t before = e.LinesScanned();
  e.Insert({1, 9}, "2");  // not a trigger character, not next to one
  EXPECT_EQ(e.LinesScanned(), before);
  e.Insert({1, 2}, "*");
  EXPECT_GT(e.LinesScanned(), before);
  // Removing a non-trigger byte can still join a delimiter: "(x*" becomes "(*".
  e.SetText("(x* y\nz");
  EXPECT_EQ(States(e), (std::vector<int>{0, 0}));
  const TChangedLines changed = e.Delete({0, 1}, {0, 2});
  EXPECT_EQ(States(e), (std::vector<int>{0, lsStarComment}));
  EXPECT_EQ(changed.First, 0u);
  EXPECT_EQ(changed.End, 2u);
  // In HTML, "/" right after "<" is a token of its own, so a quote after it opens a string.
  e.SetHighLighter(hlHtml);
  e.SetText("<a/\"x>\ny");
  EXPECT_EQ(States(e), (std::vector<int>{0, 0}));
  e.Delete({0, 1}, {0, 2});
  EXPECT_EQ(States(e), (std::vector<int>{0, lsTag}));
}

TEST(Engine, KeystrokeCostDoesNotGrowWithTheText) {
  // 200 000 lines: far past 65 537, whose states must all stay right.
  std::string text;
  for (int i = 0; i < 200000; ++i) text += "x := y + 1;\n";
  THLEditor e;
  e.SetText(text);
  e.Rescan();
  const size_t last = e.LineCount() - 1;
  const uint64_t before = e.LinesScanned();
  const TChangedLines opened = e.Insert({3, 0}, "{");  // a comment to the end of the text
  const uint64_t eager = e.LinesScanned() - before;
  EXPECT_LE(eager, THLEditor::kEagerScanBytes / 12 + 2);
  EXPECT_EQ(opened.End, e.LineCount());  // the rest is not known yet: repaint it all
  EXPECT_EQ(e.LineStartState(150000), lsBraceComment);
  EXPECT_EQ(e.LineStartState(last), lsBraceComment);
  // Closing it again at line 100 000 converges at once.
  e.Insert({100000, 0}, "}");
  EXPECT_EQ(e.LineStartState(100000), lsBraceComment);
  EXPECT_EQ(e.LineStartState(100001), lsNone);
  EXPECT_EQ(e.LineStartState(last), lsNone);
  const uint64_t mark = e.LinesScanned();
  const TChangedLines typed = e.Insert({50, 2}, "*");
  EXPECT_LE(e.LinesScanned() - mark, 2u);
  EXPECT_EQ(typed.First, 50u);
  EXPECT_EQ(typed.End, 51u);
}

TEST(Engine, ColumnsPastTheOldBufferAreColoured) {
  std::string line;
  while (line.size() < 3000) line += "x := 1; ";
  THLEditor e;
  e.SetText(line + "\n{ end");
  const std::vector<THLSpan> spans = e.LineSpans(0);
  ASSERT_EQ(hltest::CheckTiling(spans, line.size()), "");
  EXPECT_EQ(spans[spans.size() - 3].color_class, TColorClass::Number);
  EXPECT_EQ(e.LineSpans(1).front().color_class, TColorClass::Comment);
}

TEST(Engine, TextEditsSplitJoinAndClamp) {
  THLEditor e;
  e.SetText("one\r\ntwo\rthree\nfour");
  EXPECT_EQ(e.LineCount(), 4u);
  EXPECT_EQ(e.Text("|"), "one|two|three|four");
  e.Replace({2, 3}, {0, 1}, "X\nY");  // positions in either order
  EXPECT_EQ(e.Text("|"), "oX|Yee|four");
  e.Replace({7, 99}, {9, 99}, "!");  // clamped to the end
  EXPECT_EQ(e.Text("|"), "oX|Yee|four!");
  e.Delete({0, 0}, {99, 99});
  EXPECT_EQ(e.LineCount(), 1u);
  EXPECT_EQ(e.Text(), "");
  EXPECT_EQ(e.Line(5), "");
  EXPECT_EQ(e.LineStartState(5), 0);
}

TEST(Engine, PropertiesRescanAndRepaint) {
  THLEditor e;
  int repaints = 0;
  e.SetOnRepaint([&] { ++repaints; });
  e.SetText("a { b\nc");
  EXPECT_EQ(e.HighLighter(), hlPascal);
  EXPECT_EQ(e.LineStartState(1), lsBraceComment);
  e.SetHighLighter(hlPascal);
  EXPECT_EQ(repaints, 0);
  e.SetHighLighter(hlPerl);
  e.SetHighLighter(hlNone);  // keeps the tokenizer style of the previous mode
  EXPECT_EQ(repaints, 2);
  EXPECT_EQ(e.ParserStyle(), psPerl);
  e.SetHighLighter(static_cast<THighLighter>(200));
  EXPECT_EQ(e.HighLighter(), hlNone);
  e.SetHighLighter(hlPascal);
  e.SetLongTokens(false);
  EXPECT_EQ(e.LineStartState(1), lsNone);
  EXPECT_EQ(e.LineSpans(1).front().color_class, TColorClass::Identifer);
  e.SetLongTokens(true);
  EXPECT_EQ(e.LineStartState(1), lsBraceComment);
  e.SetColors(TColors::EditorDialog());
  EXPECT_EQ(e.Colors().Comment.ForeColor, clBlue);
  EXPECT_EQ(repaints, 6);
}

TEST(Engine, OnReservedWordReplacesTheModeRules) {
  THLEditor e;
  e.SetText("begin foo { c } 12 <");
  std::vector<std::string> asked;
  e.SetOnReservedWord([&](THLEditor& sender, std::string_view token, bool& reserved) {
    EXPECT_EQ(&sender, &e);
    asked.emplace_back(token);
    reserved = token == "foo";
  });
  auto letters = [&] {
    std::string out;
    for (const THLSpan& s : e.LineSpans(0)) out.append(s.end - s.begin, ColorClassLetter(s.color_class));
    return out;
  };
  EXPECT_EQ(letters(), "iiiii.RRR.ccccc.nn.y");
  EXPECT_EQ(asked, (std::vector<std::string>{"begin", "foo", "{ c }", "12", "<"}));
  e.SetHighLighter(hlNone);  // tokenized only because the event is assigned; no comments
  EXPECT_EQ(letters(), "iiiii.RRR.iiiii.nn.y");
  e.SetHighLighter(hlHtml);  // no tag rules: "<" is a symbol, the rest plain
  EXPECT_EQ(letters(), "......RRR.y...y.nn.y");
  // A failing handler stops the colouring of the line, quietly.
  e.SetHighLighter(hlPascal);
  e.SetOnReservedWord([](THLEditor&, std::string_view token, bool& reserved) {
    if (token == "{ c }") throw std::runtime_error("handler failed");
    reserved = true;
  });
  EXPECT_EQ(letters(), "RRRRR.RRR...........");
  e.SetOnReservedWord({});
  EXPECT_EQ(letters(), "RRRRR.iii.ccccc.nn.y");
}

TEST(Engine, ArbitraryBytesAndEditsAreSafe) {
  for (int m = 0; m < kHighLighterCount; ++m) {
    THLEditor e;
    e.SetHighLighter(static_cast<THighLighter>(m));
    const std::vector<uint8_t> bytes = qbtest::RandomBytes(4000, 1000 + m);
    e.SetText(std::string(bytes.begin(), bytes.end()));
    Rng rng{static_cast<uint64_t>(m) + 5};
    for (int i = 0; i < 60; ++i) {
      const std::vector<uint8_t> piece = qbtest::RandomBytes(rng.Below(12), rng());
      e.Replace(RandomPos(rng, e), RandomPos(rng, e), std::string(piece.begin(), piece.end()));
    }
    for (size_t line = 0; line < e.LineCount(); ++line)
      ASSERT_EQ(hltest::CheckTiling(e.LineSpans(line), e.Line(line).size()), "");
    ASSERT_EQ(States(e), FullScanStates(static_cast<THighLighter>(m), e.Text("\n")));
  }
}

}  // namespace
}  // namespace qb
