// The engine's colours reach a QTextDocument, and carried states cross blocks.
#include "qt/hl_syntax_highlighter.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextLayout>

namespace qb::qt {
namespace {

// The foreground colour at a position of a block.
QColor ColorAt(const QTextBlock& block, int position) {
  for (const QTextLayout::FormatRange& range : block.layout()->formats())
    if (position >= range.start && position < range.start + range.length)
      return range.format.foreground().color();
  return QColor();
}

TEST(HLSyntaxHighlighter, ColoursCommentsAcrossLinesAndNonAsciiText) {
  QTextDocument document;
  document.documentLayout();  // as in an editor: edits are announced only to a laid-out document
  document.setPlainText(QString::fromUtf8("int a; /* caf\xC3\xA9\nstill comment */ int b;\nint c;"));
  THLSyntaxHighlighter highlighter(&document);
  highlighter.SetColors(TColors::EditorDialog());
  highlighter.SetHighLighter(hlCBuilder);
  QCoreApplication::processEvents();  // the highlighter's own first pass
  const TColors colors = TColors::EditorDialog();
  const TRgb comment = ResolveColor(colors.Comment.ForeColor);
  QTextBlock first = document.firstBlock();
  QTextBlock second = first.next();
  EXPECT_EQ(ColorAt(first, 12), QColor(comment.r, comment.g, comment.b));   // inside "café", after the é
  EXPECT_EQ(ColorAt(second, 0), QColor(comment.r, comment.g, comment.b));   // carried into line 2
  EXPECT_NE(ColorAt(second, 18), QColor(comment.r, comment.g, comment.b));  // "int b" after the closer
  EXPECT_EQ(first.userState(), 2);
  EXPECT_EQ(second.userState(), 0);
  // Closing the comment on line 1 changes line 2 through Qt's own rehighlighting.
  QTextCursor cursor(first);
  cursor.movePosition(QTextCursor::EndOfBlock);
  cursor.insertText(" */");
  EXPECT_EQ(document.firstBlock().text().toStdString(), "int a; /* caf\xC3\xA9 */");
  EXPECT_EQ(document.firstBlock().userState(), 0);
  EXPECT_NE(ColorAt(document.firstBlock().next(), 0), QColor(comment.r, comment.g, comment.b));
}

}  // namespace
}  // namespace qb::qt
