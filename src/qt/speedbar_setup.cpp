#include "qt/speedbar_setup.h"

#include <QDrag>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMimeData>
#include <QPushButton>

#include "qt/explorer_tree.h"
#include "qt/qt_text.h"
#include "qt/speedbar_widget.h"

namespace qb::qt {

namespace {

constexpr int kItemRole = Qt::UserRole + 1;

QString HintText(const std::string& text) {
  QString hint = FromUtf8(text);
  hint.replace("\r\n", " ");
  return hint;
}

}  // namespace

int TSpeedItemList::ItemOf(const QListWidgetItem* row) {
  return row ? row->data(kItemRole).toInt() : -1;
}

void TSpeedItemList::startDrag(Qt::DropActions /*supported*/) {
  const int item = ItemOf(currentItem());
  if (item < 0 || model_.OnBar(item)) return;
  auto* mime = new QMimeData;
  mime->setData(kSpeedItemMimeType, QByteArray::fromStdString(SpeedItems()[static_cast<size_t>(item)].Name));
  auto* drag = new QDrag(this);
  drag->setMimeData(mime);
  drag->setPixmap(SpeedButtonPixmap(item));
  drag->setHotSpot(QPoint(speedbar::kButtonWidth / 2, speedbar::kButtonHeight / 2));
  SpeedItemDragRunner()(*drag);
}

TSpeedbarSetupWindow::TSpeedbarSetupWindow(TQtSpeedBar& bar, QWidget* parent) : QDialog(parent), bar_(&bar) {
  setObjectName("SpeedbarSetupWindow");
  setWindowTitle(speedbar::kSetupCaption);
  setAttribute(Qt::WA_DeleteOnClose);
  setModal(false);
  setWindowFlags(Qt::Dialog | Qt::WindowStaysOnTopHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);

  categories_ = new QListWidget(this);
  categories_->setObjectName("SectionList");
  for (const std::string& section : SpeedbarSections()) categories_->addItem(FromUtf8(section));
  buttons_ = new TSpeedItemList(bar.Model(), this);
  buttons_->setObjectName("ButtonsList");
  buttons_->setIconSize(QSize(16, 16));
  buttons_->setDragEnabled(true);
  buttons_->setDragDropMode(QAbstractItemView::DragOnly);
  buttons_->setSelectionMode(QAbstractItemView::SingleSelection);

  auto* categories_label = new QLabel(speedbar::kCategoriesLabel, this);
  categories_label->setBuddy(categories_);
  auto* buttons_label = new QLabel(speedbar::kButtonsLabel, this);
  buttons_label->setBuddy(buttons_);
  auto* text = new QLabel(speedbar::kSetupText, this);
  text->setWordWrap(true);
  hint_ = new QLabel(this);
  hint_->setObjectName("HintLabel");
  hint_->setWordWrap(true);
  close_ = new QPushButton(speedbar::kCloseCaption, this);
  close_->setDefault(true);

  auto* grid = new QGridLayout(this);
  grid->addWidget(categories_label, 0, 0);
  grid->addWidget(buttons_label, 0, 1);
  grid->addWidget(categories_, 1, 0);
  grid->addWidget(buttons_, 1, 1);
  grid->setColumnStretch(0, 2);
  grid->setColumnStretch(1, 3);
  grid->addWidget(text, 2, 0, 1, 2);
  grid->addWidget(hint_, 3, 0, 1, 2);
  auto* row = new QHBoxLayout;
  row->addStretch();
  row->addWidget(close_);
  grid->addLayout(row, 4, 0, 1, 2);
  resize(420, 300);

  connect(categories_, &QListWidget::currentRowChanged, this, [this](int r) { ShowSection(r); });
  connect(buttons_, &QListWidget::currentItemChanged, this, [this] { ShowHint(); });
  connect(close_, &QPushButton::clicked, this, &QDialog::close);
  categories_->setCurrentRow(0);
  bar.SetCustomizing(true);
}

TSpeedbarSetupWindow::~TSpeedbarSetupWindow() {
  if (bar_) bar_->SetCustomizing(false);
}

void TSpeedbarSetupWindow::ShowSection(int row) {
  buttons_->clear();
  if (row < 0 || static_cast<size_t>(row) >= SpeedbarSections().size()) return;
  for (int item : ItemsOfSection(SpeedbarSections()[static_cast<size_t>(row)])) {
    const TSpeedItem& info = SpeedItems()[static_cast<size_t>(item)];
    auto* entry =
        new QListWidgetItem(QIcon(TGlyphImages::ImagePath(info.Image)), FromUtf8(info.Caption), buttons_);
    entry->setData(kItemRole, item);
  }
  Refresh();
  if (buttons_->count() > 0) buttons_->setCurrentRow(0);
  ShowHint();
}

void TSpeedbarSetupWindow::Refresh() {
  if (!bar_) return;
  const TSpeedBar& model = bar_->Model();
  for (int i = 0; i < buttons_->count(); ++i) {
    QListWidgetItem* entry = buttons_->item(i);
    const bool on_bar = model.OnBar(TSpeedItemList::ItemOf(entry));
    // Items on the bar stay selectable (their hint shows) but do not drag.
    Qt::ItemFlags flags = Qt::ItemIsSelectable | Qt::ItemIsEnabled;
    if (!on_bar) flags |= Qt::ItemIsDragEnabled;
    entry->setFlags(flags);
    entry->setForeground(palette().brush(on_bar ? QPalette::Disabled : QPalette::Active, QPalette::Text));
  }
}

void TSpeedbarSetupWindow::ShowHint() {
  const int item = TSpeedItemList::ItemOf(buttons_->currentItem());
  QString hint;
  if (item >= 0) {
    const TSpeedItem& info = SpeedItems()[static_cast<size_t>(item)];
    hint = HintText(info.LongHint().empty() ? info.ShortHint() : info.LongHint());
  }
  hint_->setText(hint);
  setToolTip(hint);
}

QString TSpeedbarSetupWindow::HintShown() const {
  return hint_->text();
}

}  // namespace qb::qt
