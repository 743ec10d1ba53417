// The adapter over the highlighting engine: the engine's colours reach a
// QTextDocument, carried states cross blocks, and the engine's copy of the text
// follows every kind of edit the editor makes (typing, pasting, removing,
// undo and redo), colouring each block as a fresh engine colours the same text.
#include "qt/hl_syntax_highlighter.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QPlainTextDocumentLayout>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextLayout>

#include "highlight/hl_dump.h"

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
  // Closing the comment on line 1 changes line 2 as well: the colouring goes on while
  // the state a block hands on changes.
  QTextCursor cursor(first);
  cursor.movePosition(QTextCursor::EndOfBlock);
  cursor.insertText(" */");
  EXPECT_EQ(document.firstBlock().text().toStdString(), "int a; /* caf\xC3\xA9 */");
  EXPECT_EQ(document.firstBlock().userState(), 0);
  EXPECT_NE(ColorAt(document.firstBlock().next(), 0), QColor(comment.r, comment.g, comment.b));
}

// What a block shows: one letter per UTF-16 unit for the class of its format, "."
// where the block has no format (the editor's own text colour).
std::string BlockLetters(const QTextBlock& block, const TColors& colors) {
  std::string out(static_cast<size_t>(block.length() - 1), '.');
  for (const QTextLayout::FormatRange& range : block.layout()->formats()) {
    char letter = '?';
    for (int c = 0; c < kColorClassCount; ++c) {
      const TSymbolColor& a = colors.Of(static_cast<TColorClass>(c));
      const TRgb fore = ResolveColor(a.ForeColor);
      if (range.format.foreground().color() == QColor(fore.r, fore.g, fore.b) &&
          range.format.fontItalic() == ((a.Style & fsItalic) != 0) &&
          (range.format.fontWeight() == QFont::Bold) == ((a.Style & fsBold) != 0)) {
        letter = ColorClassLetter(static_cast<TColorClass>(c));
        break;
      }
    }
    for (int i = range.start; i < range.start + range.length && i < static_cast<int>(out.size()); ++i)
      out[static_cast<size_t>(i)] = letter;
  }
  return out;
}

// The same for a line coloured by a fresh engine holding the whole text (plain
// classes shown as ".", as the adapter leaves them to the editor).
std::string EngineLetters(THLEditor& engine, size_t line, const TColors& colors) {
  const std::string_view text = engine.Line(line);
  std::vector<THLSpan> spans = engine.LineSpans(line);
  std::vector<TColorClass> classes;
  for (const THLSpan& s : spans) classes.push_back(s.color_class);
  SpansToUtf16(text, spans);
  std::string out(Utf16Offset(text, text.size()), '.');
  for (size_t k = 0; k < spans.size(); ++k) {
    const TSymbolColor& a = colors.Of(classes[k]);
    if (a.ForeColor == clWindowText && a.BackColor == clWindow && a.Style == 0) continue;
    // Classes that look alike show the letter of the first of them, as BlockLetters does.
    int canonical = 0;
    while (!(ResolveColor(colors.Of(static_cast<TColorClass>(canonical)).ForeColor) ==
                 ResolveColor(a.ForeColor) &&
             colors.Of(static_cast<TColorClass>(canonical)).Style == a.Style))
      ++canonical;
    for (size_t i = spans[k].begin; i < spans[k].end; ++i)
      out[i] = ColorClassLetter(static_cast<TColorClass>(canonical));
  }
  return out;
}

struct Rng {
  uint64_t s;
  uint64_t operator()() { return s ^= s << 13, s ^= s >> 7, s ^= s << 17, s; }
  int Below(int n) { return n > 0 ? static_cast<int>((*this)() % static_cast<uint64_t>(n)) : 0; }
};

QString RandomPiece(Rng& rng) {
  static const char* const kPieces[] = {"{",
                                        "}",
                                        "/*",
                                        "*/",
                                        "\"",
                                        "'",
                                        "<",
                                        ">",
                                        "#",
                                        "x",
                                        "ab",
                                        " ",
                                        "\n",
                                        "\r\n",
                                        "(*",
                                        "*)",
                                        "int ",
                                        "caf\xC3\xA9",
                                        "\xF0\x9F\x98\x80",
                                        "\t",
                                        "\xE2\x80\xA8"};
  QString out;
  for (int n = 1 + rng.Below(4); n > 0; --n) out += QString::fromUtf8(kPieces[rng.Below(std::size(kPieces))]);
  return out;
}

TEST(HLSyntaxHighlighter, TheEngineFollowsEveryEditAndColoursLikeAFreshOne) {
  const TColors colors = TColors::EditorDialog();
  for (THighLighter mode : {hlCBuilder, hlPascal, hlPython, hlHtml, hlNone}) {
    QTextDocument document;
    document.setDocumentLayout(new QPlainTextDocumentLayout(&document));
    document.setPlainText(QStringLiteral("int a; /* one\ntwo */ b\n# three\n<a href=\"x\">&amp;"));
    THLSyntaxHighlighter highlighter(&document);
    highlighter.SetColors(colors);
    highlighter.SetHighLighter(mode);
    QCoreApplication::processEvents();
    const int resyncs = highlighter.Resyncs();
    Rng rng{0x9E3779B97F4A7C15ull + mode};
    for (int step = 0; step < 300; ++step) {
      QTextCursor cursor(&document);
      const int size = document.characterCount() - 1;
      cursor.setPosition(rng.Below(size + 1));
      switch (rng.Below(6)) {
        case 0:  // typing
          cursor.insertText(RandomPiece(rng).left(1));
          break;
        case 1:  // pasting over a selection, possibly across lines
          cursor.setPosition(rng.Below(size + 1), QTextCursor::KeepAnchor);
          cursor.insertText(RandomPiece(rng));
          break;
        case 2:  // deleting a stretch
          cursor.setPosition(std::min(size, cursor.position() + rng.Below(8)), QTextCursor::KeepAnchor);
          cursor.removeSelectedText();
          break;
        case 3:
          document.undo();
          break;
        case 4:
          document.redo();
          break;
        default:  // an edit block of several changes, as a paste or an indent makes
          cursor.beginEditBlock();
          cursor.insertText(RandomPiece(rng));
          cursor.setPosition(rng.Below(document.characterCount()));
          cursor.deleteChar();
          cursor.endEditBlock();
          break;
      }
      QCoreApplication::processEvents();
      // The engine holds the document's text, line for line (a half of a surrogate
      // pair, which the document allows, is "?" in both).
      ASSERT_EQ(static_cast<int>(highlighter.Engine().LineCount()), document.blockCount());
      int line = 0;
      for (QTextBlock b = document.firstBlock(); b.isValid(); b = b.next(), ++line)
        ASSERT_EQ(highlighter.Engine().Line(static_cast<size_t>(line)), b.text().toUtf8().toStdString())
            << HighLighterName(mode) << " step " << step << " line " << line;
      // Every block is coloured, and carries the state, as a fresh engine has them.
      THLEditor fresh;
      fresh.SetColors(colors);
      fresh.SetHighLighter(mode);
      fresh.SetText(highlighter.Engine().Text("\n"));
      line = 0;
      for (QTextBlock b = document.firstBlock(); b.isValid(); b = b.next(), ++line) {
        const auto n = static_cast<size_t>(line);
        ASSERT_EQ(BlockLetters(b, colors), EngineLetters(fresh, n, colors))
            << HighLighterName(mode) << " step " << step << " line " << line;
        ASSERT_EQ(b.userState(), fresh.LineStartState(n + 1)) << HighLighterName(mode) << " step " << step;
      }
    }
    // Qt reported every change in a shape the adapter could replay exactly.
    EXPECT_EQ(highlighter.Resyncs(), resyncs) << HighLighterName(mode);
  }
}

// With a view, only the blocks it shows are coloured: opening a long text colours
// one window of it, and after any edit (a comment opened far above, text typed
// inside the window or below it) and any move of the window, every block in the
// window shows what a fresh engine shows, with the state it carries.
TEST(HLSyntaxHighlighter, WithAViewOnlyWhatIsShownIsColouredAndAlwaysRight) {
  const TColors colors = TColors::EditorDialog();
  QTextDocument document;
  document.setDocumentLayout(new QPlainTextDocumentLayout(&document));
  THLSyntaxHighlighter highlighter(&document);
  highlighter.SetColors(colors);
  highlighter.SetHighLighter(hlCBuilder);
  int top = 0;
  constexpr int kWindow = 12;
  highlighter.SetVisibleBlocks([&] { return std::pair(top, top + kWindow); });
  QStringList lines;
  for (int i = 0; i < 3000; ++i)
    lines.append(i % 7 == 0   ? QStringLiteral("/* note %1").arg(i)
                 : i % 7 == 3 ? QStringLiteral("end */ int x%1 = \"s\";").arg(i)
                              : QStringLiteral("int y%1 = f(%1); // c").arg(i));
  const uint64_t before = highlighter.BlocksColoured();
  document.setPlainText(lines.join(QLatin1Char('\n')));
  // One window (setting the text is two changes: the old text out, the new in).
  EXPECT_LE(highlighter.BlocksColoured() - before, static_cast<uint64_t>(2 * (kWindow + 1)));
  EXPECT_TRUE(document.findBlockByNumber(2000).layout()->formats().isEmpty());
  const int resyncs = highlighter.Resyncs();

  Rng rng{42};
  for (int step = 0; step < 400; ++step) {
    QTextCursor cursor(&document);
    const int size = document.characterCount() - 1;
    switch (rng.Below(5)) {
      case 0:  // the window moves
        top = rng.Below(document.blockCount());
        break;
      case 1:  // an edit far above the window (may open or close a comment)
        cursor.setPosition(document.findBlockByNumber(rng.Below(std::max(1, top))).position());
        cursor.insertText(RandomPiece(rng));
        break;
      case 2:  // an edit inside the window
        cursor.setPosition(std::min(size, document.findBlockByNumber(top).position() + rng.Below(200)));
        cursor.insertText(RandomPiece(rng));
        break;
      case 3:
        cursor.setPosition(rng.Below(size + 1));
        cursor.setPosition(std::min(size, cursor.position() + rng.Below(40)), QTextCursor::KeepAnchor);
        cursor.removeSelectedText();
        break;
      default:
        document.undo();
        break;
    }
    highlighter.ColourVisible();
    THLEditor fresh;
    fresh.SetColors(colors);
    fresh.SetHighLighter(hlCBuilder);
    fresh.SetText(highlighter.Engine().Text("\n"));
    ASSERT_EQ(static_cast<int>(fresh.LineCount()), document.blockCount());
    QTextBlock b = document.findBlockByNumber(top);
    for (int line = top; b.isValid() && line <= top + kWindow; b = b.next(), ++line) {
      const auto n = static_cast<size_t>(line);
      ASSERT_EQ(BlockLetters(b, colors), EngineLetters(fresh, n, colors))
          << "step " << step << " line " << line;
      ASSERT_EQ(b.userState(), fresh.LineStartState(n + 1)) << "step " << step << " line " << line;
    }
  }
  EXPECT_EQ(highlighter.Resyncs(), resyncs);
}

// The position of a column in a line whose tabs run to the next multiple of tab.
int PositionOfColumn(const QString& text, int column, int tab) {
  int at = 0;
  for (int i = 0; i < text.size(); ++i) {
    if (at >= column) return i;
    at = text[i] == QLatin1Char('\t') ? (at / tab + 1) * tab : at + 1;
  }
  return static_cast<int>(text.size());
}

// A line of 60 000 characters gets formats only around the columns on show, and
// they are right wherever the view scrolls to and after edits in and before it.
TEST(HLSyntaxHighlighter, ALongLineIsColouredWhereTheViewShowsIt) {
  const TColors colors = TColors::EditorDialog();
  QTextDocument document;
  document.setDocumentLayout(new QPlainTextDocumentLayout(&document));
  THLSyntaxHighlighter highlighter(&document);
  highlighter.SetColors(colors);
  highlighter.SetHighLighter(hlCBuilder);
  constexpr int kTab = 4, kWidth = 100;
  int left = 0;
  highlighter.SetVisibleBlocks([] { return std::pair(0, 3); });
  highlighter.SetVisibleColumns([&] { return std::pair(left, left + kWidth); }, kTab);
  QString line;
  for (int i = 0; line.size() < 60000; ++i)
    line += i % 5 == 0
                ? QStringLiteral("\tx%1 = \"s /* %1\"; /* c\t*/ ").arg(i)
                : QStringLiteral("f(%1, 'c'); // ").arg(i).replace(QStringLiteral("//"), QStringLiteral("+"));
  document.setPlainText(QStringLiteral("int a;\n") + line + QStringLiteral("\nint b;"));

  auto check = [&](const char* what) {
    highlighter.ColourVisible();
    const QTextBlock block = document.findBlockByNumber(1);
    const QString text = block.text();
    const int from = PositionOfColumn(text, left, kTab), to = PositionOfColumn(text, left + kWidth + 1, kTab);
    THLEditor fresh;
    fresh.SetColors(colors);
    fresh.SetHighLighter(hlCBuilder);
    fresh.SetText(highlighter.Engine().Text("\n"));
    const std::string shown = BlockLetters(block, colors), expected = EngineLetters(fresh, 1, colors);
    ASSERT_EQ(shown.size(), expected.size()) << what;
    EXPECT_EQ(shown.substr(static_cast<size_t>(from), static_cast<size_t>(to - from)),
              expected.substr(static_cast<size_t>(from), static_cast<size_t>(to - from)))
        << what << " at column " << left;
    // Far from the view there are no formats.
    for (const QTextLayout::FormatRange& range : block.layout()->formats()) {
      EXPECT_GE(range.start, from - 2 * THLSyntaxHighlighter::kColumnMargin) << what;
      EXPECT_LE(range.start + range.length, to + 2 * THLSyntaxHighlighter::kColumnMargin) << what;
    }
  };
  check("opened");
  for (int column : {500, 1500, 30000, 29000, 65000, 0}) {  // scrolled within and beyond the margins
    left = column;
    check("scrolled");
  }
  left = 40000;
  check("scrolled");
  QTextCursor cursor(&document);
  cursor.setPosition(document.findBlockByNumber(1).position() + PositionOfColumn(line, 40050, kTab));
  cursor.insertText(QStringLiteral("/* opened in view "));
  check("typed in view");
  cursor.setPosition(document.findBlockByNumber(1).position() + 10);
  cursor.insertText(QStringLiteral("\"quote "));
  check("typed before the view");
  document.undo();
  document.undo();
  check("undone");
}

}  // namespace
}  // namespace qb::qt
