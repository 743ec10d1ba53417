// The file type registration: the keys written for a type, reading them back,
// commands with blanks in their paths, and removal that leaves other programs'
// keys alone.
#include "shell/at_shell.h"

#include <gtest/gtest.h>

#include "support/test_support.h"

namespace qbtest {
namespace {

using qb::TATShell;
using qb::TParamPos;
constexpr qb::TRegistryRoot kClasses = qb::TRegistryRoot::ClassesRoot;

class ATShellTest : public ::testing::Test {
 protected:
  void SetUp() override {
    program_ = dir_ / "my programs/quiverbox";
    fs::create_directories(fs::path(program_).parent_path());
    WriteFileText(program_, "");
    shell_.OnNotify = [this] { ++notified_; };
  }
  void Configure(TATShell& shell) {
    shell.SetExtension("QVF");
    shell.SetKeyName("Quiverbox.File");
    shell.SetTypeName("Quiverbox File Cabinet");
    shell.SetPathToApp(program_);
    shell.SetIconPath(program_ + ",1");
    shell.SetShowInNew(true);
  }
  std::string Value(const std::string& key, const std::string& name = "") {
    return registry_.ReadString(kClasses, key, name).value_or("<none>");
  }

  TempDir dir_;
  std::string program_;
  qb::TFileRegistry registry_{qb::TPaths::InFolder((dir_.Path() / "home").string())};
  TATShell shell_{registry_};
  int notified_ = 0;
};

TEST_F(ATShellTest, AssociateWritesTheLayoutWithQuotedCommandsAndReadsItBack) {
  Configure(shell_);
  shell_.SetQuickView(true);
  shell_.SetShellCommands("Print|/p,Edit|,Show|-a -b");
  shell_.SetParamPos(TParamPos::ppAfter);
  ASSERT_TRUE(shell_.Associate());
  EXPECT_EQ(notified_, 1);
  EXPECT_EQ(shell_.Extension(), ".qvf");
  EXPECT_EQ(Value(".qvf"), "Quiverbox.File");
  EXPECT_EQ(Value(".qvf\\ShellNew", "Nullfile"), "");
  EXPECT_EQ(Value("Quiverbox.File\\ShellNew"), "Nullfile");
  EXPECT_EQ(Value("Quiverbox.File"), "Quiverbox File Cabinet");
  EXPECT_EQ(Value("Quiverbox.File\\shell\\open\\command"), "\"" + program_ + "\" \"%1\"");
  EXPECT_EQ(Value("Quiverbox.File\\DefaultIcon"), program_ + ",1");
  EXPECT_EQ(Value("Quiverbox.File\\QuickView"), "*");
  EXPECT_EQ(Value("Quiverbox.File\\shell\\Print\\command"), "\"" + program_ + "\" \"%1\" /p");
  EXPECT_EQ(Value("Quiverbox.File\\shell\\Edit\\command"), "\"" + program_ + "\" \"%1\"");

  TATShell reader(registry_);
  reader.SetExtension(".QvF");
  EXPECT_EQ(reader.KeyName(), "Quiverbox.File");
  EXPECT_EQ(reader.PathToApp(), program_);  // the blank in the path survives
  EXPECT_EQ(reader.IconPath(), program_ + ",1");
  EXPECT_EQ(reader.TypeName(), "Quiverbox File Cabinet");
  EXPECT_TRUE(reader.ShowInNew());
  EXPECT_TRUE(reader.QuickView());
  EXPECT_EQ(reader.ShellCommands(), "Print|/p,Edit|,Show|-a -b,");

  // A missing extension clears everything.
  reader.SetExtension("zzz");
  EXPECT_EQ(reader.Extension(), ".zzz");
  EXPECT_EQ(reader.KeyName(), "");
  EXPECT_EQ(reader.PathToApp(), "");
  EXPECT_FALSE(reader.ShowInNew());
}

TEST_F(ATShellTest, IncompletePropertiesOrAMissingProgramWriteNothing) {
  Configure(shell_);
  shell_.SetPathToApp(dir_ / "no such program");
  EXPECT_FALSE(shell_.Associate());
  Configure(shell_);
  shell_.SetTypeName("");
  EXPECT_FALSE(shell_.Associate());
  Configure(shell_);
  shell_.SetExtension(".");
  shell_.SetKeyName("Quiverbox.File");
  shell_.SetTypeName("T");
  shell_.SetPathToApp(program_);
  shell_.SetIconPath("i");
  EXPECT_FALSE(shell_.Associate());
  EXPECT_EQ(notified_, 0);
  EXPECT_FALSE(fs::exists(registry_.FileOf(kClasses)));
}

TEST_F(ATShellTest, CommandsAreSplitWhetherQuotedOrNot) {
  EXPECT_EQ(TATShell::ProgramPathOf("\"/opt/my app/qb\" \"%1\""), "/opt/my app/qb");
  EXPECT_EQ(TATShell::ProgramPathOf("/usr/bin/qb %1"), "/usr/bin/qb");
  EXPECT_EQ(TATShell::ProgramPathOf("C:\\PROGRA~1\\QB.EXE %1"), "C:\\PROGRA~1\\QB.EXE");
  EXPECT_EQ(TATShell::ProgramPathOf("\"unterminated"), "unterminated");
  EXPECT_EQ(TATShell::ProgramPathOf(""), "");
  EXPECT_EQ(TATShell::ParametersOf("\"/a b/qb\" /p \"%1\""), "/p");
  EXPECT_EQ(TATShell::ParametersOf("/qb %1 -x"), "-x");
  EXPECT_EQ(TATShell::ParametersOf("/qb"), "");
  EXPECT_EQ(TATShell::Command("/a b/qb", "-v", TParamPos::ppBefore), "\"/a b/qb\" -v \"%1\"");
  EXPECT_EQ(TATShell::NormaliseExtension("QVF"), ".qvf");
  EXPECT_EQ(TATShell::NormaliseExtension("a.B"), "a.b");
  EXPECT_EQ(TATShell::NormaliseExtension(""), "");
}

TEST_F(ATShellTest, RemovingTakesOnlyOurKeys) {
  Configure(shell_);
  ASSERT_TRUE(shell_.Associate());
  registry_.WriteString(kClasses, "Other.File\\shell\\open\\command", "", "other %1");

  // The extension now belongs to another program: it stays, our type key goes.
  registry_.WriteString(kClasses, ".qvf", "", "Other.File");
  shell_.SetKeyName("Quiverbox.File");
  shell_.Unassociate(true, true);
  EXPECT_EQ(Value(".qvf"), "Other.File");
  EXPECT_FALSE(registry_.KeyExists(kClasses, "Quiverbox.File"));
  EXPECT_TRUE(registry_.KeyExists(kClasses, "Other.File\\shell\\open\\command"));
  EXPECT_EQ(notified_, 2);

  // Ours again: both go, with every subkey; the other program's key stays.
  Configure(shell_);
  shell_.Associate();
  shell_.Unassociate(true, false);
  EXPECT_FALSE(registry_.KeyExists(kClasses, ".qvf"));
  EXPECT_FALSE(registry_.KeyExists(kClasses, "Quiverbox.File"));
  EXPECT_EQ(registry_.SubKeys(kClasses, ""), (std::vector<std::string>{"Other.File"}));

  // Without removing, the extension's default is emptied while the type exists.
  Configure(shell_);
  shell_.Associate();
  shell_.Unassociate(false, false);
  EXPECT_EQ(Value(".qvf"), "");
  EXPECT_TRUE(registry_.KeyExists(kClasses, "Quiverbox.File"));
  EXPECT_FALSE(shell_.DeleteTree(""));  // never the whole root
  EXPECT_TRUE(registry_.KeyExists(kClasses, "Other.File"));
}

}  // namespace
}  // namespace qbtest
