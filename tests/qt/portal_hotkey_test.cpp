// The global hotkey through the desktop's global shortcut service, against a fake
// desktop portal on a private bus (a dbus-daemon of the test's own): the real
// window binds the key, the service's Activated brings it up with the search
// field focused, and a refusal, a silent service, a missing interface and
// nonsensical answers each give the status bar's true word, with no hang.
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QDockWidget>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QProcess>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTest>

#include "main_window_fixture.h"
#include "qt/finder_pane.h"
#include "qt/global_hotkey.h"
#include "qt/portal_shortcuts.h"

namespace qb::qt {
namespace fake {
struct TShortcut {
  QString Id;
  QVariantMap Properties;
};
QDBusArgument& operator<<(QDBusArgument& argument, const TShortcut& shortcut) {
  argument.beginStructure();
  argument << shortcut.Id << shortcut.Properties;
  argument.endStructure();
  return argument;
}
const QDBusArgument& operator>>(const QDBusArgument& argument, TShortcut& shortcut) {
  argument.beginStructure();
  argument >> shortcut.Id >> shortcut.Properties;
  argument.endStructure();
  return argument;
}
}  // namespace fake
}  // namespace qb::qt

Q_DECLARE_METATYPE(qb::qt::fake::TShortcut)

namespace qb::qt {
namespace {

const QString kPortalPath = "/org/freedesktop/portal/desktop";
const QString kShortcutsInterface = "org.freedesktop.portal.GlobalShortcuts";
const char* const kNoService =
    "The global hotkey Ctrl+Shift+V cannot be had: the desktop has no global shortcut service, and a key "
    "grab "
    "needs an X11 desktop session";

// The portal as the test wants it to behave; it records what it was asked.
class TFakePortal : public QDBusVirtualObject {
 public:
  enum class TSession { Answer, Silent, Refuse, BadCode, NoHandle };
  enum class TBinding { Answer, Silent, Decline, Other, NoList, BadList, Huge };
  bool HasInterface = true;
  bool AnswersCalls = true;
  TSession Session = TSession::Answer;
  TBinding Binding = TBinding::Answer;

  QStringList Calls;  // "Interface.Member path"
  QString Trigger;    // the preferred trigger BindShortcuts was given
  QString SessionPath;

  QString introspect(const QString&) const override { return {}; }

  bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
    if (message.type() != QDBusMessage::MethodCallMessage) return false;
    Calls << message.interface() + "." + message.member() + " " + message.path();
    if (!AnswersCalls) return true;
    const QList<QVariant> args = message.arguments();
    if (message.member() == "Get") {
      if (!HasInterface)
        connection.send(message.createErrorReply(QDBusError::InvalidArgs, "No such interface"));
      else
        connection.send(message.createReply(QVariant::fromValue(QDBusVariant(uint(2)))));
      return true;
    }
    if (message.member() == "CreateSession") {
      const auto options = qdbus_cast<QVariantMap>(args.value(0));
      const QString request = RequestPath(message.service(), options.value("handle_token").toString());
      SessionPath = kPortalPath + "/session/" + Sender(message.service()) + "/" +
                    options.value("session_handle_token").toString();
      connection.send(message.createReply(QVariant::fromValue(QDBusObjectPath(request))));
      QVariantMap results{{"session_handle", SessionPath}};  // a string, as the portal sends it
      if (Session == TSession::Answer) Respond(connection, request, 0, results);
      if (Session == TSession::Refuse) Respond(connection, request, 2, {});
      if (Session == TSession::BadCode)
        connection.send(QDBusMessage::createSignal(request, "org.freedesktop.portal.Request", "Response")
                        << QString("0") << QString("no vardict"));
      if (Session == TSession::NoHandle) Respond(connection, request, 0, {{"session_handle", 42}});
      return true;
    }
    if (message.member() == "BindShortcuts") {
      const auto shortcuts = qdbus_cast<QList<fake::TShortcut>>(args.value(1));
      for (const fake::TShortcut& shortcut : shortcuts)
        Trigger = shortcut.Properties.value("preferred_trigger").toString();
      const auto options = qdbus_cast<QVariantMap>(args.value(3));
      const QString request = RequestPath(message.service(), options.value("handle_token").toString());
      connection.send(message.createReply(QVariant::fromValue(QDBusObjectPath(request))));
      auto bound = [&](const QString& id, const QString& trigger) {
        return QVariant::fromValue(QList<fake::TShortcut>{{id, {{"trigger_description", trigger}}}});
      };
      switch (Binding) {
        case TBinding::Answer:
          Respond(connection, request, 0, {{"shortcuts", bound("show-search", "Super+Q")}});
          break;
        case TBinding::Decline:
          Respond(connection, request, 1, {});
          break;
        case TBinding::Other:
          Respond(connection, request, 0, {{"shortcuts", bound("something-else", "Ctrl+X")}});
          break;
        case TBinding::NoList:
          Respond(connection, request, 0, {});
          break;
        case TBinding::BadList:
          Respond(connection, request, 0, {{"shortcuts", QStringList{"show-search"}}});
          break;
        case TBinding::Huge:
          Respond(connection, request, 0,
                  {{"shortcuts", bound("show-search", QString(1 << 20, u'\u0416') + "\n\x01")}});
          break;
        case TBinding::Silent:
          break;
      }
      return true;
    }
    connection.send(message.createReply());  // Close, Register
    return true;
  }

  static QString Sender(QString unique) { return unique.mid(1).replace('.', '_'); }
  static QString RequestPath(const QString& sender, const QString& token) {
    return kPortalPath + "/request/" + Sender(sender) + "/" + token;
  }
  static void Respond(const QDBusConnection& connection, const QString& request, uint code,
                      const QVariantMap& results) {
    connection.send(QDBusMessage::createSignal(request, "org.freedesktop.portal.Request", "Response")
                    << code << results);
  }
};

class PortalHotkeyTest : public MainWindowTest {
 protected:
  void SetUp() override {
    const QString daemon = QStandardPaths::findExecutable("dbus-daemon");
    if (daemon.isEmpty()) GTEST_SKIP() << "no dbus-daemon";
    qDBusRegisterMetaType<fake::TShortcut>();
    qDBusRegisterMetaType<QList<fake::TShortcut>>();
    daemon_.start(daemon, {"--session", "--nofork", "--print-address"});
    ASSERT_TRUE(daemon_.waitForStarted(5000));
    while (!daemon_.canReadLine()) ASSERT_TRUE(daemon_.waitForReadyRead(5000));
    const QString address = QString::fromUtf8(daemon_.readLine()).trimmed();
    portal_bus_ = std::make_unique<QDBusConnection>(QDBusConnection::connectToBus(address, "fake-portal"));
    ASSERT_TRUE(portal_bus_->isConnected());
    ASSERT_TRUE(portal_bus_->registerService("org.freedesktop.portal.Desktop"));
    ASSERT_TRUE(portal_bus_->registerVirtualObject(kPortalPath, &portal_, QDBusConnection::SubPath));
    MainWindowTest::SetUp();
    window_->HotkeyService().SetBus(QDBusConnection::connectToBus(address, "program"));
    window_->HotkeyService().SetTimeouts(400, 1200);
    window_->statusBar()->clearMessage();
  }

  void TearDown() override {
    window_.reset();
    if (portal_bus_) {
      portal_bus_->unregisterObject(kPortalPath);
      portal_bus_.reset();
      QDBusConnection::disconnectFromBus("fake-portal");
      QDBusConnection::disconnectFromBus("program");
    }
    if (daemon_.state() != QProcess::NotRunning) {
      daemon_.kill();
      daemon_.waitForFinished(5000);
    }
  }

  QString Status() { return window_->statusBar()->currentMessage(); }

  // Runs the event loop until the status bar says something (or 5 s pass); past
  // the word that the service is being waited for unless waiting is wanted.
  QString AwaitStatus(bool waiting = false) {
    QElapsedTimer clock;
    clock.start();
    while ((Status().isEmpty() || (!waiting && Status().contains(" waits for "))) && clock.elapsed() < 5000)
      QTest::qWait(10);
    return Status();
  }

  void Activate(const QVariant& session, const QVariant& id) {
    portal_bus_->send(QDBusMessage::createSignal(kPortalPath, kShortcutsInterface, "Activated")
                      << session << id << quint64(1234) << QVariantMap());
    QTest::qWait(100);
  }

  QProcess daemon_;
  TFakePortal portal_;
  std::unique_ptr<QDBusConnection> portal_bus_;
};

TEST_F(PortalHotkeyTest, TheServiceBindsTheKeyAndItsActivationBringsUpTheSearch) {
  window_->TakeHotkey("Ctrl+Shift+V");
  // Nothing waits for the service: the call has not reached it yet.
  EXPECT_TRUE(portal_.Calls.isEmpty());
  EXPECT_EQ(AwaitStatus(), "The global hotkey is Super+Q, set through the desktop's global shortcut service");
  EXPECT_EQ(portal_.Trigger, "CTRL+SHIFT+v");
  EXPECT_TRUE(window_->HotkeyService().IsBound());
  EXPECT_FALSE(window_->Hotkey().Grabbed());

  window_->ExplorerView()->setFocus();
  window_->hide();
  window_->ExplorerDock()->close();
  const QString session = window_->HotkeyService().SessionHandle();
  EXPECT_EQ(session, portal_.SessionPath);
  // Not ours: another shortcut, another session, nonsense types.
  Activate(QVariant::fromValue(QDBusObjectPath(session)), QString("other"));
  Activate(QVariant::fromValue(QDBusObjectPath(kPortalPath + "/session/x/y")), QString("show-search"));
  Activate(QString("show-search"), 7);
  EXPECT_FALSE(window_->isVisible());

  Activate(QVariant::fromValue(QDBusObjectPath(session)), QString("show-search"));
  EXPECT_TRUE(window_->isVisible());
  EXPECT_TRUE(window_->ExplorerDock()->isVisible());
  EXPECT_EQ(window_->focusWidget(), window_->FinderPane()->SearchField());

  // Another key: the old session is closed, the new one bound.
  portal_.Calls.clear();
  window_->statusBar()->clearMessage();
  window_->TakeHotkey("Alt+F9");
  EXPECT_NE(AwaitStatus(), "");
  EXPECT_TRUE(portal_.Calls.contains("org.freedesktop.portal.Session.Close " + session))
      << portal_.Calls.join("|").toStdString();
  EXPECT_EQ(portal_.Trigger, "ALT+F9");
  window_->hide();
  Activate(QVariant::fromValue(QDBusObjectPath(session)), QString("show-search"));
  EXPECT_FALSE(window_->isVisible());  // the old session's key is gone
}

// The service takes the key before the window sees it: while the window has the
// keyboard, the activation is the key of the window's menu command.
TEST_F(PortalHotkeyTest, InTheWindowTheActivationIsTheWindowsOwnKey) {
  window_->TakeHotkey("Ctrl+Shift+V");
  ASSERT_NE(AwaitStatus(), "");
  window_->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(window_.get()));
  window_->ExplorerView()->setFocus();
  ASSERT_FALSE(window_->Form().ClipboardCommands().ViewItems());
  Activate(QVariant::fromValue(QDBusObjectPath(window_->HotkeyService().SessionHandle())),
           QString("show-search"));
  EXPECT_TRUE(window_->Form().ClipboardCommands().ViewItems());
  EXPECT_EQ(window_->focusWidget(), window_->ExplorerView());
}

TEST_F(PortalHotkeyTest, TheUsersRefusalIsSaidAndNoKeyIsTaken) {
  portal_.Binding = TFakePortal::TBinding::Decline;
  window_->TakeHotkey("Ctrl+Shift+V");
  EXPECT_EQ(AwaitStatus(),
            "The global hotkey Ctrl+Shift+V cannot be had: it was declined in the desktop's global shortcut "
            "service");
  EXPECT_FALSE(window_->HotkeyService().IsBound());
  QTest::qWait(50);
  EXPECT_TRUE(portal_.Calls.contains("org.freedesktop.portal.Session.Close " + portal_.SessionPath));

  window_->statusBar()->clearMessage();
  portal_.Binding = TFakePortal::TBinding::Other;
  window_->TakeHotkey("Ctrl+Shift+V");
  EXPECT_EQ(
      AwaitStatus(),
      "The global hotkey Ctrl+Shift+V cannot be had: the desktop's global shortcut service did not bind it");
}

TEST_F(PortalHotkeyTest, ASilentServiceIsGivenUpOnWithoutAHang) {
  // The binding's dialog never answers: the status bar says it waits, then that
  // the service does not answer, and the pending request is closed.
  portal_.Binding = TFakePortal::TBinding::Silent;
  window_->TakeHotkey("Ctrl+Shift+V");
  EXPECT_EQ(AwaitStatus(true),
            "The global hotkey Ctrl+Shift+V waits for the desktop's global shortcut service");
  EXPECT_EQ(AwaitStatus(),
            "The global hotkey Ctrl+Shift+V cannot be had: the desktop's global shortcut service does "
            "not answer");
  QTest::qWait(50);
  bool closed = false;
  for (const QString& call : portal_.Calls)
    closed = closed || call.startsWith("org.freedesktop.portal.Request.Close");
  EXPECT_TRUE(closed) << portal_.Calls.join("|").toStdString();

  // No Response to the session, and no reply to a call at all.
  for (bool answers : {true, false}) {
    window_->statusBar()->clearMessage();
    portal_.Session = TFakePortal::TSession::Silent;
    portal_.AnswersCalls = answers;
    window_->TakeHotkey("Ctrl+Shift+V");
    EXPECT_EQ(AwaitStatus(),
              "The global hotkey Ctrl+Shift+V cannot be had: the desktop's global shortcut service does not "
              "answer");
  }
}

TEST_F(PortalHotkeyTest, NoServiceAndNonsenseAnswers) {
  portal_.HasInterface = false;
  window_->TakeHotkey("Ctrl+Shift+V");
  EXPECT_EQ(AwaitStatus(), kNoService);

  const std::string failed =
      "The global hotkey Ctrl+Shift+V cannot be had: the desktop's global shortcut service failed to bind it";
  portal_.HasInterface = true;
  for (auto session :
       {TFakePortal::TSession::Refuse, TFakePortal::TSession::BadCode, TFakePortal::TSession::NoHandle}) {
    window_->statusBar()->clearMessage();
    portal_.Session = session;
    window_->TakeHotkey("Ctrl+Shift+V");
    EXPECT_EQ(AwaitStatus().toStdString(), failed) << int(session);
  }
  portal_.Session = TFakePortal::TSession::Answer;
  window_->statusBar()->clearMessage();
  portal_.Binding = TFakePortal::TBinding::BadList;
  window_->TakeHotkey("Ctrl+Shift+V");
  EXPECT_EQ(AwaitStatus().toStdString(), failed);

  // A list left out: the key is bound as offered. A huge description: cut short.
  window_->statusBar()->clearMessage();
  portal_.Binding = TFakePortal::TBinding::NoList;
  window_->TakeHotkey("Ctrl+Shift+V");
  EXPECT_EQ(AwaitStatus(),
            "The global hotkey is Ctrl+Shift+V, set through the desktop's global shortcut service");
  window_->statusBar()->clearMessage();
  portal_.Binding = TFakePortal::TBinding::Huge;
  window_->TakeHotkey("Ctrl+Shift+V");
  const QString huge = AwaitStatus();
  EXPECT_TRUE(huge.startsWith("The global hotkey is \u0416\u0416")) << huge.left(80).toStdString();
  EXPECT_LT(huge.size(), 200);
  EXPECT_FALSE(huge.contains('\n'));
  EXPECT_TRUE(window_->HotkeyService().IsBound());

  // The bus itself gone: said at once.
  window_->statusBar()->clearMessage();
  window_->HotkeyService().SetBus(QDBusConnection::connectToBus("unix:path=/nonexistent/bus", "no-bus"));
  window_->TakeHotkey("Ctrl+Shift+V");
  EXPECT_EQ(Status(), kNoService);
  QDBusConnection::disconnectFromBus("no-bus");
}

}  // namespace
}  // namespace qb::qt
