// THLSyntaxHighlighter: paints a QTextDocument with the highlighting engine.
//
// The engine (THLEditor) is the one the golden files and the edit tests run: it
// keeps its own copy of the text, one line per text block, and every change of the
// document is replayed on it as a replacement of the changed stretch, so the engine
// keeps its line-start states up to date incrementally, scanning only what an edit
// can change. Each block is then coloured from the engine's line and state in one
// pass: the spans come in UTF-8 byte offsets and are turned into the document's
// UTF-16 positions in a single walk over the line.
//
// The block state is the engine's start state of the next line, so Qt's own
// rehighlighting (which goes on to the next block as long as a block's state has
// changed) repaints exactly the lines whose colouring an edit changed.
//
// The copy of the text is checked after every change (line count, and the edit's
// positions against the engine's lines); on any disagreement the engine takes the
// whole text again, so a change Qt reports in an unexpected shape costs time, never
// wrong colours.
#pragma once

#include <QSyntaxHighlighter>
#include <QTextCharFormat>
#include <array>
#include <chrono>
#include <vector>

#include "highlight/hl_colors.h"
#include "highlight/hl_engine.h"

namespace qb::qt {

class THLSyntaxHighlighter : public QSyntaxHighlighter {
  Q_OBJECT
 public:
  explicit THLSyntaxHighlighter(QTextDocument* document);
  ~THLSyntaxHighlighter() override;

  THighLighter HighLighter() const { return engine_.HighLighter(); }
  void SetHighLighter(THighLighter mode);
  void SetColors(const TColors& colors);
  // The system colours clWindow, clWindowText ... resolve to.
  void SetPalette(const TSystemPalette& palette);

  // The engine and its copy of the text (for tests and benchmarks).
  THLEditor& Engine() { return engine_; }
  // How often the engine had to take the whole text again.
  int Resyncs() const { return resyncs_; }
  // How many blocks have been coloured, and the time spent in the adapter (replaying
  // changes on the engine and colouring blocks), for benchmarks.
  uint64_t BlocksColoured() const { return blocks_coloured_; }
  std::chrono::nanoseconds TimeSpent() const { return time_spent_; }

 protected:
  void highlightBlock(const QString& text) override;

 private:
  void MirrorChange(int position, int removed, int added);
  void Resync();
  void BuildFormats();

  QTextDocument* document_;
  QMetaObject::Connection mirror_;
  THLEditor engine_;
  TSystemPalette palette_;
  std::array<QTextCharFormat, kColorClassCount> formats_;
  std::array<bool, kColorClassCount> plain_{};  // painted as the editor's own text: no format needed
  std::vector<THLSpan> spans_;
  int resyncs_ = 0;
  uint64_t blocks_coloured_ = 0;
  std::chrono::nanoseconds time_spent_{0};
};

}  // namespace qb::qt
