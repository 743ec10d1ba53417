// The settings file: the INI profile and the main window's stored properties.
#include <gtest/gtest.h>

#include "app/stored_properties.h"
#include "platform/errors.h"
#include "platform/ini_file.h"
#include "support/test_support.h"

namespace qb {
namespace {

TEST(IniFile, ReadsLeniently) {
  TIniFile ini;
  ini.LoadFromText(
      "stray=before any section\r\n"
      "[TMainForm]\r\n"
      "  Zip1_ZipName = /home/u/Work.qvf  \r\n"
      "; a comment\n"
      "no equals sign\n"
      "Count=12\n"
      "count=99\n"
      "Bad=12x\n"
      "Flag=true\n"
      "[broken\n"
      "[tmainform]\n"
      "Other=1\n");
  EXPECT_FALSE(ini.ValueExists("", "stray"));
  EXPECT_EQ(ini.ReadString("TMAINFORM", "zip1_zipname", ""), "/home/u/Work.qvf");
  EXPECT_EQ(ini.ReadInteger("TMainForm", "Count", 0), 12);  // the first occurrence
  EXPECT_EQ(ini.ReadInteger("TMainForm", "Bad", -1), -1);
  EXPECT_TRUE(ini.ReadBool("TMainForm", "Flag", false));
  EXPECT_TRUE(ini.ReadBool("TMainForm", "Other", false));  // the section met again is the same one
  EXPECT_EQ(ini.ReadString("Missing", "x", "fallback"), "fallback");
}

TEST(IniFile, WritesBackWholeAndKeepsOrder) {
  qbtest::TempDir dir;
  const std::string path = dir / "cfg/quiverbox.ini";
  {
    TIniFile ini(path);
    EXPECT_FALSE(ini.SectionExists("TMainForm"));
    ini.WriteString("TMainForm", "B", "two");
    ini.WriteString("TMainForm", "A", "line\r\nbreak");
    ini.WriteBool("TNoteForm", "Flag", false);
    ini.WriteInteger("tmainform", "b", -3);
    ini.UpdateFile();
  }
  EXPECT_EQ(qbtest::ReadFileText(path), "[TMainForm]\nB=-3\nA=line  break\n\n[TNoteForm]\nFlag=False\n");
  TIniFile again(path);
  again.EraseSection("TNOTEFORM");
  again.DeleteKey("TMainForm", "a");
  EXPECT_EQ(again.ToText(), "[TMainForm]\nB=-3\n");
  qbtest::WriteFileText(dir / "file", "x");
  TIniFile blocked(dir / "file/sub.ini");
  EXPECT_THROW(blocked.UpdateFile(), EFCreateError);
}

TEST(StoredProperties, RoundTripUnderTheirKeys) {
  TMainFormProperties props;
  props.PreviousCabinet = "/a/Old.qvf";
  props.OpenDialogInitialDir = "/a";
  props.ViewItemsChecked = true;
  TIniFile ini;
  WriteStoredProperties(ini, props, "/a/Work.qvf");
  EXPECT_EQ(ini.ReadString("TMainForm", "Zip1_ZipName", ""), "/a/Work.qvf");
  EXPECT_EQ(ini.ReadString("TMainForm", "LSplitter_Hint", ""), "/a/Old.qvf");
  EXPECT_EQ(ini.ReadString("TMainForm", "OpenDialog1_InitialDir", ""), "/a");
  EXPECT_EQ(ini.ReadString("TMainForm", "ViewItemsMi_Checked", ""), "True");
  EXPECT_EQ(ini.ReadString("TMainForm", "CurrentDrawerMi_Checked", ""), "False");

  TMainFormProperties read;
  std::string zip_name;
  ReadStoredProperties(ini, read, zip_name);
  EXPECT_EQ(zip_name, "/a/Work.qvf");
  EXPECT_EQ(read.PreviousCabinet, "/a/Old.qvf");
  EXPECT_EQ(read.OpenDialogInitialDir, "/a");
  EXPECT_TRUE(read.ViewItemsChecked);
  EXPECT_FALSE(read.CurrentDrawerChecked);

  // Nothing stored: the design values stand.
  TMainFormProperties fresh;
  ReadStoredProperties(TIniFile(), fresh, zip_name);
  EXPECT_EQ(zip_name, "");
  EXPECT_FALSE(fresh.ViewItemsChecked);
}

}  // namespace
}  // namespace qb
