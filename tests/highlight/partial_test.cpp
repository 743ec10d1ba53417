// Colouring part of a long line (THLEditor::LineAttributesIn): for every mode, on
// long lines made of the golden samples, at many places and after edits anywhere,
// the part is exactly the whole line's colouring where they overlap, and the state
// scan that resumes from the same marks gives a full scan's states; the marks make
// the cost the stretch coloured.
#include <gtest/gtest.h>

#include "hl_test_util.h"
#include "support/test_support.h"

namespace qb {
namespace {

struct Mode {
  const char* name;
  THighLighter mode;
};
const Mode kModes[] = {
    {"none", hlNone}, {"pascal", hlPascal}, {"cbuilder", hlCBuilder}, {"sql", hlSql},   {"python", hlPython},
    {"java", hlJava}, {"vb", hlVB},         {"html", hlHtml},         {"perl", hlPerl}, {"ini", hlIni},
};

std::vector<std::string> SampleLines(const Mode& m) {
  const std::string text =
      qbtest::ReadFileText(std::string(QB_SOURCE_DIR) + "/tests/highlight/golden/" + m.name + ".src");
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t i = 0; i <= text.size(); ++i) {
    if (i < text.size() && text[i] != '\n') continue;
    if (i > start) lines.push_back(text.substr(start, i - start));
    start = i + 1;
  }
  return lines;
}

// The sample's lines one after the other on one line, over and over, until it is
// longer than bytes; shift starts it that many lines into the sample.
std::string LongLine(const std::vector<std::string>& sample, size_t shift, size_t bytes) {
  std::string line;
  for (size_t i = shift; line.size() < bytes; ++i) line += sample[i % sample.size()] + ' ';
  return line;
}

// The sample's lines with a long line after each, so the long lines start in every
// state the sample carries.
std::string TextOfLongLines(const std::vector<std::string>& sample, size_t bytes) {
  std::string text;
  for (size_t i = 0; i < sample.size(); ++i) text += sample[i] + '\n' + LongLine(sample, i, bytes) + '\n';
  return text;
}

std::string Describe(const std::vector<THLSpan>& spans) {
  std::string out;
  for (const THLSpan& s : spans)
    out += std::to_string(s.begin) + "-" + std::to_string(s.end) + ColorClassLetter(s.color_class) + " ";
  return out;
}

// Colours [from, to) of line in part; it must be the whole colouring's spans that
// overlap [from, to).
void ExpectPartOfWhole(THLEditor& e, size_t line, size_t from, size_t to, const std::string& what) {
  std::vector<THLSpan> part, whole;
  e.LineAttributesIn(line, from, to, [&](const THLSpan& s) { part.push_back(s); });
  for (const THLSpan& s : e.LineSpans(line))
    if (s.end > from && s.begin < to) whole.push_back(s);
  EXPECT_EQ(Describe(part), Describe(whole))
      << what << ": line " << line << " [" << from << ", " << to << ") of " << e.Line(line).size();
}

struct Rng {
  uint64_t s;
  uint64_t operator()() { return s ^= s << 13, s ^= s >> 7, s ^= s << 17, s; }
  size_t Below(size_t n) { return n ? (*this)() % n : 0; }
};

TEST(PartialColouring, IsTheWholeLinesColouringWhereItLooksInEveryMode) {
  for (const Mode& m : kModes) {
    const std::vector<std::string> sample = SampleLines(m);
    ASSERT_FALSE(sample.empty()) << m.name;
    THLEditor e;
    e.SetHighLighter(m.mode);
    e.SetText(TextOfLongLines(sample, 3 * THLEditor::kMarkedLine));
    Rng rng{0x9E3779B97F4A7C15ull ^ m.mode};
    const size_t width = 240;
    // Every long line, at places down the line, back up, and at random.
    for (size_t line = 1; line < e.LineCount(); line += 2) {
      const size_t size = e.Line(line).size();
      for (size_t at = 0; at < size; at += size / 7) ExpectPartOfWhole(e, line, at, at + width, m.name);
      for (size_t k = 5; k > 0; --k)
        ExpectPartOfWhole(e, line, size * k / 5 - std::min(width, size * k / 5), size * k / 5,
                          std::string(m.name) + " backwards");
      for (int i = 0; i < 4; ++i) {
        const size_t at = rng.Below(size);
        ExpectPartOfWhole(e, line, at, at + 1 + rng.Below(3000), std::string(m.name) + " random");
      }
    }
    // Edits anywhere on a long line, many of them openers and closers of comments,
    // strings and tags, and some that add or join lines; after each, places near the
    // edit, before it and far after it.
    static const std::string_view kTyped[] = {"/*", "*/", "{", "}", "(*", "*)", "\"",    "'", "<", ">",
                                              "#",  "//", "x", " ", "\\", "\n", "&amp;", "=", "''"};
    for (int edit = 0; edit < 60; ++edit) {
      const size_t line = 1 + 2 * rng.Below(e.LineCount() / 2);
      const size_t size = e.Line(line).size();
      if (size < THLEditor::kMarkedLine) continue;
      const size_t column = rng.Below(size);
      const std::string_view typed = kTyped[rng.Below(std::size(kTyped))];
      if (rng.Below(4) == 0) {
        e.Delete({line, column}, {line, column + 1 + rng.Below(40)});
      } else {
        e.Insert({line, column}, typed);
      }
      const std::string what = std::string(m.name) + " after edit " + std::to_string(edit);
      // The state scan, which resumes from the marks too, gives a full scan's states.
      if (edit % 6 == 0) {
        std::vector<int> states;
        for (size_t l = 0; l < e.LineCount(); ++l) states.push_back(e.LineStartState(l));
        ASSERT_EQ(states, hltest::StartStates(m.mode, e.Text("\n"))) << what;
      }
      for (size_t l = line; l < std::min(line + 2, e.LineCount()); ++l) {
        const size_t n = e.Line(l).size();
        for (const size_t at :
             {column > 300 ? column - 300 : size_t{0}, column, n / 2, n > 200 ? n - 200 : 0})
          ExpectPartOfWhole(e, l, at, at + width, what);
      }
    }
  }
}

TEST(PartialColouring, ResumesNearTheStretchUnlessAnEditCameBefore) {
  THLEditor e;
  e.SetHighLighter(hlCBuilder);
  e.SetText("int a;\n" + LongLine({"int x = f(\"s\", 'c'); /* note */ y = 2;"}, 0, 100000) + "\nint b;");
  size_t line = 1;
  auto tokenized_for = [&](size_t from, size_t to) {
    const uint64_t before = e.BytesTokenized();
    e.LineAttributesIn(line, from, to, [](const THLSpan&) {});
    return e.BytesTokenized() - before;
  };
  const size_t near = 3 * TLineColorer::kMarkSpacing;  // a mark back, the stretch and a token
  EXPECT_GE(tokenized_for(60000, 60200), 60000u);      // no marks yet: from the line's start
  EXPECT_LT(tokenized_for(60000, 60200), near);
  EXPECT_LT(tokenized_for(59000, 59200), near);
  EXPECT_LT(tokenized_for(50000, 50200), near);  // marks were left all along the way
  // Typing in the stretch keeps the marks before it.
  e.Insert({line, 60100}, "/* ");
  EXPECT_LT(tokenized_for(60000, 60200), near);
  // Typing before it drops those after the edit.
  e.Insert({line, 10}, "\"");
  EXPECT_GE(tokenized_for(60000, 60200), 50000u);
  EXPECT_LT(tokenized_for(60000, 60200), near);
  // So do a line added above (the lines move down) and another mode.
  e.Insert({0, 0}, "\n");
  line = 2;
  EXPECT_GE(tokenized_for(60000, 60200), 50000u);
  EXPECT_LT(tokenized_for(60000, 60200), near);
  e.SetHighLighter(hlJava);
  EXPECT_GE(tokenized_for(60000, 60200), 50000u);
}

// With a reserved-word hook the line is coloured whole, so a hook that fails ends
// the colouring where it does, as for the whole line.
TEST(PartialColouring, AHookColoursTheWholeLine) {
  const std::string half = LongLine({"alpha beta gamma = 1; /* c */"}, 0, 10000);
  THLEditor e;
  e.SetHighLighter(hlCBuilder);
  e.SetText(half + " boom " + half);
  e.SetOnReservedWord([&](THLEditor&, std::string_view token, bool& reserved) {
    if (token == "boom") throw std::runtime_error("hook");
    reserved = token == "beta";
  });
  ExpectPartOfWhole(e, 0, 5000, 5300, "before a failing hook");
  ExpectPartOfWhole(e, 0, 15000, 15300, "after a failing hook");
}

}  // namespace
}  // namespace qb
