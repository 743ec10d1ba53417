// A plain-text renderer of the highlighter, for tests and for looking at what the
// rules do: each line of the text is printed with its number and start state, and
// under it one letter per character naming the class the character is coloured in.
//
//      3 s1 |end} x := 'a';
//           |cccc i yy sssy
//
// Letters: c Comment, n Number, s Strings, y Symbol, R Reserved, i Identifer,
// p Preproc, f FunctionCall, d Declaration, t Statement, . PlainText. Spans made of
// blanks only (the gaps between tokens) are shown blank whatever their class. A tab is shown as ">", other
// control bytes and bytes of malformed UTF-8 as "?". A "!" marks a character whose bytes were given different
// classes, which the engine never does.
#pragma once

#include <string>

#include "highlight/hl_engine.h"

namespace qb {

char ColorClassLetter(TColorClass cls);
// The legend of the letters, one line.
std::string DumpLegend();
std::string DumpHighlighting(THLEditor& editor);

}  // namespace qb
