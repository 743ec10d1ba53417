// The explorer tree's routines: mapping between item paths and nodes, inserting an
// item path, pruning drawers left empty, and a compact text dump for tests and logs.
//
// Node kinds are told apart by their image index alone: the root (the cabinet,
// image 13) is the first node of the tree, drawers have image 1, every other node is
// an item whose image is its glyph (2 when none is stored). An item with a note
// carries the state index 9; the note mark counts as present for any state index of
// 0 or more.
#pragma once

#include <string>
#include <string_view>

#include "explorer/tree.h"

namespace qb {

inline constexpr int kRootImage = 13;
inline constexpr int kDrawerImage = 1;
inline constexpr int kDefaultItemImage = 2;
inline constexpr int kNoteStateIndex = 9;  // the note mark, image 9 of the main window's ImageList1
inline constexpr int kNoImage = -1;

// The root of the tree (node index 0), or null when no cabinet is shown.
TTreeNode* RootOf(const TTreeView& tree);
bool IsRootNode(const TTreeNode* node);
// The root or a drawer: a place where items and drawers live.
bool IsContainerNode(const TTreeNode* node);
// Neither root nor drawer.
bool IsItemNode(const TTreeNode* node);
bool HasNoteMark(const TTreeNode* node);

// Inserts the item path below parent: every level before a backslash is a drawer,
// the last level an item. Existing nodes whose captions equal a level (ASCII letters
// folded, first match) are reused unchanged; new ones are appended. glyph -1 means
// the default glyph 2; state -1 means no note mark. A path ending in a backslash
// makes drawers only. Returns the node of the path's last level (the item, or the
// deepest drawer), or null for an empty path or a null parent.
TTreeNode* InsertItemPath(TTreeView& tree, TTreeNode* parent, std::string_view path, int glyph, int state);

// The item path of a node: the captions from the first level below the root down to
// node, joined by backslashes. Empty for the root and for null.
std::string ItemPathOf(const TTreeNode* node);

// The node that the item path names below the root (levels matched as
// InsertItemPath matches them), or null.
TTreeNode* FindNodeByPath(const TTreeView& tree, std::string_view path);

// Deletes start and then each parent that is left without children, upwards, as
// long as the node has no children; the root is never deleted.
void PruneEmptyDrawers(TTreeView& tree, TTreeNode* start);

// One line per node, two blanks of indent per level:
//   <caption> [<image>] then, when they apply: "/<selected index>" when it differs
//   from the image, " note" for a note mark (" state=<n>" for a state other than 9),
//   " +" for an expanded node, " *" for the selected node.
std::string DumpTree(const TTreeView& tree);

}  // namespace qb
