// TSpeedbarSetupWindow: "Customize Speedbar", the window that chooses the tool
// bar's buttons.
//
// "&Categories:" lists the sections of the bar; choosing one lists its items under
// "&Available buttons:", each with its image and caption. The chosen item's hint is
// the window's hint (its tool tip, and the line under the lists). An item that is
// not on the bar is dragged from the list onto the bar, where it lands at the drop
// point; items already on the bar are drawn greyed and do not drag. While the window
// is open the bar is in customising mode (buttons drag instead of running), so a
// button dragged off the bar comes off it. "&Close" or Escape closes the window and
// frees it. The window is not modal and stays on top of the main window; the main
// window keeps one per bar and brings it forward when asked again.
#pragma once

#include <QDialog>
#include <QListWidget>
#include <QPointer>

#include "app/speedbar.h"

class QLabel;
class QPushButton;

namespace qb::qt {

class TQtSpeedBar;

// The "&Available buttons:" list: drags the items that are not on the bar.
class TSpeedItemList : public QListWidget {
  Q_OBJECT
 public:
  explicit TSpeedItemList(TSpeedBar& model, QWidget* parent = nullptr) : QListWidget(parent), model_(model) {}
  // The speed item of a row.
  static int ItemOf(const QListWidgetItem* row);

 protected:
  void startDrag(Qt::DropActions supported) override;

 private:
  TSpeedBar& model_;
};

class TSpeedbarSetupWindow : public QDialog {
  Q_OBJECT
 public:
  TSpeedbarSetupWindow(TQtSpeedBar& bar, QWidget* parent);
  ~TSpeedbarSetupWindow() override;

  QListWidget* Categories() const { return categories_; }
  TSpeedItemList* Buttons() const { return buttons_; }
  QPushButton* CloseButton() const { return close_; }
  QString HintShown() const;

  // Redraws the list after the bar changed (greyed items follow the bar).
  void Refresh();

 private:
  void ShowSection(int row);
  void ShowHint();

  QPointer<TQtSpeedBar> bar_;
  QListWidget* categories_ = nullptr;
  TSpeedItemList* buttons_ = nullptr;
  QLabel* hint_ = nullptr;
  QPushButton* close_ = nullptr;
};

}  // namespace qb::qt
