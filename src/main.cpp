// Quiverbox, the desktop program.
#include <QApplication>
#include <QGuiApplication>
#include <cstdio>

#include "platform/format_registry.h"
#include "qt/main_window.h"

int main(int argc, char** argv) {
  // "/UNINSTALL" alone ends the program at once, before any window exists.
  if (argc == 2 && std::string(argv[1]) == "/UNINSTALL") return 0;

  if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") &&
      qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
    std::fprintf(stderr, "quiverbox: no display to show its window on (DISPLAY and WAYLAND_DISPLAY are not set)\n");
    return 2;
  }
  QApplication app(argc, argv);
  QApplication::setApplicationName("Quiverbox");
  QApplication::setApplicationDisplayName("Quiverbox");
  QGuiApplication::setDesktopFileName("quiverbox");
  Q_INIT_RESOURCE(quiverbox);
  Q_INIT_RESOURCE(manual);
  qb::RegisterProgramFormats();

  qb::qt::TQtClipboard clipboard;
  qb::qt::TQtMainWindow window(qb::TPaths::FromEnvironment(), &clipboard);
  window.show();
  const QStringList args = QApplication::arguments();
  if (args.size() >= 2 && args[1].endsWith(".qvf", Qt::CaseInsensitive)) window.OpenCabinet(args[1].toStdString());
  return app.exec();
}
