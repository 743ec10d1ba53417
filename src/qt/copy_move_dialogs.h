// The two small windows of copying and moving items to another cabinet: the
// password dialog TPWordDlg and the progress window CpyMvFrm.
#pragma once

#include <QCheckBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QWidget>

namespace qb::qt {

// "Password": a label, the password edit (in clear text until Mask Text is
// ticked), OK and Cancel, and a hidden Apply To All.
class TPWordDlg : public QDialog {
 public:
  static constexpr int kAllResult = 2;
  explicit TPWordDlg(QWidget* parent = nullptr);
  QLabel* ActionLbl() const { return action_lbl_; }
  QLineEdit* Password() const { return password_; }
  QCheckBox* MaskCB() const { return mask_cb_; }
  QPushButton* OKBtn() const { return ok_btn_; }
  QPushButton* CancelBtn() const { return cancel_btn_; }
  QPushButton* AllBtn() const { return all_btn_; }

 private:
  QLabel* action_lbl_;
  QLineEdit* password_;
  QPushButton* ok_btn_;
  QPushButton* cancel_btn_;
  QPushButton* all_btn_;
  QCheckBox* mask_cb_;
};

// The borderless progress window: what is done, from where to where, a gauge for
// the whole transfer (Gauge2, red) above one for the current entry (Gauge1), and
// Cancel, which the transfer reads as "stop at the next entry".
class TCpyMvFrm : public QWidget {
 public:
  explicit TCpyMvFrm(QWidget* parent = nullptr);
  void Show(const QString& action, const QString& from, const QString& to, int whole, int entry);
  bool CancelPressed() const { return cancel_pressed_; }
  QLabel* ActionLbl() const { return action_lbl_; }
  QLabel* FromLbl() const { return from_lbl_; }
  QLabel* ToLbl() const { return to_lbl_; }
  QProgressBar* Gauge1() const { return gauge1_; }
  QProgressBar* Gauge2() const { return gauge2_; }
  QPushButton* CancelBtn() const { return cancel_btn_; }

 private:
  QLabel* action_lbl_;
  QLabel* from_lbl_;
  QLabel* to_lbl_;
  QProgressBar* gauge1_;
  QProgressBar* gauge2_;
  QPushButton* cancel_btn_;
  bool cancel_pressed_ = false;
};

}  // namespace qb::qt
