// Helpers shared by the highlighting tests.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "highlight/hl_dump.h"

namespace qb::hltest {

// One letter per byte (see hl_dump.h) for line coloured in mode from start_state.
inline std::string Letters(THighLighter mode, std::string_view line, uint8_t start_state = 0) {
  TLineColorer colorer;
  colorer.SetMode(mode);
  std::string out(line.size(), '?');
  colorer.ColorLine(line, start_state, [&](const THLSpan& s) {
    for (size_t i = s.begin; i < s.end; ++i) out[i] = ColorClassLetter(s.color_class);
  });
  return out;
}

// The start state of every line of text in mode, from a full scan.
inline std::vector<int> StartStates(THighLighter mode, std::string_view text) {
  THLEditor e;
  e.SetHighLighter(mode);
  e.SetText(text);
  std::vector<int> out;
  for (size_t i = 0; i < e.LineCount(); ++i) out.push_back(e.LineStartState(i));
  return out;
}

// Checks that spans tile [0, size) in order; returns an empty string or what is wrong.
inline std::string CheckTiling(const std::vector<THLSpan>& spans, size_t size) {
  size_t at = 0;
  for (const THLSpan& s : spans) {
    if (s.begin != at || s.end <= s.begin) return "gap, overlap or empty span at " + std::to_string(at);
    at = s.end;
  }
  return at == size ? "" : "spans end at " + std::to_string(at) + " of " + std::to_string(size);
}

}  // namespace qb::hltest
