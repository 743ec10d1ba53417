// The recent-files list: its order and numbering, its limit, which paths are one
// entry, captions that show any path as it is, the stored list across restarts,
// and a chosen entry.
#include "shell/recent_files.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "platform/codepage.h"
#include "support/test_support.h"

namespace qbtest {
namespace {

using qb::TMenuNode;
using qb::TRecentFiles;
using qb::TRegistryRoot;

constexpr const char* kKey = "\\Software\\Quiverbox\\FileCabinets";

class RecentFilesTest : public ::testing::Test {
 protected:
  void SetUp() override { recent_ = Make(menu_); }

  // A list set up as the main window's.
  std::unique_ptr<TRecentFiles> Make(TMenuNode& menu) {
    auto recent = std::make_unique<TRecentFiles>(registry_, "Quiverbox");
    menu.SetEnabled(false);
    recent->SetMenu(&menu);
    recent->SetMaxFiles(9);
    recent->SetRegistryKey(kKey);
    recent->SetStandAloneMenu(true);
    recent->SetDeleteEntry(true);
    recent->SetSaveOnChange(true);
    recent->OnClick = [this](TRecentFiles&, const std::string& path) { clicked_.push_back(path); };
    return recent;
  }
  // A file that exists.
  std::string File(const std::string& name) {
    const std::string path = dir_ / name;
    if (!fs::exists(path)) WriteFileText(path, "x");
    return path;
  }
  std::vector<std::string> Captions(const TMenuNode& menu) {
    std::vector<std::string> out;
    for (size_t i = 0; i < menu.Count(); ++i) out.push_back(menu.Item(i)->Caption());
    return out;
  }
  std::vector<std::string> Stored() {
    std::vector<std::string> out;
    for (const std::string& name : registry_.ValueNames(TRegistryRoot::CurrentUser, recent_->HistoryKey()))
      out.push_back(
          name + "=" +
          registry_.ReadString(TRegistryRoot::CurrentUser, recent_->HistoryKey(), name).value_or("?"));
    return out;
  }

  TempDir dir_;
  qb::TFileRegistry registry_{qb::TPaths::InFolder((dir_.Path() / "home").string())};
  TMenuNode menu_{"&Re-Open"};
  std::unique_ptr<TRecentFiles> recent_;
  std::vector<std::string> clicked_;
};

TEST_F(RecentFilesTest, NewestFirstRenumberedAndNeverMoreThanNine) {
  const std::string a = File("A.qvf"), b = File("B.qvf"), c = File("C.qvf");
  EXPECT_FALSE(menu_.Enabled());
  recent_->AddFile(a);
  recent_->AddFile(b);
  recent_->AddFile(c);
  EXPECT_TRUE(menu_.Enabled());
  EXPECT_EQ(Captions(menu_), (std::vector<std::string>{"&1 " + c, "&2 " + b, "&3 " + a}));
  recent_->AddFile(a);
  EXPECT_EQ(Captions(menu_), (std::vector<std::string>{"&1 " + a, "&2 " + c, "&3 " + b}));

  for (int i = 0; i < 7; ++i) recent_->AddFile(File("N" + std::to_string(i) + ".qvf"));
  ASSERT_EQ(recent_->EntryCount(), 9);
  EXPECT_EQ(recent_->Paths().back(), c);  // the tenth cabinet pushed b out
  EXPECT_EQ(menu_.Item(8)->Caption(), "&9 " + c);
  recent_->SetMaxFiles(12);
  EXPECT_EQ(recent_->MaxFiles(), 9);
  recent_->AddFile(File("Tenth.qvf"));
  EXPECT_EQ(recent_->EntryCount(), 9);
}

TEST_F(RecentFilesTest, OnePathOneEntryButLetterCaseCounts) {
  const std::string lower = File("a.qvf"), upper = File("A.qvf");
  recent_->AddFile(lower);
  recent_->AddFile(upper);
  EXPECT_EQ(recent_->EntryCount(), 2);

  // A relative path, a detour and a link all name the file itself.
  const std::string old_dir = fs::current_path();
  fs::current_path(dir_.Path());
  recent_->AddFile("./a.qvf");
  fs::current_path(old_dir);
  fs::create_directories(dir_.Path() / "sub");
  recent_->AddFile((dir_.Path() / "sub" / ".." / "a.qvf").string());
  fs::create_symlink(lower, dir_.Path() / "link.qvf");
  recent_->AddFile((dir_.Path() / "link.qvf").string());
  EXPECT_EQ(recent_->Paths(), (std::vector<std::string>{lower, upper}));

  // A file that does not exist (yet) is not listed, nor is an empty path.
  recent_->AddFile(dir_ / "New.qvf");
  recent_->AddFile("");
  EXPECT_EQ(recent_->EntryCount(), 2);
}

TEST_F(RecentFilesTest, CaptionsShowAmpersandsAndLongPathsWhileTheEntryKeepsTheWholePath) {
  const std::string amp = File("Tom & Jerry.qvf");
  fs::path deep = dir_.Path();
  for (int i = 0; i < 20; ++i) deep /= "f\xC3\xA9lder-number-" + std::to_string(i);
  fs::create_directories(deep);
  const std::string long_path = (deep / "clips.qvf").string();
  WriteFileText(long_path, "x");
  ASSERT_GT(long_path.size(), 256u);
  recent_->AddFile(long_path);
  recent_->AddFile(amp);

  EXPECT_EQ(menu_.Item(0)->Caption(), "&1 " + dir_ / "Tom && Jerry.qvf");
  const std::string shown = menu_.Item(1)->Caption();
  EXPECT_LE(shown.size(), TRecentFiles::kMaxShownPath + 3);
  EXPECT_EQ(shown.substr(shown.size() - 10), "/clips.qvf");
  EXPECT_NE(shown.find("..."), std::string::npos);
  EXPECT_TRUE(qb::codepage::IsValidUtf8(shown));  // cut between characters
  EXPECT_EQ(recent_->Paths()[1], long_path);

  menu_.Item(1)->Click();
  EXPECT_EQ(clicked_, (std::vector<std::string>{long_path}));
}

TEST_F(RecentFilesTest, ChoosingAnEntryTakesItOutAndTheLastOneDisablesTheMenu) {
  const std::string a = File("A.qvf"), b = File("B.qvf"), c = File("C.qvf");
  for (const std::string& f : {a, b, c}) recent_->AddFile(f);
  menu_.Item(1)->Click();
  EXPECT_EQ(clicked_, (std::vector<std::string>{b}));
  EXPECT_EQ(Captions(menu_), (std::vector<std::string>{"&1 " + c, "&2 " + a}));
  recent_->ClickFile(a);
  recent_->ClickFile(c);
  EXPECT_EQ(clicked_, (std::vector<std::string>{b, a, c}));
  EXPECT_EQ(menu_.Count(), 0u);
  EXPECT_FALSE(menu_.Enabled());
  // A click that waited while its entry went is still reported.
  recent_->ClickFile(b);
  EXPECT_EQ(clicked_.back(), b);
}

TEST_F(RecentFilesTest, TheStoredListIsExactlyTheEntriesAndSurvivesARestart) {
  const std::string a = File("A.qvf"), b = File("B.qvf"), c = File("C.qvf");
  recent_->LoadHistory();  // nothing stored yet
  EXPECT_FALSE(menu_.Enabled());
  for (const std::string& f : {a, b, c}) recent_->AddFile(f);
  // Saved at every change, not only at shut-down.
  EXPECT_EQ(Stored(), (std::vector<std::string>{"File1=" + c, "File2=" + b, "File3=" + a}));
  menu_.Item(0)->Click();
  EXPECT_EQ(Stored(), (std::vector<std::string>{"File1=" + b, "File2=" + a}));
  recent_->AddFile(c);
  recent_->SaveHistory();
  EXPECT_EQ(registry_.SubKeys(TRegistryRoot::CurrentUser, kKey), (std::vector<std::string>{"FileHistory"}));

  // The next run: same order, minus the file that went meanwhile.
  fs::remove(b);
  TMenuNode menu{"&Re-Open"};
  std::unique_ptr<TRecentFiles> again = Make(menu);
  again->LoadHistory();
  EXPECT_TRUE(menu.Enabled());
  EXPECT_EQ(Captions(menu), (std::vector<std::string>{"&1 " + c, "&2 " + a}));
  EXPECT_EQ(Stored().size(), 3u);  // loading alone writes nothing
  again->SaveHistory();
  EXPECT_EQ(Stored(), (std::vector<std::string>{"File1=" + c, "File2=" + a}));
}

TEST_F(RecentFilesTest, AListThatNeverReadTheStoredOneDoesNotOverwriteIt) {
  const std::string a = File("A.qvf"), b = File("B.qvf");
  registry_.WriteString(TRegistryRoot::CurrentUser, recent_->HistoryKey(), "File1", a);
  recent_->AddFile(b);
  EXPECT_EQ(Stored(), (std::vector<std::string>{"File1=" + a}));
  // Junk and gaps in the stored values are passed over.
  registry_.WriteString(TRegistryRoot::CurrentUser, recent_->HistoryKey(), "File3", "");
  registry_.WriteString(TRegistryRoot::CurrentUser, recent_->HistoryKey(), "File9", std::string("a\0b", 3));
  recent_->LoadHistory();
  EXPECT_EQ(recent_->Paths(), (std::vector<std::string>{a, b}));
}

TEST_F(RecentFilesTest, BelowOtherItemsTheEntriesFollowASeparator) {
  TMenuNode file_menu{"&File"}, open{"&Open"};
  file_menu.Add(&open);
  TRecentFiles recent(registry_, "Quiverbox");
  recent.SetMenu(&file_menu);
  recent.SetMaxFiles(3);
  recent.SetDeleteEntry(true);
  const std::string a = File("A.qvf"), b = File("B.qvf");
  recent.AddFile(a);
  recent.AddFile(b);
  EXPECT_EQ(Captions(file_menu), (std::vector<std::string>{"&Open", "-", "&1 " + b, "&2 " + a}));
  EXPECT_EQ(recent.RegistryKey(), "");
  recent.SaveHistory();
  EXPECT_EQ(recent.RegistryKey(), "\\Software\\Quiverbox");
  recent.SetMaxFiles(1);
  EXPECT_EQ(Captions(file_menu), (std::vector<std::string>{"&Open", "-", "&1 " + b}));
  file_menu.Item(2)->Click();
  EXPECT_EQ(Captions(file_menu), (std::vector<std::string>{"&Open"}));
  recent.AddFile(a);
  recent.SetMaxFiles(0);
  EXPECT_EQ(Captions(file_menu), (std::vector<std::string>{"&Open"}));
  recent.AddFile(b);  // a list of no entries takes none
  EXPECT_EQ(file_menu.Count(), 1u);
}

}  // namespace
}  // namespace qbtest
