#include "explorer/explorer_mouse.h"

namespace qb {

const TPopupItem* TExplorerPopup::Find(std::string_view name) const {
  for (const TPopupItem& item : Items)
    if (item.Info.Name == name) return &item;
  return nullptr;
}

bool TExplorerPopup::IsVisible(std::string_view name) const {
  const TPopupItem* item = Find(name);
  return item && item->Visible;
}

std::vector<std::string> TExplorerPopup::VisibleCaptions() const {
  std::vector<std::string> out;
  for (const TPopupItem& item : Items)
    if (item.Visible) out.emplace_back(item.Info.Caption);
  return out;
}

}  // namespace qb
