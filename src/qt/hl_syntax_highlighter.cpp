#include "qt/hl_syntax_highlighter.h"

#include <QTextCharFormat>

namespace qb::qt {

THLSyntaxHighlighter::THLSyntaxHighlighter(QTextDocument* document) : QSyntaxHighlighter(document) {
  SetHighLighter(hlNone);
}

void THLSyntaxHighlighter::SetHighLighter(THighLighter mode) {
  mode_ = mode;
  colorer_.SetMode(mode);
  scanner_.SetMode(mode);
  rehighlight();
}

void THLSyntaxHighlighter::SetColors(const TColors& colors) {
  colorer_.SetColors(colors);
  rehighlight();
}

void THLSyntaxHighlighter::SetPalette(const TSystemPalette& palette) {
  palette_ = palette;
  rehighlight();
}

void THLSyntaxHighlighter::highlightBlock(const QString& text) {
  const QByteArray utf8 = text.toUtf8();
  const std::string_view line(utf8.constData(), static_cast<size_t>(utf8.size()));
  const int previous = previousBlockState();
  const uint8_t start = previous < 0 ? 0 : static_cast<uint8_t>(previous);
  colorer_.ColorLine(line, start, [&](const THLSpan& span) {
    const TRgb fore = ResolveColor(span.attributes.ForeColor, palette_);
    const TRgb back = ResolveColor(span.attributes.BackColor, palette_);
    QTextCharFormat format;
    format.setForeground(QColor(fore.r, fore.g, fore.b));
    if (!(span.attributes.BackColor == clWindow)) format.setBackground(QColor(back.r, back.g, back.b));
    const TFontStyles style = span.attributes.Style;
    if (style & fsBold) format.setFontWeight(QFont::Bold);
    format.setFontItalic(style & fsItalic);
    format.setFontUnderline(style & fsUnderline);
    format.setFontStrikeOut(style & fsStrikeOut);
    const auto begin = static_cast<int>(Utf16Offset(line, span.begin));
    const auto end = static_cast<int>(Utf16Offset(line, span.end));
    if (end > begin) setFormat(begin, end - begin, format);
  });
  setCurrentBlockState(scanner_.EndState(line, start));
}

}  // namespace qb::qt
