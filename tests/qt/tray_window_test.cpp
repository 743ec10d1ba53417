// The tray icon's menu through the real main window (offscreen there is no tray:
// the menu is there all the same): the newest items load, Auto Save stays in step
// with the Clipboard menu, "Auto Save At Start" and the keep-in-tray switch reach
// the settings file and the next start, Show and Exit do what they say.
#include <QAction>
#include <QDockWidget>
#include <QLineEdit>
#include <QMenu>
#include <QTest>
#include <functional>
#include <set>

#include "main_window_fixture.h"
#include "platform/ini_file.h"
#include "qt/finder_pane.h"
#include "qt/tray_icon.h"

namespace qb::qt {
namespace {

class TrayWindowTest : public MainWindowTest {
 protected:
  // Opens the menu's entries as they stand now.
  QList<QAction*> Entries() {
    QMenu* menu = window_->Tray().Menu();
    emit menu->aboutToShow();
    return menu->actions();
  }
  QAction* Entry(const QString& text) {
    for (QAction* action : Entries())
      if (action->text() == text) return action;
    ADD_FAILURE() << "no entry " << text.toStdString();
    return nullptr;
  }
  // Chooses an entry; it runs once the menu has closed.
  void Choose(const QString& text) {
    if (QAction* action = Entry(text)) action->trigger();
    QCoreApplication::processEvents();
  }
  std::string ClipText() {
    TClipboardLock lock(clipboard_);
    const auto text = clipboard_.GetBlock(CF_TEXT);
    return text ? std::string(text->begin(), text->end()) : "<none>";
  }
  std::string Settings() { return window_->Form().Paths().SettingsFile(); }
};

bool WaitUntil(const std::function<bool()>& done) {
  for (int i = 0; i < 300 && !done(); ++i) QTest::qWait(10);
  return done();
}

TEST_F(TrayWindowTest, TheMenuListsASavedClipAtOnceAndNoDeletedItem) {
  auto items = [&] {
    std::set<QString> out;
    for (QAction* action : Entries()) {
      if (action->isSeparator()) break;
      out.insert(action->text());
    }
    return out;
  };
  finder::TItemFinder& finder = window_->FinderPane()->Finder();
  // While the search's index is being read.
  window_->FinderPane()->SearchField()->setText("o");
  EXPECT_EQ(items(), (std::set<QString>{"code", "hello"}));
  ASSERT_TRUE(WaitUntil([&] { return !finder.Reading(); }));
  ASSERT_NE(finder.CurrentIndex(), nullptr);

  window_->Run(TCommand::AutoSaveMiClick);
  clipboard_.PutText("brand new clip");
  // At once, also while the search is still reading the new clip.
  EXPECT_EQ(items(), (std::set<QString>{"brand new clip", "code", "hello"}));
  ASSERT_TRUE(WaitUntil([&] { return !finder.Catching(); }));
  ASSERT_NE(finder.CurrentIndex(), nullptr);
  EXPECT_EQ(items(), (std::set<QString>{"brand new clip", "code", "hello"}));
  window_->Run(TCommand::AutoSaveMiClick);

  TTreeView& tree = window_->Form().DockableForm().TreeView1();
  tree.SetSelected(FindNodeByPath(tree, "Code\\Snippet"));
  ui_.Answer(MsgAnswer::Yes);
  window_->Run(TCommand::DeleteMiClick);
  ASSERT_NE(finder.CurrentIndex(), nullptr);
  EXPECT_EQ(items(), (std::set<QString>{"brand new clip", "hello"}));
  // An item gone behind the program's back (another program) is not listed either.
  {
    zip::TZipWriter other;
    store::ConfigureCabinetArchive(other);
    other.SetZipName(cabinet_);
    store::DeleteItem(other, "NewItems\\Item0");
  }
  EXPECT_EQ(finder.CurrentIndex(), nullptr);
  EXPECT_EQ(items(), (std::set<QString>{"brand new clip"}));
}

TEST_F(TrayWindowTest, TheNewestItemsLoadAndAutoSaveIsTheClipboardMenus) {
  std::vector<QString> texts;
  for (QAction* action : Entries()) texts.push_back(action->isSeparator() ? "-" : action->text());
  ASSERT_EQ(texts.size(), 9u);
  // Both items, newest first (saved in one moment: in the cabinet's order).
  EXPECT_EQ(std::vector<QString>(texts.begin(), texts.begin() + 2), (std::vector<QString>{"code", "hello"}));
  EXPECT_EQ(std::vector<QString>(texts.begin() + 2, texts.end()),
            (std::vector<QString>{"-", "&Auto Save", "Auto Save At &Start", "&Keep In Tray When Closed", "-",
                                  "S&how Quiverbox", "E&xit"}));

  Choose("hello");
  EXPECT_EQ(ClipText(), std::string("hello\0", 6));
  EXPECT_TRUE(ui_.Log().empty());

  QAction* menu_auto_save = window_->Action(TCommand::AutoSaveMiClick);
  Choose("&Auto Save");
  EXPECT_TRUE(window_->Form().ClipboardCommands().AutoSave());
  EXPECT_TRUE(menu_auto_save->isChecked());
  EXPECT_TRUE(Entry("&Auto Save")->isChecked());
  menu_auto_save->trigger();
  EXPECT_FALSE(Entry("&Auto Save")->isChecked());

  // An item whose text holds '&' shows it, with no key marked.
  {
    zip::TZipWriter zip;
    store::ConfigureCabinetArchive(zip);
    zip.SetZipName(cabinet_);
    TMemoryStream text(std::string_view("salt & pepper\0", 14));
    store::SaveItem(zip, text, "Kitchen", 1);
  }
  window_->OpenCabinet(cabinet_);
  EXPECT_NE(Entry("salt && pepper"), nullptr);
}

TEST_F(TrayWindowTest, SwitchesReachTheSettingsAndTheNextStart) {
  window_->Form().FormCreate({});
  window_->Form().FormShow({});
  window_->Started();
  EXPECT_FALSE(window_->Action(TCommand::AutoSaveMiClick)->isChecked());
  Choose("Auto Save At &Start");
  Choose("&Keep In Tray When Closed");
  EXPECT_TRUE(Entry("Auto Save At &Start")->isChecked());
  EXPECT_TRUE(Entry("&Keep In Tray When Closed")->isChecked());
  EXPECT_EQ(TIniFile(Settings()).ReadString("TMainForm", "KeepInTrayMi_Checked", ""), "True");

  // Without a tray to come back from, closing ends the program all the same.
  ASSERT_FALSE(window_->Tray().Shown());
  EXPECT_TRUE(window_->close());
  EXPECT_FALSE(window_->isVisible());
  EXPECT_EQ(TIniFile(Settings()).ReadString("TMainForm", "AutoSaveAtStartMi_Checked", ""), "True");

  window_ = std::make_unique<TQtMainWindow>(TPaths::InFolder(dir_.Path().string()), &clipboard_, &ui_);
  window_->show();
  window_->Form().FormCreate({});
  window_->Form().FormShow({});
  window_->Started();
  EXPECT_TRUE(window_->Form().ClipboardCommands().AutoSave());
  EXPECT_TRUE(window_->Action(TCommand::AutoSaveMiClick)->isChecked());
  EXPECT_TRUE(Entry("&Auto Save")->isChecked());
  EXPECT_TRUE(Entry("Auto Save At &Start")->isChecked());
}

TEST_F(TrayWindowTest, ShowBringsTheWindowBackAndExitAsksFirst) {
  window_->hide();
  Choose("S&how Quiverbox");
  EXPECT_TRUE(window_->isVisible());

  ui_.Answer(MsgAnswer::Cancel);
  Choose("E&xit");
  EXPECT_EQ(ui_.BoxLog(),
            (std::vector<std::string>{"Confirmation 'Confirm' [OK/Cancel]: Are you sure you wish to quit?"}));
  EXPECT_TRUE(window_->isVisible());
  ui_.Answer(MsgAnswer::Ok);
  Choose("E&xit");
  EXPECT_FALSE(window_->isVisible());
}

}  // namespace
}  // namespace qb::qt
