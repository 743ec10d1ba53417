// Where the program keeps its files: QUIVERBOX_HOME, the XDG variables and their
// defaults; and the default extension a file dialog applies.
#include "platform/paths.h"

#include <gtest/gtest.h>

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

  // Empty or relative values do not count.
  TPaths defaults = With({{"HOME", "/home/u"}, {"XDG_CONFIG_HOME", ""}, {"XDG_DATA_HOME", "relative"}});
  EXPECT_EQ(defaults.SettingsFile(), "/home/u/.config/quiverbox/quiverbox.ini");
  EXPECT_EQ(defaults.UserGlyphLibrary(), "/home/u/.local/share/quiverbox/UserGlyphs.dll");
  EXPECT_EQ(defaults.TempPictureFile(), "/home/u/.cache/quiverbox/[@@]");

  TPaths nothing = With({});
  EXPECT_FALSE(nothing.SettingsFile().empty());
  EXPECT_TRUE(std::filesystem::path(nothing.SettingsFile()).is_absolute());
}

TEST(Paths, EnsureParentDirCreatesTheFolders) {
  qbtest::TempDir dir;
  TPaths paths = TPaths::InFolder(dir / "a/b");
  EnsureParentDir(paths.SettingsFile());
  EXPECT_TRUE(std::filesystem::is_directory(dir / "a/b"));
  qbtest::WriteFileText(dir / "file", "x");
  EXPECT_THROW(EnsureParentDir(dir / "file/sub/settings.ini"), EFCreateError);
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
