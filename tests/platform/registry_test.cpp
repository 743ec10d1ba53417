// The file-backed registry: values survive a fresh reader byte for byte, keys and
// value names fold ASCII case, deleting follows the native rules, and a damaged or
// unwritable file costs nothing the user had.
#include "platform/registry.h"

#include <gtest/gtest.h>

#include "support/test_support.h"

namespace qbtest {
namespace {

using qb::TRegistryRoot;
constexpr TRegistryRoot kUser = TRegistryRoot::CurrentUser;
constexpr TRegistryRoot kClasses = TRegistryRoot::ClassesRoot;

class RegistryTest : public ::testing::Test {
 protected:
  qb::TFileRegistry Fresh() { return qb::TFileRegistry(qb::TPaths::InFolder(dir_.Path().string())); }
  TempDir dir_;
};

TEST_F(RegistryTest, ValuesSurviveAFreshReaderExactly) {
  const std::string awkward = std::string("a \"quoted\" C:\\path\r\nline\ttab \x01\x7F caf\xC3\xA9 ]", 33);
  {
    qb::TFileRegistry reg = Fresh();
    ASSERT_TRUE(reg.WriteString(kUser, "\\Software\\Quiverbox\\FileHistory", "File1", awkward));
    ASSERT_TRUE(reg.WriteString(kUser, "Software\\Quiverbox\\FileHistory", "", "default"));
    ASSERT_TRUE(reg.WriteString(kClasses, ".qvf", "", "Quiverbox.File"));
  }
  qb::TFileRegistry reg = Fresh();
  EXPECT_EQ(reg.ReadString(kUser, "software\\QUIVERBOX\\filehistory\\", "file1"), awkward);
  EXPECT_EQ(reg.ReadString(kUser, "Software\\Quiverbox\\FileHistory", ""), "default");
  EXPECT_EQ(reg.ValueNames(kUser, "Software\\Quiverbox\\FileHistory"),
            (std::vector<std::string>{"File1", ""}));
  // The roots are separate files.
  EXPECT_EQ(reg.ReadString(kClasses, ".QVF", ""), "Quiverbox.File");
  EXPECT_FALSE(reg.KeyExists(kUser, ".qvf"));
  EXPECT_FALSE(reg.ReadString(kUser, "Software\\Quiverbox\\FileHistory", "File2"));
  // The file is text a person can read.
  const std::string text = ReadFileText(reg.FileOf(kClasses));
  EXPECT_NE(text.find("[.qvf]\n@=\"Quiverbox.File\"\n"), std::string::npos) << text;
  // Writing the value it already holds leaves the file alone.
  const auto before = fs::last_write_time(reg.FileOf(kClasses));
  fs::last_write_time(reg.FileOf(kClasses), before - std::chrono::hours(1));
  EXPECT_TRUE(reg.WriteString(kClasses, ".qvf", "", "Quiverbox.File"));
  EXPECT_EQ(fs::last_write_time(reg.FileOf(kClasses)), before - std::chrono::hours(1));
}

TEST_F(RegistryTest, KeysNestAndDeleteOnlyWithoutSubkeys) {
  qb::TFileRegistry reg = Fresh();
  ASSERT_TRUE(reg.CreateKey(kClasses, "Quiverbox.File\\shell\\open\\command"));
  ASSERT_TRUE(reg.WriteString(kClasses, "Quiverbox.File\\DefaultIcon", "", "icon"));
  EXPECT_TRUE(reg.KeyExists(kClasses, "Quiverbox.File\\shell"));
  EXPECT_EQ(reg.SubKeys(kClasses, "quiverbox.file"), (std::vector<std::string>{"shell", "DefaultIcon"}));
  EXPECT_EQ(reg.SubKeys(kClasses, ""), (std::vector<std::string>{"Quiverbox.File"}));
  EXPECT_FALSE(reg.DeleteKey(kClasses, "Quiverbox.File"));  // it has subkeys
  EXPECT_TRUE(reg.DeleteKey(kClasses, "Quiverbox.File\\shell\\open\\command"));
  EXPECT_TRUE(reg.DeleteKey(kClasses, "Quiverbox.File\\shell\\open"));
  EXPECT_FALSE(reg.DeleteKey(kClasses, "Quiverbox.File\\shell\\open"));  // gone already
  EXPECT_TRUE(reg.DeleteValue(kClasses, "Quiverbox.File\\DefaultIcon", ""));
  EXPECT_FALSE(reg.DeleteValue(kClasses, "Quiverbox.File\\DefaultIcon", ""));
  EXPECT_TRUE(reg.KeyExists(kClasses, "Quiverbox.File\\DefaultIcon"));
  EXPECT_EQ(reg.SubKeys(kClasses, "Quiverbox.File"), (std::vector<std::string>{"shell", "DefaultIcon"}));
  // Paths that name no key.
  for (const char* bad : {"a\\\\b", "a\nb", "x\x01"}) {
    EXPECT_FALSE(reg.WriteString(kClasses, bad, "", "v")) << bad;
    EXPECT_FALSE(reg.CreateKey(kClasses, bad)) << bad;
    EXPECT_FALSE(reg.KeyExists(kClasses, bad)) << bad;
  }
  EXPECT_FALSE(reg.WriteString(kClasses, std::string(qb::IRegistry::kMaxKeyPath + 1, 'k'), "", "v"));
}

TEST_F(RegistryTest, ADamagedFileIsReadAsFarAsItCanAndKeptBeforeItIsReplaced) {
  qb::TFileRegistry reg = Fresh();
  const std::string damaged =
      "; written by hand\n"
      "[Software\\Q]\r\n"
      "\"File1\"=\"/a.qvf\"\n"
      "\"File2\"=\"/b.qvf\n"  // unterminated
      "garbage line\n"
      "\"File3\"=\"/c\\q.qvf\"\n"  // unknown escape
      "[bad\\\\key]\n"
      "\"File4\"=\"/d.qvf\"\n"
      "[Software\\Q]\n"
      "\"File5\"=\"/e.qvf\"\n";
  fs::create_directories(dir_.Path());
  WriteFileText(reg.FileOf(kUser), damaged);
  EXPECT_EQ(reg.ValueNames(kUser, "Software\\Q"), (std::vector<std::string>{"File1", "File5"}));
  EXPECT_FALSE(fs::exists(reg.FileOf(kUser) + ".bad"));  // reading changes nothing
  ASSERT_TRUE(reg.WriteString(kUser, "Software\\Q", "File2", "/b.qvf"));
  EXPECT_EQ(ReadFileText(reg.FileOf(kUser) + ".bad"), damaged);
  EXPECT_EQ(reg.ReadString(kUser, "Software\\Q", "File5"), "/e.qvf");
  size_t skipped = 99;
  qb::ParseRegistryText(ReadFileText(reg.FileOf(kUser)), &skipped);
  EXPECT_EQ(skipped, 0u);

  // Arbitrary bytes never crash the reader.
  for (uint64_t seed = 1; seed <= 50; ++seed) {
    const std::vector<uint8_t> bytes = RandomBytes(300, seed);
    qb::ParseRegistryText(std::string(bytes.begin(), bytes.end()));
  }
}

TEST_F(RegistryTest, AFileThatCannotBeWrittenGivesFalseAndNoException) {
  qb::TFileRegistry reg = Fresh();
  fs::create_directories(reg.FileOf(kUser));  // a folder where the file should be
  EXPECT_FALSE(reg.WriteString(kUser, "Software\\Q", "File1", "/a.qvf"));
  EXPECT_FALSE(reg.CreateKey(kUser, "Software\\Q"));
  EXPECT_FALSE(reg.KeyExists(kUser, "Software\\Q"));
  EXPECT_TRUE(fs::is_directory(reg.FileOf(kUser)));
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_.Path()), fs::directory_iterator()), 1);  // no temp left
}

}  // namespace
}  // namespace qbtest
