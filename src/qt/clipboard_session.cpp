#include "qt/clipboard_session.h"

#include <QGuiApplication>
#include <QLabel>
#include <QMainWindow>
#include <QStatusBar>
#include <cstdio>

#include "qt/qt_clipboard.h"
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

bool ForceXcb(const TSessionFacts& facts) {
  return facts.Wayland && !facts.DataControl && facts.X11 && !facts.PlatformChosen;
}

TClipboardNotice NoticeFor(const TSessionFacts& facts, const QString& platform, bool lost) {
  const QString no_data_control = QStringLiteral(
      "This Wayland desktop does not let programs watch the clipboard (it offers no data-control "
      "protocol). ");
  if (!facts.Wayland) return {};
  if (facts.DataControl) {
    if (!lost) return {};
    return {
        QStringLiteral("Clipboard connection lost"),
        QStringLiteral("The connection to the Wayland compositor's clipboard has ended: clipboard changes "
                       "are no longer seen, Auto Save stores nothing and Load cannot set the clipboard. "
                       "Start Quiverbox again.")};
  }
  if (platform == QLatin1String("xcb"))
    return {QStringLiteral("Clipboard through XWayland"),
            no_data_control +
                QStringLiteral(
                    "Quiverbox runs through XWayland and reads the clipboard there: it sees the copies "
                    "the desktop passes on to X11 programs, whichever window has the focus.")};
  if (platform == QLatin1String("wayland"))
    return {
        QStringLiteral("Clipboard seen only while this window is active"),
        no_data_control +
            QStringLiteral("Without XWayland Quiverbox sees the clipboard only when its window gets the "
                           "focus: Auto Save stores the clip that is there then, and misses the copies made "
                           "before it in other windows.")};
  return {};
}

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
        const TClipboardNotice notice = NoticeFor(facts_, QGuiApplication::platformName(), true);
        label_->setText(notice.Text);
        label_->setToolTip(notice.Details);
        label_->show();
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
  const TClipboardNotice notice = NoticeFor(facts_, QGuiApplication::platformName(), lost_);
  label_->setText(notice.Text);
  label_->setToolTip(notice.Details);
  label_->setVisible(!notice.Text.isEmpty());
  window.statusBar()->addPermanentWidget(label_);
}

}  // namespace qb::qt
