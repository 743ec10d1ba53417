// The main window's Re-Open list: every cabinet load puts the cabinet on top, an
// entry opens its cabinet or says it is gone, and the list comes back at the next
// start with the last cabinet on top.
#include <gtest/gtest.h>

#include "app/app_test_support.h"

namespace qbtest {
namespace {

class RecentCabinetsTest : public MainFormTest {
 protected:
  void SetUp() override {
    MainFormTest::SetUp();
    Start(*form_);
    for (const char* name : {"A.qvf", "B.qvf", "C.qvf"}) Put("x", "1", Bytes("F1FC"), dir_ / name);
  }
  static void Start(qb::TMainForm& form) {
    ASSERT_TRUE(form.FormCreate({}));
    form.FormShow({});
  }
  std::string Cab(const char* name) { return dir_ / name; }
};

TEST_F(RecentCabinetsTest, EveryLoadPutsTheCabinetOnTopAndAnEntryOpensIt) {
  EXPECT_FALSE(form_->ReOpenMi().Enabled());
  Open(Cab("A.qvf"));
  Open(Cab("B.qvf"));
  Open(Cab("C.qvf"));
  EXPECT_EQ(form_->RecentFiles1().Paths(),
            (std::vector<std::string>{Cab("C.qvf"), Cab("B.qvf"), Cab("A.qvf")}));
  EXPECT_TRUE(form_->ReOpenMi().Enabled());

  form_->ReOpenMi().Item(2)->Click();  // A
  EXPECT_EQ(form_->Zip1().ZipName(), Cab("A.qvf"));
  EXPECT_EQ(form_->Properties().PreviousCabinet, Cab("C.qvf"));
  EXPECT_EQ(Tree().Root()->Caption(), "A");
  EXPECT_EQ(form_->ReOpenMi().Item(0)->Caption(), "&1 " + Cab("A.qvf"));
  EXPECT_EQ(form_->RecentFiles1().Paths(),
            (std::vector<std::string>{Cab("A.qvf"), Cab("C.qvf"), Cab("B.qvf")}));
  EXPECT_TRUE(ui_.Boxes().empty());
}

TEST_F(RecentCabinetsTest, AMovedCabinetIsReportedAndLeavesTheList) {
  Open(Cab("A.qvf"));
  fs::rename(Cab("A.qvf"), Cab("Moved.qvf"));
  form_->ReOpenMi().Item(0)->Click();
  ASSERT_EQ(ui_.Boxes().size(), 1u);
  EXPECT_EQ(ui_.Boxes()[0].Describe(),
            "Error 'Error' [OK]: " + Cab("A.qvf") + "\r\ndoes not exist! (probably deleted or moved)");
  EXPECT_EQ(form_->ReOpenMi().Count(), 0u);
  EXPECT_FALSE(form_->ReOpenMi().Enabled());
  EXPECT_EQ(form_->Zip1().ZipName(), Cab("A.qvf"));  // still the open one, as it was
}

TEST_F(RecentCabinetsTest, TheNextStartShowsTheListWithTheLastCabinetOnTop) {
  Open(Cab("A.qvf"));
  Open(Cab("B.qvf"));
  Open(Cab("C.qvf"));
  Open(Cab("A.qvf"));
  form_->FormClose();
  fs::remove(Cab("B.qvf"));
  form_.reset();

  qb::TMainForm again(ui_, qb::TPaths::FromEnvironment());
  Start(again);
  EXPECT_EQ(again.Zip1().ZipName(), Cab("A.qvf"));
  EXPECT_EQ(again.RecentFiles1().Paths(), (std::vector<std::string>{Cab("A.qvf"), Cab("C.qvf")}));
  std::vector<std::string> captions;
  for (size_t i = 0; i < again.ReOpenMi().Count(); ++i)
    captions.push_back(again.ReOpenMi().Item(i)->Caption());
  EXPECT_EQ(captions, (std::vector<std::string>{"&1 " + Cab("A.qvf"), "&2 " + Cab("C.qvf")}));
  // After the close the registry holds exactly File1..File2, in a file in the
  // program's folder.
  again.FormClose();
  qb::TFileRegistry registry(again.Paths());
  EXPECT_EQ(
      registry.ValueNames(qb::TRegistryRoot::CurrentUser, "\\Software\\Quiverbox\\FileCabinets\\FileHistory"),
      (std::vector<std::string>{"File1", "File2"}));
  EXPECT_EQ(fs::path(registry.FileOf(qb::TRegistryRoot::CurrentUser)).parent_path(), fs::path(home_));
}

TEST_F(RecentCabinetsTest, ANewCabinetIsListedOnceItsFileExists) {
  ui_.ChooseFile(Cab("Fresh.qvf"));
  form_->NewMiClick();
  EXPECT_EQ(form_->Zip1().ZipName(), Cab("Fresh.qvf"));
  EXPECT_EQ(form_->RecentFiles1().EntryCount(), 0);
  Put("x", "1", Bytes("F1FC"), Cab("Fresh.qvf"));
  form_->RebuildCabinetTree();
  EXPECT_EQ(form_->RecentFiles1().Paths(), (std::vector<std::string>{Cab("Fresh.qvf")}));
}

}  // namespace
}  // namespace qbtest
