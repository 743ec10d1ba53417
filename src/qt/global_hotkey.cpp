#include "qt/global_hotkey.h"

#include <QGuiApplication>
#include <QMetaObject>
#include <QPointer>
#include <QWindow>
#include <algorithm>
#include <cstdlib>
#include <memory>

#if QB_X11
#include <xcb/xcb.h>
#endif

namespace qb::qt {

#if QB_X11
namespace {

constexpr uint32_t kKeySymNumLock = 0xFF7F;
constexpr uint32_t kKeySymAltL = 0xFFE9, kKeySymAltR = 0xFFEA;
constexpr uint32_t kKeySymMetaL = 0xFFE7, kKeySymMetaR = 0xFFE8;
constexpr uint32_t kKeySymSuperL = 0xFFEB, kKeySymSuperR = 0xFFEC;

template <class T>
using TReply = std::unique_ptr<T, decltype(&std::free)>;

xcb_connection_t* Connection() {
  auto* x11 = qApp ? qApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
  return x11 ? x11->connection() : nullptr;
}

// The keyboard's mapping: which key symbols each key code gives.
struct TKeyboardMap {
  xcb_keycode_t First = 0;
  int PerKeycode = 0;
  int Count = 0;
  TReply<xcb_get_keyboard_mapping_reply_t> Reply{nullptr, &std::free};

  explicit TKeyboardMap(xcb_connection_t* c) {
    const xcb_setup_t* setup = xcb_get_setup(c);
    First = setup->min_keycode;
    Count = setup->max_keycode - setup->min_keycode + 1;
    Reply.reset(xcb_get_keyboard_mapping_reply(
        c, xcb_get_keyboard_mapping(c, First, static_cast<uint8_t>(Count)), nullptr));
    if (Reply) PerKeycode = Reply->keysyms_per_keycode;
    if (!Reply || xcb_get_keyboard_mapping_keysyms_length(Reply.get()) < Count * PerKeycode) Count = 0;
  }
  // The first key code whose first group gives key_sym; 0 when none does.
  xcb_keycode_t KeycodeOf(uint32_t key_sym) const {
    const xcb_keysym_t* syms = Count ? xcb_get_keyboard_mapping_keysyms(Reply.get()) : nullptr;
    for (int k = 0; k < Count; ++k)
      for (int col = 0; col < std::min(PerKeycode, 2); ++col)
        if (syms[k * PerKeycode + col] == key_sym) return static_cast<xcb_keycode_t>(First + k);
    return 0;
  }
  uint32_t KeySymOf(xcb_keycode_t keycode) const {
    if (!Count || keycode < First || keycode - First >= Count || PerKeycode < 1) return 0;
    return xcb_get_keyboard_mapping_keysyms(Reply.get())[(keycode - First) * PerKeycode];
  }
};

// The X modifier masks that Alt, Meta and Num Lock are bound to (Mod1, Mod4 and
// Mod2 on most keyboards).
struct TModifierMasks {
  uint16_t Alt = XCB_MOD_MASK_1, Meta = XCB_MOD_MASK_4, NumLock = 0;
};

TModifierMasks ModifierMasks(xcb_connection_t* c, const TKeyboardMap& map) {
  TModifierMasks masks;
  TReply<xcb_get_modifier_mapping_reply_t> reply(
      xcb_get_modifier_mapping_reply(c, xcb_get_modifier_mapping(c), nullptr), &std::free);
  if (!reply) return masks;
  const int per = reply->keycodes_per_modifier;
  if (xcb_get_modifier_mapping_keycodes_length(reply.get()) < 8 * per) return masks;
  const xcb_keycode_t* codes = xcb_get_modifier_mapping_keycodes(reply.get());
  bool alt = false, meta = false;
  for (int mod = 3; mod < 8; ++mod) {  // Mod1 to Mod5
    const auto mask = static_cast<uint16_t>(1u << mod);
    for (int k = 0; k < per; ++k) {
      const uint32_t sym = map.KeySymOf(codes[mod * per + k]);
      if (sym == kKeySymNumLock) masks.NumLock = mask;
      if (!alt && (sym == kKeySymAltL || sym == kKeySymAltR)) masks.Alt = mask, alt = true;
      if (!meta &&
          (sym == kKeySymSuperL || sym == kKeySymSuperR || sym == kKeySymMetaL || sym == kKeySymMetaR))
        masks.Meta = mask, meta = true;
    }
  }
  return masks;
}

}  // namespace
#endif

TGlobalHotkey::TGlobalHotkey(QObject* parent) : QObject(parent) {
  regrab_timer_.setSingleShot(true);
  regrab_timer_.setInterval(100);
  connect(&regrab_timer_, &QTimer::timeout, this, &TGlobalHotkey::Regrab);
}

TGlobalHotkey::~TGlobalHotkey() {
  Release();
}

std::string TGlobalHotkey::Grab(const THotkey& key) {
  Release();
#if QB_X11
  xcb_connection_t* c = Connection();
  if (!c) return std::string(hotkey::kNoKeyGrab);
  wanted_ = key;
  // The keyboard extension tells of new layouts by its own events.
  TReply<xcb_query_extension_reply_t> xkb(
      xcb_query_extension_reply(c, xcb_query_extension(c, 9, "XKEYBOARD"), nullptr), &std::free);
  xkb_first_event_ = xkb && xkb->present ? xkb->first_event : 0;
  // Watched while the key is wanted, even when it cannot be had now: a mapping
  // change may bring it.
  qApp->installNativeEventFilter(this);
  return TakeKey();
#else
  (void)key;
  return std::string(hotkey::kNoKeyGrab);
#endif
}

std::string TGlobalHotkey::TakeKey() {
#if QB_X11
  xcb_connection_t* c = Connection();
  if (!c || !wanted_) return std::string(hotkey::kNoKeyGrab);
  const THotkey& key = *wanted_;
  const TKeyboardMap map(c);
  const xcb_keycode_t keycode = map.KeycodeOf(key.KeySym);
  if (keycode == 0) return std::string(hotkey::kNoSuchKey);
  const TModifierMasks masks = ModifierMasks(c, map);
  uint16_t modifiers = 0;
  if (key.Modifiers & kModShift) modifiers |= XCB_MOD_MASK_SHIFT;
  if (key.Modifiers & kModCtrl) modifiers |= XCB_MOD_MASK_CONTROL;
  if (key.Modifiers & kModAlt) modifiers |= masks.Alt;
  if (key.Modifiers & kModMeta) modifiers |= masks.Meta;
  keycode_ = keycode;
  modifiers_ = modifiers;
  lock_masks_ = static_cast<uint16_t>(XCB_MOD_MASK_LOCK | masks.NumLock);
  // Num Lock and Caps Lock are modifiers to X: the key is grabbed in each of
  // their states.
  std::vector<uint16_t> variants;
  for (uint16_t lock : {uint16_t(0), uint16_t(XCB_MOD_MASK_LOCK), masks.NumLock,
                        static_cast<uint16_t>(XCB_MOD_MASK_LOCK | masks.NumLock)})
    if (std::find(variants.begin(), variants.end(), modifiers | lock) == variants.end())
      variants.push_back(static_cast<uint16_t>(modifiers | lock));
  bool refused = false;
  for (auto screens = xcb_setup_roots_iterator(xcb_get_setup(c)); screens.rem; xcb_screen_next(&screens)) {
    const xcb_window_t root = screens.data->root;
    for (uint16_t variant : variants) {
      const xcb_void_cookie_t cookie = xcb_grab_key_checked(c, /*owner_events=*/0, root, variant, keycode,
                                                            XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
      if (xcb_generic_error_t* error = xcb_request_check(c, cookie)) {
        std::free(error);  // BadAccess: another client grabbed it first
        refused = true;
      } else {
        grabs_.push_back({root, variant});
      }
    }
  }
  if (refused) {
    DropGrabs();
    return std::string(hotkey::kHeldByAnother);
  }
  return {};
#else
  return std::string(hotkey::kNoKeyGrab);
#endif
}

void TGlobalHotkey::Release() {
  if (qApp) qApp->removeNativeEventFilter(this);
  regrab_timer_.stop();
  wanted_.reset();
  DropGrabs();
}

void TGlobalHotkey::DropGrabs() {
#if QB_X11
  if (xcb_connection_t* c = grabs_.empty() ? nullptr : Connection()) {
    for (const TGrab& grab : grabs_) xcb_ungrab_key(c, keycode_, grab.Root, grab.Modifiers);
    xcb_flush(c);
  }
#endif
  grabs_.clear();
}

void TGlobalHotkey::Regrab() {
  if (!wanted_) return;
  DropGrabs();
  const std::string why = TakeKey();
  if (Regrabbed) Regrabbed(why);
}

bool TGlobalHotkey::nativeEventFilter(const QByteArray& type, void* message, qintptr* /*result*/) {
#if QB_X11
  if (!wanted_ || type != "xcb_generic_event_t") return false;
  const auto* event = static_cast<const xcb_generic_event_t*>(message);
  const uint8_t kind = event->response_type & 0x7F;
  // The keyboard's mapping changed: the key may sit on another key code now.
  // (Programs that use the keyboard extension, as Qt does, hear of a new layout
  // only through its NewKeyboardNotify and MapNotify, the kinds 0 and 1.)
  const bool remapped =
      (kind == XCB_MAPPING_NOTIFY &&
       reinterpret_cast<const xcb_mapping_notify_event_t*>(event)->request != XCB_MAPPING_POINTER) ||
      (xkb_first_event_ != 0 && kind == xkb_first_event_ && reinterpret_cast<const uint8_t*>(event)[1] <= 1);
  if (remapped) {
    regrab_timer_.start();
    return false;
  }
  if (grabs_.empty() || kind != XCB_KEY_PRESS) return false;
  const auto* press = reinterpret_cast<const xcb_key_press_event_t*>(event);
  if (press->detail != keycode_ || (press->state & ~lock_masks_ & 0xFF) != modifiers_) return false;
  bool on_root = false;
  for (const TGrab& grab : grabs_) on_root = on_root || grab.Root == press->event;
  if (!on_root) return false;
  // Who has the keyboard: the grab leaves the input focus where it was.
  QPointer<QWindow> focused;
  if (xcb_connection_t* c = Connection()) {
    TReply<xcb_get_input_focus_reply_t> focus(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr),
                                              &std::free);
    if (focus)
      for (QWindow* window : QGuiApplication::allWindows())
        if (window->handle() && window->winId() == focus->focus) focused = window;
  }
  QMetaObject::invokeMethod(
      this,
      [this, focused] {
        if (Pressed) Pressed(focused.data());
      },
      Qt::QueuedConnection);
  // Qt goes on with it too: it learns the moment of the press (which the window's
  // activation needs) and finds no window of its own to give the key to.
  return false;
#else
  (void)type;
  (void)message;
  return false;
#endif
}

}  // namespace qb::qt
