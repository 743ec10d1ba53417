// The global hotkey: the key combination that brings the program's window to the
// front with its search field focused, whichever program has the keyboard. The
// settings file names it (section TMainForm, key GlobalHotkey_ShortCut,
// "Ctrl+Shift+V" until changed); ParseHotkeySetting reads that text, which may be
// anything a hand or a program put there.
//
// A key is named by its X11 keysym (the number the desktop's key grab works with;
// for a character key it follows the character: 'v' is 0x76, 'é' 0xE9, other
// characters 0x1000000 + their code point).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "app/commands.h"

namespace qb {

namespace hotkey {
inline constexpr std::string_view kDefault = "Ctrl+Shift+V";
// Why a hotkey cannot be had (HotkeyUnavailableText).
inline constexpr std::string_view kHeldByAnother = "another program holds it";
inline constexpr std::string_view kNoSuchKey = "the keyboard has no such key";
inline constexpr std::string_view kNoKeyGrab = "it needs an X11 desktop session";
// Where the desktop's global shortcut service (the desktop portal) was asked.
inline constexpr std::string_view kNoService =
    "the desktop has no global shortcut service, and a key grab needs an X11 desktop session";
inline constexpr std::string_view kServiceSilent = "the desktop's global shortcut service does not answer";
inline constexpr std::string_view kServiceDeclined =
    "it was declined in the desktop's global shortcut service";
inline constexpr std::string_view kServiceNotBound = "the desktop's global shortcut service did not bind it";
inline constexpr std::string_view kServiceFailed = "the desktop's global shortcut service failed to bind it";
}  // namespace hotkey

enum THotkeyModifier : unsigned { kModShift = 1, kModCtrl = 2, kModAlt = 4, kModMeta = 8 };

struct THotkey {
  unsigned Modifiers = 0;  // THotkeyModifier bits
  uint32_t KeySym = 0;
  std::string Text;  // as the program spells it: "Ctrl+Shift+V"
  bool operator==(const THotkey& other) const {
    return Modifiers == other.Modifiers && KeySym == other.KeySym;
  }
};

struct THotkeySetting {
  std::optional<THotkey> Key;  // none: no hotkey (switched off, or not understood)
  std::string Problem;         // why the text was not understood; empty when it was
};

// Reads the setting's text: modifiers Ctrl (or Control), Shift, Alt and Meta (or
// Super, Win) in any order and letter case, joined by '+', then one key - a
// character ("V", "7", "/", "+"), F1 to F35, or a named key (Space, Tab, Enter,
// Esc, Insert, Delete, Home, End, PgUp, PgDown, Up, Down, Left, Right, Backspace,
// Pause, Print). Empty, or "None": no hotkey, and no problem. A key that would be
// taken from the typing in every program - one without Ctrl, Alt or Meta, other
// than a function key, Pause or Print - is refused.
THotkeySetting ParseHotkeySetting(std::string_view text);

// The command of the main window's menus whose shortcut is key, with its tag
// (Ctrl+Shift+V: View File Cabinet Items); none when no menu item has that key.
// Pressed while the window has the keyboard, the hotkey runs that command.
std::optional<std::pair<TCommand, int>> MenuCommandOfKey(const THotkey& key);

// The key as the desktop's global shortcut service takes a trigger: modifiers
// CTRL, ALT, SHIFT and LOGO, then the key's xkbcommon keysym name, joined by '+'
// ("CTRL+SHIFT+v", "ALT+F9", "CTRL+slash", "CTRL+U00E9"). Empty for a key with no
// such name (the service then lets the user choose).
std::string PortalTrigger(const THotkey& key);

// The status bar's message for a setting that is not understood.
std::string HotkeySettingProblemText(std::string_view setting, const std::string& problem);
// The status bar's message for a hotkey that cannot be had, and why.
std::string HotkeyUnavailableText(const THotkey& key, std::string_view why);
// The status bar's message while the service is asked (it may show the user a
// dialog), and once it bound the key; trigger: the service's own description of
// the key the user ends up pressing (empty when it gave none).
std::string HotkeyAwaitingServiceText(const THotkey& key);
std::string HotkeyBoundByServiceText(const THotkey& key, std::string_view trigger);

}  // namespace qb
