// The cabinet file type at start-up and at "/UNINSTALL", on a desktop whose
// folders are temporary: the classes-root registry file, the desktop's files, what
// the desktop's own tools make of them, and what a second start, a start from
// another folder and another program's registration change.
#include <gtest/gtest.h>

#include <cstdlib>

#include "app/main_form.h"
#include "shell/at_shell.h"
#include "shell/desktop_files.h"
#include "support/scripted_interaction.h"
#include "support/test_support.h"

namespace qbtest {
namespace {

constexpr qb::TRegistryRoot kClasses = qb::TRegistryRoot::ClassesRoot;

class AssociationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : {"QUIVERBOX_HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "HOME"}) {
      const char* value = std::getenv(name);
      saved_.emplace_back(name, value ? std::optional<std::string>(value) : std::nullopt);
    }
    ::unsetenv("QUIVERBOX_HOME");
    ::setenv("HOME", (dir_ / "home").c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (dir_ / "config").c_str(), 1);
    ::setenv("XDG_DATA_HOME", (dir_ / "data").c_str(), 1);
    program_ = Program("bin");
  }
  void TearDown() override {
    for (const auto& [name, value] : saved_) {
      if (value)
        ::setenv(name.c_str(), value->c_str(), 1);
      else
        ::unsetenv(name.c_str());
    }
  }
  std::string Program(const std::string& folder) {
    const std::string path = dir_ / (folder + "/quiverbox");
    fs::create_directories(fs::path(path).parent_path());
    WriteFileText(path, "");
    return path;
  }
  // One run of the program from program with args; false when it ended at once.
  bool Run(const std::string& program, const std::vector<std::string>& args = {}) {
    ScriptedInteraction ui;
    qb::TMainForm form(ui, qb::TPaths::FromEnvironment());
    form.SetProgramPath(program);
    form.ProgramIcons() = {{16, "png-16"}, {48, "png-48"}};
    const bool shown = form.FormCreate(args);
    if (shown) form.FormShow(args);
    form.FormClose();
    EXPECT_TRUE(ui.Boxes().empty());
    return shown;
  }
  std::string Value(const std::string& key) { return Reg().ReadString(kClasses, key, "").value_or("<none>"); }
  qb::TDesktopFiles Desktop() { return qb::TDesktopFiles(dir_ / "data"); }
  // Every file the association keeps, with its time set back an hour.
  std::vector<std::string> AgeFiles() {
    std::vector<std::string> files = {Reg().FileOf(kClasses), Desktop().DesktopEntryFile(),
                                      Desktop().MimePackageFile(), Desktop().IconFile(48),
                                      dir_ / "data/mime/mime.cache"};
    for (const std::string& f : files) fs::last_write_time(f, fs::last_write_time(f) - std::chrono::hours(1));
    return files;
  }
  // What the desktop's tools say, in a clean environment that sees only our folders.
  CommandResult DesktopTool(const std::string& command) {
    return RunCommand("env -i PATH=\"$PATH\" HOME=" + ShellQuote(dir_ / "home") +
                      " XDG_DATA_HOME=" + ShellQuote(dir_ / "data") + " XDG_DATA_DIRS=/usr/share " + command);
  }

  TempDir dir_;
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
  std::string program_;
  // The registry as the program in the temporary environment sees it.
  qb::TFileRegistry Reg() { return qb::TFileRegistry(qb::TPaths::FromEnvironment()); }
};

TEST_F(AssociationTest, TheFirstStartRegistersTheTypeForTheDesktop) {
  ASSERT_TRUE(Run(program_));
  qb::TFileRegistry registry(qb::TPaths::FromEnvironment());
  EXPECT_EQ(registry.FileOf(kClasses), dir_ / "config/quiverbox/ClassesRoot.reg");
  EXPECT_EQ(registry.ReadString(kClasses, ".qvf", ""), "Quiverbox.File");
  EXPECT_EQ(registry.ReadString(kClasses, ".qvf\\ShellNew", "Nullfile"), "");
  EXPECT_EQ(registry.ReadString(kClasses, "Quiverbox.File\\ShellNew", ""), "Nullfile");
  EXPECT_EQ(registry.ReadString(kClasses, "Quiverbox.File", ""), "Quiverbox File Cabinet");
  EXPECT_EQ(registry.ReadString(kClasses, "Quiverbox.File\\shell\\open\\command", ""),
            "\"" + program_ + "\" \"%1\"");
  EXPECT_EQ(registry.ReadString(kClasses, "Quiverbox.File\\DefaultIcon", ""), program_ + ",1");
  EXPECT_FALSE(registry.KeyExists(kClasses, "Quiverbox.File\\QuickView"));

  EXPECT_EQ(ReadFileText(Desktop().IconFile(48)), "png-48");
  const CommandResult valid =
      DesktopTool("desktop-file-validate " + ShellQuote(Desktop().DesktopEntryFile()));
  EXPECT_EQ(valid.exit_code, 0) << valid.output << valid.errors;
  WriteFileText(dir_ / "x.qvf", "PK\x05\x06" + std::string(18, '\0'));
  const CommandResult type = DesktopTool("xdg-mime query filetype " + ShellQuote(dir_ / "x.qvf"));
  EXPECT_EQ(type.output, "application/x-quiverbox-cabinet\n") << type.errors;
  // The updaters ran: the desktop's caches name the type and the program.
  EXPECT_NE(ReadFileText(dir_ / "data/applications/mimeinfo.cache").find("application/x-quiverbox-cabinet="),
            std::string::npos);
}

TEST_F(AssociationTest, ASecondStartWritesNothingAndAStartFromElsewhereRewrites) {
  ASSERT_TRUE(Run(program_));
  std::vector<std::string> files = AgeFiles();
  std::vector<fs::file_time_type> times;
  for (const std::string& f : files) times.push_back(fs::last_write_time(f));
  ASSERT_TRUE(Run(program_));
  for (size_t i = 0; i < files.size(); ++i) EXPECT_EQ(fs::last_write_time(files[i]), times[i]) << files[i];

  const std::string moved = Program("elsewhere/my bin");
  ASSERT_TRUE(Run(moved));
  EXPECT_EQ(Value("Quiverbox.File\\shell\\open\\command"), "\"" + moved + "\" \"%1\"");
  EXPECT_EQ(Value("Quiverbox.File\\DefaultIcon"), moved + ",1");
  EXPECT_NE(ReadFileText(Desktop().DesktopEntryFile()).find("Exec=" + qb::TDesktopFiles::ExecArgument(moved)),
            std::string::npos);
  EXPECT_GT(fs::last_write_time(dir_ / "data/mime/mime.cache"), times.back());
}

TEST_F(AssociationTest, AnotherProgramsRegistrationIsLeftAlone) {
  Reg().WriteString(kClasses, ".qvf", "", "Other.File");
  Reg().WriteString(kClasses, "Other.File\\shell\\open\\command", "", "other %1");
  ASSERT_TRUE(Run(program_));
  EXPECT_EQ(Value(".qvf"), "Other.File");
  EXPECT_EQ(Value("Other.File\\shell\\open\\command"), "other %1");
  // Our own type is there to be chosen.
  EXPECT_EQ(Value("Quiverbox.File\\shell\\open\\command"), "\"" + program_ + "\" \"%1\"");
  const std::vector<std::string> files = AgeFiles();
  const auto before = fs::last_write_time(files[0]);
  ASSERT_TRUE(Run(program_));
  EXPECT_EQ(fs::last_write_time(files[0]), before);

  // "/UNINSTALL" takes our type key only.
  EXPECT_FALSE(Run(program_, {"/UNINSTALL"}));
  EXPECT_EQ(Value(".qvf"), "Other.File");
  EXPECT_TRUE(Reg().KeyExists(kClasses, "Other.File\\shell\\open\\command"));
  EXPECT_FALSE(Reg().KeyExists(kClasses, "Quiverbox.File"));
}

TEST_F(AssociationTest, UninstallRemovesEverythingOursAndEndsAtOnce) {
  ASSERT_TRUE(Run(program_));
  Reg().WriteString(kClasses, ".txt", "", "txtfile");
  EXPECT_TRUE(Run(program_, {"/uninstall"}));  // not the switch: an ordinary start
  EXPECT_TRUE(Run(program_, {"/UNINSTALL", "x"}));
  EXPECT_FALSE(Run(program_, {"/UNINSTALL"}));
  EXPECT_FALSE(Reg().KeyExists(kClasses, ".qvf"));
  EXPECT_FALSE(Reg().KeyExists(kClasses, "Quiverbox.File"));
  EXPECT_EQ(Value(".txt"), "txtfile");
  EXPECT_FALSE(fs::exists(Desktop().DesktopEntryFile()));
  EXPECT_FALSE(fs::exists(Desktop().MimePackageFile()));
  EXPECT_FALSE(fs::exists(Desktop().IconFile(16)));
  WriteFileText(dir_ / "x.qvf", "PK\x05\x06" + std::string(18, '\0'));
  const CommandResult type = DesktopTool("xdg-mime query filetype " + ShellQuote(dir_ / "x.qvf"));
  EXPECT_NE(type.output, "application/x-quiverbox-cabinet\n");
}

}  // namespace
}  // namespace qbtest
