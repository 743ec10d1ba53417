// Quiverbox, the desktop program.
#include <QApplication>
#include <QGuiApplication>
#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "platform/format_registry.h"
#include "qt/clipboard_session.h"
#include "qt/main_window.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + std::min(argc, 1), argv + argc);
  // "/UNINSTALL" shows nothing (the main form's create handler removes the file
  // association and ends the program), so it needs no display.
  if (qb::IsUninstallCommandLine(args) && qEnvironmentVariableIsEmpty("DISPLAY") &&
      qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
  if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") &&
      qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
    std::fprintf(stderr,
                 "quiverbox: no display to show its window on (DISPLAY and WAYLAND_DISPLAY are not set)\n");
    return 2;
  }
  // Which clipboard to work with; it may choose the platform, so it comes first.
  std::unique_ptr<qb::qt::TClipboardSession> session = qb::qt::TClipboardSession::Prepare();
  QApplication app(argc, argv);
  QApplication::setApplicationName("Quiverbox");
  QApplication::setApplicationDisplayName("Quiverbox");
  QGuiApplication::setDesktopFileName("quiverbox");
  Q_INIT_RESOURCE(quiverbox);
  Q_INIT_RESOURCE(manual);
  qb::RegisterProgramFormats();

  args.clear();
  for (const QString& arg : QApplication::arguments().mid(1)) args.push_back(arg.toStdString());
  std::unique_ptr<qb::IClipboard> clipboard = session->MakeClipboard();
  qb::qt::TQtMainWindow window(qb::TPaths::FromEnvironment(), clipboard.get());
  session->ShowNotice(window);
  if (!window.Form().FormCreate(args)) return 0;
  window.show();
  window.Form().FormShow(args);
  window.Started();
  return app.exec();
}
