#include "qt/clipboard_session.h"

#include <QGuiApplication>
#include <QLabel>
#include <QMainWindow>
#include <QStatusBar>
#include <cstdio>

#include "qt/qt_clipboard.h"
#include "qt/qt_text.h"
#if QB_WAYLAND
#include "qt/wayland/data_control_clipboard.h"
#endif

namespace qb::qt {

namespace wayland {
#if !QB_WAYLAND
// Built without Wayland support: only the name is needed.
class TDataControlClipboard {};
#endif
}  // namespace wayland

namespace {
void SetNotice(QLabel& label, const TClipboardNotice& notice) {
  label.setText(FromUtf8(notice.Text));
  label.setToolTip(FromUtf8(notice.Details));
  label.setVisible(!notice.Text.empty());
}
}  // namespace

std::unique_ptr<TClipboardSession> TClipboardSession::Prepare() {
  auto session = std::make_unique<TClipboardSession>();
  TSessionFacts& facts = session->facts_;
  facts.Wayland = !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
  facts.X11 = !qEnvironmentVariableIsEmpty("DISPLAY");
  facts.PlatformChosen = !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
#if QB_WAYLAND
  if (facts.Wayland) {
    std::string why;
    session->data_control_ = wayland::TDataControlClipboard::Connect(&why);
    facts.DataControl = session->data_control_ != nullptr;
    if (!facts.DataControl)
      std::fprintf(stderr, "quiverbox: %s; the clipboard is watched through Qt\n", why.c_str());
  }
#endif
  if (ForceXcb(facts)) qputenv("QT_QPA_PLATFORM", "xcb");
  return session;
}

TClipboardSession::~TClipboardSession() = default;

std::unique_ptr<IClipboard> TClipboardSession::MakeClipboard() {
#if QB_WAYLAND
  if (data_control_) {
    watching_ = data_control_.get();
    watching_->OnLost = [this] {
      lost_ = true;
      if (label_) {
        SetNotice(*label_, NoticeFor(facts_, ToUtf8(QGuiApplication::platformName()), true));
      }
    };
    watching_->Start();
    return std::make_unique<TQtClipboard>(std::move(data_control_));
  }
#endif
  return std::make_unique<TQtClipboard>();
}

void TClipboardSession::ShowNotice(QMainWindow& window) {
  label_ = new QLabel(&window);
  label_->setObjectName(QStringLiteral("ClipboardNotice"));
  SetNotice(*label_, NoticeFor(facts_, ToUtf8(QGuiApplication::platformName()), lost_));
  window.statusBar()->addPermanentWidget(label_);
}

}  // namespace qb::qt
