// Golden files: for each mode, a source text (golden/<mode>.src) and the dump of its
// colouring (golden/<mode>.dump). Set QB_UPDATE_GOLDEN=1 to rewrite the dumps, then
// review the difference by eye before committing it.
#include <gtest/gtest.h>

#include <cstdlib>

#include "highlight/hl_dump.h"
#include "support/test_support.h"

namespace qb {
namespace {

struct GoldenCase {
  const char* name;
  THighLighter mode;
};

const GoldenCase kCases[] = {
    {"none", hlNone}, {"pascal", hlPascal}, {"cbuilder", hlCBuilder}, {"sql", hlSql},   {"python", hlPython},
    {"java", hlJava}, {"vb", hlVB},         {"html", hlHtml},         {"perl", hlPerl}, {"ini", hlIni},
};

std::string GoldenDir() {
  return std::string(QB_SOURCE_DIR) + "/tests/highlight/golden/";
}

std::string SourceText(const GoldenCase& c) {
  std::string text = qbtest::ReadFileText(GoldenDir() + c.name + ".src");
  if (!text.empty() && text.back() == '\n') text.pop_back();
  return text;
}

std::string Dump(THLEditor& e) {
  return "# " + std::string(HighLighterName(e.HighLighter())) + "\n# " + DumpLegend() + "\n" +
         DumpHighlighting(e);
}

class Golden : public testing::TestWithParam<GoldenCase> {};

TEST_P(Golden, DumpMatches) {
  const GoldenCase& c = GetParam();
  THLEditor e;
  e.SetColors(TColors::EditorDialog());
  e.SetHighLighter(c.mode);
  e.SetText(SourceText(c));
  const std::string dump = Dump(e);
  const std::string path = GoldenDir() + c.name + ".dump";
  if (const char* update = std::getenv("QB_UPDATE_GOLDEN"); update && *update == '1') {
    qbtest::WriteFileText(path, dump);
    GTEST_SKIP() << "rewrote " << path;
  }
  EXPECT_EQ(dump, qbtest::ReadFileText(path));
}

// The same text typed in one character at a time, forwards and then backwards from
// the front, must colour exactly as when it is loaded whole.
TEST_P(Golden, TypedTextColoursLikeLoadedText) {
  const GoldenCase& c = GetParam();
  const std::string text = SourceText(c);
  THLEditor loaded;
  loaded.SetHighLighter(c.mode);
  loaded.SetText(text);
  const std::string expected = Dump(loaded);

  THLEditor forwards;
  forwards.SetHighLighter(c.mode);
  for (char ch : text) {
    const size_t last = forwards.LineCount() - 1;
    forwards.Insert({last, forwards.Line(last).size()}, std::string_view(&ch, 1));
  }
  EXPECT_EQ(Dump(forwards), expected);

  THLEditor backwards;
  backwards.SetHighLighter(c.mode);
  for (size_t i = text.size(); i-- > 0;) {
    backwards.Insert({0, 0}, std::string_view(&text[i], 1));
    backwards.LineStartState(backwards.LineCount() - 1);
  }
  EXPECT_EQ(Dump(backwards), expected);
}

INSTANTIATE_TEST_SUITE_P(Modes, Golden, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<GoldenCase>& test) {
                           return std::string(test.param.name);
                         });

}  // namespace
}  // namespace qb
