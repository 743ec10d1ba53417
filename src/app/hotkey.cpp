#include "app/hotkey.h"

#include <array>

#include "app/menu_model.h"
#include "finder/item_preview.h"
#include "platform/codepage.h"

namespace qb {

namespace {

constexpr size_t kLongestSetting = 100;
constexpr uint32_t kKeySymF1 = 0xFFBE;
constexpr int kFunctionKeys = 35;

struct TNamedKey {
  std::string_view Name;  // the first of a key's names is the one the program writes
  uint32_t KeySym;
};
constexpr std::array<TNamedKey, 26> kNamedKeys{{
    {"Space", 0x0020},     {"Tab", 0xFF09},    {"Enter", 0xFF0D}, {"Return", 0xFF0D}, {"Esc", 0xFF1B},
    {"Escape", 0xFF1B},    {"Insert", 0xFF63}, {"Ins", 0xFF63},   {"Delete", 0xFFFF}, {"Del", 0xFFFF},
    {"Home", 0xFF50},      {"End", 0xFF57},    {"PgUp", 0xFF55},  {"PageUp", 0xFF55}, {"PgDown", 0xFF56},
    {"PageDown", 0xFF56},  {"Left", 0xFF51},   {"Up", 0xFF52},    {"Right", 0xFF53},  {"Down", 0xFF54},
    {"Backspace", 0xFF08}, {"Pause", 0xFF13},  {"Print", 0xFF61}, {"Plus", 0x002B},   {"Minus", 0x002D},
    {"Comma", 0x002C},
}};

std::string_view Trimmed(std::string_view text) {
  const size_t first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// A part of the setting, quoted for a message: on one line, not too long.
std::string Quoted(std::string_view part) {
  return "\"" + finder::TextPreview(part, 20) + "\"";
}

bool Same(std::string_view a, std::string_view b) {
  return codepage::SameTextAscii(a, b);
}

// One UTF-8 character making up the whole of text; none when it is not that.
std::optional<uint32_t> SingleCharacter(std::string_view text) {
  if (text.empty()) return std::nullopt;
  const auto lead = static_cast<unsigned char>(text[0]);
  size_t length = lead < 0x80             ? 1
                  : (lead & 0xE0) == 0xC0 ? 2
                  : (lead & 0xF0) == 0xE0 ? 3
                  : (lead & 0xF8) == 0xF0 ? 4
                                          : 0;
  if (length == 0 || text.size() != length) return std::nullopt;
  uint32_t code = length == 1 ? lead : lead & (0x7Fu >> length);
  for (size_t i = 1; i < length; ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if ((c & 0xC0) != 0x80) return std::nullopt;
    code = (code << 6) | (c & 0x3Fu);
  }
  // Overlong forms, surrogates and numbers beyond Unicode are no characters.
  static constexpr uint32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
  if (code < kLeast[length] || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF) return std::nullopt;
  return code;
}

// The key of one character: a letter names the key whatever its case.
std::optional<THotkey> CharacterKey(uint32_t code, std::string_view spelled) {
  if (code < 0x20 || code == 0x7F || (code >= 0x80 && code < 0xA0))
    return std::nullopt;  // control characters
  THotkey key;
  if (code >= 'A' && code <= 'Z') code += 'a' - 'A';
  if (code >= 0xC0 && code <= 0xDE && code != 0xD7) code += 0x20;  // Latin-1 capitals
  key.KeySym = code <= 0xFF ? code : 0x1000000 + code;
  if (code >= 'a' && code <= 'z')
    key.Text = std::string(1, static_cast<char>(code - ('a' - 'A')));
  else
    key.Text = std::string(spelled);
  return key;
}

std::optional<THotkey> KeyNamed(std::string_view name) {
  for (const TNamedKey& named : kNamedKeys) {
    if (!Same(name, named.Name)) continue;
    // The program writes each key's first name.
    for (const TNamedKey& first : kNamedKeys)
      if (first.KeySym == named.KeySym) return THotkey{0, named.KeySym, std::string(first.Name)};
  }
  if (name.size() >= 2 && name.size() <= 3 && (name[0] == 'F' || name[0] == 'f')) {
    int number = 0;
    for (char c : name.substr(1)) {
      if (c < '0' || c > '9') return std::nullopt;
      number = number * 10 + (c - '0');
    }
    if (number >= 1 && number <= kFunctionKeys && name[1] != '0')
      return THotkey{0, kKeySymF1 + static_cast<uint32_t>(number - 1), "F" + std::to_string(number)};
    return std::nullopt;
  }
  if (std::optional<uint32_t> code = SingleCharacter(name)) return CharacterKey(*code, name);
  return std::nullopt;
}

// Keys that no program types into: they may stand alone.
bool StandsAlone(uint32_t key_sym) {
  return (key_sym >= kKeySymF1 && key_sym < kKeySymF1 + kFunctionKeys) || key_sym == 0xFF13 ||
         key_sym == 0xFF61;
}

}  // namespace

THotkeySetting ParseHotkeySetting(std::string_view text) {
  THotkeySetting setting;
  text = Trimmed(text);
  if (text.empty() || Same(text, "None")) return setting;
  if (text.size() > kLongestSetting) {
    setting.Problem = "it is too long";
    return setting;
  }
  // The key is what follows the last '+', or '+' itself when the text ends "++".
  std::string_view modifiers, key_name;
  if (text.size() >= 2 && text.substr(text.size() - 2) == "++") {
    modifiers = text.substr(0, text.size() - 2);
    key_name = "+";
  } else {
    const size_t plus = text.rfind('+');
    modifiers = plus == std::string_view::npos ? std::string_view() : text.substr(0, plus);
    key_name = Trimmed(plus == std::string_view::npos ? text : text.substr(plus + 1));
  }
  unsigned mask = 0;
  while (!Trimmed(modifiers).empty()) {
    const size_t plus = modifiers.find('+');
    const std::string_view name = Trimmed(modifiers.substr(0, plus));
    modifiers = plus == std::string_view::npos ? std::string_view() : modifiers.substr(plus + 1);
    if (Same(name, "Ctrl") || Same(name, "Control"))
      mask |= kModCtrl;
    else if (Same(name, "Shift"))
      mask |= kModShift;
    else if (Same(name, "Alt"))
      mask |= kModAlt;
    else if (Same(name, "Meta") || Same(name, "Super") || Same(name, "Win"))
      mask |= kModMeta;
    else {
      setting.Problem = name.empty() ? "a '+' stands where a modifier belongs"
                                     : Quoted(name) + " is not Ctrl, Shift, Alt or Meta";
      return setting;
    }
  }
  if (key_name.empty()) {
    setting.Problem = "no key follows the modifiers";
    return setting;
  }
  std::optional<THotkey> key = KeyNamed(key_name);
  if (!key) {
    setting.Problem = Quoted(key_name) + " is not a key";
    return setting;
  }
  if (!(mask & (kModCtrl | kModAlt | kModMeta)) && !StandsAlone(key->KeySym)) {
    setting.Problem = "a key without Ctrl, Alt or Meta would be taken from the typing in every program";
    return setting;
  }
  key->Modifiers = mask;
  std::string spelled;
  for (const auto& [bit, name] : {std::pair{kModCtrl, "Ctrl+"}, std::pair{kModShift, "Shift+"},
                                  std::pair{kModAlt, "Alt+"}, std::pair{kModMeta, "Meta+"}})
    if (mask & bit) spelled += name;
  key->Text = spelled + key->Text;
  setting.Key = std::move(key);
  return setting;
}

std::optional<std::pair<TCommand, int>> MenuCommandOfKey(const THotkey& key) {
  for (const TTopMenu& top : MainMenu())
    for (const TMenuEntry& entry : top.Items) {
      if (entry.ShortCut.empty() || entry.Command == TCommand::None) continue;
      const THotkeySetting shortcut = ParseHotkeySetting(entry.ShortCut);
      if (shortcut.Key && *shortcut.Key == key) return std::pair{entry.Command, entry.Tag};
    }
  return std::nullopt;
}

std::string PortalTrigger(const THotkey& key) {
  // xkbcommon's names of the printable ASCII keys that are not letters or digits.
  static constexpr std::string_view kPunctuation[] = {
      "space",      "exclam",    "quotedbl",    "numbersign", "dollar",       "percent",     "ampersand",
      "apostrophe", "parenleft", "parenright",  "asterisk",   "plus",         "comma",       "minus",
      "period",     "slash",     "colon",       "semicolon",  "less",         "equal",       "greater",
      "question",   "at",        "bracketleft", "backslash",  "bracketright", "asciicircum", "underscore",
      "grave",      "braceleft", "bar",         "braceright", "asciitilde"};
  static constexpr std::pair<uint32_t, std::string_view> kNamed[] = {
      {0xFF08, "BackSpace"}, {0xFF09, "Tab"},   {0xFF0D, "Return"}, {0xFF13, "Pause"},
      {0xFF1B, "Escape"},    {0xFF50, "Home"},  {0xFF51, "Left"},   {0xFF52, "Up"},
      {0xFF53, "Right"},     {0xFF54, "Down"},  {0xFF55, "Prior"},  {0xFF56, "Next"},
      {0xFF57, "End"},       {0xFF61, "Print"}, {0xFF63, "Insert"}, {0xFFFF, "Delete"}};
  const uint32_t sym = key.KeySym;
  std::string name;
  auto unicode = [](uint32_t code) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string text = "U";
    const int digits = code > 0xFFFF ? (code > 0xFFFFF ? 6 : 5) : 4;
    for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4) text += kHex[(code >> shift) & 0xF];
    return text;
  };
  if ((sym >= '0' && sym <= '9') || (sym >= 'a' && sym <= 'z'))
    name = std::string(1, static_cast<char>(sym));
  else if (sym >= 'A' && sym <= 'Z')
    name = std::string(1, static_cast<char>(sym - 'A' + 'a'));
  else if (sym >= 0x20 && sym <= 0x7E) {
    const uint32_t index = sym < '0'   ? sym - 0x20
                           : sym < 'A' ? sym - 0x3A + 16
                           : sym < 'a' ? sym - 0x5B + 23
                                       : sym - 0x7B + 29;
    name = std::string(kPunctuation[index]);
  } else if (sym >= 0xA0 && sym <= 0xFF)
    name = unicode(sym);
  else if (sym > 0x1000000 && sym <= 0x110FFFF)
    name = unicode(sym - 0x1000000);
  else if (sym >= kKeySymF1 && sym < kKeySymF1 + kFunctionKeys)
    name = "F" + std::to_string(sym - kKeySymF1 + 1);
  else
    for (const auto& [named_sym, named] : kNamed)
      if (named_sym == sym) name = std::string(named);
  if (name.empty()) return {};
  std::string trigger;
  for (const auto& [bit, modifier] : {std::pair{kModCtrl, "CTRL+"}, std::pair{kModAlt, "ALT+"},
                                      std::pair{kModShift, "SHIFT+"}, std::pair{kModMeta, "LOGO+"}})
    if (key.Modifiers & bit) trigger += modifier;
  return trigger + name;
}

std::string HotkeySettingProblemText(std::string_view setting, const std::string& problem) {
  return "The global hotkey \"" + finder::TextPreview(setting, 40) +
         "\" of the settings file is not understood (" + problem + "): there is no global hotkey";
}

std::string HotkeyUnavailableText(const THotkey& key, std::string_view why) {
  return "The global hotkey " + key.Text + " cannot be had: " + std::string(why);
}

std::string HotkeyAwaitingServiceText(const THotkey& key) {
  return "The global hotkey " + key.Text + " waits for the desktop's global shortcut service";
}

std::string HotkeyBoundByServiceText(const THotkey& key, std::string_view trigger) {
  const std::string shown = trigger.empty() ? key.Text : finder::TextPreview(trigger, 40);
  return "The global hotkey is " + shown + ", set through the desktop's global shortcut service";
}

}  // namespace qb
