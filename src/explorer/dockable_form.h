// TDockableForm: the logic of the explorer window ("Filing Cabinet"), without widgets.
//
// It owns the tree model TreeView1 and knows how many images its glyph image list
// ImageList1 holds (22 fixed glyphs, then the user glyphs). The routines that map
// between nodes and item paths are its members, as the commands call them on the
// explorer; they forward to the free routines of tree_routines.h. The Qt window
// owns a widget adapter over TreeView1 and forwards its events here.
#pragma once

#include <string>
#include <string_view>

#include "explorer/tree_routines.h"
#include "explorer/tree_view.h"

namespace qb {

namespace dockable_form {
inline constexpr std::string_view kCaption = "Filing Cabinet";
inline constexpr int kDesignWidth = 209, kDesignHeight = 345;
inline constexpr int kIndent = 19;
inline constexpr int kFixedGlyphCount = 22;
}  // namespace dockable_form

class TDockableForm {
 public:
  TDockableForm() = default;

  const std::string& Caption() const { return caption_; }
  bool Visible() const { return visible_; }
  void SetVisible(bool visible) { visible_ = visible; }
  // The window is hidden, never destroyed.
  void FormClose() { visible_ = false; }

  TTreeView& TreeView1() { return tree_; }
  const TTreeView& TreeView1() const { return tree_; }

  // The number of images of the glyph image list ImageList1.
  int GlyphImageCount() const { return glyph_image_count_; }
  void SetGlyphImageCount(int count) {
    glyph_image_count_ = count < dockable_form::kFixedGlyphCount ? dockable_form::kFixedGlyphCount : count;
  }

  TTreeNode* Root() const { return tree_.Root(); }
  TTreeNode* Selected() const { return tree_.Selected(); }
  // The selected node when it is an item, else null.
  TTreeNode* SelectedItem() const { return IsItemNode(tree_.Selected()) ? tree_.Selected() : nullptr; }

  TTreeNode* InsertItemPath(TTreeNode* parent, std::string_view path, int glyph, int state) {
    return qb::InsertItemPath(tree_, parent, path, glyph, state);
  }
  std::string ItemPathOf(const TTreeNode* node) const { return qb::ItemPathOf(node); }
  void PruneEmptyDrawers(TTreeNode* start) { qb::PruneEmptyDrawers(tree_, start); }
  void FullExpand() { tree_.FullExpand(); }
  void FullCollapse() { tree_.FullCollapse(); }

 private:
  std::string caption_{dockable_form::kCaption};
  bool visible_ = true;
  TTreeView tree_;
  int glyph_image_count_ = dockable_form::kFixedGlyphCount;
};

}  // namespace qb
