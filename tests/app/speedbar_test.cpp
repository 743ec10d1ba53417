// The tool bar model: its items, the buttons a user puts on it, and the stored
// layout read back from sound, foreign and damaged settings files.
#include "app/speedbar.h"

#include <gtest/gtest.h>

#include <set>

#include "app/commands.h"
#include "app/menu_model.h"
#include "platform/ini_file.h"

namespace qb {
namespace {

std::vector<std::string> Names(const std::vector<int>& items) {
  std::vector<std::string> names;
  for (int item : items) names.push_back(item < 0 ? "?" : SpeedItems()[static_cast<size_t>(item)].Name);
  return names;
}

int Item(std::string_view name) {
  const int item = FindSpeedItem(name);
  EXPECT_GE(item, 0) << name;
  return item;
}

const std::vector<std::string> kDesign = {"OpenSi",     "CreateFCMi",   "AddNoteSi",  "RenameSi",
                                          "SaveToFCSi", "AutoSaveSi",   "HideTBSi",   "ViewExpSi",
                                          "ViewNoteSi", "ViewLegendSi", "ModifyTBMi", "HelpSi"};

TIniFile Settings(const std::string& text) {
  TIniFile ini;
  ini.LoadFromText(text);
  return ini;
}

// A bar restored from a settings file's text.
std::vector<std::string> Restored(const std::string& text, TSpeedBar* out = nullptr) {
  TSpeedBar bar;
  bar.RestoreLayout(Settings(text));
  if (out) *out = bar;
  return Names(bar.Buttons());
}

TEST(SpeedItems, EverySectionHoldsItsItemsAndEveryItemRunsAMenuCommand) {
  std::set<std::string> sections(SpeedbarSections().begin(), SpeedbarSections().end());
  EXPECT_EQ(SpeedbarSections(), (std::vector<std::string>{"File", "Edit", "Clipboard", "View", "Help"}));
  size_t listed = 0;
  for (const std::string& section : SpeedbarSections()) listed += ItemsOfSection(section).size();
  EXPECT_EQ(listed, SpeedItems().size());
  EXPECT_EQ(Names(ItemsOfSection("File")), (std::vector<std::string>{"OpenSi", "CreateFCMi", "ExitSi"}));
  EXPECT_TRUE(ItemsOfSection("Tools").empty());

  // Each button repeats a menu command (the same handler and tag) or opens a
  // language drop-down; so no button can run a misspelt handler.
  std::set<std::pair<TCommand, int>> commands;
  for (const TTopMenu& top : MainMenu())
    for (const TMenuEntry& entry : top.Items)
      if (entry.Command != TCommand::None) commands.insert({entry.Command, entry.Tag});
  std::set<std::string> names;
  for (const TSpeedItem& item : SpeedItems()) {
    EXPECT_TRUE(names.insert(item.Name).second) << item.Name;
    EXPECT_TRUE(sections.count(item.Section)) << item.Name;
    EXPECT_GE(item.Image, 0) << item.Name;
    if (item.Command == TCommand::PopupMenu1 || item.Command == TCommand::PopupMenu2) continue;
    EXPECT_TRUE(commands.count({item.Command, item.Tag}))
        << item.Name << " runs " << HandlerName(item.Command);
  }
  EXPECT_EQ(SpeedItems()[Item("MoveSi")].Tag, 1);  // Move, not Copy
  EXPECT_EQ(SpeedItems()[Item("DelUserGlyph")].Command, TCommand::RemoveUserGlyphsMiClick);
  EXPECT_EQ(SpeedItems()[Item("OpenSi")].ShortHint(), "Open existing\r\nFile Cabinet");
  EXPECT_EQ(SpeedItems()[Item("CopySi")].LongHint(), "");
}

TEST(SpeedItems, HintsDoNotClaimThatAutoSaveAndViewItemsExcludeEachOther) {
  for (const char* name : {"AutoSaveSi", "ViewFCSi", "HelpOnHelpSi"}) {
    const std::string hint = SpeedItems()[Item(name)].Hint;
    EXPECT_EQ(hint.find("OFF"), std::string::npos) << hint;
    EXPECT_EQ(hint.find("Microsoft"), std::string::npos) << hint;
  }
}

TEST(SpeedBar, StartsWithTheDesignButtonsAtTheTop) {
  TSpeedBar bar;
  EXPECT_EQ(Names(bar.Buttons()), kDesign);
  EXPECT_EQ(bar.Align(), TSpeedBarAlign::Top);
  for (int item : bar.Buttons()) EXPECT_TRUE(SpeedItems()[static_cast<size_t>(item)].ShownAtFirst);
}

TEST(SpeedBar, RefusesTheSidesAndAcceptsTopAndBottom) {
  TSpeedBar bar;
  int changes = 0;
  bar.OnChange = [&] { ++changes; };
  EXPECT_FALSE(bar.SetAlign(TSpeedBarAlign::Left));
  EXPECT_FALSE(bar.SetAlign(TSpeedBarAlign::Right));
  EXPECT_EQ(bar.Align(), TSpeedBarAlign::Top);
  EXPECT_EQ(changes, 0);
  EXPECT_TRUE(bar.SetAlign(TSpeedBarAlign::Bottom));
  EXPECT_EQ(bar.Align(), TSpeedBarAlign::Bottom);
  EXPECT_EQ(changes, 1);
}

TEST(SpeedBar, InsertPutsAButtonBeforeTheDropPointAndMovesOneAlreadyThere) {
  TSpeedBar bar;
  int changes = 0;
  bar.OnChange = [&] { ++changes; };
  EXPECT_TRUE(bar.Insert(Item("ExitSi"), 1));
  EXPECT_EQ(Names(bar.Buttons())[1], "ExitSi");
  // Dragging the first button right, to before the fourth: it lands third.
  EXPECT_TRUE(bar.Insert(Item("OpenSi"), 3));
  const std::vector<std::string> moved = Names(bar.Buttons());
  EXPECT_EQ(std::vector<std::string>(moved.begin(), moved.begin() + 4),
            (std::vector<std::string>{"ExitSi", "CreateFCMi", "OpenSi", "AddNoteSi"}));
  // Dropped where it already is: no change.
  EXPECT_FALSE(bar.Insert(Item("OpenSi"), 2));
  EXPECT_FALSE(bar.Insert(Item("OpenSi"), 3));
  // Beyond the end: the last place.
  EXPECT_TRUE(bar.Insert(Item("AboutSi"), 999));
  EXPECT_EQ(Names(bar.Buttons()).back(), "AboutSi");
  EXPECT_FALSE(bar.Insert(-1, 0));
  EXPECT_FALSE(bar.Insert(static_cast<int>(SpeedItems().size()), 0));
  EXPECT_EQ(changes, 3);

  EXPECT_TRUE(bar.Remove(Item("AboutSi")));
  EXPECT_FALSE(bar.Remove(Item("AboutSi")));
  EXPECT_FALSE(bar.OnBar(Item("AboutSi")));
  bar.ResetToDesign();
  EXPECT_EQ(Names(bar.Buttons()), kDesign);
  EXPECT_EQ(changes, 5);
}

TEST(SpeedBarLayout, IsWrittenUnderItsKeysInOrderAfterTheSectionIsErased) {
  TSpeedBar bar;
  for (int item : DesignButtons())
    if (item != Item("OpenSi") && item != Item("HelpSi")) bar.Remove(item);
  bar.Insert(Item("ExitSi"), 0);
  bar.SetAlign(TSpeedBarAlign::Bottom);
  TIniFile ini = Settings("[TMainFormSpeedBar1]\nStale=1\nButton9=AboutSi,3,3\n[Other]\nKept=yes\n");
  bar.SaveLayout(ini, 120, 31);
  EXPECT_EQ(ini.ToText(),
            "[Other]\nKept=yes\n\n[TMainFormSpeedBar1]\nPosition=2\nWidth=31\nVersion=1\nPixelsPerInch="
            "120\nBtnWidth=24\n"
            "BtnHeight=23\nButton1=ExitSi,3,3\nButton2=OpenSi,27,3\nButton3=HelpSi,51,3\nCount=3\n");
}

TEST(SpeedBarLayout, RoundTripsTheUsersButtonsAndPlace) {
  TSpeedBar bar;
  bar.Remove(Item("OpenSi"));
  bar.Insert(Item("ExitSi"), 4);
  bar.Insert(Item("EditClipboardSi"), 0);
  bar.SetAlign(TSpeedBarAlign::Bottom);
  TIniFile ini;
  bar.SaveLayout(ini, 96);
  TSpeedBar again;
  int changes = 0;
  again.OnChange = [&] { ++changes; };
  again.RestoreLayout(ini);
  EXPECT_EQ(again.Buttons(), bar.Buttons());
  EXPECT_EQ(again.Align(), TSpeedBarAlign::Bottom);
  EXPECT_FALSE(again.OnBar(Item("OpenSi")));
  EXPECT_GT(changes, 0);  // the window redraws
}

TEST(SpeedBarLayout, OrderComesFromTheStoredPositionsNotTheKeyOrder) {
  EXPECT_EQ(Restored("[TMainFormSpeedBar1]\nCount=3\nButton1=HelpSi,51,3\nButton2=OpenSi,3,3\n"
                     "Button3=ExitSi,27,3\n"),
            (std::vector<std::string>{"OpenSi", "ExitSi", "HelpSi"}));
}

TEST(SpeedBarLayout, AnotherScreenResolutionKeepsTheButtonsAndTheirOrder) {
  // Saved at 144 pixels per inch: the positions are larger, their order the same.
  TSpeedBar bar;
  EXPECT_EQ(Restored("[TMainFormSpeedBar1]\nPosition=2\nVersion=1\nPixelsPerInch=144\nBtnWidth=36\n"
                     "Button1=ExitSi,5,5\nButton2=AboutSi,41,5\nCount=2\n",
                     &bar),
            (std::vector<std::string>{"ExitSi", "AboutSi"}));
  EXPECT_EQ(bar.Align(), TSpeedBarAlign::Bottom);
}

TEST(SpeedBarLayout, NamesOfNoItemAndRepeatsAreSkipped) {
  EXPECT_EQ(Restored("[TMainFormSpeedBar1]\nCount=4\nButton1=OpenSi,3,3\nButton2=PrintSi,27,3\n"
                     "Button3=OpenSi,51,3\nButton4=ExitSi,75,3\n"),
            (std::vector<std::string>{"OpenSi", "ExitSi"}));
  // Not one known name (a layout of a later version): the design layout stays.
  EXPECT_EQ(Restored("[TMainFormSpeedBar1]\nCount=2\nButton1=PrintSi,3,3\nButton2=,27,3\n"), kDesign);
  // Names are matched exactly, as written.
  EXPECT_EQ(Restored("[TMainFormSpeedBar1]\nCount=1\nButton1=exitsi,3,3\n"), kDesign);
}

TEST(SpeedBarLayout, DamagedValuesFallBackOneByOne) {
  TSpeedBar bar;
  // A side, or no alignment at all: the top. Unreadable positions: where the
  // item is now (Help is last on the design bar), else at the start.
  EXPECT_EQ(Restored("[TMainFormSpeedBar1]\nPosition=3\nCount=3\nButton1=HelpSi\nButton2=ExitSi,x,3\n"
                     "Button3=AboutSi,30,y\n",
                     &bar),
            (std::vector<std::string>{"ExitSi", "AboutSi", "HelpSi"}));
  EXPECT_EQ(bar.Align(), TSpeedBarAlign::Top);
  for (const char* position : {"4", "0", "99", "-1", "bottom"}) {
    Restored(std::string("[TMainFormSpeedBar1]\nPosition=") + position + "\n", &bar);
    EXPECT_EQ(bar.Align(), TSpeedBarAlign::Top) << position;
  }
  // A negative position is the bar's start; one beyond the int range is unreadable.
  EXPECT_EQ(Restored("[TMainFormSpeedBar1]\nCount=3\nButton1=HelpSi,99999999999,3\nButton2=ExitSi,-50,3\n"
                     "Button3=AboutSi,2147483647,3\n"),
            (std::vector<std::string>{"ExitSi", "HelpSi", "AboutSi"}));
}

TEST(SpeedBarLayout, NothingToReadKeepsTheCurrentLayout) {
  const std::vector<std::string> cases = {
      "",                                                                        // no section
      "[TMainFormSpeedBar1]\nButton1=ExitSi,3,3\n",                              // no Count
      "[TMainFormSpeedBar1]\nCount=0\nButton1=ExitSi,3,3\n",                     // nothing stored
      "[TMainFormSpeedBar1]\nCount=-5\nButton1=ExitSi,3,3\n",                    //
      "[TMainFormSpeedBar1]\nCount=two\nButton1=ExitSi,3,3\n",                   //
      "[TMainFormSpeedBar1]\nVersion=0\nPosition=2\nCount=1\nButton1=ExitSi\n",  // an older layout
  };
  for (const std::string& text : cases) {
    TSpeedBar bar;
    EXPECT_EQ(Restored(text, &bar), kDesign) << text;
    EXPECT_EQ(bar.Align(), TSpeedBarAlign::Top) << text;
  }
  // A later version is read.
  EXPECT_EQ(Restored("[TMainFormSpeedBar1]\nVersion=7\nCount=1\nButton1=ExitSi,3,3\n"),
            (std::vector<std::string>{"ExitSi"}));
}

TEST(SpeedBarLayout, AHugeCountReadsOnlyTheKeysThatCanMatter) {
  // Count near the int range: the keys that exist are read, and quickly.
  EXPECT_EQ(Restored("[TMainFormSpeedBar1]\nCount=2147483647\nButton1=ExitSi,3,3\nButton2=OpenSi,27,3\n"),
            (std::vector<std::string>{"ExitSi", "OpenSi"}));
  EXPECT_EQ(Restored("[TMainFormSpeedBar1]\nCount=99999999999999999999\nButton1=ExitSi,3,3\n"), kDesign);
}

}  // namespace
}  // namespace qb
