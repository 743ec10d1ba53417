// The desktop clipboard the program works with, chosen at start-up from the
// session it runs in.
//
// - An X11 session: Qt's clipboard.
// - A Wayland compositor that offers data-control: the clipboard through that
//   protocol (qt/wayland/), which sees every copy whichever window has the focus.
// - A Wayland compositor without it (GNOME): the window runs through XWayland
//   when an X11 display is there (Qt's xcb platform, unless the user chose a
//   platform), and the clipboard is read from X11, as far as the compositor passes
//   the Wayland clipboard on to X11 programs. Without XWayland Qt's Wayland
//   clipboard sees a copy only when the window gets the focus.
// The last two cases, and a data-control connection that ends, are said in a
// notice at the right of the status bar, with the details in its tool tip.
#pragma once

#include <QString>
#include <memory>
#include <string>

#include "platform/clipboard.h"

class QMainWindow;
class QLabel;

namespace qb::qt {

namespace wayland {
class TDataControlClipboard;
}

// What start-up knows of the session before the application object exists.
struct TSessionFacts {
  bool Wayland = false;         // WAYLAND_DISPLAY is set
  bool X11 = false;             // DISPLAY is set
  bool PlatformChosen = false;  // QT_QPA_PLATFORM is set
  bool DataControl = false;     // the compositor offers data-control
};

// Whether to run the window on Qt's xcb platform (through XWayland).
bool ForceXcb(const TSessionFacts& facts);

// The notice for the status bar; an empty Text is none.
struct TClipboardNotice {
  QString Text, Details;
};
// platform: Qt's platform name ("xcb", "wayland", ...); lost: the data-control
// connection ended.
TClipboardNotice NoticeFor(const TSessionFacts& facts, const QString& platform, bool lost);

class TClipboardSession {
 public:
  // Before the application object: looks at the session, connects to the
  // compositor's data-control when there is one, and picks the xcb platform where
  // the window must run through XWayland.
  static std::unique_ptr<TClipboardSession> Prepare();
  ~TClipboardSession();

  // After the application object: the program's clipboard.
  std::unique_ptr<IClipboard> MakeClipboard();
  // Puts the notice, if any, into window's status bar and keeps it up to date.
  void ShowNotice(QMainWindow& window);

  const TSessionFacts& Facts() const { return facts_; }

 private:
  TSessionFacts facts_;
  std::unique_ptr<wayland::TDataControlClipboard> data_control_;  // until MakeClipboard
  wayland::TDataControlClipboard* watching_ = nullptr;            // owned by the clipboard
  QLabel* label_ = nullptr;
  bool lost_ = false;
};

}  // namespace qb::qt
