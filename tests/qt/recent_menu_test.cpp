// File > Re-Open in the real window: the entries the menu shows, choosing one, an
// entry whose cabinet went away, and the list after a restart.
#include <gtest/gtest.h>

#include <QAction>
#include <QDockWidget>
#include <QMenu>
#include <QTest>
#include <filesystem>

#include "qt/main_window_fixture.h"

namespace qb::qt {
namespace {

class RecentMenuTest : public MainWindowTest {
 protected:
  std::string MakeCabinet(const std::string& name) {
    const std::string path = dir_ / name;
    zip::TZipWriter zip;
    store::ConfigureCabinetArchive(zip);
    zip.SetZipName(path);
    TMemoryStream data(std::string_view("x\0", 2));
    store::SaveItem(zip, data, "Item", 1);
    return path;
  }
  QMenu* ReOpen(TQtMainWindow& window) { return window.Menu("ReOpenMi"); }
  std::vector<std::string> Shown(TQtMainWindow& window) {
    std::vector<std::string> texts;
    for (QAction* action : ReOpen(window)->actions()) texts.push_back(action->text().toStdString());
    return texts;
  }
};

TEST_F(RecentMenuTest, TheMenuListsTheCabinetsAndAnEntryOpensItsCabinet) {
  const std::string other = MakeCabinet("Other & More.qvf");
  window_->OpenCabinet(other);
  ASSERT_NE(ReOpen(*window_), nullptr);
  EXPECT_TRUE(ReOpen(*window_)->menuAction()->isEnabled());
  EXPECT_EQ(Shown(*window_),
            (std::vector<std::string>{"&1 " + dir_ / "Other && More.qvf", "&2 " + cabinet_}));

  ReOpen(*window_)->actions()[1]->trigger();
  QCoreApplication::processEvents();
  EXPECT_EQ(window_->Form().Zip1().ZipName(), cabinet_);
  EXPECT_EQ(Shown(*window_),
            (std::vector<std::string>{"&1 " + cabinet_, "&2 " + dir_ / "Other && More.qvf"}));
  EXPECT_EQ(window_->ExplorerView()->model()->index(0, 0).data().toString().toStdString(), "Work");

  // The other cabinet goes away; its entry says so and leaves the menu.
  std::filesystem::remove(other);
  ReOpen(*window_)->actions()[1]->trigger();
  QCoreApplication::processEvents();
  ASSERT_EQ(ui_.Boxes().size(), 1u);
  EXPECT_EQ(ui_.Boxes()[0].Text, other + "\r\ndoes not exist! (probably deleted or moved)");
  EXPECT_EQ(Shown(*window_), (std::vector<std::string>{"&1 " + cabinet_}));
}

TEST_F(RecentMenuTest, ARestartedWindowShowsTheSameListAndAnEmptyListIsDisabled) {
  const std::string home = dir_ / "home";
  const std::string a = MakeCabinet("A.qvf"), b = MakeCabinet("B.qvf");
  {
    TQtMainWindow first(TPaths::InFolder(home), &clipboard_, &ui_);
    ASSERT_TRUE(first.Form().FormCreate({}));
    first.show();
    first.Form().FormShow({});
    EXPECT_FALSE(ReOpen(first)->menuAction()->isEnabled());
    first.OpenCabinet(a);
    first.OpenCabinet(b);
    first.close();
  }
  TQtMainWindow second(TPaths::InFolder(home), &clipboard_, &ui_);
  ASSERT_TRUE(second.Form().FormCreate({}));
  second.show();
  second.Form().FormShow({});
  EXPECT_EQ(second.Form().Zip1().ZipName(), b);
  EXPECT_TRUE(ReOpen(second)->menuAction()->isEnabled());
  EXPECT_EQ(Shown(second), (std::vector<std::string>{"&1 " + b, "&2 " + a}));
}

}  // namespace
}  // namespace qb::qt
