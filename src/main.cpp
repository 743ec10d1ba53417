// Quiverbox, the desktop program.
#include <QApplication>
#include <QGuiApplication>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/format_registry.h"
#include "qt/main_window.h"

int main(int argc, char** argv) {
  // "/UNINSTALL" alone ends the program at once, before any window exists.
  if (argc == 2 && std::string(argv[1]) == "/UNINSTALL") return 0;

  if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") &&
      qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
    std::fprintf(stderr,
                 "quiverbox: no display to show its window on (DISPLAY and WAYLAND_DISPLAY are not set)\n");
    return 2;
  }
  QApplication app(argc, argv);
  QApplication::setApplicationName("Quiverbox");
  QApplication::setApplicationDisplayName("Quiverbox");
  QGuiApplication::setDesktopFileName("quiverbox");
  Q_INIT_RESOURCE(quiverbox);
  Q_INIT_RESOURCE(manual);
  qb::RegisterProgramFormats();

  std::vector<std::string> args;
  for (const QString& arg : QApplication::arguments().mid(1)) args.push_back(arg.toStdString());
  qb::qt::TQtClipboard clipboard;
  qb::qt::TQtMainWindow window(qb::TPaths::FromEnvironment(), &clipboard);
  if (!window.Form().FormCreate(args)) return 0;
  window.show();
  window.Form().FormShow(args);
  window.RefreshPanes();
  return app.exec();
}
