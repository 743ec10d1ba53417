// THLEditor: the toolkit-free engine of the highlighting editor control. It holds
// the text as lines, the line-start state of every line, the highlighting mode and
// colours, and answers, for any line, the colour of each of its bytes.
//
// Line-start states are kept with two marks instead of being rebuilt whole:
//  - dirty_: the first line whose stored start state may be wrong (all lines before
//    it are right); LineCount() when every state is right.
//  - trust_: from here on the stored states form an unbroken chain, each the end
//    state of the line before it given that line's stored start state. So when a
//    scan at a line d >= trust_ computes the stored value again, every state from
//    d on is right and the scan stops ("converges").
// The lines sit in a gap buffer (TLineStore), so inserting or removing lines moves
// only the lines between this edit and the last one. An edit splices the state array
// (one byte per line), moves the marks to the edited lines and scans
// ahead until the states agree with the old ones again, but no further than a
// fixed budget of bytes; any rest is scanned when a line below is asked for. So a
// keystroke costs the edited lines plus at most the budget, whatever the size of
// the text, and the states always equal those of a full rescan.
// An edit whose inserted and removed text hold no trigger character of the mode,
// and that does not land next to one, cannot change any state and scans nothing.
//
// There are no limits on the number of lines or the length of a line: every line
// keeps its carried state and every column is coloured.
//
// A long line can be coloured in part (LineAttributesIn): the engine keeps, for the
// long lines coloured so, the marks where their colouring can resume (TColorMark),
// and an edit drops those at or after its first column (and those of the lines
// below it when it adds or removes lines).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "highlight/hl_rules.h"
#include "highlight/line_store.h"

namespace qb {

class THLEditor;

// Position in the text: a line and a byte offset in it.
struct TTextPos {
  size_t Line = 0;
  size_t Column = 0;
};

// Lines [First, End) whose colouring may have changed with an edit.
struct TChangedLines {
  size_t First = 0;
  size_t End = 0;
};

// Asked for every token when assigned; setting Reserved makes the token a reserved
// word, and the mode's own rules are then not used.
using TOnReservedWord = std::function<void(THLEditor& Sender, std::string_view Token, bool& Reserved)>;

class THLEditor {
 public:
  // An empty text (one empty line), hlPascal, tokenizer style 1, the control's
  // default colours, LongTokens on.
  THLEditor();
  THLEditor(const THLEditor&) = delete;
  THLEditor& operator=(const THLEditor&) = delete;

  // ---- properties ----
  THighLighter HighLighter() const { return mode_; }
  // A new mode sets the tokenizer style (hlNone keeps it), rescans and repaints.
  void SetHighLighter(THighLighter mode);
  const TColors& Colors() const { return colorer_.Colors(); }
  void SetColors(const TColors& colors);
  bool LongTokens() const { return long_tokens_; }
  void SetLongTokens(bool on);
  const TOnReservedWord& OnReservedWord() const { return on_reserved_word_; }
  void SetOnReservedWord(TOnReservedWord handler);
  // Called whenever the whole control must be repainted (mode, colours, LongTokens).
  void SetOnRepaint(std::function<void()> handler) { on_repaint_ = std::move(handler); }
  // The tokenizer style in use (1 to 6).
  int ParserStyle() const { return parser_style_; }

  // ---- text ----
  size_t LineCount() const { return lines_.size(); }
  // The line's text without its line break; empty beyond the last line.
  std::string_view Line(size_t line) const;
  // Replaces the whole text. Line breaks are LF, CR LF or a lone CR; n breaks make
  // n + 1 lines.
  void SetText(std::string_view text);
  // The lines joined by line_break.
  std::string Text(std::string_view line_break = "\r\n") const;
  // Replaces the text between two positions (clamped to the text, taken in order)
  // with text, which may hold line breaks. Returns the lines to repaint.
  TChangedLines Replace(TTextPos from, TTextPos to, std::string_view text);
  TChangedLines Insert(TTextPos at, std::string_view text) { return Replace(at, at, text); }
  TChangedLines Delete(TTextPos from, TTextPos to) { return Replace(from, to, {}); }

  // ---- states and attributes ----
  // The state at the start of line (0 beyond the last line).
  uint8_t LineStartState(size_t line);
  // Drops every state and computes them all now.
  void Rescan();
  // Colours line: the sink receives its spans in order (see hl_rules.h).
  void LineAttributes(size_t line, const THLSpanSink& sink);
  std::vector<THLSpan> LineSpans(size_t line);
  // Colours the part of line around bytes [from, to): the sink receives, in order,
  // exactly those spans of LineAttributes(line) that overlap [from, to). A line of
  // kMarkedLine bytes or more resumes from a mark at or before from, so the cost is
  // the stretch coloured rather than the line's length.
  void LineAttributesIn(size_t line, size_t from, size_t to, const THLSpanSink& sink);
  static constexpr size_t kMarkedLine = 4 * TLineColorer::kMarkSpacing;
  // How many bytes the colouring's tokenizer has gone over since construction.
  uint64_t BytesTokenized() const { return colorer_.BytesTokenized(); }

  // How many lines the state scan has gone through since construction.
  uint64_t LinesScanned() const { return lines_scanned_; }

  // After an edit, the scan goes at most this many bytes past the edit point before
  // leaving the rest to be scanned on demand.
  static constexpr size_t kEagerScanBytes = 64 * 1024;

 private:
  bool HasStates() const { return long_tokens_ && ModeHasLineStates(mode_); }
  void InvalidateAllStates();
  void EnsureStates(size_t line);
  void ScanStep();
  void Repaint();
  // An edit from (line, column) on: the marks there and after go, and with below
  // those of every later line.
  void DropMarks(size_t line, size_t column, bool below);

  // The marks of long lines coloured in part, and the start state they hold for.
  struct TLineMarks {
    uint8_t start_state = 0;
    std::vector<TColorMark> marks;
  };
  static constexpr size_t kMarkedLines = 256;  // beyond this many lines, all marks go
  std::unordered_map<size_t, TLineMarks> marks_;
  TLineStore lines_;
  std::vector<uint8_t> states_;  // start state per line
  size_t dirty_ = 1;
  size_t trust_ = 1;
  size_t last_changed_ = 0;  // highest line whose state a scan has changed (for Replace's result)
  uint64_t lines_scanned_ = 0;

  THighLighter mode_ = hlPascal;
  int parser_style_ = psPascal;
  bool long_tokens_ = true;
  TOnReservedWord on_reserved_word_;
  std::function<void()> on_repaint_;
  TStateScanner scanner_;
  TLineColorer colorer_;
};

}  // namespace qb
