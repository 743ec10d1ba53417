// The desktop clipboard the program works with, chosen at start-up from the
// session it runs in (see clipboard/desktop_session.h for the choice): Qt's
// clipboard, or the Wayland data-control clipboard (qt/wayland/), and the
// status-bar notice that says what it can see.
#pragma once

#include <memory>
#include <string>

#include "clipboard/desktop_session.h"
#include "platform/clipboard.h"

class QMainWindow;
class QLabel;

namespace qb::qt {

namespace wayland {
class TDataControlClipboard;
}

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
