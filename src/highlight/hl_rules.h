// The highlighting rules for one line: the carried-state scan and the colouring.
//
// Both work on one line of text (bytes, normally UTF-8, without its line break)
// and the state it starts in, and share one lexer (TIParser), so a construct that
// the colouring shows as open at the end of a line is exactly the one the scan
// carries to the next line:
//  - a Pascal { or (* comment, a C-like /* comment without its closer: states 1, 2;
//  - a Python or Perl double-quoted string without its closing quote: state 4;
//  - an HTML tag whose < has no > after it: state 5.
// Comments to the end of the line and strings of other kinds end with their line.
//
// Colouring output: a sequence of spans that cover the line from byte 0 to its
// end without gaps or overlaps, in order. Columns are byte offsets into the line
// (0-based, end exclusive). A span boundary falls at every token boundary and every
// change of colour class, never inside a UTF-8 character: the bytes of one
// character always get one class. A renderer that counts in UTF-16 code units
// converts with Utf16Offset().
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>

#include "highlight/hl_colors.h"
#include "highlight/iparser.h"

namespace qb {

// Whether state is one that mode can carry; any other state reads as 0.
bool IsStateOfMode(THighLighter mode, uint8_t state);

// Where the construct open at the start of a line ends within it: the offset just
// past its closer ("}" for state 1 in Pascal, "*)" for state 2 in Pascal, "*/" for
// state 2 in the C-like modes, the first unescaped double quote for state 4), or
// npos when it goes on past the line. State 0, state 5 and states the mode cannot
// carry give 0.
size_t FindCarriedClose(THighLighter mode, uint8_t state, std::string_view line);

// Computes the state at the end of a line from the state at its start.
class TStateScanner {
 public:
  explicit TStateScanner(THighLighter mode = hlNone) { SetMode(mode); }
  void SetMode(THighLighter mode);
  THighLighter Mode() const { return mode_; }
  uint8_t EndState(std::string_view line, uint8_t start_state);

 private:
  THighLighter mode_ = hlNone;
  TIParser parser_;
};

// The trigger characters of a mode: the characters whose typing or removal can
// change a carried state (line breaks always can). The engine also rescans when an
// edit lands right next to one of them, since removing "x" from "(x*" makes "(*".
std::string_view TriggerCharacters(THighLighter mode);
bool ContainsTriggerCharacter(THighLighter mode, std::string_view text);

// One coloured stretch of a line: bytes [begin, end) of class color_class, painted
// with attributes (fore colour, back colour, font style).
struct THLSpan {
  size_t begin = 0;
  size_t end = 0;
  TColorClass color_class = TColorClass::PlainText;
  TSymbolColor attributes;
};
using THLSpanSink = std::function<void(const THLSpan&)>;

// Called with each token when assigned; returns whether the token is a reserved word.
using TReservedWordHook = std::function<bool(std::string_view token)>;

// Colours lines by the rules of one mode. Holds the buffers it needs and reuses
// them, so colouring does not allocate once they have grown to the longest line.
class TLineColorer {
 public:
  TLineColorer() = default;

  // parser_style is the tokenizer style for hlNone (which has none of its own);
  // the other modes use theirs.
  void SetMode(THighLighter mode, int parser_style = psPascal);
  THighLighter Mode() const { return mode_; }
  void SetColors(const TColors& colors) { colors_ = colors; }
  const TColors& Colors() const { return colors_; }
  void SetReservedWordHook(TReservedWordHook hook) { hook_ = std::move(hook); }
  bool HasReservedWordHook() const { return static_cast<bool>(hook_); }

  // Colours line, which starts in start_state, and hands its spans to sink. A hook
  // that throws stops the colouring of the line; what was not coloured yet keeps
  // the line colour, and the exception does not pass.
  void ColorLine(std::string_view line, uint8_t start_state, const THLSpanSink& sink);
  // The colour class of each byte of the line last coloured.
  std::vector<TColorClass> LastClasses() const;

 private:
  void Fill(size_t begin, size_t end, TColorClass cls);
  void TokenizeAndClassify(std::string_view line, size_t from, uint8_t start_state);
  void ApplyIniRule(std::string_view line);
  TColorClass Classify(std::string_view text, std::string_view prev, int next, bool& in_tag) const;
  TColorClass GenericClass(std::string_view text, std::string_view prev) const;
  void ColorEntities(std::string_view line, const TToken& token);

  THighLighter mode_ = hlNone;
  int parser_style_ = psPascal;
  TColors colors_;
  TReservedWordHook hook_;
  TIParser parser_;
  std::vector<uint8_t> cells_;  // per byte: class, with kSegmentStart where a new span must begin
  std::string prev_;            // the previous token's text
};

// The offset in UTF-16 code units that the byte offset of a UTF-8 line maps to. A
// byte that does not belong to a well-formed sequence counts as one unit (the
// replacement character a decoder puts in its place).
size_t Utf16Offset(std::string_view line, size_t byte_offset);
// Converts the offsets of spans (in order, as ColorLine gives them) from bytes to
// UTF-16 code units in one pass over the line.
void SpansToUtf16(std::string_view line, std::vector<THLSpan>& spans);
// The other way: the byte offset at which the first units UTF-16 code units of the
// line end (counted as Utf16Offset counts them); a count that ends inside a
// surrogate pair gives the offset after its character, a count past the line its
// length.
size_t Utf8OffsetOfUtf16(std::string_view line, size_t units);

}  // namespace qb
