// The command list and the tables that refer to it: every menu item, language
// item and tool bar button names a command somebody runs.
#include "app/commands.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "app/main_form.h"
#include "app/menu_model.h"
#include "app_test_support.h"

namespace qbtest {
namespace {

using qb::TCommand;
using qb::TCommandOwner;

TEST(Commands, HandlerNamesAreUniqueAndLeadBackToTheirCommand) {
  std::set<std::string_view> names;
  for (const qb::TCommandInfo& info : qb::Commands()) {
    EXPECT_FALSE(info.Handler.empty());
    EXPECT_TRUE(names.insert(info.Handler).second) << info.Handler;
    EXPECT_EQ(qb::CommandByHandler(info.Handler), info.Command) << info.Handler;
    EXPECT_EQ(qb::HandlerName(info.Command), info.Handler);
  }
  EXPECT_EQ(qb::CommandByHandler("OpenMiClik"), std::nullopt);
  EXPECT_EQ(qb::HandlerName(TCommand::None), "");
  EXPECT_FALSE(qb::CommandAvailable(TCommand::None));
  EXPECT_FALSE(qb::CommandAvailable(static_cast<TCommand>(1000)));
}

// Answers every question with Cancel and counts them.
class CancellingInteraction : public qb::IUserInteraction {
 public:
  qb::MsgAnswer MessageBox(qb::MsgKind, const std::string&, const std::string&, qb::MsgButtons) override {
    return qb::MsgAnswer::Cancel;
  }
};

class CommandTablesTest : public MainFormTest {
 protected:
  // Runs the command as the window does for its owner; true when a handler ran.
  bool Runs(TCommand command, int tag) {
    if (qb::CommandInfo(command).Owner == TCommandOwner::Window) return true;  // the window's switch
    if (!qb::CommandAvailable(command)) return true;                           // shown disabled
    CancellingInteraction cancel;
    qb::TMainForm form(cancel, qb::TPaths::FromEnvironment());
    return qb::RunHandler(form, command, tag);
  }
};

TEST_F(CommandTablesTest, EveryMenuItemRunsAHandler) {
  for (const qb::TTopMenu& top : qb::MainMenu())
    for (const qb::TMenuEntry& entry : top.Items) {
      if (entry.IsSeparator() || entry.Name == "ReOpenMi") continue;  // Re-Open: the recent list's sub-menu
      ASSERT_NE(entry.Command, TCommand::None) << entry.Name;
      if (!entry.SubMenu.empty()) {
        for (const qb::TMenuEntry& language : qb::LanguageItems(entry.Command))
          EXPECT_TRUE(Runs(language.Command, language.Tag)) << entry.Name << " " << language.Name;
        continue;
      }
      EXPECT_TRUE(Runs(entry.Command, entry.Tag)) << entry.Name;
    }
}

TEST_F(CommandTablesTest, EveryToolBarButtonRunsAHandlerOrOpensADropDown) {
  for (const qb::TSpeedItem& item : qb::SpeedItems()) {
    ASSERT_NE(item.Command, TCommand::None) << item.Name;
    EXPECT_TRUE(Runs(item.Command, item.Tag)) << item.Name;
  }
}

TEST_F(CommandTablesTest, TheWindowsOwnCommandsAreNotTheForms) {
  CancellingInteraction cancel;
  qb::TMainForm form(cancel, qb::TPaths::FromEnvironment());
  for (const qb::TCommandInfo& info : qb::Commands()) {
    if (info.Owner == TCommandOwner::Window) {
      EXPECT_FALSE(qb::RunHandler(form, info.Command, 0)) << info.Handler;
    }
  }
}

TEST(Commands, CopyAndMoveShareTheirCommandAndDifferInTag) {
  const qb::TSpeedItem* copy = nullptr;
  const qb::TSpeedItem* move = nullptr;
  for (const qb::TSpeedItem& item : qb::SpeedItems()) {
    if (item.Name == "CopySi") copy = &item;
    if (item.Name == "MoveSi") move = &item;
  }
  ASSERT_TRUE(copy && move);
  EXPECT_EQ(copy->Command, TCommand::CopyMiClick);
  EXPECT_EQ(move->Command, TCommand::CopyMiClick);
  EXPECT_EQ(copy->Tag, 0);
  EXPECT_EQ(move->Tag, 1);
}

}  // namespace
}  // namespace qbtest
