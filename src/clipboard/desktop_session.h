// Which desktop clipboard the program can watch, decided at start-up from the
// session it runs in, and what the status bar says about it.
//
// - An X11 session: the X11 clipboard; every copy is seen.
// - A Wayland compositor that offers data-control (KDE Plasma, sway and the other
//   wlroots desktops): the clipboard through that protocol, which sees every copy
//   whichever window has the focus.
// - A Wayland compositor without it (GNOME): the window runs through XWayland
//   when an X11 display is there (unless the user chose a platform), and the
//   clipboard is read from X11, as far as the compositor passes the Wayland
//   clipboard on to X11 programs. Without XWayland a copy is seen only when the
//   window gets the focus.
// The last two cases, and a data-control connection that ends, get a notice, so
// the program never looks as if Auto Save saw every copy when it cannot.
#pragma once

#include <string>
#include <string_view>

namespace qb {

// What start-up knows of the session before the window system is opened.
struct TSessionFacts {
  bool Wayland = false;         // WAYLAND_DISPLAY is set
  bool X11 = false;             // DISPLAY is set
  bool PlatformChosen = false;  // the user chose the window platform (QT_QPA_PLATFORM)
  bool DataControl = false;     // the compositor offers data-control
};

// Whether the window must run on X11 through XWayland.
bool ForceXcb(const TSessionFacts& facts);

// The notice for the status bar; an empty Text is none.
struct TClipboardNotice {
  std::string Text, Details;
};
// platform: the window platform in use ("xcb", "wayland", ...); lost: the
// data-control connection has ended.
TClipboardNotice NoticeFor(const TSessionFacts& facts, std::string_view platform, bool lost);

}  // namespace qb
