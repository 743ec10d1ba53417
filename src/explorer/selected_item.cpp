#include "explorer/selected_item.h"

#include "store/item_paths.h"

namespace qb {

TTreeNode* SelectedItemNode(const TDockableForm& explorer) {
  return explorer.SelectedItem();
}

TSelectedItem LocateSelectedItem(const TDockableForm& explorer, zip::TZipReader& zip) {
  TSelectedItem item;
  item.Node = SelectedItemNode(explorer);
  if (!item.Node) return item;
  item.Path = ItemPathOf(item.Node);
  if (zip.ZipName().empty()) return item;
  store::RefreshDirectory(zip);
  const int index = store::FindItemEntry(zip, item.Path);
  if (index < zip.EntryCount()) item.Index = index;
  return item;
}

std::string EntryCommentOf(zip::TZipReader& zip, int index) {
  return zip.EntryHasComment(index) ? zip.EntryComment(index) : std::string();
}

}  // namespace qb
