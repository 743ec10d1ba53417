// The main window's menus and tool bar as data: every item's name, caption,
// shortcut, image and the handler it runs. The Qt window builds its actions from
// these tables (one action per handler, shared by menu, tool bar and pop-ups);
// the handlers themselves run through RunHandler.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace qb {

class TMainForm;

struct TMenuEntry {
  std::string Name;      // "OpenMi"; empty for a separator
  std::string Caption;   // with & marking the accelerator
  std::string ShortCut;  // "Ctrl+O"; empty for none
  int Image = -1;        // index into the main window's image list
  std::string Handler;   // "OpenMiClick"; empty for a top-level menu or sub-menu
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

// The ten language items of an "Edit ... As" sub-menu. clipboard selects the
// Clipboard menu's captions, popup the tool bar drop-downs' tags (Java and Perl
// open the editor without highlighting there).
std::vector<TMenuEntry> LanguageItems(std::string_view handler, bool clipboard, bool popup = false);

// A tool bar item.
struct TSpeedItem {
  std::string Name;
  std::string Section;  // File, Edit, Clipboard, View, Help
  std::string Caption;
  std::string Hint;  // short hint "|" long hint
  int Image = -1;
  bool ShownAtFirst = false;
  std::string Handler;  // empty: runs nothing; "PopupMenu1"/"PopupMenu2": opens that drop-down
  std::string ShortHint() const;
  std::string LongHint() const;
};

// Every tool bar item, in their design order.
const std::vector<TSpeedItem>& SpeedItems();

// Runs a command of the main form by its handler name and the clicked item's tag.
// Returns false when the name is no command of the form (the window's own
// commands - exit, help, panes, tool bar - are the window's to run).
bool RunHandler(TMainForm& form, std::string_view handler, int tag);

// The handlers of features this version does not have yet; their items show
// disabled.
bool HandlerAvailable(std::string_view handler);

}  // namespace qb
