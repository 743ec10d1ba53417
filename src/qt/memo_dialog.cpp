#include "qt/memo_dialog.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QFontDatabase>
#include <QFontInfo>
#include <QKeySequence>
#include <QMenu>
#include <QPaintEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextLayout>
#include <QVBoxLayout>
#include <algorithm>
#include <map>

#include "qt/hl_syntax_highlighter.h"
#include "qt/qt_interaction.h"
#include "qt/qt_text.h"

namespace qb::qt {

namespace {

// Tab stops "a b c": stops at those columns, then on at the last interval.
QList<QTextOption::Tab> TabStopsOf(std::string_view text, qreal char_width, int columns = 256) {
  std::vector<int> stops;
  int value = -1;
  for (size_t i = 0; i <= text.size(); ++i) {
    const char c = i < text.size() ? text[i] : ' ';
    if (c >= '0' && c <= '9') {
      value = std::min(value < 0 ? 0 : value, 100000) * 10 + (c - '0');
    } else if (value >= 0) {
      if (value > 0 && (stops.empty() || value > stops.back())) stops.push_back(value);
      value = -1;
    }
  }
  if (stops.empty()) stops.push_back(8);
  const int step = stops.size() > 1 ? stops.back() - stops[stops.size() - 2] : stops.back();
  while (stops.back() + step <= columns) stops.push_back(stops.back() + step);
  QList<QTextOption::Tab> tabs;
  for (int s : stops) tabs.append(QTextOption::Tab(s * char_width, QTextOption::LeftTab));
  return tabs;
}

// The end of the piece of lines that starts at line from and costs at most cost
// (one line at least).
size_t PieceEnd(const std::vector<std::string>& lines, size_t from, size_t cost) {
  size_t end = from, spent = 0;
  while (end < lines.size()) {
    spent += lines[end].size() + TMemoEditor::kLineCost;
    if (spent > cost && end > from) break;
    ++end;
  }
  return end;
}

// Lines [from, to) joined by LF, after one LF when they go after others.
QString JoinedLines(const std::vector<std::string>& lines, size_t from, size_t to, bool after_others) {
  size_t size = 0;
  for (size_t i = from; i < to; ++i) size += lines[i].size() + 1;
  QString text;
  text.reserve(static_cast<qsizetype>(std::min<size_t>(size, size_t{1} << 30)));
  for (size_t i = from; i < to; ++i) {
    if (i > from || after_others) text += QLatin1Char('\n');
    text += FromUtf8(lines[i]);
  }
  return text;
}

// Whether the document holds line exactly as it is, as one block: valid UTF-8
// without CR, a block separator (U+2029, U+FDD0, U+FDD1) or a byte order mark.
bool KeptAsIs(std::string_view line) {
  const auto at = [&](size_t i) { return static_cast<unsigned char>(line[i]); };
  for (size_t i = 0; i < line.size();) {
    const unsigned char c = at(i);
    if (c < 0x80) {
      if (c == '\r') return false;
      ++i;
      continue;
    }
    size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;
    if (c >= 0xC2 && c <= 0xDF) {
      length = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
      length = 3;
      low = c == 0xE0 ? 0xA0 : low;
      high = c == 0xED ? 0x9F : high;
    } else if (c >= 0xF0 && c <= 0xF4) {
      length = 4;
      low = c == 0xF0 ? 0x90 : low;
      high = c == 0xF4 ? 0x8F : high;
    } else {
      return false;
    }
    if (i + length > line.size() || at(i + 1) < low || at(i + 1) > high) return false;
    for (size_t k = 2; k < length; ++k)
      if ((at(i + k) & 0xC0) != 0x80) return false;
    if (length == 3) {
      const unsigned c1 = at(i + 1), c2 = at(i + 2);
      if (c == 0xE2 && c1 == 0x80 && c2 == 0xA9) return false;                  // U+2029
      if (c == 0xEF && c1 == 0xB7 && (c2 == 0x90 || c2 == 0x91)) return false;  // U+FDD0, U+FDD1
      if (c == 0xEF && c1 == 0xBB && c2 == 0xBF) return false;                  // U+FEFF
    }
    i += length;
  }
  return true;
}

// How long a slice of a text being loaded should take.
constexpr qint64 kLoadSliceNs = 20'000'000;

}  // namespace

QPixmap BookmarkMarkPixmap(int n, int size, qreal dpr) {
  size = std::clamp(size, 1, 256);
  if (!(dpr > 0 && dpr <= 16)) dpr = 1.0;
  QPixmap pixmap(QSize(size, size) * dpr);
  pixmap.setDevicePixelRatio(dpr);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  // A ribbon with a notch at its foot, one pixel in from the left edge (the gutter
  // places the image one pixel left of its edge).
  const qreal left = size / 15.0 * 1.5, right = size - size / 15.0 * 0.5;
  const qreal top = 0.5, bottom = size - 0.5, notch = size / 15.0 * 3.5;
  QPainterPath ribbon;
  ribbon.moveTo(left, top);
  ribbon.lineTo(right, top);
  ribbon.lineTo(right, bottom);
  ribbon.lineTo((left + right) / 2, bottom - notch);
  ribbon.lineTo(left, bottom);
  ribbon.closeSubpath();
  p.setPen(QPen(QColor(0x1d, 0x4f, 0x91), 1.0));
  p.setBrush(QColor(0x35, 0x84, 0xe4));
  p.drawPath(ribbon);
  QFont font = QApplication::font();
  font.setBold(true);
  font.setPixelSize(std::max(1, size * 10 / 15));
  p.setFont(font);
  p.setPen(Qt::white);
  const QString digit = n >= 0 && n <= 9 ? QString(QChar('0' + n)) : QStringLiteral("?");
  p.drawText(QRectF(left, 0, right - left, bottom - notch + 1), Qt::AlignCenter, digit);
  return pixmap;
}

QFont MemoEditorFont() {
  for (const char* family : {"Courier New", "Liberation Mono", "Cousine"}) {
    QFont font(QString::fromLatin1(family));
    font.setPixelSize(memo_form::kFontHeight);
    if (QFontInfo(font).family().compare(QString::fromLatin1(family), Qt::CaseInsensitive) == 0) return font;
  }
  QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  font.setStyleHint(QFont::TypeWriter);
  return font;
}

// --- the gutter --------------------------------------------------------------------

class TMemoGutter : public QWidget {
 public:
  explicit TMemoGutter(TMemoEditor* editor) : QWidget(editor), editor_(editor) {}
  QSize sizeHint() const override { return QSize(memo_form::kGutterWidth, 0); }

 protected:
  void paintEvent(QPaintEvent* event) override { editor_->PaintGutter(event); }

 private:
  TMemoEditor* editor_;
};

// --- the editor --------------------------------------------------------------------

TMemoEditor::TMemoEditor(QWidget* parent) : QPlainTextEdit(parent) {
  setObjectName(QStringLiteral("Memo1"));
  setLineWrapMode(QPlainTextEdit::NoWrap);
  setFont(MemoEditorFont());
  QTextOption option = document()->defaultTextOption();
  option.setTabs(TabStopsOf(memo_form::kTabStops, QFontMetricsF(font()).horizontalAdvance(QLatin1Char(' '))));
  document()->setDefaultTextOption(option);
  gutter_ = new TMemoGutter(this);
  setViewportMargins(memo_form::kGutterWidth, 0, 0, 0);
  highlighter_ = new THLSyntaxHighlighter(document());
  ApplyPalette();
  // Only the blocks on show, and a few beyond, are coloured.
  highlighter_->SetVisibleBlocks([this] {
    constexpr int kNearLines = 8;
    const QTextBlock top = firstVisibleBlock();
    const int first = top.isValid() ? top.blockNumber() : 0;
    const int lines = viewport()->height() / std::max(1, fontMetrics().height()) + 1;
    return std::pair(std::max(0, first - kNearLines), first + lines + kNearLines);
  });
  // The font is fixed-pitch and lines are not wrapped: the columns on show follow
  // from the horizontal scroll position.
  highlighter_->SetVisibleColumns(
      [this] {
        const int advance = std::max(1, fontMetrics().horizontalAdvance(QLatin1Char('x')));
        const int first = horizontalScrollBar()->value() / advance;
        return std::pair(first, first + viewport()->width() / advance + 1);
      },
      static_cast<int>(tabStopDistance()) / std::max(1, fontMetrics().horizontalAdvance(QLatin1Char('x'))));
  connect(this, &QPlainTextEdit::updateRequest, gutter_, [this](const QRect& rect, int dy) {
    if (dy != 0)
      gutter_->update();
    else
      gutter_->update(0, rect.y(), gutter_->width(), rect.height());
  });
  connect(document(), &QTextDocument::contentsChange, this, &TMemoEditor::OnContentsChange);
  connect(this, &QPlainTextEdit::cursorPositionChanged, this,
          [this] { wanted_column_ = textCursor().positionInBlock(); });
  block_count_ = document()->blockCount();
  load_timer_.setInterval(0);
  connect(&load_timer_, &QTimer::timeout, this, &TMemoEditor::LoadSlice);
}

TMemoEditor::~TMemoEditor() = default;

void TMemoEditor::paintEvent(QPaintEvent* event) {
  highlighter_->ColourVisible();
  QPlainTextEdit::paintEvent(event);
}

void TMemoEditor::keyPressEvent(QKeyEvent* event) {
  FinishLoading();
  QPlainTextEdit::keyPressEvent(event);
}

void TMemoEditor::inputMethodEvent(QInputMethodEvent* event) {
  FinishLoading();
  QPlainTextEdit::inputMethodEvent(event);
}

void TMemoEditor::insertFromMimeData(const QMimeData* source) {
  FinishLoading();
  QPlainTextEdit::insertFromMimeData(source);
}

void TMemoEditor::SetLines(const std::vector<std::string>& lines) {
  SetLines(std::make_shared<const std::vector<std::string>>(lines));
}

void TMemoEditor::SetLines(std::shared_ptr<const std::vector<std::string>> lines) {
  load_timer_.stop();
  pending_.reset();
  if (!lines) lines = std::make_shared<const std::vector<std::string>>();
  const size_t first = PieceEnd(*lines, 0, kFirstPieceCost);
  setPlainText(JoinedLines(*lines, 0, first, false));
  block_count_ = document()->blockCount();
  if (first < lines->size()) {
    pending_ = std::move(lines);
    next_line_ = first;
    slice_cost_ = kFirstPieceCost;
    load_timer_.start();
  }
}

void TMemoEditor::AppendLines(size_t from, size_t to) {
  QTextDocument* doc = document();
  const bool modified = doc->isModified();
  const bool undo = doc->isUndoRedoEnabled();
  // The user's cursor keeps its place, also where it stands at the end.
  const QTextCursor user = textCursor();
  const int position = user.position(), anchor = user.anchor();
  // The highlighter is told the text when the document keeps it as it is.
  const std::vector<std::string>& lines = *pending_;
  if (std::all_of(lines.begin() + static_cast<std::ptrdiff_t>(from),
                  lines.begin() + static_cast<std::ptrdiff_t>(to), KeptAsIs)) {
    std::string text;
    for (size_t i = from; i < to; ++i) (text += '\n') += lines[i];
    highlighter_->SetNextInsertedText(std::move(text));
  }
  doc->setUndoRedoEnabled(false);
  QTextCursor cursor(doc);
  cursor.movePosition(QTextCursor::End);
  cursor.insertText(JoinedLines(lines, from, to, true));
  highlighter_->SetNextInsertedText(std::nullopt);  // never left for a later change
  doc->setUndoRedoEnabled(undo);
  doc->setModified(modified);
  if (textCursor().position() != position || textCursor().anchor() != anchor) {
    QTextCursor kept(doc);
    kept.setPosition(anchor);
    kept.setPosition(position, QTextCursor::KeepAnchor);
    setTextCursor(kept);
  }
}

void TMemoEditor::LoadSlice() {
  if (!pending_) return load_timer_.stop();
  QElapsedTimer clock;
  clock.start();
  const size_t end = PieceEnd(*pending_, next_line_, slice_cost_);
  AppendLines(next_line_, end);
  next_line_ = end;
  if (next_line_ >= pending_->size()) {
    pending_.reset();
    load_timer_.stop();
    return;
  }
  // The next slice is made to take about kLoadSliceNs, from what this one took.
  const double factor = std::clamp(
      static_cast<double>(kLoadSliceNs) / static_cast<double>(std::max<qint64>(clock.nsecsElapsed(), 1)), 0.5,
      2.0);
  slice_cost_ = static_cast<size_t>(
      std::clamp(static_cast<double>(slice_cost_) * factor, double{kFirstPieceCost} / 4, double{1 << 26}));
}

void TMemoEditor::FinishLoading() {
  if (!pending_) return;
  AppendLines(next_line_, pending_->size());
  pending_.reset();
  load_timer_.stop();
}

std::vector<std::string> TMemoEditor::Lines() {
  FinishLoading();
  std::vector<std::string> lines;
  const QTextDocument* doc = document();
  if (doc->blockCount() == 1 && doc->firstBlock().length() <= 1) return lines;
  for (QTextBlock block = doc->firstBlock(); block.isValid(); block = block.next())
    lines.push_back(ToUtf8(block.text()));
  return lines;
}

TGutterMetrics TMemoEditor::GutterMetrics() const {
  TGutterMetrics m;
  m.GutterWidth = memo_form::kGutterWidth;
  const QTextBlock block = firstVisibleBlock();
  m.TopLine = block.isValid() ? block.blockNumber() : 0;
  const QRectF rect = block.isValid() ? blockBoundingGeometry(block).translated(contentOffset()) : QRectF();
  m.TopOffset = qRound(rect.top());
  m.LineHeight = rect.height() > 0 ? qRound(rect.height()) : fontMetrics().height();
  return m;
}

void TMemoEditor::PaintGutter(QPaintEvent* event) {
  QPainter p(gutter_);
  p.fillRect(event->rect(), palette().color(QPalette::Window));
  p.setPen(palette().color(QPalette::Mid));
  p.drawLine(gutter_->width() - 1, event->rect().top(), gutter_->width() - 1, event->rect().bottom());
  last_painted_.clear();
  if (!gutter_source_) return;
  const TGutterMetrics m = GutterMetrics();
  last_painted_ = gutter_source_(m);
  const qreal dpr = gutter_->devicePixelRatioF();
  for (const TGutterImage& image : last_painted_) {
    if (image.Y + m.ImageHeight < 0 || image.Y > gutter_->height()) continue;  // out of view
    p.drawPixmap(image.X, image.Y, BookmarkMarkPixmap(image.Index, m.ImageWidth, dpr));
  }
}

void TMemoEditor::OnContentsChange(int position, int /*removed*/, int added) {
  const QTextDocument* doc = document();
  const int count = doc->blockCount();
  const auto block_at = [&](int pos) {
    const QTextBlock b = doc->findBlock(pos);
    return b.isValid() ? b.blockNumber() : count - 1;
  };
  const int first = block_at(position);
  const int last = std::max(first, block_at(position + std::max(0, added)));
  const int inserted = last - first + 1;
  const int removed = inserted - (count - block_count_);
  block_count_ = count;
  if (lines_replaced_ && removed >= 0) lines_replaced_(first, removed, inserted);
}

int TMemoEditor::CaretX() const {
  return textCursor().positionInBlock();
}
int TMemoEditor::CaretY() const {
  return textCursor().blockNumber();
}

void TMemoEditor::SetCaretX(int x) {
  FinishLoading();
  QTextCursor cursor = textCursor();
  const QTextBlock block = cursor.block();
  int column = std::clamp(x, 0, std::max(0, block.length() - 1));
  if (const QTextLayout* layout = block.layout())
    while (column > 0 && !layout->isValidCursorPosition(column)) --column;
  cursor.setPosition(block.position() + column);
  setTextCursor(cursor);
  wanted_column_ = std::max(0, x);
}

void TMemoEditor::SetCaretY(int y) {
  FinishLoading();
  const int wanted = wanted_column_;
  const QTextBlock block = document()->findBlockByNumber(std::clamp(y, 0, document()->blockCount() - 1));
  if (!block.isValid()) return;
  int column = std::clamp(wanted, 0, std::max(0, block.length() - 1));
  if (const QTextLayout* layout = block.layout())
    while (column > 0 && !layout->isValidCursorPosition(column)) --column;
  QTextCursor cursor = textCursor();
  cursor.setPosition(block.position() + column);
  setTextCursor(cursor);
  wanted_column_ = wanted;
  ensureCursorVisible();
}

void TMemoEditor::Repaint() {
  gutter_->update();
  viewport()->update();
}

void TMemoEditor::SetFocus() {
  setFocus(Qt::OtherFocusReason);
}
void TMemoEditor::CopyToClipboard() {
  copy();
}
void TMemoEditor::CutToClipboard() {
  FinishLoading();
  cut();
}
void TMemoEditor::PasteFromClipboard() {
  FinishLoading();
  paste();
}
void TMemoEditor::SetHighLighter(THighLighter mode) {
  highlighter_->SetHighLighter(mode);
}
void TMemoEditor::SetColors(const TColors& colors) {
  highlighter_->SetColors(colors);
}

void TMemoEditor::resizeEvent(QResizeEvent* event) {
  QPlainTextEdit::resizeEvent(event);
  const QRect cr = contentsRect();
  gutter_->setGeometry(cr.left(), cr.top(), memo_form::kGutterWidth, cr.height());
}

void TMemoEditor::changeEvent(QEvent* event) {
  QPlainTextEdit::changeEvent(event);
  if (event->type() == QEvent::PaletteChange) ApplyPalette();
}

void TMemoEditor::ApplyPalette() {
  const auto rgb = [](const QColor& c) {
    return TRgb{static_cast<uint8_t>(c.red()), static_cast<uint8_t>(c.green()),
                static_cast<uint8_t>(c.blue())};
  };
  const QPalette pal = palette();
  TSystemPalette system;
  system.window = rgb(pal.color(QPalette::Base));
  system.window_text = rgb(pal.color(QPalette::Text));
  system.highlight = rgb(pal.color(QPalette::Highlight));
  system.highlight_text = rgb(pal.color(QPalette::HighlightedText));
  highlighter_->SetPalette(system);
}

// --- the dialog --------------------------------------------------------------------

TMemoDialog::TMemoDialog(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("MemoForm"));
  editor_ = new TMemoEditor(this);
  form_ = std::make_unique<TMemoForm>(*editor_);
  editor_->SetGutterImagesSource([this](const TGutterMetrics& m) { return form_->Memo1PaintGutter(m); });
  editor_->SetLinesReplacedHandler(
      [this](int first, int removed, int inserted) { form_->LinesReplaced(first, removed, inserted); });

  panel1_ = new QWidget(this);
  panel1_->setObjectName(QStringLiteral("Panel1"));
  panel1_->setFixedHeight(memo_form::kPanel1Height);
  ok_btn_ = new QPushButton(FromUtf8(memo_form::kOKCaption), panel1_);
  ok_btn_->setObjectName(QStringLiteral("OKBtn"));
  ok_btn_->setDefault(true);
  cancel_btn_ = new QPushButton(FromUtf8(memo_form::kCancelCaption), panel1_);
  cancel_btn_->setObjectName(QStringLiteral("CancelBtn"));
  connect(ok_btn_, &QPushButton::clicked, this, &QDialog::accept);
  connect(cancel_btn_, &QPushButton::clicked, this, &QDialog::reject);
  panel1_->installEventFilter(this);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(editor_, 1);
  layout->addWidget(panel1_);

  BuildMenu();
  setWindowTitle(FromUtf8(form_->Caption()));
  resize(memo_form::kDesignWidth, memo_form::kDesignHeight);
  PlaceButtons();
}

TMemoDialog::~TMemoDialog() {
  // The editor still refers to the form through its callbacks until it goes.
  editor_->SetGutterImagesSource(nullptr);
  editor_->SetLinesReplacedHandler(nullptr);
}

void TMemoDialog::Load(const TTextEditorRequest& request) {
  if (!request.Caption.empty()) form_->SetCaption(request.Caption);
  setWindowTitle(FromUtf8(form_->Caption()));
  form_->SetHighLight(request.HighLighter);
  loaded_lines_ = std::make_shared<const std::vector<std::string>>(request.Lines);
  editor_->SetLines(loaded_lines_);
  editor_->document()->setModified(false);
  editor_->moveCursor(QTextCursor::Start);
}

bool TMemoDialog::TextModified() const {
  return editor_->document()->isModified();
}

std::vector<std::string> TMemoDialog::Lines() const {
  if (TextModified()) return editor_->Lines();
  return loaded_lines_ ? *loaded_lines_ : std::vector<std::string>();
}

void TMemoDialog::reject() {
  if (ui_) {
    if (!form_->CancelQuery(TextModified(), *ui_)) return;
  } else {
    TQtInteraction own(this);
    if (!form_->CancelQuery(TextModified(), own)) return;
  }
  QDialog::reject();
}

void TMemoDialog::BuildMenu() {
  pop_mnu_ = new QMenu(this);
  pop_mnu_->setObjectName(QStringLiteral("PopMnu"));
  std::map<std::string, QMenu*> submenus;
  for (const TMenuItemInfo& item : PopMnuItems()) {
    QMenu* menu = pop_mnu_;
    if (!item.Parent.empty()) {
      const auto it = submenus.find(item.Parent);
      if (it == submenus.end()) continue;
      menu = it->second;
    } else if (item.Caption == "-") {
      pop_mnu_->addSeparator()->setObjectName(FromUtf8(item.Name));
      continue;
    } else if (item.Command == TMemoCommand::None) {
      QMenu* sub = pop_mnu_->addMenu(FromUtf8(item.Caption));
      sub->setObjectName(FromUtf8(item.Name));
      sub->menuAction()->setObjectName(FromUtf8(item.Name));
      submenus[item.Name] = sub;
      continue;
    }
    QAction* action = menu->addAction(FromUtf8(item.Caption));
    action->setObjectName(FromUtf8(item.Name));
    if (!item.ShortCut.empty()) {
      action->setShortcut(QKeySequence(FromUtf8(item.ShortCut), QKeySequence::PortableText));
      action->setShortcutContext(Qt::WidgetWithChildrenShortcut);
      addAction(action);  // the shortcut works while the menu is closed
    }
    const TMemoCommand command = item.Command;
    const int tag = item.Tag;
    connect(action, &QAction::triggered, this, [this, command, tag] {
      editor_->FinishLoading();
      form_->Run(command, tag);
    });
  }
  editor_->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(editor_, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& pos) { pop_mnu_->popup(editor_->viewport()->mapToGlobal(pos)); });
}

QAction* TMemoDialog::MenuAction(const QString& name) const {
  for (QAction* action : pop_mnu_->findChildren<QAction*>(name)) return action;
  for (QAction* action : actions())
    if (action->objectName() == name) return action;
  return nullptr;
}

void TMemoDialog::PlaceButtons() {
  ok_btn_->setGeometry(memo_form::kOKBtnLeft, memo_form::kButtonTop, memo_form::kButtonWidth,
                       memo_form::kButtonHeight);
  cancel_btn_->setGeometry(form_->CancelBtnLeft(), memo_form::kButtonTop, memo_form::kButtonWidth,
                           memo_form::kButtonHeight);
}

bool TMemoDialog::eventFilter(QObject* watched, QEvent* event) {
  if (watched == panel1_ && event->type() == QEvent::Resize) {
    form_->FormResize(panel1_->width());
    PlaceButtons();
  }
  return QDialog::eventFilter(watched, event);
}

void TMemoDialog::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  form_->FormShow();
}

}  // namespace qb::qt
