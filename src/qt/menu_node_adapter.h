// TMenuNodeAdapter: draws a core menu node's sub-items (TMenuNode) as the actions
// of a QMenu, again whenever the node says it changed, and hands the item the
// user chose to the window. Only drawing and forwarding: what an item does is the
// core's.
#pragma once

#include <QObject>
#include <QPointer>
#include <functional>

#include "shell/menu_node.h"

class QMenu;

namespace qb::qt {

class TMenuNodeAdapter : public QObject {
 public:
  // chosen runs when the user picks a sub-item (with that item, alive then).
  TMenuNodeAdapter(TMenuNode& node, QMenu* menu, std::function<void(TMenuNode& item)> chosen);
  ~TMenuNodeAdapter() override;
  void Refresh();

 private:
  TMenuNode& node_;
  QPointer<QMenu> menu_;
  std::function<void(TMenuNode&)> chosen_;
};

}  // namespace qb::qt
