// THLSyntaxHighlighter: paints a QTextDocument with the highlighting engine.
//
// The engine (THLEditor) is the one the golden files and the edit tests run: it
// keeps its own copy of the text, one line per text block, and every change of the
// document is replayed on it as a replacement of the changed stretch, so the engine
// keeps its line-start states up to date incrementally, scanning only what an edit
// can change. A block is coloured from the engine's line and start state in one
// pass: the spans come in UTF-8 byte offsets and are turned into the document's
// UTF-16 positions in a single walk over the line, and set as the block layout's
// formats.
//
// Colouring is lazy when a view says which blocks it shows (SetVisibleBlocks): only
// those blocks are coloured, when the text changes and before the view paints
// (ColourVisible), and a block is coloured again only when its text, the mode or
// the colours changed, or when the engine's start state for it is not the one it
// was coloured with. So opening a large text colours one screen, and Qt lays out
// only the blocks it shows. Between those, idle slices carry the engine's state
// scan down the text, so a jump far down finds its states ready. Without a view
// (a bare document) every block is coloured, as each change reaches it.
//
// The block state (userState) of a coloured block is the engine's start state of
// the next line.
//
// The copy of the text is checked after every change (line count, and the edit's
// positions against the engine's lines); on any disagreement the engine takes the
// whole text again, so a change Qt reports in an unexpected shape costs time, never
// wrong colours.
#pragma once

#include <QObject>
#include <QTextBlock>
#include <QTextCharFormat>
#include <QTimer>
#include <array>
#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "highlight/hl_colors.h"
#include "highlight/hl_engine.h"

class QTextDocument;

namespace qb::qt {

class THLSyntaxHighlighter : public QObject {
  Q_OBJECT
 public:
  explicit THLSyntaxHighlighter(QTextDocument* document);
  ~THLSyntaxHighlighter() override;

  THighLighter HighLighter() const { return engine_.HighLighter(); }
  void SetHighLighter(THighLighter mode);
  void SetColors(const TColors& colors);
  // The system colours clWindow, clWindowText ... resolve to.
  void SetPalette(const TSystemPalette& palette);

  // The blocks a view shows, first and last (block numbers); colouring is lazy from
  // then on (see above).
  void SetVisibleBlocks(std::function<std::pair<int, int>()> visible);
  // The columns a view shows, first and last (tab_columns apart the tab stops). A
  // block longer than kLongBlock characters then gets formats only for those
  // columns and kColumnMargin on either side, and is coloured again when the view
  // scrolls beyond them: Qt lays a line out again at every keystroke, and a line
  // of 100 KB with formats all along takes it several times as long. The engine
  // colours only that stretch too, resuming from a mark on the line, so a keystroke
  // in a long line costs the stretch, not the line.
  void SetVisibleColumns(std::function<std::pair<int, int>()> columns, int tab_columns);
  static constexpr int kLongBlock = 4096;
  static constexpr int kColumnMargin = 1024;
  // The text the next change of the document inserts, when the one who makes the
  // change knows it: UTF-8 with LF between blocks, exactly what the document will
  // hold (valid UTF-8, no CR, no block separator of the document's own). The
  // change's text is then not read back from the document, which costs about as
  // much as inserting it. Taken only when its length is the change's; nullopt
  // withdraws it.
  void SetNextInsertedText(std::optional<std::string> text) { next_text_ = std::move(text); }
  // Colours the visible blocks that need it; the view calls it before it paints.
  void ColourVisible();
  // Colours blocks first..last (block numbers) where they need it.
  void ColourBlocks(int first, int last);

  // The engine and its copy of the text (for tests and benchmarks).
  THLEditor& Engine() { return engine_; }
  // How often the engine had to take the whole text again.
  int Resyncs() const { return resyncs_; }
  // How many blocks have been coloured, and the time spent in the adapter (replaying
  // changes on the engine and colouring blocks; CPU time of the thread), for
  // benchmarks.
  uint64_t BlocksColoured() const { return blocks_coloured_; }
  std::chrono::nanoseconds TimeSpent() const { return time_spent_; }

 private:
  void MirrorChange(int position, int removed, int added);
  // Replays a change on the engine (or has it take the whole text).
  void Replay(int position, int removed, int added);
  void Resync();
  // The document's text from position to end, which starts in block, as the engine
  // takes it (UTF-8, LF between blocks); block by block, each in one piece.
  std::string DocumentText(QTextBlock block, int position, int end) const;
  void BuildFormats();
  // Everything is to be coloured again (mode, colours, palette).
  void RecolourAll();
  // Whether block (number n) shows what the engine has for it now, and has
  // formats for the columns on show.
  bool UpToDate(const QTextBlock& block, size_t n);
  // The characters of a long block (UTF-16 positions, end excluded) in the columns
  // on show and margin columns on either side; all of a short block.
  std::pair<int, int> FormattedStretch(const QTextBlock& block, int margin) const;
  // Colours one block; returns whether its end state differs from the one it had.
  bool ColourBlock(QTextBlock& block);
  // Without a view: colours from block first on, past last as long as end states
  // change.
  void ColourEagerly(int first, int last);
  void ScanSlice();

  QTextDocument* document_;
  QMetaObject::Connection mirror_;
  THLEditor engine_;
  TSystemPalette palette_;
  std::array<QTextCharFormat, kColorClassCount> formats_;
  std::array<bool, kColorClassCount> plain_{};  // painted as the editor's own text: no format needed
  std::vector<THLSpan> spans_;
  std::optional<std::string> next_text_;
  std::function<std::pair<int, int>()> visible_;
  std::function<std::pair<int, int>()> columns_;
  int tab_columns_ = 8;
  int generation_ = 1;  // raised when every block must be coloured again
  size_t scanned_ = 0;  // the idle scan has carried the states down to this line
  QTimer scan_timer_;
  int resyncs_ = 0;
  uint64_t blocks_coloured_ = 0;
  std::chrono::nanoseconds time_spent_{0};
};

}  // namespace qb::qt
