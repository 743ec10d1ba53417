#include "qt/copy_move_dialogs.h"

#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QScreen>
#include <QVBoxLayout>

namespace qb::qt {

TPWordDlg::TPWordDlg(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("Password"));
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowSystemMenuHint |
                 Qt::WindowCloseButtonHint);
  action_lbl_ = new QLabel(QStringLiteral("&Enter Password:"), this);
  password_ = new QLineEdit(this);
  password_->setObjectName(QStringLiteral("Password"));
  password_->setMinimumWidth(331);
  // Masked, every character shows as "*" (the style's own would be a dot).
  password_->setStyleSheet(QStringLiteral("QLineEdit { lineedit-password-character: 42; }"));
  action_lbl_->setBuddy(password_);
  mask_cb_ = new QCheckBox(QStringLiteral("&Mask Text"), this);
  mask_cb_->setObjectName(QStringLiteral("MaskCB"));
  ok_btn_ = new QPushButton(QStringLiteral("&OK"), this);
  ok_btn_->setObjectName(QStringLiteral("OKBtn"));
  ok_btn_->setDefault(true);
  cancel_btn_ = new QPushButton(QStringLiteral("&Cancel"), this);
  cancel_btn_->setObjectName(QStringLiteral("CancelBtn"));
  // Closes with kAllResult; not offered: each entry's password is asked for.
  all_btn_ = new QPushButton(QStringLiteral("&Apply To All"), this);
  all_btn_->setObjectName(QStringLiteral("AllBtn"));
  all_btn_->hide();
  connect(all_btn_, &QPushButton::clicked, this, [this] { done(kAllResult); });
  connect(ok_btn_, &QPushButton::clicked, this, &QDialog::accept);
  connect(cancel_btn_, &QPushButton::clicked, this, &QDialog::reject);
  connect(mask_cb_, &QCheckBox::toggled, this,
          [this](bool masked) { password_->setEchoMode(masked ? QLineEdit::Password : QLineEdit::Normal); });
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(mask_cb_);
  buttons->addStretch();
  buttons->addWidget(ok_btn_);
  buttons->addWidget(cancel_btn_);
  buttons->addWidget(all_btn_);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(action_lbl_);
  layout->addWidget(password_);
  layout->addLayout(buttons);
  resize(348, 112);
}

TCpyMvFrm::TCpyMvFrm(QWidget* parent) : QWidget(parent, Qt::Dialog | Qt::FramelessWindowHint) {
  setObjectName(QStringLiteral("CpyMvFrm"));
  setWindowModality(Qt::ApplicationModal);
  auto* panel = new QFrame(this);
  panel->setFrameStyle(QFrame::Panel | QFrame::Raised);
  action_lbl_ = new QLabel(QStringLiteral("Copying Files"), panel);
  action_lbl_->setAlignment(Qt::AlignCenter);
  from_lbl_ = new QLabel(panel);
  to_lbl_ = new QLabel(panel);
  from_lbl_->setTextFormat(Qt::PlainText);
  to_lbl_->setTextFormat(Qt::PlainText);
  auto gauge = [panel](const QString& colour) {
    auto* bar = new QProgressBar(panel);
    bar->setRange(0, 100);
    bar->setTextVisible(false);
    bar->setFixedSize(403, 9);
    if (!colour.isEmpty())
      bar->setStyleSheet(
          QStringLiteral("QProgressBar{border:0}QProgressBar::chunk{background:%1}").arg(colour));
    return bar;
  };
  gauge2_ = gauge(QStringLiteral("red"));
  gauge1_ = gauge(QString());
  cancel_btn_ = new QPushButton(QStringLiteral("&Cancel"), panel);
  connect(cancel_btn_, &QPushButton::clicked, this, [this] {
    cancel_pressed_ = true;
    cancel_btn_->setEnabled(false);
  });
  auto* grid = new QGridLayout;
  grid->addWidget(new QLabel(QStringLiteral("From :"), panel), 0, 0);
  grid->addWidget(from_lbl_, 0, 1);
  grid->addWidget(new QLabel(QStringLiteral("To     :"), panel), 1, 0);
  grid->addWidget(to_lbl_, 1, 1);
  grid->setColumnStretch(1, 1);
  auto* inner = new QVBoxLayout(panel);
  inner->addWidget(action_lbl_);
  inner->addLayout(grid);
  inner->addWidget(gauge2_);
  inner->addWidget(gauge1_);
  inner->addWidget(cancel_btn_, 0, Qt::AlignCenter);
  auto* outer = new QVBoxLayout(this);
  outer->setContentsMargins(0, 0, 0, 0);
  outer->addWidget(panel);
  resize(428, 137);
}

void TCpyMvFrm::Show(const QString& action, const QString& from, const QString& to, int whole, int entry) {
  action_lbl_->setText(action);
  from_lbl_->setText(from);
  to_lbl_->setText(to);
  // Repainted only when the shown percentage changes.
  if (gauge2_->value() != whole) gauge2_->setValue(whole);
  if (gauge1_->value() != entry) gauge1_->setValue(entry);
  if (isVisible()) return;
  if (const QScreen* shown_on = screen()) move(shown_on->availableGeometry().center() - rect().center());
  show();
}

}  // namespace qb::qt
