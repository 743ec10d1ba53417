// The item a command acts on: the explorer's selected item node, its item path and
// the index of its entry in the open cabinet.
//
// Every command on the selected item starts the same way: take the selected node,
// compute its path with ItemPathOf, and find the entry with FindItemEntry (ASCII
// letters folded, first match in archive order) after the directory was brought up
// to date with the file.
#pragma once

#include <string>

#include "explorer/explorer_window.h"
#include "zip/zip_writer.h"

namespace qb {

struct TSelectedItem {
  TTreeNode* Node = nullptr;  // null: no item is selected
  std::string Path;
  int Index = -1;  // the entry's index; -1 when the cabinet holds no such entry
  bool Found() const { return Index >= 0; }
};

// The selected item node (null when the selection is empty, the root or a drawer).
TTreeNode* SelectedItemNode(const TDockableForm& explorer);

// Looks the selected item up. With no item selected, Node is null and nothing is
// read. Reads the directory when the cabinet file exists.
TSelectedItem LocateSelectedItem(const TDockableForm& explorer, zip::TZipReader& zip);

// The comment of entry index, empty when it has none.
std::string EntryCommentOf(zip::TZipReader& zip, int index);

}  // namespace qb
