// The explorer's mouse work as plain data: what the widget adapter tells the
// explorer window about a mouse event (button, shift state, the hit test), the
// one-shot timer it runs for the explorer, the pop-up menu the explorer composes
// and the adapter shows, and what the explorer borrows from the main window.
//
// The handlers themselves are members of TDockableForm (explorer_window.h). The
// flow of one drag, as the adapter drives it:
//
//   press    TreeView1MouseDown  -> maybe a pop-up to show (right button)
//   move     TreeView1MouseMove  -> true: start the toolkit's drag of the tree
//   over     TreeView1DragOver   -> always true
//   drop     TreeView1DragDrop(node under the drop point)
//   end      TreeView1EndDrag    (after every drag, dropped or abandoned)
//   release  TreeView1MouseUp
//
// The adapter never changes the tree's selection itself: the handlers decide it.
#pragma once

#include <array>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "explorer/tree.h"
#include "platform/interaction.h"
#include "zip/zip_writer.h"

namespace qb {

enum class TMouseButton { Left, Right, Middle };

// The shift state of a mouse event: modifier keys and the buttons held.
enum TShiftFlag : unsigned {
  ssShift = 1u << 0,
  ssAlt = 1u << 1,
  ssCtrl = 1u << 2,
  ssLeft = 1u << 3,
  ssRight = 1u << 4,
  ssMiddle = 1u << 5,
  ssDouble = 1u << 6,
};
using TShiftState = unsigned;

// Where on a row the point lies. Icon, StateIcon and Label count as "on the node";
// Row is the rest of a node's row (indent, expand button, right of the label).
enum class THitArea { Nowhere, Icon, StateIcon, Label, Row };

// The hit test the adapter makes for a mouse-down.
struct TTreeHit {
  TTreeNode* Node = nullptr;  // the node whose row holds the point, or none
  THitArea Area = THitArea::Nowhere;
  // The point in screen coordinates, where a pop-up menu opens.
  int ScreenX = 0;
  int ScreenY = 0;
  bool OnNode() const {
    return Node && (Area == THitArea::Icon || Area == THitArea::StateIcon || Area == THitArea::Label);
  }
};

// Timer1 of the explorer: 250 ms, one-shot, initially stopped. The adapter runs a
// single-shot timer and calls TDockableForm::Timer1Timer() on its tick.
class TExplorerTimer {
 public:
  virtual ~TExplorerTimer() = default;
  virtual void Start(int interval_ms) = 0;
  virtual void Stop() = 0;
};
inline constexpr int kTimer1Interval = 250;

// What the explorer borrows from the main window; every member may be left empty
// (a bare explorer then only moves nodes, and reads nothing).
struct TExplorerContext {
  zip::TZipWriter* Zip1 = nullptr;                      // the open cabinet
  IUserInteraction* UI = nullptr;                       // questions and error boxes
  std::function<void(const std::string&)> SetNoteText;  // the note pane's text
  std::function<bool()> ViewItemsMode;                  // the "&View Items" check mark
  std::function<void()> ItemClicked;  // view / load the selected item (View Items, AutoLoad)
};

// --- the pop-up menu PopupMenu1 ----------------------------------------------------

// The commands of the pop-up. All but AddNewDrawer are the main window's handlers
// (TMainForm::RunExplorerCommand); AddNewDrawer is the explorer's own.
enum class TExplorerCommand {
  None,          // the separator
  AddNewItem,    // AddNewItemMiClick
  AddNote,       // AddNoteMiClick
  AddNewDrawer,  // TDockableForm::AddNewDrawerMiClick
  ChangeGlyph,   // ChangeGlyphMiClick
  Rename,        // RenameMiClick
  EditAs,        // the sub-menu; each sub-item runs EditTextItemMiClick(tag)
  LoadSelected,  // LoadSelectedMiClick
  ViewItems,     // ViewItemsMiClick
  CopyOrMove,    // CopyMiClick(tag): 0 copy, 1 move
  Delete,        // DeleteMiClick
  DeleteNote,    // DeleteNoteMiClick
};

struct TPopupItemInfo {
  std::string_view Name;     // "AddTextMi"; "N1" for the separator
  std::string_view Caption;  // "-" for the separator
  int Image = -1;            // index into the main window's ImageList1
  int Tag = 0;
  std::string_view Handler;  // the handler's name, "" for the separator and the sub-menu
  TExplorerCommand Command = TExplorerCommand::None;
  bool IsSeparator() const { return Caption == "-"; }
};

namespace explorer_popup {
// In menu order.
inline constexpr std::array<TPopupItemInfo, 13> kItems = {{
    {"AddTextMi", "Add &New Text Item", 20, 0, "AddNewItemMiClick", TExplorerCommand::AddNewItem},
    {"AddNoteMi", "&Add Note", 5, 0, "AddNoteMiClick", TExplorerCommand::AddNote},
    {"AddNewDrawerMi", "Add Ne&w Drawer", 25, 0, "AddNewDrawerMiClick", TExplorerCommand::AddNewDrawer},
    {"ChangeGlyphMi", "&Change Glyph", 18, 0, "ChangeGlyphMiClick", TExplorerCommand::ChangeGlyph},
    {"RenameMi", "&Rename", 14, 0, "RenameMiClick", TExplorerCommand::Rename},
    {"EditMi", "&Edit As", 21, 0, "", TExplorerCommand::EditAs},
    {"LoadMi", "&Load To Clipboard", 13, 0, "LoadSelectedMiClick", TExplorerCommand::LoadSelected},
    {"ViewItemsMi", "&View Items", 15, 0, "ViewItemsMiClick", TExplorerCommand::ViewItems},
    {"CopyMi", "C&opy To Another File Cabinet", 32, 0, "CopyMiClick", TExplorerCommand::CopyOrMove},
    {"MoveMi", "Move To Another &File Cabinet", 33, 1, "CopyMiClick", TExplorerCommand::CopyOrMove},
    {"N1", "-", -1, 0, "", TExplorerCommand::None},
    {"DeleteMi", "&Delete", 3, 0, "DeleteMiClick", TExplorerCommand::Delete},
    {"DeleteNoteMi", "Delete Note", 4, 0, "DeleteNoteMiClick", TExplorerCommand::DeleteNote},
}};
// The "&Edit As" sub-menu, in order; the tag selects the highlighter.
inline constexpr std::array<TPopupItemInfo, 10> kEditAsItems = {{
    {"PlainText1", "Plain &Text", -1, 0, "EditTextItemMiClick", TExplorerCommand::EditAs},
    {"CBuilderC1", "&CBuilder   (C++)", -1, 2, "EditTextItemMiClick", TExplorerCommand::EditAs},
    {"HTML1", "&HTML", -1, 7, "EditTextItemMiClick", TExplorerCommand::EditAs},
    {"INI1", "&INI", -1, 9, "EditTextItemMiClick", TExplorerCommand::EditAs},
    {"Java1", "&Java", -1, 5, "EditTextItemMiClick", TExplorerCommand::EditAs},
    {"DelphiPascal1", "&Delphi  (Pascal)", -1, 1, "EditTextItemMiClick", TExplorerCommand::EditAs},
    {"Perl1", "&Perl", -1, 8, "EditTextItemMiClick", TExplorerCommand::EditAs},
    {"Python1", "P&ython", -1, 4, "EditTextItemMiClick", TExplorerCommand::EditAs},
    {"SQL1", "&SQL", -1, 3, "EditTextItemMiClick", TExplorerCommand::EditAs},
    {"VisualBasic1", "&Visual Basic", -1, 6, "EditTextItemMiClick", TExplorerCommand::EditAs},
}};
}  // namespace explorer_popup

// One item of the pop-up as it is to be shown.
struct TPopupItem {
  TPopupItemInfo Info;
  bool Visible = false;
  bool Checked = false;  // only "&View Items" carries a check mark
};

// The pop-up as a right-click composed it. Items holds every item of the table in
// order (hidden ones with Visible false); EditAsItems the sub-menu of "&Edit As".
// The menu opens at ScreenX, ScreenY, animated left to right and top to bottom.
struct TExplorerPopup {
  std::vector<TPopupItem> Items;
  std::vector<TPopupItemInfo> EditAsItems;
  int ScreenX = 0;
  int ScreenY = 0;
  // The item of that name, or null.
  const TPopupItem* Find(std::string_view name) const;
  bool IsVisible(std::string_view name) const;
  // The captions of the visible items, in order ("-" for the separator).
  std::vector<std::string> VisibleCaptions() const;
};

namespace explorer_text {
inline constexpr const char* kAddDrawerCaption = "Add New Drawer";
inline constexpr const char* kAddDrawerPrompt = "Enter the name of the new drawer";
inline constexpr const char* kAddDrawerInitial = "NewDrawer";
inline constexpr const char* kDrawerExistsCaption = "Drawer Already Exists";
inline constexpr const char* kDrawerExistsPrompt = "Enter a different name for the new drawer";
inline constexpr const char* kAlreadyExist = " already exist!";
inline constexpr const char* kReplaceEntry = "Do you wish to replace this entry ?";
inline constexpr const char* kEmptyDrawerName =
    "A drawer needs a name; enter at least one character that is not a blank";
inline constexpr const char* kBackslashInName =
    "A drawer name cannot contain a backslash; add the drawers one level at a time";
inline constexpr const char* kUnusableName = "cannot be used as a drawer name";
}  // namespace explorer_text

}  // namespace qb
