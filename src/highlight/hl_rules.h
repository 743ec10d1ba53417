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

// A place on a line where its colouring can resume: the tokenizer stands at pos, a
// token boundary, right after the token [prev_start, prev_end) (none when they are
// equal), inside an HTML tag or not. Made by ColorLineIn as it goes along a line;
// it holds for as long as the line's start state and its bytes up to and including
// pos stay the same (a token's end depends on the byte after it, nothing later).
struct TColorMark {
  size_t pos = 0;
  size_t prev_start = 0;
  size_t prev_end = 0;
  bool prev_doubled_quotes = false;
  bool in_tag = false;
};

// Computes the state at the end of a line from the state at its start.
class TStateScanner {
 public:
  explicit TStateScanner(THighLighter mode = hlNone) { SetMode(mode); }
  void SetMode(THighLighter mode);
  THighLighter Mode() const { return mode_; }
  // With resume, a mark of the line's colouring that holds (see TColorMark), the
  // scan starts there.
  uint8_t EndState(std::string_view line, uint8_t start_state, const TColorMark* resume = nullptr);

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
  // Colours only the part of line around bytes [from, to): sink receives, in order,
  // exactly those spans of ColorLine's colouring that overlap [from, to), whole. The
  // tokenizer resumes from the last of marks at or before from (marks made by
  // earlier calls on this line that still hold), and adds a mark every kMarkSpacing
  // bytes past the last one as it goes. So a long line costs what lies between the
  // mark and to, not its length. With a reserved-word hook, and in hlIni, the line
  // is coloured whole (a failing hook ends a line's colouring where it fails).
  void ColorLineIn(std::string_view line, uint8_t start_state, size_t from, size_t to,
                   std::vector<TColorMark>& marks, const THLSpanSink& sink);
  static constexpr size_t kMarkSpacing = 1024;
  // The colour class of each byte of the line last coloured by ColorLine.
  std::vector<TColorClass> LastClasses() const;
  // How many bytes the tokenizer has gone over since construction.
  uint64_t BytesTokenized() const { return bytes_tokenized_; }

 private:
  // What holds for a whole line before its tokens are looked at.
  struct TLinePlan {
    uint8_t start_state = 0;  // the start state, 0 if the mode cannot carry it
    TColorClass line_color = TColorClass::PlainText;
    bool tokenize = false;    // false: the line is line_color throughout
    bool whole_line = false;  // a rule colours the whole line (line_color, or the INI rule)
    size_t from = 0;          // where tokens start: past the carried construct's close
  };
  TLinePlan PlanLine(std::string_view line, uint8_t start_state) const;
  // Extends the cells to the line's positions before end (at most its length);
  // new cells are of the line colour.
  void Cover(size_t end);
  void Fill(size_t begin, size_t end, TColorClass cls);
  // Tokenizes and classifies from mark on, stopping before the first token that
  // starts at or after stop; returns where it stopped (the line's end if no token
  // did). Adds marks when given some.
  size_t TokenizeAndClassify(std::string_view line, const TColorMark& mark, size_t stop,
                             std::vector<TColorMark>* marks);
  // Hands sink the spans of the cells that overlap [from, to).
  void EmitSpans(size_t from, size_t to, const THLSpanSink& sink) const;
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
  size_t cell_base_ = 0;        // the line position of cells_[0]
  size_t line_size_ = 0;
  TColorClass line_color_ = TColorClass::PlainText;
  std::string prev_;  // the previous token's text
  uint64_t bytes_tokenized_ = 0;
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
