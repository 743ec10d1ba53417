#include "qt/legend_dialog.h"

#include <QFile>
#include <QHeaderView>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QTreeWidget>
#include <algorithm>
#include <functional>

#include "panes/glyph_legend.h"
#include "qt/qt_text.h"

namespace qb::qt {

namespace {

// A caption as one line of text: line breaks and other control characters show as blanks.
QString DisplayCaption(const std::string& caption) {
  QString text = FromUtf8(caption);
  for (QChar& c : text)
    if (c.category() == QChar::Other_Control || c == QChar::LineSeparator || c == QChar::ParagraphSeparator)
      c = QLatin1Char(' ');
  return text;
}

// The report list: tells its owner after a mouse button press has been handled (so
// the selection already reflects the press).
class TGlyphListView : public QTreeWidget {
 public:
  TGlyphListView(QWidget* parent, std::function<void()> on_mouse_down)
      : QTreeWidget(parent), on_mouse_down_(std::move(on_mouse_down)) {}

 protected:
  void mousePressEvent(QMouseEvent* event) override {
    QTreeWidget::mousePressEvent(event);
    if (on_mouse_down_) on_mouse_down_();
  }

 private:
  std::function<void()> on_mouse_down_;
};

}  // namespace

QString TGlyphImageList::FixedGlyphPath(int n) {
  return QStringLiteral(":/glyphs/%1.png").arg(n, 2, 10, QLatin1Char('0'));
}

QIcon TGlyphImageList::Icon(int index) const {
  if (index < 0 || index >= Count()) return QIcon();
  if (index < kFixedGlyphCount) {
    const QString path = FixedGlyphPath(index);
    return QFile::exists(path) ? QIcon(path) : QIcon();
  }
  QImage image = user_glyphs_[static_cast<size_t>(index - kFixedGlyphCount)];
  if (image.isNull()) return QIcon();
  // Fuchsia is the mask colour of user glyphs: those pixels are transparent.
  image = image.convertToFormat(QImage::Format_ARGB32);
  const QRgb fuchsia = qRgb(255, 0, 255);
  for (int y = 0; y < image.height(); ++y) {
    auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
    for (int x = 0; x < image.width(); ++x)
      if ((line[x] & 0x00FFFFFFu) == (fuchsia & 0x00FFFFFFu) && qAlpha(line[x]) == 255) line[x] = 0;
  }
  if (image.width() > kGlyphSize || image.height() > kGlyphSize)
    image = image.scaled(kGlyphSize, kGlyphSize, Qt::KeepAspectRatio, Qt::SmoothTransformation);
  if (image.width() != kGlyphSize || image.height() != kGlyphSize) {
    // A smaller picture stands in the middle of its cell.
    QImage cell(kGlyphSize, kGlyphSize, QImage::Format_ARGB32);
    cell.fill(Qt::transparent);
    QPainter painter(&cell);
    painter.drawImage((kGlyphSize - image.width()) / 2, (kGlyphSize - image.height()) / 2, image);
    painter.end();
    image = cell;
  }
  return QIcon(QPixmap::fromImage(image));
}

TLegendDialog::TLegendDialog(const TGlyphDialogRequest& request, const TGlyphImageList& images,
                             QWidget* parent)
    : QDialog(parent,
              Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      mode_(request.Mode) {
  using namespace view_form;
  setObjectName(QStringLiteral("ViewForm"));
  setWindowTitle(FromUtf8(request.Caption));
  setFixedSize(kClientWidth, kClientHeight);

  list_ = new TGlyphListView(this, [this] { ListView1MouseDown(); });
  list_->setObjectName(QStringLiteral("ListView1"));
  list_->setGeometry(0, 0, kClientWidth, kClientHeight - kPanel1Height);
  list_->setColumnCount(1);
  list_->setHeaderLabels({FromUtf8(request.ColumnCaption)});
  list_->setRootIsDecorated(false);
  list_->setUniformRowHeights(true);
  list_->setAllColumnsShowFocus(true);
  list_->setIconSize(QSize(TGlyphImageList::kGlyphSize, TGlyphImageList::kGlyphSize));
  list_->setSelectionMode(request.MultiSelect ? QAbstractItemView::ExtendedSelection
                                              : QAbstractItemView::SingleSelection);
  list_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  list_->setTextElideMode(Qt::ElideRight);
  QHeaderView* header = list_->header();
  header->setStretchLastSection(false);
  header->setSectionResizeMode(0, QHeaderView::Fixed);
  header->setSectionsClickable(false);
  header->setSectionsMovable(false);
  header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  list_->setColumnWidth(0, kColumnWidth);
  for (const TGlyphRow& row : request.Rows) {
    auto* item = new QTreeWidgetItem(list_);
    item->setText(0, DisplayCaption(row.Caption));
    item->setIcon(0, images.Icon(row.ImageIndex));
  }
  connect(list_, &QTreeWidget::itemDoubleClicked, this, [this] {
    if (mode_ == TGlyphDialogMode::ChangeGlyph) accept();
  });

  panel1_ = new QWidget(this);
  panel1_->setObjectName(QStringLiteral("Panel1"));
  panel1_->setGeometry(0, kClientHeight - kPanel1Height, kClientWidth, kPanel1Height);
  const int top = (kPanel1Height - kButtonHeight) / 2;
  ok_btn_ = new QPushButton(tr("&OK"), panel1_);
  ok_btn_->setObjectName(QStringLiteral("OKBtn"));
  const int ok_left = std::clamp(request.OKBtnLeft, 0, kClientWidth - kButtonWidth);
  ok_btn_->setGeometry(ok_left, top, kButtonWidth, kButtonHeight);
  ok_btn_->setDefault(true);
  cancel_btn_ = new QPushButton(tr("&Cancel"), panel1_);
  cancel_btn_->setObjectName(QStringLiteral("CancelBtn"));
  cancel_btn_->setGeometry(kCancelBtnLeft, top, kButtonWidth, kButtonHeight);
  cancel_btn_->setVisible(request.CancelVisible);
  connect(ok_btn_, &QPushButton::clicked, this, &QDialog::accept);
  connect(cancel_btn_, &QPushButton::clicked, this, &QDialog::reject);
}

TLegendDialog::~TLegendDialog() = default;

// A press with no row selected records nothing, and keeps an earlier choice.
void TLegendDialog::ListView1MouseDown() {
  const int row = SelectedRow();
  if (row >= 0) mouse_down_row_ = row;
}

int TLegendDialog::SelectedRow() const {
  const std::vector<int> rows = SelectedRows();
  return rows.empty() ? -1 : rows.front();
}

std::vector<int> TLegendDialog::SelectedRows() const {
  std::vector<int> rows;
  for (int i = 0; i < list_->topLevelItemCount(); ++i)
    if (list_->topLevelItem(i)->isSelected()) rows.push_back(i);
  return rows;
}

TGlyphDialogResult TLegendDialog::Result() const {
  TGlyphDialogResult result;
  result.Ok = this->result() == QDialog::Accepted;
  result.MouseDownRow = mouse_down_row_;
  result.SelectedRows = SelectedRows();
  return result;
}

}  // namespace qb::qt
