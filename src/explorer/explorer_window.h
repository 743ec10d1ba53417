// TDockableForm: the logic of the explorer window ("Filing Cabinet"), without widgets.
//
// It owns the tree model TreeView1 and knows how many images its glyph image list
// ImageList1 holds (22 fixed glyphs, then the user glyphs). The routines that map
// between nodes and item paths are its members, as the commands call them on the
// explorer; they forward to the free routines of tree_routines.h. The Qt window
// owns a widget adapter over TreeView1 and forwards its events here.
//
// The mouse handlers (explorer_mouse.h has the flow) keep a small state: the
// mouse-down lock that Timer1 clears 250 ms after a handled press (so the second
// press of a double-click does nothing), the mouse-down point, the drag-armed and
// drag-started flags, and the clicked container (the root or drawer under the last
// press; the selection never holds such a node).
//
// Decisions beyond the bare handlers:
// - The clicked container is remembered by its path, not by the node, so a tree
//   rebuilt or pruned since the press can never leave it dangling.
// - A drop that replaced an entry removes the replaced item's node, so the tree
//   never shows two nodes of one item path.
// - A drop writes the archive first and moves the node after it: an archive that
//   cannot be written leaves tree and cabinet as they were, and says why.
// - Add New Drawer refuses an empty (or blank) name, a name with a backslash, and
//   a name the archive could not store as a drawer level, each with a message, and
//   asks again.
// - Handlers never throw: errors from the archive are shown in an error box.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "explorer/explorer_mouse.h"
#include "explorer/tree.h"
#include "explorer/tree_routines.h"

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

  // --- mouse and drag ----------------------------------------------------------------
  // What the main window lends; see TExplorerContext.
  void SetContext(TExplorerContext context) { context_ = std::move(context); }
  // The adapter's single-shot timer; without one no press is ever locked out.
  void SetTimer1(TExplorerTimer* timer) { timer_ = timer; }

  // A mouse press at client point x, y. With the right button the pop-up to show
  // is returned (nothing when the press was locked out).
  std::optional<TExplorerPopup> TreeView1MouseDown(TMouseButton button, TShiftState shift, int x, int y,
                                                   const TTreeHit& hit);
  // The pointer moved with the buttons of shift held; true: begin dragging the
  // tree now (the toolkit's own drag threshold still applies).
  bool TreeView1MouseMove(TShiftState shift, int x, int y);
  void TreeView1MouseUp(TMouseButton button, TShiftState shift, int x, int y);
  // A drag over the tree is always accepted: the tree is the only source.
  bool TreeView1DragOver() const { return true; }
  // The selected item was dropped on target (the node under the drop point, or
  // none): moves it into target's drawer.
  void TreeView1DragDrop(TTreeNode* target);
  // Every drag ends here, dropped on the tree or anywhere else.
  void TreeView1EndDrag();
  // The keys moved the tree's current row to node: it is clicked as a left press
  // and release on its caption at client point x, y would be, so the commands act
  // on the row the user sees selected. The mouse-down lock does not hold keys up;
  // the click locks out a mouse press as any click does.
  void TreeView1KeyMove(TTreeNode* node, int x, int y);
  // The tick of Timer1.
  void Timer1Timer();
  // The pop-up's "Add Ne&w Drawer".
  void AddNewDrawerMiClick();

  bool MouseDownLocked() const { return mouse_down_lock_; }
  bool DragArmed() const { return drag_armed_; }
  bool DragStarted() const { return drag_started_; }
  int MouseDownX() const { return mouse_down_x_; }
  int MouseDownY() const { return mouse_down_y_; }
  // The root or drawer under the last press, or null.
  TTreeNode* ClickedContainer() const;

 private:
  enum class TContainerKind { None, Root, Drawer };
  void RememberContainer(TTreeNode* node);
  TExplorerPopup ComposePopup(TTreeNode* hit_item);
  // The format number in the comment of the item's entry; 0 when there is none.
  long long ItemFormat(const TTreeNode* item);
  void ShowClickedItem(TTreeNode* item);
  void MoveSelectedItem(TTreeNode* item, TTreeNode* target);
  void ReportError(const std::string& text);

  std::string caption_{dockable_form::kCaption};
  bool visible_ = true;
  TTreeView tree_;
  int glyph_image_count_ = dockable_form::kFixedGlyphCount;

  TExplorerContext context_;
  TExplorerTimer* timer_ = nullptr;
  bool mouse_down_lock_ = false;
  int mouse_down_x_ = 0;
  int mouse_down_y_ = 0;
  bool drag_armed_ = false;
  bool drag_started_ = false;
  TContainerKind container_kind_ = TContainerKind::None;
  std::string container_path_;
};

}  // namespace qb
