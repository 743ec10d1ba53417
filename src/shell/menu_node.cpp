#include "shell/menu_node.h"

#include <algorithm>

namespace qb {

void TMenuNode::SetCaption(std::string caption) {
  if (caption == caption_) return;
  caption_ = std::move(caption);
  Changed();
}

void TMenuNode::SetEnabled(bool enabled) {
  if (enabled == enabled_) return;
  enabled_ = enabled;
  Changed();
}

int TMenuNode::IndexOf(const TMenuNode* item) const {
  auto it = std::find(items_.begin(), items_.end(), item);
  return it == items_.end() ? -1 : static_cast<int>(it - items_.begin());
}

void TMenuNode::Insert(size_t index, TMenuNode* item) {
  if (!item || item == this) return;
  items_.insert(items_.begin() + static_cast<std::ptrdiff_t>(std::min(index, items_.size())), item);
  Changed();
}

void TMenuNode::Remove(TMenuNode* item) {
  const int index = IndexOf(item);
  if (index < 0) return;
  items_.erase(items_.begin() + index);
  Changed();
}

void TMenuNode::Click() {
  if (OnClick) OnClick(*this);
}

void TMenuNode::Changed() {
  if (OnChanged) OnChanged();
}

}  // namespace qb
