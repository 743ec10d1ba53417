#include "explorer/explorer_window.h"

#include <cstdlib>
#include <exception>

#include "platform/codepage.h"
#include "store/cabinet_store.h"
#include "store/item_metadata.h"
#include "store/item_paths.h"

namespace qb {

namespace {

constexpr const char* kCrLf = "\r\n";
constexpr int kDragDistance = 5;  // pixels on either axis before a drag begins

}  // namespace

void TDockableForm::ReportError(const std::string& text) {
  if (context_.UI) qb::ShowError(*context_.UI, text);
}

// --- the clicked container ---------------------------------------------------------------

void TDockableForm::RememberContainer(TTreeNode* node) {
  if (!node) {
    container_kind_ = TContainerKind::None;
    container_path_.clear();
  } else if (IsRootNode(node)) {
    container_kind_ = TContainerKind::Root;
    container_path_.clear();
  } else {
    container_kind_ = TContainerKind::Drawer;
    container_path_ = qb::ItemPathOf(node);
  }
}

TTreeNode* TDockableForm::ClickedContainer() const {
  switch (container_kind_) {
    case TContainerKind::None:
      return nullptr;
    case TContainerKind::Root:
      return tree_.Root();
    case TContainerKind::Drawer: {
      TTreeNode* node = FindNodeByPath(tree_, container_path_);
      return IsContainerNode(node) ? node : nullptr;
    }
  }
  return nullptr;
}

// --- mouse -------------------------------------------------------------------------------

std::optional<TExplorerPopup> TDockableForm::TreeView1MouseDown(TMouseButton button, TShiftState /*shift*/,
                                                                int x, int y, const TTreeHit& hit) {
  drag_armed_ = false;
  RememberContainer(nullptr);
  if (mouse_down_lock_) return std::nullopt;
  if (timer_) {
    mouse_down_lock_ = true;
    timer_->Start(kTimer1Interval);
  }
  mouse_down_x_ = x;
  mouse_down_y_ = y;
  if (IsContainerNode(tree_.Selected())) tree_.SetSelected(nullptr);

  TTreeNode* hit_item = nullptr;
  if (hit.Node && hit.Node->Owner() == &tree_) {
    if (IsContainerNode(hit.Node)) {
      // A press on the root or a drawer leaves nothing selected.
      RememberContainer(hit.Node);
      tree_.SetSelected(nullptr);
    } else {
      hit_item = hit.Node;
      tree_.SetSelected(hit_item);
    }
  }

  if (button == TMouseButton::Right) {
    TExplorerPopup popup = ComposePopup(hit_item);
    popup.ScreenX = hit.ScreenX;
    popup.ScreenY = hit.ScreenY;
    return popup;
  }
  TTreeNode* selected = SelectedItem();
  if (hit.OnNode() && selected) {
    drag_armed_ = true;
    ShowClickedItem(selected);
  }
  return std::nullopt;
}

long long TDockableForm::ItemFormat(const TTreeNode* item) {
  zip::TZipWriter* zip = context_.Zip1;
  if (!zip || zip->ZipName().empty()) return 0;
  try {
    store::RefreshDirectory(*zip);
    const int index = store::FindItemEntry(*zip, qb::ItemPathOf(item));
    if (index >= zip->EntryCount() || !zip->EntryHasComment(index)) return 0;
    return store::ReadFormatNumber(zip->EntryComment(index)).value_or(0);
  } catch (const std::exception&) {
    // An unreadable cabinet or a format field that is no number: no text item.
    return 0;
  }
}

TExplorerPopup TDockableForm::ComposePopup(TTreeNode* hit_item) {
  TExplorerPopup popup;
  const bool item = hit_item != nullptr;
  const long long format = item ? ItemFormat(hit_item) : 0;
  const bool view_items = context_.ViewItemsMode && context_.ViewItemsMode();
  const bool drawer_offered = ClickedContainer() != nullptr || tree_.Selected() != nullptr;
  for (const TPopupItemInfo& info : explorer_popup::kItems) {
    TPopupItem shown{info};
    switch (info.Command) {
      case TExplorerCommand::None:
      case TExplorerCommand::AddNewItem:
        shown.Visible = true;
        break;
      case TExplorerCommand::ViewItems:
        shown.Visible = true;
        shown.Checked = view_items;
        break;
      case TExplorerCommand::AddNewDrawer:
        shown.Visible = drawer_offered;
        break;
      case TExplorerCommand::CopyOrMove: {
        // An item, or every item of a drawer.
        const TTreeNode* container = ClickedContainer();
        shown.Visible = item || (container && !IsRootNode(container));
        break;
      }
      case TExplorerCommand::DeleteNote:
        shown.Visible = item && HasNoteMark(hit_item);
        break;
      case TExplorerCommand::EditAs:
        shown.Visible = item && (format == store::kFormatText || format == store::kFormatOemText);
        break;
      default:
        shown.Visible = item;
        break;
    }
    popup.Items.push_back(shown);
  }
  popup.EditAsItems.assign(explorer_popup::kEditAsItems.begin(), explorer_popup::kEditAsItems.end());
  return popup;
}

void TDockableForm::ShowClickedItem(TTreeNode* item) {
  if (context_.SetNoteText) context_.SetNoteText(std::string());
  zip::TZipWriter* zip = context_.Zip1;
  if (!zip || zip->ZipName().empty()) return;
  try {
    store::RefreshDirectory(*zip);
    const int index = store::FindItemEntry(*zip, qb::ItemPathOf(item));
    if (index >= zip->EntryCount()) return;  // not in the cabinet: the note pane stays empty
    if (zip->EntryHasComment(index)) {
      const std::string comment = zip->EntryComment(index);
      if (store::CommentHasNote(comment) && context_.SetNoteText)
        context_.SetNoteText(store::ReadNoteText(comment));
    }
    if (context_.ItemClicked) context_.ItemClicked();
  } catch (const std::exception& e) {
    ReportError(e.what());
  }
}

bool TDockableForm::TreeView1MouseMove(TShiftState shift, int x, int y) {
  if (drag_started_ || !drag_armed_ || !(shift & (ssLeft | ssRight))) return false;
  const long long dx = std::llabs(static_cast<long long>(x) - mouse_down_x_);
  const long long dy = std::llabs(static_cast<long long>(y) - mouse_down_y_);
  if (dx < kDragDistance && dy < kDragDistance) return false;
  if (!SelectedItem()) return false;
  drag_started_ = true;
  return true;
}

void TDockableForm::TreeView1MouseUp(TMouseButton /*button*/, TShiftState /*shift*/, int /*x*/, int /*y*/) {
  // Only the root and drawers are taken out of the selection; an item keeps it
  // whatever its glyph.
  if (IsContainerNode(tree_.Selected())) tree_.SetSelected(nullptr);
}

void TDockableForm::TreeView1EndDrag() {
  drag_armed_ = false;
  drag_started_ = false;
}

void TDockableForm::TreeView1KeyMove(TTreeNode* node, int x, int y) {
  if (!node || node->Owner() != &tree_) return;
  Timer1Timer();
  TTreeHit hit;
  hit.Node = node;
  hit.Area = THitArea::Label;
  TreeView1MouseDown(TMouseButton::Left, ssLeft, x, y, hit);
  TreeView1MouseUp(TMouseButton::Left, 0, x, y);
  TreeView1EndDrag();
}

void TDockableForm::Timer1Timer() {
  mouse_down_lock_ = false;
  if (timer_) timer_->Stop();
}

// --- drop: moving an item into another drawer ---------------------------------------------

void TDockableForm::TreeView1DragDrop(TTreeNode* target) {
  drag_armed_ = false;
  drag_started_ = false;
  TTreeNode* item = SelectedItem();
  if (!item || !target || target->Owner() != &tree_) return;
  if (!IsContainerNode(target)) target = target->Parent();
  // Only a container can receive the item (a damaged tree may nest below items).
  if (!IsContainerNode(target) || target == item->Parent() || item->IsAncestorOf(target)) return;
  try {
    MoveSelectedItem(item, target);
  } catch (const std::exception& e) {
    ReportError(e.what());
  }
}

void TDockableForm::MoveSelectedItem(TTreeNode* item, TTreeNode* target) {
  const std::string old_path = qb::ItemPathOf(item);
  const std::string drawer_path = qb::ItemPathOf(target);
  const std::string name(store::ItemNameOf(old_path));
  std::string new_path = drawer_path.empty() ? name : drawer_path + "\\" + name;
  bool replaced = false;

  zip::TZipWriter* zip = context_.Zip1;
  if (zip && !zip->ZipName().empty()) {
    // The path as the archive will store it, so the question, the entry and the
    // node all name the same item.
    new_path = store::NormalizeItemPath(new_path);
    store::RefreshDirectory(*zip);
    const int other = store::FindItemEntry(*zip, new_path);
    const int own = store::FindItemEntry(*zip, old_path);
    if (other < zip->EntryCount() && other != own) {
      if (!context_.UI) return;
      const MsgAnswer answer = context_.UI->MessageBox(
          MsgKind::Warning, DefaultCaption(MsgKind::Warning),
          new_path + explorer_text::kAlreadyExist + kCrLf + explorer_text::kReplaceEntry,
          MsgButtons::OkCancel);
      if (answer != MsgAnswer::Ok) return;
      replaced = true;
    }
    // The rename and the removal of the replaced entry are one update: a failure
    // leaves the cabinet as it was (and propagates before the tree changes).
    if (own < zip->EntryCount()) store::MoveItem(*zip, zip->EntryFullName(own), new_path, replaced);
  }

  const std::string new_name(store::ItemNameOf(new_path));
  TTreeNode* old_parent = item->Parent();
  if (!tree_.MoveTo(item, target)) return;
  if (item->Caption() != new_name) item->SetCaption(new_name);
  PruneEmptyDrawers(old_parent);
  if (replaced) {
    for (int k = 0; k < target->Count(); ++k) {
      TTreeNode* sibling = target->Item(k);
      if (sibling != item && IsItemNode(sibling) && codepage::SameTextAscii(sibling->Caption(), new_name)) {
        tree_.Delete(sibling);
        break;
      }
    }
  }
}

// --- Add New Drawer ------------------------------------------------------------------------

void TDockableForm::AddNewDrawerMiClick() {
  TTreeNode* parent = ClickedContainer();
  if (!parent) {
    TTreeNode* selected = tree_.Selected();
    parent = IsContainerNode(selected) ? selected : selected ? selected->Parent() : nullptr;
  }
  if (!parent || !context_.UI) return;
  IUserInteraction& ui = *context_.UI;
  std::optional<std::string> typed = ui.InputBox(
      explorer_text::kAddDrawerCaption, explorer_text::kAddDrawerPrompt, explorer_text::kAddDrawerInitial);
  const std::string parent_path = qb::ItemPathOf(parent);
  while (typed) {
    const std::string name = *typed;
    std::string refusal;
    if (store::IsBlankName(name)) {
      refusal = explorer_text::kEmptyDrawerName;
    } else if (name.find('\\') != std::string::npos) {
      refusal = explorer_text::kBackslashInName;
    } else {
      // An item stored in the drawer must keep the drawer's name in the archive.
      const std::string probe = (parent_path.empty() ? "" : parent_path + "\\") + name + "\\x";
      std::string stored;
      try {
        stored = store::NormalizeItemPath(probe);
      } catch (const std::exception&) {
      }
      if (stored != probe) refusal = "\"" + name + "\" " + explorer_text::kUnusableName;
    }
    if (!refusal.empty()) {
      qb::ShowError(ui, refusal);
      typed = ui.InputBox(explorer_text::kAddDrawerCaption, explorer_text::kAddDrawerPrompt, name);
      continue;
    }
    // The dialog was modal; find the parent again in case the tree changed meanwhile.
    parent = parent_path.empty() ? tree_.Root() : FindNodeByPath(tree_, parent_path);
    if (!IsContainerNode(parent)) return;
    if (!parent->FindChild(name)) {
      InsertItemPath(parent, name + "\\", -1, -1);
      parent->SetExpanded(true);
      return;
    }
    typed = ui.InputBox(explorer_text::kDrawerExistsCaption, explorer_text::kDrawerExistsPrompt, name);
  }
}

}  // namespace qb
