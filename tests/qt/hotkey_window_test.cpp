// The global hotkey through the real main window (offscreen, with no session bus:
// neither the desktop's shortcut service nor a key grab, so the window says it
// cannot have the key; the press itself is handed to the window as the grab would): the status bar's
// messages, the window brought up with the search field focused, and the key's own meaning while the window
// has it.
#include <QDockWidget>
#include <QLineEdit>
#include <QStatusBar>

#include "main_window_fixture.h"
#include "qt/finder_pane.h"
#include "qt/global_hotkey.h"

namespace qb::qt {
namespace {

constexpr const char* kNoHotkey =
    "The global hotkey Ctrl+Shift+V cannot be had: the desktop has no global shortcut service, and a key "
    "grab "
    "needs an X11 desktop session";

class HotkeyWindowTest : public MainWindowTest {
 protected:
  QString Status() { return window_->statusBar()->currentMessage(); }
};

TEST_F(HotkeyWindowTest, TheStatusBarSaysWhyThereIsNoHotkey) {
  window_->TakeHotkey("Ctrl+Shift+V");
  EXPECT_EQ(Status(), kNoHotkey);
  EXPECT_FALSE(window_->Hotkey().Grabbed());

  window_->statusBar()->clearMessage();
  window_->TakeHotkey(std::string("Ctrl+\x01\r\n+Q", 10));
  EXPECT_EQ(
      Status(),
      "The global hotkey \"Ctrl+ +Q\" of the settings file is not understood (\"\" is not Ctrl, Shift, Alt "
      "or Meta): there is no global hotkey");

  window_->statusBar()->clearMessage();
  window_->TakeHotkey("none");
  EXPECT_EQ(Status(), "");

  // The stored setting is the one taken at start, and is written back as it was.
  window_->Form().FormCreate({});
  window_->Form().FormShow({});
  window_->Started();
  EXPECT_EQ(Status(), kNoHotkey);
}

TEST_F(HotkeyWindowTest, APressBringsTheWindowUpWithTheSearchFieldFocused) {
  window_->TakeHotkey("Ctrl+Shift+V");
  window_->ExplorerView()->setFocus();
  window_->hide();
  window_->ExplorerDock()->close();
  // From another program.
  window_->HotkeyPressed(nullptr);
  EXPECT_TRUE(window_->isVisible());
  EXPECT_TRUE(window_->ExplorerDock()->isVisible());
  EXPECT_EQ(window_->focusWidget(), window_->FinderPane()->SearchField());

  // In the window: the key of View File Cabinet Items.
  window_->ExplorerView()->setFocus();
  ASSERT_FALSE(window_->Form().ClipboardCommands().ViewItems());
  window_->HotkeyPressed(window_->windowHandle());
  EXPECT_TRUE(window_->Form().ClipboardCommands().ViewItems());
  EXPECT_EQ(window_->focusWidget(), window_->ExplorerView());

  // A key no menu item has is the search's in the window too.
  window_->TakeHotkey("Ctrl+Alt+K");
  window_->HotkeyPressed(window_->windowHandle());
  EXPECT_TRUE(window_->Form().ClipboardCommands().ViewItems());
  EXPECT_EQ(window_->focusWidget(), window_->FinderPane()->SearchField());
}

}  // namespace
}  // namespace qb::qt
