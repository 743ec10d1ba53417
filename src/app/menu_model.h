// The main window's menus and tool bar as data: every item's name, caption,
// shortcut, image and the command it runs (commands.h). The Qt window builds its
// actions from these tables (one action per command and tag, shared by menu, tool
// bar and drop-downs); the form's commands run through RunHandler.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "app/commands.h"

namespace qb {

class TMainForm;

struct TMenuEntry {
  std::string Name;                   // "OpenMi"; empty for a separator
  std::string Caption;                // with & marking the accelerator
  std::string ShortCut;               // "Ctrl+O"; empty for none
  int Image = -1;                     // index into the main window's image list
  TCommand Command = TCommand::None;  // None for a separator or a sub-menu
  bool CheckItem = false;
  int Tag = 0;
  std::string SubMenu;  // "Languages": the item opens the ten language items
  bool IsSeparator() const { return Name.empty(); }
};

struct TTopMenu {
  std::string Name;     // "FileMi"
  std::string Caption;  // "&File"
  std::string OnOpen;   // the enablement handler run when it opens ("EditMiClick"), or empty
  std::vector<TMenuEntry> Items;
};

// The main menu, in order.
const std::vector<TTopMenu>& MainMenu();

// The ten language items of an "Edit ... As" sub-menu, running command
// (EditTextItemMiClick, or EditClipboardMiClick with the Clipboard menu's
// captions). popup selects the tool bar drop-downs' tags (Java and Perl open the
// editor without highlighting there).
std::vector<TMenuEntry> LanguageItems(TCommand command, bool popup = false);

// A tool bar item.
struct TSpeedItem {
  std::string Name;
  std::string Section;  // File, Edit, Clipboard, View, Help
  std::string Caption;
  std::string Hint;  // short hint "|" long hint
  int Image = -1;
  bool ShownAtFirst = false;
  TCommand Command = TCommand::None;  // PopupMenu1/2: opens that drop-down
  int Tag = 0;                        // the tag the command runs with (1: Move)
  std::string ShortHint() const;
  std::string LongHint() const;
};

// Every tool bar item, in their design order.
const std::vector<TSpeedItem>& SpeedItems();

// Runs a command of the main form with the clicked item's tag. Returns false for
// the window's own commands (exit, help, panes, tool bar) and for those not in
// this version yet.
bool RunHandler(TMainForm& form, TCommand command, int tag);

}  // namespace qb
