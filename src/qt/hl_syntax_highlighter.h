// THLSyntaxHighlighter: paints a QTextDocument with the highlighting engine's rules.
//
// A thin adapter: each text block is one line; the block state is the engine's
// line-start state of the next line, so Qt's own incremental rehighlighting (which
// stops as soon as a block ends in the state it ended in before) does what the
// engine's rescan does. Spans come in UTF-8 byte offsets and are converted to the
// document's UTF-16 positions.
#pragma once

#include <QSyntaxHighlighter>

#include "highlight/hl_colors.h"
#include "highlight/hl_rules.h"

namespace qb::qt {

class THLSyntaxHighlighter : public QSyntaxHighlighter {
  Q_OBJECT
 public:
  explicit THLSyntaxHighlighter(QTextDocument* document);

  THighLighter HighLighter() const { return mode_; }
  void SetHighLighter(THighLighter mode);
  void SetColors(const TColors& colors);
  // The system colours clWindow, clWindowText ... resolve to.
  void SetPalette(const TSystemPalette& palette);

 protected:
  void highlightBlock(const QString& text) override;

 private:
  THighLighter mode_ = hlNone;
  TLineColorer colorer_;
  TStateScanner scanner_;
  TSystemPalette palette_;
};

}  // namespace qb::qt
