// TCommand: every command of the main window, named after its handler. The menu,
// the tool bar, the language drop-downs and the shortcuts all refer to commands
// by this one list, so a command cannot be misspelt in one table and silently do
// nothing: the form runs its commands in one switch (RunHandler, menu_model.h) and
// the Qt window runs its own in another, and the compiler names any value either
// switch leaves out.
//
// A new command goes here, into CommandInfo's table (commands.cpp), and into the
// switch of whoever runs it.
#pragma once

#include <optional>
#include <span>
#include <string_view>

namespace qb {

enum class TCommand {
  None,  // a separator, a sub-menu, or an item that runs nothing
  // File
  OpenMiClick,
  NewMiClick,
  ExitMiClick,
  // Edit
  AddNoteMiClick,
  ChangeGlyphMiClick,
  RenameMiClick,
  EditTextItemMiClick,  // tag: the highlighter, 0 plain text ... 9 INI
  CopyMiClick,          // tag: 0 copy, 1 move
  AddNewItemMiClick,
  NewDrawMiClick,
  AddUserGlyphsMiClick,
  RemoveUserGlyphsMiClick,
  DeleteMiClick,
  DeleteNoteMiClick,
  ModToolbarMiClick,
  // Clipboard
  SaveToFCMiClick,
  CurrentDrawerMiClick,
  LoadSelectedMiClick,
  ViewItemsMiClick,
  EditClipboardMiClick,  // tag: the highlighter
  AutoSaveMiClick,
  AutoLoad1Click,
  // View
  ToolbarMiClick,
  LegendMiClick,
  ExplorerMiClick,
  NoteMiClick,
  ViewerMiClick,
  DisplayAllMiClick,
  CollapseAllMiClick,
  // Help
  HelpManualMiClick,
  HelpOnHelpMiClick,
  AboutMiClick,
  HowToMiClick,
  // Tool bar buttons that open a drop-down of the language items of
  // EditTextItemMiClick (PopupMenu1) or EditClipboardMiClick (PopupMenu2).
  PopupMenu1,
  PopupMenu2,
};

// Who runs a command: the main form (the program's logic), or the window itself
// (exit, the panes, the tool bar, help and the drop-downs: purely about windows).
enum class TCommandOwner { Form, Window };

struct TCommandInfo {
  TCommand Command = TCommand::None;
  std::string_view Handler;  // "OpenMiClick"
  TCommandOwner Owner = TCommandOwner::Form;
  bool Available = true;  // false: a feature this version does not have yet; shown disabled
};

// Every command but None, in the order of the enumeration.
std::span<const TCommandInfo> Commands();
const TCommandInfo& CommandInfo(TCommand command);
std::string_view HandlerName(TCommand command);  // "" for None
// The command of a handler name; none when the name is no command's.
std::optional<TCommand> CommandByHandler(std::string_view handler);
// False for None and for the commands of features this version does not have yet.
bool CommandAvailable(TCommand command);

}  // namespace qb
