#include "qt/menu_node_adapter.h"

#include <QAction>
#include <QMenu>

namespace qb::qt {

TMenuNodeAdapter::TMenuNodeAdapter(TMenuNode& node, QMenu* menu, std::function<void(TMenuNode& item)> chosen)
    : QObject(menu), node_(node), menu_(menu), chosen_(std::move(chosen)) {
  node_.OnChanged = [this] { Refresh(); };
  Refresh();
}

TMenuNodeAdapter::~TMenuNodeAdapter() {
  node_.OnChanged = nullptr;
}

void TMenuNodeAdapter::Refresh() {
  if (!menu_) return;
  // The chosen action may be emitting right now: it goes once control is back
  // in the event loop.
  for (QAction* old : menu_->actions()) {
    menu_->removeAction(old);
    if (old->parent() == menu_) old->deleteLater();
  }
  for (size_t i = 0; i < node_.Count(); ++i) {
    TMenuNode* item = node_.Item(i);
    if (item->IsSeparator()) {
      menu_->addSeparator();
      continue;
    }
    QAction* action = menu_->addAction(QString::fromStdString(item->Caption()));
    action->setObjectName(QString("%1Item%2").arg(menu_->objectName()).arg(i + 1));
    action->setEnabled(item->Enabled());
    connect(action, &QAction::triggered, this, [this, i, item] {
      // The item is still this one: the menu is drawn again whenever it changes.
      if (node_.Item(i) == item && chosen_) chosen_(*item);
    });
  }
  menu_->setEnabled(node_.Enabled());
  menu_->menuAction()->setEnabled(node_.Enabled());
}

}  // namespace qb::qt
