// Where the program keeps its files: QUIVERBOX_HOME, the XDG variables and their
// defaults; and the default extension a file dialog applies.
#include "platform/paths.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <map>

#include "platform/errors.h"
#include "platform/interaction.h"
#include "support/test_support.h"

namespace qb {
namespace {

TPaths With(std::map<std::string, std::string> env) {
  return TPaths([env](const char* name) -> std::optional<std::string> {
    auto it = env.find(name);
    if (it == env.end()) return std::nullopt;
    return it->second;
  });
}

TEST(Paths, QuiverboxHomeHoldsEverything) {
  TPaths paths = With({{"QUIVERBOX_HOME", "/p/home"}, {"HOME", "/home/u"}, {"XDG_CONFIG_HOME", "/x"}});
  EXPECT_TRUE(paths.Portable());
  EXPECT_EQ(paths.SettingsFile(), "/p/home/quiverbox.ini");
  EXPECT_EQ(paths.LayoutFile(), "/p/home/quiverbox.dat");
  EXPECT_EQ(paths.UserGlyphLibrary(), "/p/home/UserGlyphs.dll");
  EXPECT_EQ(paths.TempPictureFile(), "/p/home/[@@]");
  EXPECT_EQ(paths.RegistryFile("CurrentUser"), "/p/home/CurrentUser.reg");
  EXPECT_EQ(paths.DesktopDataDir(), "");  // no desktop integration
}

TEST(Paths, XdgVariablesAndTheirDefaults) {
  TPaths xdg = With({{"HOME", "/home/u"},
                     {"XDG_CONFIG_HOME", "/cfg"},
                     {"XDG_DATA_HOME", "/data"},
                     {"XDG_CACHE_HOME", "/cache"}});
  EXPECT_FALSE(xdg.Portable());
  EXPECT_EQ(xdg.SettingsFile(), "/cfg/quiverbox/quiverbox.ini");
  EXPECT_EQ(xdg.UserGlyphLibrary(), "/data/quiverbox/UserGlyphs.dll");
  EXPECT_EQ(xdg.TempPictureFile(), "/cache/quiverbox/[@@]");
  EXPECT_EQ(xdg.DesktopDataDir(), "/data");

  // Empty or relative values do not count.
  TPaths defaults = With({{"HOME", "/home/u"}, {"XDG_CONFIG_HOME", ""}, {"XDG_DATA_HOME", "relative"}});
  EXPECT_EQ(defaults.SettingsFile(), "/home/u/.config/quiverbox/quiverbox.ini");
  EXPECT_EQ(defaults.UserGlyphLibrary(), "/home/u/.local/share/quiverbox/UserGlyphs.dll");
  EXPECT_EQ(defaults.TempPictureFile(), "/home/u/.cache/quiverbox/[@@]");
  EXPECT_EQ(defaults.DesktopDataDir(), "/home/u/.local/share");

  qbtest::TempDir temp;
  TPaths nothing = With({{"TMPDIR", temp.Path().string()}});
  EXPECT_FALSE(nothing.SettingsFile().empty());
  EXPECT_TRUE(std::filesystem::path(nothing.SettingsFile()).is_absolute());
}

// Without HOME and the XDG variables the files live in a folder of the temporary
// folder that only this user can reach; what someone else put in its place (a link,
// a folder open to others) is never used.
TEST(Paths, WithoutHomeTheFilesGoToAPrivateFolder) {
  namespace fs = std::filesystem;
  qbtest::TempDir temp;
  const fs::path fixed = temp / ("quiverbox-" + std::to_string(::geteuid()));
  auto base_of = [](const TPaths& paths) {
    return fs::path(paths.TempPictureFile()).parent_path().parent_path();
  };
  auto is_private = [](const fs::path& folder) {
    struct stat st {};
    return ::lstat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() &&
           (st.st_mode & 0777) == 0700;
  };
  const TPaths::TEnvLookup lookup = [&](const char* name) -> std::optional<std::string> {
    if (std::string(name) == "TMPDIR") return temp.Path().string();
    return std::nullopt;
  };

  // A link planted at the usual name, to a folder of the planter's choosing.
  fs::create_directory(temp / "planted");
  fs::create_directory_symlink(temp / "planted", fixed);
  const fs::path first = base_of(TPaths(lookup));
  EXPECT_NE(first, fixed);
  EXPECT_TRUE(is_private(first)) << first;
  EnsureParentDir(TPaths(lookup).TempPictureFile());
  EXPECT_TRUE(fs::is_empty(temp / "planted"));

  // A folder at the usual name that others may write to.
  fs::remove(fixed);
  fs::create_directory(fixed);
  fs::permissions(fixed, fs::perms::all);
  const fs::path second = base_of(TPaths(lookup));
  EXPECT_NE(second, fixed);
  EXPECT_NE(second, first);
  EXPECT_TRUE(is_private(second)) << second;

  // Nothing in the way: the usual name, made private, and the same on every start.
  fs::remove(fixed);
  EXPECT_EQ(base_of(TPaths(lookup)), fixed);
  EXPECT_TRUE(is_private(fixed));
  EXPECT_EQ(base_of(TPaths(lookup)), fixed);

  // No folder can be made: nothing can be written, rather than somewhere unsafe.
  TPaths nowhere = With({{"TMPDIR", temp / "missing"}});
  EXPECT_THROW(EnsureParentDir(nowhere.SettingsFile()), EFCreateError);
}

TEST(Paths, EnsureParentDirCreatesTheFolders) {
  qbtest::TempDir dir;
  TPaths paths = TPaths::InFolder(dir / "a/b");
  EnsureParentDir(paths.SettingsFile());
  EXPECT_TRUE(std::filesystem::is_directory(dir / "a/b"));
  qbtest::WriteFileText(dir / "file", "x");
  EXPECT_THROW(EnsureParentDir(dir / "file/sub/settings.ini"), EFCreateError);
}

TEST(Paths, SameFileIsDecidedByTheFileSystemNotByLetterCase) {
  qbtest::TempDir dir;
  qbtest::WriteFileText(dir / "work.qvf", "lower");
  EXPECT_TRUE(SameFilePath(dir / "work.qvf", dir / "work.qvf"));
  // Another name in another letter case is another file (or none at all).
  EXPECT_FALSE(SameFilePath(dir / "work.qvf", dir / "Work.qvf"));
  qbtest::WriteFileText(dir / "Work.qvf", "upper");
  EXPECT_FALSE(SameFilePath(dir / "work.qvf", dir / "Work.qvf"));
  // Other spellings of the one file count as that file.
  std::filesystem::create_directory(dir / "sub");
  EXPECT_TRUE(SameFilePath(dir / "work.qvf", dir / "sub/../work.qvf"));
  std::filesystem::create_symlink(dir / "work.qvf", dir / "link.qvf");
  EXPECT_TRUE(SameFilePath(dir / "link.qvf", dir / "work.qvf"));
  std::filesystem::create_hard_link(dir / "Work.qvf", dir / "hard.qvf");
  EXPECT_TRUE(SameFilePath(dir / "hard.qvf", dir / "Work.qvf"));
  // Paths of files that do not exist compare by their text alone.
  EXPECT_TRUE(SameFilePath(dir / "new.qvf", dir / "new.qvf"));
  EXPECT_FALSE(SameFilePath(dir / "new.qvf", dir / "New.qvf"));
  EXPECT_FALSE(SameFilePath("", dir / "work.qvf"));
  EXPECT_TRUE(SameFilePath("", ""));
}

TEST(Paths, RegularFileExistsOnlyForARegularFileOrALinkToOne) {
  qbtest::TempDir dir;
  qbtest::WriteFileText(dir / "work.qvf", "x");
  std::filesystem::create_symlink(dir / "work.qvf", dir / "link.qvf");
  std::filesystem::create_symlink(dir / "gone.qvf", dir / "dangling.qvf");
  ASSERT_EQ(::mkfifo((dir / "pipe.qvf").c_str(), 0600), 0);
  EXPECT_TRUE(RegularFileExists(dir / "work.qvf"));
  EXPECT_TRUE(RegularFileExists(dir / "link.qvf"));
  EXPECT_FALSE(RegularFileExists(dir / "dangling.qvf"));
  EXPECT_FALSE(RegularFileExists(dir / "pipe.qvf"));
  EXPECT_FALSE(RegularFileExists(dir.Path().string()));
  EXPECT_FALSE(RegularFileExists(""));
  EXPECT_FALSE(RegularFileExists(std::string(dir / "work.qvf") + std::string(1, '\0') + "x"));
}

TEST(FileDialog, DefaultExtensionOnlyForNamesWithoutOne) {
  EXPECT_EQ(ApplyDefaultExtension("/d/cab", "qvf"), "/d/cab.qvf");
  EXPECT_EQ(ApplyDefaultExtension("/d/cab.zip", "qvf"), "/d/cab.zip");
  EXPECT_EQ(ApplyDefaultExtension("/d.x/cab", "qvf"), "/d.x/cab.qvf");
  EXPECT_EQ(ApplyDefaultExtension("/d/", "qvf"), "/d/");
  EXPECT_EQ(ApplyDefaultExtension("", "qvf"), "");
}

}  // namespace
}  // namespace qb
