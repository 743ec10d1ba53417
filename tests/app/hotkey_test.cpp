// The global hotkey's setting as a settings file may hold it: the spellings that
// name one key combination, the ways to switch it off, and the texts that must be
// refused with a message (never taken for some other key).
#include "app/hotkey.h"

#include <gtest/gtest.h>

#include "app/menu_model.h"

namespace qb {
namespace {

THotkey Key(std::string_view text) {
  const THotkeySetting setting = ParseHotkeySetting(text);
  EXPECT_EQ(setting.Problem, "") << text;
  EXPECT_TRUE(setting.Key) << text;
  return setting.Key.value_or(THotkey{});
}

TEST(HotkeySetting, SpellingsOfOneKeyAndHowTheProgramWritesIt) {
  const THotkey standard = Key(hotkey::kDefault);
  EXPECT_EQ(standard.Modifiers, unsigned(kModCtrl | kModShift));
  EXPECT_EQ(standard.KeySym, 0x76u);  // the key of 'v', whatever the letter case
  EXPECT_EQ(standard.Text, "Ctrl+Shift+V");
  for (const char* same : {"shift+ctrl+v", " Control + Shift + v ", "CTRL+SHIFT+V", "Ctrl+Shift+Shift+V"})
    EXPECT_EQ(Key(same), standard) << same;
  // In the window the combination is View File Cabinet Items' shortcut; a key of
  // no menu item has no command there.
  EXPECT_EQ(MenuCommandOfKey(standard), (std::pair{TCommand::ViewItemsMiClick, 0}));
  EXPECT_EQ(MenuCommandOfKey(Key("ctrl+o")), (std::pair{TCommand::OpenMiClick, 0}));
  EXPECT_FALSE(MenuCommandOfKey(Key("Ctrl+Alt+V")));
  EXPECT_FALSE(MenuCommandOfKey(Key("Ctrl+V")));

  struct Case {
    const char* text;
    unsigned modifiers;
    uint32_t key_sym;
    const char* written;
  };
  for (const Case& c : std::initializer_list<Case>{
           {"F9", 0, 0xFFC6, "F9"},
           {"alt+f12", kModAlt, 0xFFC9, "Alt+F12"},
           {"Ctrl+F35", kModCtrl, 0xFFE0, "Ctrl+F35"},
           {"Super+space", kModMeta, 0x20, "Meta+Space"},
           {"Win+Alt+Return", kModMeta | kModAlt, 0xFF0D, "Alt+Meta+Enter"},
           {"Ctrl+PageUp", kModCtrl, 0xFF55, "Ctrl+PgUp"},
           {"Ctrl++", kModCtrl, 0x2B, "Ctrl++"},
           {"Ctrl+Plus", kModCtrl, 0x2B, "Ctrl+Plus"},
           {"Ctrl+Alt+/", kModCtrl | kModAlt, 0x2F, "Ctrl+Alt+/"},
           {"Ctrl+Alt+\xC3\x89", kModCtrl | kModAlt, 0xE9, "Ctrl+Alt+\xC3\x89"},  // É names the key of é
           {"Ctrl+Alt+\xD0\xB6", kModCtrl | kModAlt, 0x1000436, "Ctrl+Alt+\xD0\xB6"},  // Cyrillic zhe
           {"Pause", 0, 0xFF13, "Pause"},
       }) {
    const THotkey key = Key(c.text);
    EXPECT_EQ(key.Modifiers, c.modifiers) << c.text;
    EXPECT_EQ(key.KeySym, c.key_sym) << c.text;
    EXPECT_EQ(key.Text, c.written) << c.text;
  }
}

TEST(HotkeySetting, SwitchedOffOrRefusedWithAMessageNeverAnotherKey) {
  for (const char* off : {"", "  ", "None", "NONE", " none "}) {
    const THotkeySetting setting = ParseHotkeySetting(off);
    EXPECT_FALSE(setting.Key) << off;
    EXPECT_EQ(setting.Problem, "") << off;
  }
  const std::string long_text = "Ctrl+" + std::string(200, 'x');
  for (std::string_view bad :
       std::initializer_list<std::string_view>{"Ctrl+Shift+",
                                               "Ctrl+Hyper+V",
                                               "Ctrl+VV",
                                               "Ctrl+F0",
                                               "Ctrl+F36",
                                               "Ctrl+F01",
                                               "Ctrl+Fx",
                                               "V",  // taken from every program's typing
                                               "Shift+V",
                                               "Space",
                                               "Shift+Enter",
                                               "+",
                                               "++V",
                                               "Ctrl+\x01",
                                               "Ctrl+\x7F",
                                               "Ctrl+\xFF",
                                               "Ctrl+\xC0\xAF",          // an overlong '/'
                                               "Ctrl+\xED\xA0\x80",      // a surrogate
                                               "Ctrl+\xF4\x90\x80\x80",  // beyond Unicode
                                               std::string_view("Ctrl+V\0junk", 11),
                                               long_text}) {
    const THotkeySetting setting = ParseHotkeySetting(bad);
    EXPECT_FALSE(setting.Key) << bad;
    EXPECT_NE(setting.Problem, "") << bad;
    // The message shows the text on one line, however hostile.
    const std::string message = HotkeySettingProblemText(bad, setting.Problem);
    EXPECT_EQ(message.find_first_of(std::string("\r\n\x01\x7F\0", 5)), std::string::npos) << message;
    EXPECT_LT(message.size(), 300u);
  }
  EXPECT_EQ(ParseHotkeySetting("Ctrl+Hyper+V").Problem, "\"Hyper\" is not Ctrl, Shift, Alt or Meta");
  EXPECT_EQ(
      HotkeySettingProblemText("Ctrl+Hyper+V", ParseHotkeySetting("Ctrl+Hyper+V").Problem),
      "The global hotkey \"Ctrl+Hyper+V\" of the settings file is not understood (\"Hyper\" is not Ctrl, "
      "Shift, Alt or Meta): there is no global hotkey");
  EXPECT_EQ(HotkeyUnavailableText(Key("Ctrl+Shift+V"), hotkey::kHeldByAnother),
            "The global hotkey Ctrl+Shift+V cannot be had: another program holds it");
}

// The desktop's shortcut service takes xkbcommon keysym names: lower-case
// letters, names for punctuation and named keys, Uxxxx for the rest.
TEST(HotkeyTest, TheServiceIsOfferedTheKeyInItsOwnSpelling) {
  const std::pair<const char*, const char*> cases[] = {
      {"Ctrl+Shift+V", "CTRL+SHIFT+v"},
      {"shift+ctrl+v", "CTRL+SHIFT+v"},
      {"Meta+Alt+7", "ALT+LOGO+7"},
      {"Alt+F9", "ALT+F9"},
      {"F35", "F35"},
      {"Ctrl+/", "CTRL+slash"},
      {"Ctrl++", "CTRL+plus"},
      {"Ctrl+Space", "CTRL+space"},
      {"Ctrl+~", "CTRL+asciitilde"},
      {"Ctrl+@", "CTRL+at"},
      {"Ctrl+`", "CTRL+grave"},
      {"Ctrl+:", "CTRL+colon"},
      {"Ctrl+[", "CTRL+bracketleft"},
      {"Ctrl+{", "CTRL+braceleft"},
      {"Ctrl+PgUp", "CTRL+Prior"},
      {"Ctrl+PageDown", "CTRL+Next"},
      {"Ctrl+Enter", "CTRL+Return"},
      {"Ctrl+Esc", "CTRL+Escape"},
      {"Ctrl+Backspace", "CTRL+BackSpace"},
      {"Ctrl+Del", "CTRL+Delete"},
      {"Pause", "Pause"},
      {"Ctrl+\xC3\x89", "CTRL+U00E9"},           // É: the key of é
      {"Ctrl+\xD0\xB6", "CTRL+U0436"},           // ж
      {"Ctrl+\xF0\x9F\x98\x80", "CTRL+U1F600"},  // beyond the first plane
  };
  for (const auto& [setting, trigger] : cases) {
    const THotkeySetting parsed = ParseHotkeySetting(setting);
    ASSERT_TRUE(parsed.Key) << setting;
    EXPECT_EQ(PortalTrigger(*parsed.Key), trigger) << setting;
  }
  EXPECT_EQ(PortalTrigger(THotkey{kModCtrl, 0xFE03, "?"}), "");  // a key with no name given
  EXPECT_EQ(HotkeyBoundByServiceText(Key("Ctrl+Shift+V"), ""),
            "The global hotkey is Ctrl+Shift+V, set through the desktop's global shortcut service");
  EXPECT_EQ(HotkeyBoundByServiceText(Key("Ctrl+Shift+V"), std::string(500, 'x') + "\n"),
            "The global hotkey is " + std::string(40, 'x') +
                "..., set through the desktop's global shortcut service");
}

}  // namespace
}  // namespace qb
