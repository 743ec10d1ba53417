#include "explorer/tree_routines.h"

#include <vector>

namespace qb {

TTreeNode* RootOf(const TTreeView& tree) {
  return tree.Root();
}

bool IsRootNode(const TTreeNode* node) {
  return node && !node->Parent() && node->Owner() && node->Owner()->Root() == node;
}

bool IsContainerNode(const TTreeNode* node) {
  return node && (IsRootNode(node) || node->ImageIndex() == kDrawerImage);
}

bool IsItemNode(const TTreeNode* node) {
  return node && !IsContainerNode(node);
}

bool HasNoteMark(const TTreeNode* node) {
  return node && node->StateIndex() >= 0;
}

TTreeNode* InsertItemPath(TTreeView& tree, TTreeNode* parent, std::string_view path, int glyph, int state) {
  if (!parent) return nullptr;
  TTreeNode* node = parent;
  while (!path.empty()) {
    const size_t slash = path.find('\\');
    const bool drawer = slash != std::string_view::npos;
    const std::string_view head = drawer ? path.substr(0, slash) : path;
    path = drawer ? path.substr(slash + 1) : std::string_view();
    if (TTreeNode* existing = node->FindChild(head)) {
      node = existing;
      continue;
    }
    TTreeNode* added = tree.AddChild(node, std::string(head));
    if (drawer) {
      added->SetImageIndex(kDrawerImage);
      added->SetSelectedIndex(kDrawerImage);
    } else {
      const int image = glyph == -1 ? kDefaultItemImage : glyph;
      added->SetImageIndex(image);
      added->SetSelectedIndex(image);
      added->SetStateIndex(state);
    }
    node = added;
  }
  return node == parent ? nullptr : node;
}

std::string ItemPathOf(const TTreeNode* node) {
  if (!node || IsRootNode(node)) return {};
  std::vector<const TTreeNode*> levels;
  for (const TTreeNode* p = node; p && !IsRootNode(p); p = p->Parent()) levels.push_back(p);
  std::string path;
  for (auto it = levels.rbegin(); it != levels.rend(); ++it) {
    if (!path.empty() || it != levels.rbegin()) path += '\\';
    path += (*it)->Caption();
  }
  return path;
}

TTreeNode* FindNodeByPath(const TTreeView& tree, std::string_view path) {
  TTreeNode* node = tree.Root();
  if (!node || path.empty()) return nullptr;
  while (node) {
    const size_t slash = path.find('\\');
    node = node->FindChild(path.substr(0, slash));
    if (slash == std::string_view::npos) return node;
    path = path.substr(slash + 1);
  }
  return nullptr;
}

void PruneEmptyDrawers(TTreeView& tree, TTreeNode* start) {
  TTreeNode* node = start;
  while (node && !node->HasChildren()) {
    if (IsRootNode(node)) return;
    TTreeNode* parent = node->Parent();
    tree.Delete(node);
    if (!parent || IsRootNode(parent)) return;
    node = parent;
  }
}

std::string DumpTree(const TTreeView& tree) {
  std::string out;
  std::vector<const TTreeNode*> work;
  for (int i = tree.TopCount() - 1; i >= 0; --i) work.push_back(tree.TopItem(i));
  while (!work.empty()) {
    const TTreeNode* node = work.back();
    work.pop_back();
    out.append(static_cast<size_t>(node->Level()) * 2, ' ');
    out += node->Caption();
    out += " [" + std::to_string(node->ImageIndex());
    if (node->SelectedIndex() != node->ImageIndex()) out += "/" + std::to_string(node->SelectedIndex());
    out += "]";
    if (node->StateIndex() == kNoteStateIndex)
      out += " note";
    else if (node->StateIndex() != -1)
      out += " state=" + std::to_string(node->StateIndex());
    if (node->Expanded()) out += " +";
    if (tree.Selected() == node) out += " *";
    out += '\n';
    for (int i = node->Count() - 1; i >= 0; --i) work.push_back(node->Item(i));
  }
  return out;
}

}  // namespace qb
