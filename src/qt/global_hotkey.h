// TGlobalHotkey: takes one key combination for the whole desktop, so that the
// program hears it whichever program has the keyboard.
//
// On X11 it grabs the key on every screen's root window (XGrabKey through Qt's
// own xcb connection), once for each state of Num Lock and Caps Lock, which count
// as modifiers there. Every press then comes to Pressed, which is told which of
// this program's windows had the keyboard, if one had (so the window can give the
// key the meaning it has there). Elsewhere (a Wayland session) there is no grab, and Grab
// says so. The main window asks the desktop's global shortcut service first
// (TPortalShortcuts) and grabs only where there is none.
#pragma once

#include <QAbstractNativeEventFilter>
#include <QObject>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/hotkey.h"

class QWindow;

namespace qb::qt {

class TGlobalHotkey : public QObject, public QAbstractNativeEventFilter {
  Q_OBJECT
 public:
  explicit TGlobalHotkey(QObject* parent = nullptr);
  ~TGlobalHotkey() override;

  // Takes key (letting go of the one taken before); returns why it cannot be had
  // (hotkey::kHeldByAnother, ...), empty when it is taken.
  std::string Grab(const THotkey& key);
  void Release();
  bool Grabbed() const { return !grabs_.empty(); }

  // The key was grabbed anew after the keyboard's mapping changed: why it cannot
  // be had now, empty when it is held again. Called from the event loop.
  std::function<void(const std::string& why)> Regrabbed;

  // The key was pressed; focused: the window of this program that had the
  // keyboard, null when another program had it. Called from the event loop.
  std::function<void(QWindow* focused)> Pressed;

  bool nativeEventFilter(const QByteArray& type, void* message, qintptr* result) override;

 private:
  struct TGrab {
    uint32_t Root;
    uint16_t Modifiers;
  };
  std::string TakeKey();
  void DropGrabs();
  void Regrab();

  std::optional<THotkey> wanted_;  // the key asked for, grabbed or not
  QTimer regrab_timer_;            // a mapping change comes as a burst of events
  uint8_t xkb_first_event_ = 0;    // the keyboard extension's events; 0 without it
  std::vector<TGrab> grabs_;
  uint8_t keycode_ = 0;
  uint16_t modifiers_ = 0;   // the X modifiers of the key
  uint16_t lock_masks_ = 0;  // Num Lock and Caps Lock
};

}  // namespace qb::qt
