#include "app/commands.h"

#include <array>

namespace qb {

namespace {

using enum TCommand;
constexpr TCommandOwner kForm = TCommandOwner::Form;
constexpr TCommandOwner kWindow = TCommandOwner::Window;

// In the order of the enumeration (checked below).
constexpr std::array kCommands = {
    TCommandInfo{OpenMiClick, "OpenMiClick", kForm},
    TCommandInfo{NewMiClick, "NewMiClick", kForm},
    TCommandInfo{ExitMiClick, "ExitMiClick", kWindow},
    TCommandInfo{AddNoteMiClick, "AddNoteMiClick", kForm},
    TCommandInfo{ChangeGlyphMiClick, "ChangeGlyphMiClick", kForm},
    TCommandInfo{RenameMiClick, "RenameMiClick", kForm},
    TCommandInfo{EditTextItemMiClick, "EditTextItemMiClick", kForm},
    TCommandInfo{CopyMiClick, "CopyMiClick", kForm},
    TCommandInfo{AddNewItemMiClick, "AddNewItemMiClick", kForm},
    TCommandInfo{NewDrawMiClick, "NewDrawMiClick", kForm},
    TCommandInfo{AddUserGlyphsMiClick, "AddUserGlyphsMiClick", kForm},
    TCommandInfo{RemoveUserGlyphsMiClick, "RemoveUserGlyphsMiClick", kForm},
    TCommandInfo{DeleteMiClick, "DeleteMiClick", kForm},
    TCommandInfo{DeleteNoteMiClick, "DeleteNoteMiClick", kForm},
    TCommandInfo{ModToolbarMiClick, "ModToolbarMiClick", kWindow},
    TCommandInfo{SaveToFCMiClick, "SaveToFCMiClick", kForm},
    TCommandInfo{CurrentDrawerMiClick, "CurrentDrawerMiClick", kForm},
    TCommandInfo{LoadSelectedMiClick, "LoadSelectedMiClick", kForm},
    TCommandInfo{ViewItemsMiClick, "ViewItemsMiClick", kForm},
    TCommandInfo{EditClipboardMiClick, "EditClipboardMiClick", kForm},
    TCommandInfo{AutoSaveMiClick, "AutoSaveMiClick", kForm},
    TCommandInfo{AutoLoad1Click, "AutoLoad1Click", kForm},
    TCommandInfo{ToolbarMiClick, "ToolbarMiClick", kWindow},
    TCommandInfo{LegendMiClick, "LegendMiClick", kForm},
    TCommandInfo{ExplorerMiClick, "ExplorerMiClick", kWindow},
    TCommandInfo{NoteMiClick, "NoteMiClick", kWindow},
    TCommandInfo{ViewerMiClick, "ViewerMiClick", kWindow},
    TCommandInfo{DisplayAllMiClick, "DisplayAllMiClick", kForm},
    TCommandInfo{CollapseAllMiClick, "CollapseAllMiClick", kForm},
    TCommandInfo{HelpManualMiClick, "HelpManualMiClick", kWindow},
    TCommandInfo{HelpOnHelpMiClick, "HelpOnHelpMiClick", kWindow},
    TCommandInfo{AboutMiClick, "AboutMiClick", kWindow},
    TCommandInfo{HowToMiClick, "HowToMiClick", kWindow},
    TCommandInfo{PopupMenu1, "PopupMenu1", kWindow},
    TCommandInfo{PopupMenu2, "PopupMenu2", kWindow},
};

constexpr bool InEnumOrder() {
  for (size_t i = 0; i < kCommands.size(); ++i)
    if (static_cast<size_t>(kCommands[i].Command) != i + 1) return false;
  return static_cast<size_t>(PopupMenu2) == kCommands.size();
}
static_assert(InEnumOrder(), "kCommands lists every command once, in the order of TCommand");

constexpr TCommandInfo kNone{};

}  // namespace

std::span<const TCommandInfo> Commands() {
  return kCommands;
}

const TCommandInfo& CommandInfo(TCommand command) {
  const auto index = static_cast<size_t>(command);
  return index >= 1 && index <= kCommands.size() ? kCommands[index - 1] : kNone;
}

std::string_view HandlerName(TCommand command) {
  return CommandInfo(command).Handler;
}

std::optional<TCommand> CommandByHandler(std::string_view handler) {
  for (const TCommandInfo& info : kCommands)
    if (info.Handler == handler) return info.Command;
  return std::nullopt;
}

bool CommandAvailable(TCommand command) {
  const TCommandInfo& info = CommandInfo(command);
  return info.Command != None && info.Available;
}

}  // namespace qb
