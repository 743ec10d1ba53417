// The highlighter under random edits. Input: a byte choosing the mode (its high bit
// turns long tokens off), a starting text up to a zero byte, then edits: two positions
// (line and column, two bytes each, taken modulo the text), a length byte and the
// text to put between them. After every edit each line's carried state and colours
// must equal those of a full rescan of the same text.
#include <vector>

#include "fuzz_support.h"
#include "highlight/hl_engine.h"

using namespace qb;

namespace {

TTextPos Position(qbfuzz::Input& input, const THLEditor& editor) {
  TTextPos at;
  at.Line = input.Number(2) % editor.LineCount();
  at.Column = input.Number(2) % (editor.Line(at.Line).size() + 1);
  return at;
}

bool SameSpans(const std::vector<THLSpan>& a, const std::vector<THLSpan>& b) {
  if (a.size() != b.size()) return false;
  for (size_t k = 0; k < a.size(); ++k)
    if (a[k].begin != b[k].begin || a[k].end != b[k].end || a[k].color_class != b[k].color_class ||
        !(a[k].attributes == b[k].attributes))
      return false;
  return true;
}

void CompareWithRescan(THLEditor& edited) {
  THLEditor fresh;
  fresh.SetHighLighter(edited.HighLighter());
  fresh.SetLongTokens(edited.LongTokens());
  fresh.SetText(edited.Text("\n"));
  fresh.Rescan();
  QB_FUZZ_CHECK(fresh.LineCount() == edited.LineCount());
  for (size_t line = 0; line < edited.LineCount(); ++line) {
    if (edited.LineStartState(line) != fresh.LineStartState(line)) {
      std::fprintf(stderr, "line %zu: state %d after edits, %d after a rescan\n", line,
                   edited.LineStartState(line), fresh.LineStartState(line));
      std::abort();
    }
    QB_FUZZ_CHECK(SameSpans(edited.LineSpans(line), fresh.LineSpans(line)));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  qbfuzz::Input input(data, size);
  const uint8_t choice = input.Byte();
  THLEditor editor;
  editor.SetHighLighter(HighLighterFromNumber(choice % kHighLighterCount));
  if (choice & 0x80) editor.SetLongTokens(false);
  editor.SetText(input.Until(0));
  CompareWithRescan(editor);
  for (int edits = 0; !input.Empty() && edits < 64; ++edits) {
    const TTextPos from = Position(input, editor), to = Position(input, editor);
    editor.Replace(from, to, input.Text(input.Byte()));
    CompareWithRescan(editor);
  }
  return 0;
}
