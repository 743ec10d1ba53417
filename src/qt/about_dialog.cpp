#include "qt/about_dialog.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QEnterEvent>
#include <QFile>
#include <QIcon>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPushButton>
#include <QVBoxLayout>

#include "qt/qt_text.h"

namespace qb::qt {

namespace {

// The application icon: the program's own artwork, else the application's icon.
QIcon AppIcon() {
  QIcon icon;
  for (int size : {16, 32, 48, 64, 128, 256}) {
    const QString path = QStringLiteral(":/app/quiverbox-%1.png").arg(size);
    if (QFile::exists(path)) icon.addFile(path, QSize(size, size));
  }
  return icon.isNull() ? QApplication::windowIcon() : icon;
}

}  // namespace

// --- the web label -------------------------------------------------------------------

TWebLabel::TWebLabel(const QString& text, std::string address, TWebAddressOpener opener, QWidget* parent)
    : QLabel(parent), address_(std::move(address)), opener_(std::move(opener)) {
  setObjectName(QStringLiteral("WebLabel"));
  setTextFormat(Qt::PlainText);
  setText(text);
  setCursor(Qt::PointingHandCursor);
  setFocusPolicy(Qt::TabFocus);
  setToolTip(QString::fromStdString(address_));
  QFont f = font();
  f.setUnderline(true);
  setFont(f);
  ApplyColour();
}

void TWebLabel::Activate() {
  if (opener_) opener_(address_);
}

void TWebLabel::SetHot(bool hot) {
  if (hot == hot_) return;
  hot_ = hot;
  ApplyColour();
}

void TWebLabel::ApplyColour() {
  // Take the colour from the parent's palette so that the label follows the theme.
  const QPalette base = parentWidget() ? parentWidget()->palette() : QApplication::palette();
  QPalette pal = palette();
  pal.setColor(QPalette::WindowText, base.color(TextRole()));
  applying_ = true;
  setPalette(pal);
  applying_ = false;
}

void TWebLabel::enterEvent(QEnterEvent* event) {
  hovered_ = true;
  SetHot(true);
  QLabel::enterEvent(event);
}

void TWebLabel::leaveEvent(QEvent* event) {
  hovered_ = false;
  SetHot(hasFocus());
  QLabel::leaveEvent(event);
}

void TWebLabel::focusInEvent(QFocusEvent* event) {
  SetHot(true);
  QLabel::focusInEvent(event);
}

void TWebLabel::focusOutEvent(QFocusEvent* event) {
  SetHot(hovered_);
  QLabel::focusOutEvent(event);
}

void TWebLabel::mousePressEvent(QMouseEvent* event) {
  pressed_ = event->button() == Qt::LeftButton;
  event->accept();
}

void TWebLabel::mouseReleaseEvent(QMouseEvent* event) {
  const bool click =
      pressed_ && event->button() == Qt::LeftButton && rect().contains(event->position().toPoint());
  pressed_ = false;
  event->accept();
  if (click) Activate();
}

void TWebLabel::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Space || event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
    event->accept();
    Activate();
    return;
  }
  QLabel::keyPressEvent(event);
}

void TWebLabel::changeEvent(QEvent* event) {
  QLabel::changeEvent(event);
  if (event->type() == QEvent::ParentChange && !applying_) ApplyColour();
}

// --- the About box -------------------------------------------------------------------

TAboutDialog::TAboutDialog(TWebAddressOpener opener, QWidget* parent)
    : QDialog(parent,
              Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint) {
  setObjectName(QStringLiteral("AboutForm"));
  setWindowTitle(FromUtf8(about_box::kCaption));

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(12, 16, 12, 12);
  layout->setSpacing(6);

  icon_ = new QLabel(this);
  icon_->setObjectName(QStringLiteral("ProgramIcon"));
  icon_->setPixmap(AppIcon().pixmap(QSize(64, 64), devicePixelRatioF()));
  icon_->setAlignment(Qt::AlignCenter);
  layout->addWidget(icon_);

  title_ = new QLabel(FromUtf8(about_box::kTitle), this);
  title_->setObjectName(QStringLiteral("ProductName"));
  title_->setTextFormat(Qt::PlainText);
  QFont title_font = title_->font();
  title_font.setBold(true);
  title_font.setPixelSize(about_box::kTitlePixelSize);
  title_->setFont(title_font);
  title_->setAlignment(Qt::AlignCenter);
  layout->addWidget(title_);

  auto* maker = new QLabel(
      FromUtf8(about_box::kMakerLine1) + QLatin1Char('\n') + FromUtf8(about_box::kMakerLine2), this);
  maker->setObjectName(QStringLiteral("Comments"));
  maker->setTextFormat(Qt::PlainText);
  maker->setAlignment(Qt::AlignCenter);
  maker->setWordWrap(true);
  layout->addSpacing(4);
  layout->addWidget(maker);

  web_ = new TWebLabel(FromUtf8(about_box::kWebAddress), std::string(about_box::kWebAddress),
                       std::move(opener), this);
  web_->setAlignment(Qt::AlignCenter);
  layout->addWidget(web_, 0, Qt::AlignHCenter);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
  buttons->setCenterButtons(true);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  layout->addSpacing(8);
  layout->addWidget(buttons);
  buttons->button(QDialogButtonBox::Ok)->setFocus();

  const int height = layout->hasHeightForWidth() ? layout->totalHeightForWidth(about_box::kWidth)
                                                 : layout->totalSizeHint().height();
  setFixedSize(about_box::kWidth, std::max(height, layout->totalMinimumSize().height()));
}

}  // namespace qb::qt
