// The vocabulary of the highlighter: modes, tokenizer styles, colour classes and
// the carried line-start states.
//
// A line of text is coloured by one of ten modes (THighLighter). Each mode lexes
// with one of six tokenizer styles of TIParser. The result of colouring is a colour
// class per byte of the line (TColorClass); TColors maps a class to colours and a
// font style. A comment, string or tag left open at the end of a line is carried
// to the next one as a one-byte line-start state.
#pragma once

#include <cstdint>
#include <string_view>

namespace qb {

// Highlighting mode, stored as one byte; the text editor dialog selects it by the
// tag of a menu item (0 to 9, the values below).
enum THighLighter : uint8_t {
  hlNone = 0,
  hlPascal = 1,
  hlCBuilder = 2,
  hlSql = 3,
  hlPython = 4,
  hlJava = 5,
  hlVB = 6,
  hlHtml = 7,
  hlPerl = 8,
  hlIni = 9,
};
inline constexpr int kHighLighterCount = 10;

// The mode for a menu tag; any number outside 0..9 gives hlNone.
constexpr THighLighter HighLighterFromNumber(int number) {
  return number >= 0 && number < kHighLighterCount ? static_cast<THighLighter>(number) : hlNone;
}

// "hlPascal" and so on; "hlNone" for a value outside the enumeration.
std::string_view HighLighterName(THighLighter mode);

// Tokenizer styles of TIParser.
enum TParserStyle : uint8_t {
  psPascal = 1,       // { } and (* *) comments, // line comments, $hex numbers
  psCLike = 2,        // /* */ and // comments, "strings"
  psPython = 3,       // # line comments
  psVisualBasic = 4,  // ' line comments
  psHtml = 5,         // < = > and attribute runs
  psPerl = 6,         // # line comments, $ % & @ sigils
};

// The tokenizer style a mode lexes with; hlNone has none of its own and keeps
// whatever style the tokenizer had (returns 0), hlIni is not tokenized (style 1).
constexpr int ParserStyleFor(THighLighter mode) {
  switch (mode) {
    case hlNone:
      return 0;
    case hlPascal:
      return psPascal;
    case hlCBuilder:
    case hlSql:
    case hlJava:
      return psCLike;
    case hlPython:
      return psPython;
    case hlVB:
      return psVisualBasic;
    case hlHtml:
      return psHtml;
    case hlPerl:
      return psPerl;
    case hlIni:
      return psPascal;
  }
  return 0;
}

// Line-start states: what construct is open at the start of a line.
enum TLineState : uint8_t {
  lsNone = 0,
  lsBraceComment = 1,  // Pascal { ... }
  lsStarComment = 2,   // Pascal (* ... *), C-like /* ... */
  lsString = 4,        // Python and Perl "... across lines
  lsTag = 5,           // HTML < ... > across lines
};

// Whether a mode carries any construct from one line to the next.
constexpr bool ModeHasLineStates(THighLighter mode) {
  return mode != hlNone && mode != hlIni && mode != hlVB && mode < kHighLighterCount;
}

// The colour classes, in the order of TColors' properties. The names are the
// properties' names ("Identifer" included).
enum class TColorClass : uint8_t {
  Comment,
  Number,
  Strings,
  Symbol,
  Reserved,
  Identifer,
  Preproc,
  FunctionCall,
  Declaration,
  Statement,
  PlainText,
};
inline constexpr int kColorClassCount = 11;

std::string_view ColorClassName(TColorClass cls);

}  // namespace qb
