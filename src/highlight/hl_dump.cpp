#include "highlight/hl_dump.h"

#include <cstdio>

#include "highlight/hl_chars.h"

namespace qb {

char ColorClassLetter(TColorClass cls) {
  switch (cls) {
    case TColorClass::Comment:
      return 'c';
    case TColorClass::Number:
      return 'n';
    case TColorClass::Strings:
      return 's';
    case TColorClass::Symbol:
      return 'y';
    case TColorClass::Reserved:
      return 'R';
    case TColorClass::Identifer:
      return 'i';
    case TColorClass::Preproc:
      return 'p';
    case TColorClass::FunctionCall:
      return 'f';
    case TColorClass::Declaration:
      return 'd';
    case TColorClass::Statement:
      return 't';
    case TColorClass::PlainText:
      return '.';
  }
  return '?';
}

std::string DumpLegend() {
  std::string out;
  for (int i = 0; i < kColorClassCount; ++i) {
    const auto cls = static_cast<TColorClass>(i);
    if (i > 0) out += "  ";
    out += ColorClassLetter(cls);
    out += ' ';
    out += ColorClassName(cls);
  }
  return out;
}

std::string DumpHighlighting(THLEditor& editor) {
  std::string out;
  std::vector<TColorClass> classes;
  for (size_t n = 0; n < editor.LineCount(); ++n) {
    const std::string_view line = editor.Line(n);
    classes.assign(line.size(), TColorClass::PlainText);
    std::vector<bool> gap(line.size(), false);
    editor.LineAttributes(n, [&](const THLSpan& s) {
      const bool blank_only =
          line.substr(s.begin, s.end - s.begin).find_first_not_of(" \t") == std::string_view::npos;
      for (size_t i = s.begin; i < s.end && i < classes.size(); ++i) {
        classes[i] = s.color_class;
        gap[i] = blank_only;
      }
    });
    char head[32];
    std::snprintf(head, sizeof head, "%5zu s%u |", n + 1, static_cast<unsigned>(editor.LineStartState(n)));
    std::string text = head, marks(std::string(head).size() - 1, ' ');
    marks += '|';
    for (size_t i = 0; i < line.size();) {
      size_t len = hlchars::CharLength(line, i);
      const auto c = static_cast<unsigned char>(line[i]);
      bool same = true;
      for (size_t k = 1; k < len; ++k) same = same && classes[i + k] == classes[i];
      if (c == '\t') {
        text += '>';
      } else if (c < 0x20 || c == 0x7F || (c >= 0x80 && len == 1)) {
        text += '?';
      } else {
        text.append(line.substr(i, len));
      }
      char letter = ColorClassLetter(classes[i]);
      if (gap[i]) letter = ' ';
      marks += same ? letter : '!';
      i += len;
    }
    while (!marks.empty() && marks.back() == ' ') marks.pop_back();
    out += text;
    out += '\n';
    out += marks;
    out += '\n';
  }
  return out;
}

}  // namespace qb
