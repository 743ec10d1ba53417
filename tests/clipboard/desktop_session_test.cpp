#include "clipboard/desktop_session.h"

#include <gtest/gtest.h>

namespace qb {
namespace {

TEST(DesktopSession, XWaylandOnlyWhereDataControlIsMissing) {
  // {Wayland, X11, PlatformChosen, DataControl}
  EXPECT_FALSE(ForceXcb({false, true, false, false}));  // an X11 session
  EXPECT_FALSE(ForceXcb({true, true, false, true}));    // data-control: whatever the window runs on
  EXPECT_TRUE(ForceXcb({true, true, false, false}));    // GNOME with XWayland
  EXPECT_FALSE(ForceXcb({true, true, true, false}));    // the user chose the platform
  EXPECT_FALSE(ForceXcb({true, false, false, false}));  // no XWayland to run through
}

TEST(DesktopSession, TheNoticeSaysWhatTheClipboardCannotSee) {
  // Nothing to say where every copy is seen.
  EXPECT_TRUE(NoticeFor({false, true, false, false}, "xcb", false).Text.empty());
  EXPECT_TRUE(NoticeFor({false, true, false, false}, "xcb", true).Text.empty());
  EXPECT_TRUE(NoticeFor({true, true, false, true}, "xcb", false).Text.empty());
  EXPECT_TRUE(NoticeFor({true, false, false, true}, "wayland", false).Text.empty());
  EXPECT_TRUE(NoticeFor({true, false, true, false}, "offscreen", false).Text.empty());

  const TClipboardNotice lost = NoticeFor({true, false, false, true}, "wayland", true);
  EXPECT_EQ(lost.Text, "Clipboard connection lost");
  EXPECT_NE(lost.Details.find("Auto Save stores nothing"), std::string::npos);
  const TClipboardNotice bridged = NoticeFor({true, true, false, false}, "xcb", false);
  EXPECT_EQ(bridged.Text, "Clipboard through XWayland");
  EXPECT_NE(bridged.Details.find("data-control"), std::string::npos);
  const TClipboardNotice focus = NoticeFor({true, false, false, false}, "wayland", false);
  EXPECT_EQ(focus.Text, "Clipboard seen only while this window is active");
  EXPECT_NE(focus.Details.find("misses the copies"), std::string::npos);
}

}  // namespace
}  // namespace qb
