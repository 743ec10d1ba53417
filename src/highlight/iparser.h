// TIParser: the tokenizer of the highlighter. It splits one line of text into
// tokens by one of six styles (TParserStyle) and reports each token's byte offsets.
//
// Per token, after skipping blanks (LF, CR, space; not tab):
//  - long tokens first: comments ({ }, (* *), //, /* */, # and ' to the end of the
//    line, by style). An opener whose closer is not on the line, or a closer met
//    without an opener (} and *) in style 1, */ in style 2), makes the token run
//    to the end of the line; an unfinished comment says which line state it leaves
//    open (TToken::carries).
//  - style 5 (HTML): "<", "=", ">" and a "/" right after "<" are one-character
//    tokens, a double quote starts a string to the next double quote (or the line
//    end), anything else runs to the next space, "<", "=", ">".
//  - the other styles: identifiers, digit runs (digits and "."), "$" hex numbers
//    (style 1), "$ % & @" sigils with the identifier after them (style 6),
//    single-quoted strings with doubled quotes inside, double-quoted strings
//    (styles 2-6; a backslash escapes the next byte in styles 2, 3 and 6), and
//    otherwise one character: one byte, or a whole UTF-8 sequence.
// Strings left open at the end of the line run to it; in styles 3 and 6 an open
// double-quoted string carries the string state to the next line.
//
// The parser keeps a view of the line: the line must outlive the calls of Next().
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "highlight/hl_types.h"

namespace qb {

struct TToken {
  size_t start = 0;             // offset of the token's first byte in the line
  size_t end = 0;               // one past its last byte
  uint8_t carries = lsNone;     // the line state an unfinished comment or string leaves open
  bool comment = false;         // a comment (long token); false for a closer without opener
  bool long_token = false;      // made by the long-token rules (a comment or a stray closer)
  bool doubled_quotes = false;  // a single-quoted string holding doubled quotes
};

class TIParser {
 public:
  explicit TIParser(int style = psPascal) { SetStyle(style); }

  int Style() const { return style_; }
  // Styles 1 to 6; any other value leaves the style as it is.
  void SetStyle(int style) {
    if (style >= psPascal && style <= psPerl) style_ = style;
  }
  // Whether comments come back as tokens (the highlighter always wants them);
  // when off they are skipped.
  bool ReturnComments() const { return return_comments_; }
  void SetReturnComments(bool on) { return_comments_ = on; }

  // Starts tokenizing line from byte offset (clamped to the line).
  void Start(std::string_view line, size_t offset = 0) {
    line_ = line;
    pos_ = offset < line.size() ? offset : line.size();
  }
  // The next token; false (and an empty token at the line end) when none is left.
  bool Next(TToken& token);
  // The token's text: its bytes, except that in a single-quoted string each doubled
  // quote is reduced to one. Valid until the next call of TokenText or Start.
  std::string_view TokenText(const TToken& token);

 private:
  bool LongToken(TToken& t) const;
  void ShortToken(TToken& t) const;
  void HtmlToken(TToken& t) const;

  std::string_view line_;
  size_t pos_ = 0;
  int style_ = psPascal;
  bool return_comments_ = true;
  std::string text_;  // scratch for TokenText
};

// Where a double-quoted string whose body starts at from ends: the offset just past
// its closing quote, or npos when the line ends first. With escapes, a backslash
// makes the next byte part of the string.
size_t DoubleQuotedStringEnd(std::string_view line, size_t from, bool escapes);

}  // namespace qb
