// The Qt tests run inside one QApplication (offscreen unless a display is given).
#include <gtest/gtest.h>

#include <QApplication>

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  // Never the desktop's own session bus: its shortcut service could show dialogs.
  // Tests that want a bus start one of their own.
  qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/quiverbox-tests-have-no-session-bus");
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
