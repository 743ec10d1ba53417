// TQtTray: the program's icon in the desktop's tray and its menu.
//
// The menu is drawn anew from the form's entries (TMainForm::TrayMenu) each time it
// opens, and a chosen entry goes back to the window. The menu exists whether or not
// the desktop has a tray to show the icon in (the icon is made only when it has),
// so it can be opened and tested without one.
#pragma once

#include <QObject>
#include <functional>
#include <vector>

#include "app/tray_menu.h"

class QMenu;
class QSystemTrayIcon;
class QWidget;

namespace qb::qt {

class TQtTray : public QObject {
  Q_OBJECT
 public:
  using TEntries = std::function<std::vector<TTrayEntry>()>;
  using TChosen = std::function<void(const TTrayEntry&)>;
  // entries: what the menu shows now; chosen: runs an entry; activated: a click on
  // the icon itself.
  TQtTray(QWidget* window, TEntries entries, TChosen chosen, std::function<void()> activated);
  ~TQtTray() override;

  QMenu* Menu() const { return menu_; }
  // Draws the menu from the entries as they stand now (done when it opens).
  void Refresh();
  // The icon stands in a tray now.
  bool Shown() const;

 private:
  QMenu* menu_ = nullptr;
  QSystemTrayIcon* icon_ = nullptr;
  TEntries entries_;
  TChosen chosen_;
};

}  // namespace qb::qt
