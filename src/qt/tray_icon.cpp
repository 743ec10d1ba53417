#include "qt/tray_icon.h"

#include <QAction>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QWidget>

#include "qt/qt_text.h"

namespace qb::qt {

TQtTray::TQtTray(QWidget* window, TEntries entries, TChosen chosen, std::function<void()> activated)
    : QObject(window), entries_(std::move(entries)), chosen_(std::move(chosen)) {
  menu_ = new QMenu(window);
  menu_->setObjectName("TrayMenu");
  menu_->setToolTipsVisible(true);
  connect(menu_, &QMenu::aboutToShow, this, &TQtTray::Refresh);
  if (!QSystemTrayIcon::isSystemTrayAvailable()) return;
  icon_ = new QSystemTrayIcon(window->windowIcon(), this);
  icon_->setToolTip(window->windowTitle());
  icon_->setContextMenu(menu_);
  connect(icon_, &QSystemTrayIcon::activated, this,
          [activated = std::move(activated)](QSystemTrayIcon::ActivationReason reason) {
            if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick) activated();
          });
  icon_->show();
}

TQtTray::~TQtTray() {
  // The menu belongs to the window; nothing it still shows may call back.
  menu_->disconnect(this);
}

bool TQtTray::Shown() const {
  return icon_ && icon_->isVisible() && QSystemTrayIcon::isSystemTrayAvailable();
}

void TQtTray::Refresh() {
  menu_->clear();
  for (const TTrayEntry& entry : entries_()) {
    if (entry.IsSeparator()) {
      menu_->addSeparator();
      continue;
    }
    QString caption = FromUtf8(entry.Caption);
    // An item's text is shown as it is: no letter of it marks a key.
    if (entry.Command == TTrayCommand::LoadItem || entry.Command == TTrayCommand::None)
      caption.replace('&', "&&");
    QAction* action = menu_->addAction(caption);
    action->setToolTip(FromUtf8(entry.Hint));
    action->setCheckable(entry.CheckItem);
    action->setChecked(entry.Checked);
    action->setEnabled(entry.Enabled);
    // Once the menu has closed: what is chosen may open windows of its own.
    connect(action, &QAction::triggered, this,
            [this, entry] { QTimer::singleShot(0, this, [this, entry] { chosen_(entry); }); });
  }
}

}  // namespace qb::qt
