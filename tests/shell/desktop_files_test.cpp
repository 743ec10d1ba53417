// The desktop's files for the cabinet type: a desktop entry that the freedesktop
// validator accepts whatever the program's path holds, files written only when
// they differ, and removal of exactly ours.
#include "shell/desktop_files.h"

#include <gtest/gtest.h>

#include "support/test_support.h"

namespace qbtest {
namespace {

using qb::TDesktopFiles;

TEST(DesktopFiles, ExecNamesAnyProgramPathAsTheDesktopEntryRulesWant) {
  EXPECT_EQ(TDesktopFiles::ExecArgument("/usr/bin/quiverbox"), "/usr/bin/quiverbox");
  EXPECT_EQ(TDesktopFiles::ExecArgument("/opt/my apps/qb"), "\"/opt/my apps/qb\"");
  EXPECT_EQ(TDesktopFiles::ExecArgument("/a/$x`\"\\b"), "\"/a/\\\\$x\\\\`\\\\\"\\\\\\\\b\"");
  EXPECT_EQ(TDesktopFiles::ExecArgument("/a/100%/qb"), "/a/100%%/qb");

  TempDir dir;
  for (const std::string& program :
       {std::string("/usr/bin/quiverbox"), std::string("/home/u/my apps/$HOME/it's (new) & \"q\"\\b/qb"),
        std::string("/home/u/100% caf\xC3\xA9/qb")}) {
    const std::string file = dir / "quiverbox.desktop";
    WriteFileText(file, TDesktopFiles::DesktopEntryText(program));
    const CommandResult r = RunCommand("desktop-file-validate " + ShellQuote(file));
    EXPECT_EQ(r.exit_code, 0) << program << "\n" << r.output << r.errors;
    EXPECT_EQ(r.output + r.errors, "") << program;
  }
}

TEST(DesktopFiles, InstallWritesWhatDiffersAndRemoveTakesOnlyOurs) {
  TempDir dir;
  TDesktopFiles files(dir / "share");
  const std::vector<qb::TIconImage> icons = {{16, "png-16"}, {256, "png-256"}};
  ASSERT_TRUE(files.Install("/usr/bin/quiverbox", icons));
  EXPECT_EQ(ReadFileText(files.IconFile(256)), "png-256");
  EXPECT_EQ(ReadFileText(files.MimePackageFile()), TDesktopFiles::MimePackageText());
  EXPECT_NE(ReadFileText(files.DesktopEntryFile()).find("Exec=/usr/bin/quiverbox %f\n"), std::string::npos);
  EXPECT_FALSE(files.Install("/usr/bin/quiverbox", icons));  // nothing differs
  fs::remove(files.IconFile(16));
  EXPECT_TRUE(files.Install("/usr/bin/quiverbox", icons));  // a lost file comes back
  EXPECT_TRUE(files.Install("/opt/quiverbox", icons));
  EXPECT_FALSE(files.Install(std::string("/opt/\xFF/quiverbox"), icons));  // not UTF-8: left as it was
  EXPECT_NE(ReadFileText(files.DesktopEntryFile()).find("Exec=/opt/quiverbox %f\n"), std::string::npos);

  WriteFileText(dir / "share/applications/other.desktop", "x");
  WriteFileText(dir / "share/mime/packages/other.xml", "x");
  WriteFileText(dir / "share/icons/hicolor/16x16/apps/other.png", "x");
  EXPECT_TRUE(files.Remove());
  EXPECT_FALSE(fs::exists(files.DesktopEntryFile()));
  EXPECT_FALSE(fs::exists(files.MimePackageFile()));
  EXPECT_FALSE(fs::exists(files.IconFile(16)));
  EXPECT_FALSE(fs::exists(files.IconFile(256)));
  EXPECT_TRUE(fs::exists(dir / "share/applications/other.desktop"));
  EXPECT_TRUE(fs::exists(dir / "share/mime/packages/other.xml"));
  EXPECT_TRUE(fs::exists(dir / "share/icons/hicolor/16x16/apps/other.png"));
  EXPECT_FALSE(files.Remove());

  // No folder, no desktop integration.
  TDesktopFiles none("");
  EXPECT_FALSE(none.Install("/usr/bin/quiverbox", icons));
  EXPECT_FALSE(none.Remove());
}

TEST(DesktopFiles, TheInstalledFilesMatchWhatTheProgramWrites) {
  const std::string source = QB_SOURCE_DIR;
  EXPECT_EQ(ReadFileText(source + "/resources/desktop/quiverbox.xml"), TDesktopFiles::MimePackageText());
  // The installed entry runs the program from the search path.
  std::string expected = TDesktopFiles::DesktopEntryText("quiverbox");
  EXPECT_EQ(ReadFileText(source + "/resources/desktop/quiverbox.desktop"), expected);
}

}  // namespace
}  // namespace qbtest
