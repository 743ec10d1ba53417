#include "qt/hl_syntax_highlighter.h"

#include <QTextBlock>
#include <QTextDocument>
#include <QTextLayout>
#include <ctime>

namespace qb::qt {

namespace {

// The document's text as the engine takes it: UTF-8, blocks separated by LF. The
// document marks block boundaries with U+2029 (and, in frames, U+FDD0 / U+FDD1).
std::string EngineText(QString text) {
  for (QChar& c : text) {
    const char16_t u = c.unicode();
    if (u == 0x2029 || u == 0xFDD0 || u == 0xFDD1) c = QLatin1Char('\n');
  }
  const QByteArray utf8 = text.toUtf8();
  return std::string(utf8.constData(), static_cast<size_t>(utf8.size()));
}

// Adds the time from its construction to its end to a total: the thread's CPU
// time where the system keeps one (a busy machine stretches wall time).
class TStopwatch {
 public:
  explicit TStopwatch(std::chrono::nanoseconds& total) : total_(total), start_(Now()) {}
  ~TStopwatch() { total_ += Now() - start_; }
  TStopwatch(const TStopwatch&) = delete;
  TStopwatch& operator=(const TStopwatch&) = delete;

 private:
  static std::chrono::nanoseconds Now() {
#ifdef CLOCK_THREAD_CPUTIME_ID
    timespec t{};
    if (clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t) == 0)
      return std::chrono::seconds(t.tv_sec) + std::chrono::nanoseconds(t.tv_nsec);
#endif
    return std::chrono::steady_clock::now().time_since_epoch();
  }
  std::chrono::nanoseconds& total_;
  std::chrono::nanoseconds start_;
};

// What a block was coloured with: the generation of the colours and mode, and the
// engine's start state of its line. A block whose text changes is marked stale.
class TColouredBlock : public QTextBlockUserData {
 public:
  int Generation = 0;
  uint8_t StartState = 0;
  // The characters that got formats (all of a short block).
  int From = 0, To = 0;
};

TColouredBlock* ColouredOf(const QTextBlock& block) {
  return static_cast<TColouredBlock*>(block.userData());
}

}  // namespace

THLSyntaxHighlighter::THLSyntaxHighlighter(QTextDocument* document) : QObject(document), document_(document) {
  engine_.SetHighLighter(hlNone);
  BuildFormats();
  Resync();
  mirror_ = connect(document, &QTextDocument::contentsChange, this, &THLSyntaxHighlighter::MirrorChange);
  scan_timer_.setInterval(0);
  connect(&scan_timer_, &QTimer::timeout, this, &THLSyntaxHighlighter::ScanSlice);
  RecolourAll();
}

THLSyntaxHighlighter::~THLSyntaxHighlighter() {
  disconnect(mirror_);
}

void THLSyntaxHighlighter::SetHighLighter(THighLighter mode) {
  if (mode == engine_.HighLighter()) return;
  engine_.SetHighLighter(mode);
  scanned_ = 0;
  RecolourAll();
}

void THLSyntaxHighlighter::SetColors(const TColors& colors) {
  engine_.SetColors(colors);
  BuildFormats();
  RecolourAll();
}

void THLSyntaxHighlighter::SetPalette(const TSystemPalette& palette) {
  palette_ = palette;
  BuildFormats();
  RecolourAll();
}

void THLSyntaxHighlighter::SetVisibleBlocks(std::function<std::pair<int, int>()> visible) {
  visible_ = std::move(visible);
  RecolourAll();
}

void THLSyntaxHighlighter::SetVisibleColumns(std::function<std::pair<int, int>()> columns, int tab_columns) {
  columns_ = std::move(columns);
  tab_columns_ = std::max(1, tab_columns);
  RecolourAll();
}

std::pair<int, int> THLSyntaxHighlighter::FormattedStretch(const QTextBlock& block, int margin) const {
  const int length = std::max(0, block.length() - 1);
  if (!columns_ || length <= kLongBlock) return {0, length};
  const auto [first, last] = columns_();
  const int from_column = first - margin, to_column = last + margin;
  // Columns to positions: a tab runs to the next tab stop, any other character is
  // one column; the characters between tabs are taken in one step.
  const QString text = block.text();
  int from = -1, column = 0, i = 0;
  for (;;) {
    const qsizetype tab = text.indexOf(QLatin1Char('\t'), i);
    const int run_end = tab < 0 || tab >= length ? length : static_cast<int>(tab);
    // Characters i .. run_end - 1 stand at columns column, column + 1 ...
    if (from < 0 && from_column - column < run_end - i) from = i + std::max(0, from_column - column);
    const int beyond = i + std::max(0, to_column - column + 1);  // the first past to_column
    if (beyond <= run_end) return {from < 0 ? beyond : std::min(from, beyond), beyond};
    if (run_end == length) break;
    column += run_end - i;
    i = run_end;  // the tab
    if (from < 0 && column >= from_column) from = i;
    column = (column / tab_columns_ + 1) * tab_columns_;
    ++i;
  }
  return {from < 0 ? length : from, length};
}

void THLSyntaxHighlighter::RecolourAll() {
  ++generation_;
  if (visible_) {
    ColourVisible();
    if (!scan_timer_.isActive()) scan_timer_.start();
  } else {
    ColourEagerly(0, document_->blockCount() - 1);
  }
}

void THLSyntaxHighlighter::BuildFormats() {
  for (int i = 0; i < kColorClassCount; ++i) {
    const TSymbolColor& a = engine_.Colors().Of(static_cast<TColorClass>(i));
    const size_t slot = static_cast<size_t>(i);
    plain_[slot] = a.ForeColor == clWindowText && a.BackColor == clWindow && a.Style == 0;
    QTextCharFormat format;
    const TRgb fore = ResolveColor(a.ForeColor, palette_);
    format.setForeground(QColor(fore.r, fore.g, fore.b));
    if (!(a.BackColor == clWindow)) {
      const TRgb back = ResolveColor(a.BackColor, palette_);
      format.setBackground(QColor(back.r, back.g, back.b));
    }
    if (a.Style & fsBold) format.setFontWeight(QFont::Bold);
    format.setFontItalic(a.Style & fsItalic);
    format.setFontUnderline(a.Style & fsUnderline);
    format.setFontStrikeOut(a.Style & fsStrikeOut);
    formats_[slot] = format;
  }
}

void THLSyntaxHighlighter::Resync() {
  ++resyncs_;
  engine_.SetText(EngineText(document_->toRawText()));
}

// The document replaced the text between position and position + removed by the
// text now between position and position + added. Only the start and the end of
// the new stretch are taken from the document: what lies before position is the
// same in the engine, and so is what lies after the stretch, which fixes the end of
// the replaced text in the engine's lines without trusting the reported counts.
void THLSyntaxHighlighter::MirrorChange(int position, int removed, int added) {
  const TStopwatch stopwatch(time_spent_);
  Replay(position, removed, added);
  next_text_.reset();
  // The blocks the change touched show old colours: they are coloured again,
  // now if they are in view (or there is no view), else when they come into view.
  const int last = std::max(0, document_->characterCount() - 1);
  const int from = std::clamp(position, 0, last);
  const QTextBlock first_block = document_->findBlock(from);
  const QTextBlock end_block = document_->findBlock(std::clamp(from + std::max(0, added), from, last));
  const int a = first_block.isValid() ? first_block.blockNumber() : 0;
  const int e = end_block.isValid() ? end_block.blockNumber() : document_->blockCount() - 1;
  for (QTextBlock block = first_block; block.isValid(); block = block.next()) {
    if (TColouredBlock* data = ColouredOf(block)) data->Generation = 0;
    if (block == end_block) break;
  }
  scanned_ = std::min(scanned_, static_cast<size_t>(a));
  if (visible_) {
    ColourVisible();
    if (!scan_timer_.isActive()) scan_timer_.start();
  } else {
    ColourEagerly(a, e);
  }
}

std::string THLSyntaxHighlighter::DocumentText(QTextBlock block, int position, int end) const {
  std::string text;
  int start = block.position();
  for (; block.isValid() && start < end; block = block.next()) {
    const QString line = block.text();
    const qsizetype from = std::clamp<qsizetype>(position - start, 0, line.size());
    const qsizetype to = std::clamp<qsizetype>(end - start, from, line.size());
    const QByteArray utf8 = QStringView(line).mid(from, to - from).toUtf8();
    text.append(utf8.constData(), static_cast<size_t>(utf8.size()));
    start += block.length();
    if (end >= start) text += '\n';  // the block's separator
  }
  return text;
}

void THLSyntaxHighlighter::Replay(int position, int /*removed*/, int added) {
  const int old_count = static_cast<int>(engine_.LineCount());
  const int count = document_->blockCount();
  const int last = std::max(0, document_->characterCount() - 1);  // the final block separator is not text
  position = std::clamp(position, 0, last);
  int end = std::clamp(position + std::max(0, added), position, last);
  // Whole characters: an edit next to half of a surrogate pair (the document lets a
  // cursor stand between the halves) takes the other half along, so the engine
  // never converts a half on its own that the document has joined again.
  if (position > 0 && document_->characterAt(position - 1).isHighSurrogate()) --position;
  if (end < last && document_->characterAt(end).isLowSurrogate()) ++end;

  // The whole text (the editor's text set anew): taken in one piece.
  if (position == 0 && end == last) return engine_.SetText(EngineText(document_->toRawText()));

  const QTextBlock first_block = document_->findBlock(position);
  const QTextBlock end_block = document_->findBlock(end);
  if (!first_block.isValid() || !end_block.isValid()) return Resync();
  const int a = first_block.blockNumber();
  const int e = end_block.blockNumber();
  const int b = e - (count - old_count);  // the engine line where the replaced text ends
  if (a >= old_count || b < a || b >= old_count) return Resync();

  const std::string_view line_a = engine_.Line(static_cast<size_t>(a));
  const std::string_view line_b = engine_.Line(static_cast<size_t>(b));
  const size_t from = Utf8OffsetOfUtf16(line_a, static_cast<size_t>(position - first_block.position()));
  const size_t suffix_units = static_cast<size_t>(end_block.position() + end_block.length() - 1 - end);
  const size_t line_b_units = Utf16Offset(line_b, line_b.size());
  if (suffix_units > line_b_units) return Resync();
  const size_t to = Utf8OffsetOfUtf16(line_b, line_b_units - suffix_units);
  if (from > line_a.size() || (a == b && to < from)) return Resync();

  std::string inserted;
  if (next_text_ && Utf16Offset(*next_text_, next_text_->size()) == static_cast<size_t>(end - position)) {
    inserted = std::move(*next_text_);
  } else if (end > position) {
    inserted = DocumentText(first_block, position, end);
  }
  engine_.Replace({static_cast<size_t>(a), from}, {static_cast<size_t>(b), to}, inserted);
  if (static_cast<int>(engine_.LineCount()) != count) Resync();
}

bool THLSyntaxHighlighter::UpToDate(const QTextBlock& block, size_t n) {
  const TColouredBlock* data = ColouredOf(block);
  if (!data || data->Generation != generation_ || data->StartState != engine_.LineStartState(n)) return false;
  if (block.length() - 1 <= kLongBlock || !columns_) return true;
  // A long block: the columns on show must lie within what got formats.
  const auto [from, to] = FormattedStretch(block, 0);
  return data->From <= from && data->To >= to;
}

bool THLSyntaxHighlighter::ColourBlock(QTextBlock& block) {
  const auto n = static_cast<size_t>(block.blockNumber());
  ++blocks_coloured_;
  const int length = block.length() - 1;
  if (n >= engine_.LineCount() ||
      Utf16Offset(engine_.Line(n), engine_.Line(n).size()) != static_cast<size_t>(length)) {
    Resync();
    ++generation_;
  }
  if (n >= engine_.LineCount()) return false;

  const auto [from, to] = FormattedStretch(block, kColumnMargin);
  spans_.clear();
  const auto keep = [this](const THLSpan& span) {
    if (!plain_[static_cast<size_t>(span.color_class)]) spans_.push_back(span);
  };
  const std::string_view line = engine_.Line(n);
  if (from == 0 && to == length) {
    engine_.LineAttributes(n, keep);
  } else {  // a long line: only the stretch that gets formats
    engine_.LineAttributesIn(n, Utf8OffsetOfUtf16(line, static_cast<size_t>(from)),
                             Utf8OffsetOfUtf16(line, static_cast<size_t>(to)), keep);
  }
  SpansToUtf16(line, spans_);
  QList<QTextLayout::FormatRange> ranges;
  ranges.reserve(static_cast<qsizetype>(spans_.size()));
  for (const THLSpan& span : spans_) {
    const int begin = std::max(static_cast<int>(span.begin), from);
    const int end = std::min(static_cast<int>(span.end), to);
    if (end > begin) ranges.append({begin, end - begin, formats_[static_cast<size_t>(span.color_class)]});
  }
  // Set without comparing: reading the layout's formats back and comparing them
  // costs more than laying the block out again.
  block.layout()->setFormats(ranges);
  document_->markContentsDirty(block.position(), block.length());
  auto* data = ColouredOf(block);
  if (!data) {
    data = new TColouredBlock;
    block.setUserData(data);
  }
  data->Generation = generation_;
  data->StartState = engine_.LineStartState(n);
  data->From = from;
  data->To = to;
  const int end_state = engine_.LineStartState(n + 1);
  const bool changed = block.userState() != end_state;
  block.setUserState(end_state);
  return changed;
}

void THLSyntaxHighlighter::ColourBlocks(int first, int last) {
  const TStopwatch stopwatch(time_spent_);
  first = std::max(first, 0);
  for (QTextBlock block = document_->findBlockByNumber(first); block.isValid() && block.blockNumber() <= last;
       block = block.next())
    if (!UpToDate(block, static_cast<size_t>(block.blockNumber()))) ColourBlock(block);
}

void THLSyntaxHighlighter::ColourVisible() {
  if (!visible_) return;
  const auto [first, last] = visible_();
  ColourBlocks(first, last);
}

void THLSyntaxHighlighter::ColourEagerly(int first, int last) {
  for (QTextBlock block = document_->findBlockByNumber(std::max(first, 0)); block.isValid();
       block = block.next()) {
    const auto n = static_cast<size_t>(block.blockNumber());
    if (UpToDate(block, n)) {
      if (block.blockNumber() > last) break;  // the colours below are right again
      continue;
    }
    ColourBlock(block);
  }
}

void THLSyntaxHighlighter::ScanSlice() {
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(4);
  const size_t count = engine_.LineCount();
  while (scanned_ < count && std::chrono::steady_clock::now() < until) {
    scanned_ = std::min(count, scanned_ + 256);
    engine_.LineStartState(scanned_ - 1);
  }
  if (scanned_ >= count) scan_timer_.stop();
}

}  // namespace qb::qt
