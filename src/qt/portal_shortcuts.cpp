#include "qt/portal_shortcuts.h"

#include <QDBusArgument>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusVariant>
#include <QRandomGenerator>
#include <QVariantMap>

namespace qb::qt {

namespace {

const QString kService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kInterface = QStringLiteral("org.freedesktop.portal.GlobalShortcuts");
const QString kRequestInterface = QStringLiteral("org.freedesktop.portal.Request");
const QString kSessionInterface = QStringLiteral("org.freedesktop.portal.Session");
const QString kRegistryInterface = QStringLiteral("org.freedesktop.host.portal.Registry");
const QString kAppId = QStringLiteral("quiverbox");  // the desktop file's name
constexpr int kMostShortcuts = 1000;                 // more in one answer are not looked at
constexpr qsizetype kLongestTrigger = 200;

}  // namespace

namespace portal {
// One shortcut as BindShortcuts takes it: (sa{sv}).
struct TShortcut {
  QString Id;
  QVariantMap Properties;
};
}  // namespace portal
}  // namespace qb::qt

Q_DECLARE_METATYPE(qb::qt::portal::TShortcut)

namespace qb::qt {
namespace portal {

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

}  // namespace portal

namespace {
using portal::TShortcut;

void RegisterTypes() {
  static const bool registered = [] {
    qDBusRegisterMetaType<TShortcut>();
    qDBusRegisterMetaType<QList<TShortcut>>();
    return true;
  }();
  (void)registered;
}

// A vardict however it arrived: already a map, or still in its D-Bus form.
bool ReadVardict(const QVariant& value, QVariantMap& map) {
  if (value.metaType() == QMetaType::fromType<QVariantMap>()) {
    map = value.toMap();
    return true;
  }
  if (value.metaType() != QMetaType::fromType<QDBusArgument>()) return false;
  const auto argument = value.value<QDBusArgument>();
  if (argument.currentSignature() != QLatin1String("a{sv}")) return false;
  argument >> map;
  return true;
}

// A variant's content, unwrapped when it is still a D-Bus variant.
QVariant Unwrapped(const QVariant& value) {
  if (value.metaType() == QMetaType::fromType<QDBusVariant>()) return value.value<QDBusVariant>().variant();
  return value;
}

// An object path given as a path or, as some portals send it, as a string.
QString ReadPath(const QVariant& value) {
  const QVariant inner = Unwrapped(value);
  if (inner.metaType() == QMetaType::fromType<QDBusObjectPath>())
    return inner.value<QDBusObjectPath>().path();
  if (inner.metaType() == QMetaType::fromType<QString>()) return inner.toString();
  return {};
}

bool IsObjectPath(const QString& path) {
  if (path.isEmpty() || path.size() > 1000 || path[0] != u'/') return false;
  if (path.size() == 1) return true;
  if (path.endsWith(u'/') || path.contains(QLatin1String("//"))) return false;
  for (QChar c : path)
    if (!(c == u'/' || c == u'_' || (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') ||
          (c >= u'0' && c <= u'9')))
      return false;
  return true;
}

// The shortcuts of a Response or ShortcutsChanged: false when they are not a(sa{sv}).
bool ReadShortcuts(const QVariant& value, QList<TShortcut>& shortcuts) {
  const QVariant inner = Unwrapped(value);
  if (inner.metaType() != QMetaType::fromType<QDBusArgument>()) return false;
  const auto argument = inner.value<QDBusArgument>();
  if (argument.currentSignature() != QLatin1String("a(sa{sv})")) return false;
  argument.beginArray();
  while (!argument.atEnd()) {
    TShortcut shortcut;
    argument >> shortcut;
    if (shortcuts.size() < kMostShortcuts) shortcuts.push_back(std::move(shortcut));
  }
  argument.endArray();
  return true;
}

}  // namespace

TPortalShortcuts::TPortalShortcuts(QObject* parent) : QObject(parent), bus_(QDBusConnection::sessionBus()) {
  RegisterTypes();
  timer_.setSingleShot(true);
  connect(&timer_, &QTimer::timeout, this, [this] { Finish(TOutcome::Silent); });
}

TPortalShortcuts::~TPortalShortcuts() {
  Done = nullptr;
  Release();
}

void TPortalShortcuts::SetBus(const QDBusConnection& bus) {
  Release();
  bus_ = bus;
}

void TPortalShortcuts::SetTimeouts(int answer_ms, int binding_ms) {
  answer_ms_ = answer_ms;
  binding_ms_ = binding_ms;
}

void TPortalShortcuts::Bind(const THotkey& key) {
  Release();
  key_ = key;
  if (!bus_.isConnected()) {
    if (Done) Done(TOutcome::NoService);
    return;
  }
  // An unsandboxed program names itself to the portal before its first call
  // (portals without that registry answer with an error, which is of no matter).
  QDBusMessage registration = QDBusMessage::createMethodCall(kService, kPath, kRegistryInterface, "Register");
  registration << kAppId << QVariantMap();
  bus_.send(registration);
  CallVersion();
}

void TPortalShortcuts::Release() {
  ++generation_;
  timer_.stop();
  if (!request_.isEmpty()) {
    // A dialog still open for the binding goes away.
    bus_.send(QDBusMessage::createMethodCall(kService, request_, kRequestInterface, "Close"));
    UnwatchRequest();
  }
  if (watching_activation_) {
    bus_.disconnect(kService, kPath, kInterface, "Activated", this, SLOT(OnActivated(QDBusMessage)));
    watching_activation_ = false;
  }
  if (!session_.isEmpty())
    bus_.send(QDBusMessage::createMethodCall(kService, session_, kSessionInterface, "Close"));
  session_.clear();
  trigger_.clear();
  state_ = TState::Idle;
}

void TPortalShortcuts::Finish(TOutcome outcome) {
  timer_.stop();
  if (outcome == TOutcome::Bound) {
    UnwatchRequest();
    state_ = TState::Bound;
  } else {
    Release();  // closes a request left unanswered, and the session
  }
  if (Done) Done(outcome);
}

void TPortalShortcuts::Watch(QDBusPendingCallWatcher* watcher,
                             void (TPortalShortcuts::*reply)(const QDBusMessage&)) {
  const unsigned generation = generation_;
  connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher, generation, reply] {
    watcher->deleteLater();
    if (generation != generation_) return;  // an earlier Bind's, or released meanwhile
    if (watcher->isError()) {
      const QDBusError::ErrorType type = watcher->error().type();
      if (type == QDBusError::NoReply || type == QDBusError::Timeout || type == QDBusError::TimedOut)
        Finish(TOutcome::Silent);
      else
        Finish(state_ == TState::Version ? TOutcome::NoService : TOutcome::Failed);
      return;
    }
    (this->*reply)(watcher->reply());
  });
}

void TPortalShortcuts::CallVersion() {
  state_ = TState::Version;
  QDBusMessage call = QDBusMessage::createMethodCall(
      kService, kPath, QStringLiteral("org.freedesktop.DBus.Properties"), "Get");
  call << kInterface << QStringLiteral("version");
  Watch(new QDBusPendingCallWatcher(bus_.asyncCall(call, answer_ms_), this), &TPortalShortcuts::OnVersion);
}

void TPortalShortcuts::OnVersion(const QDBusMessage& reply) {
  const QList<QVariant> args = reply.arguments();
  const QVariant version = args.isEmpty() ? QVariant() : Unwrapped(args[0]);
  const bool number =
      version.metaType() == QMetaType::fromType<uint>() || version.metaType() == QMetaType::fromType<int>();
  if (!number || version.toLongLong() < 1) {
    Finish(TOutcome::NoService);
    return;
  }
  CreateSession();
}

QString TPortalShortcuts::NewToken() {
  return QStringLiteral("quiverbox%1").arg(QRandomGenerator::global()->generate());
}

QString TPortalShortcuts::RequestPath(const QString& token) const {
  QString sender = bus_.baseService();
  if (sender.startsWith(u':')) sender.remove(0, 1);
  sender.replace(u'.', u'_');
  return kPath + QStringLiteral("/request/") + sender + u'/' + token;
}

bool TPortalShortcuts::WatchRequest(const QString& path) {
  UnwatchRequest();
  if (!bus_.connect(kService, path, kRequestInterface, "Response", this, SLOT(OnResponse(QDBusMessage))))
    return false;
  request_ = path;
  return true;
}

void TPortalShortcuts::UnwatchRequest() {
  if (request_.isEmpty()) return;
  bus_.disconnect(kService, request_, kRequestInterface, "Response", this, SLOT(OnResponse(QDBusMessage)));
  request_.clear();
}

void TPortalShortcuts::CreateSession() {
  state_ = TState::Session;
  // The Response is listened for before the call, on the path the portal will use.
  const QString token = NewToken();
  if (!WatchRequest(RequestPath(token))) {
    Finish(TOutcome::Failed);
    return;
  }
  QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, "CreateSession");
  call << QVariantMap{{"handle_token", token}, {"session_handle_token", NewToken()}};
  Watch(new QDBusPendingCallWatcher(bus_.asyncCall(call, answer_ms_), this),
        &TPortalShortcuts::OnRequestHandle);
  timer_.start(answer_ms_);
}

void TPortalShortcuts::BindShortcuts() {
  state_ = TState::Binding;
  const QString token = NewToken();
  if (!WatchRequest(RequestPath(token))) {
    Finish(TOutcome::Failed);
    return;
  }
  QVariantMap properties{
      {"description", QStringLiteral("Bring Quiverbox to the front with its search field focused")}};
  if (const std::string trigger = PortalTrigger(key_); !trigger.empty())
    properties.insert("preferred_trigger", QString::fromStdString(trigger));
  const QList<TShortcut> shortcuts{{QString::fromLatin1(kShortcutId), properties}};
  QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, "BindShortcuts");
  call << QVariant::fromValue(QDBusObjectPath(session_)) << QVariant::fromValue(shortcuts) << QString()
       << QVariantMap{{"handle_token", token}};
  Watch(new QDBusPendingCallWatcher(bus_.asyncCall(call, answer_ms_), this),
        &TPortalShortcuts::OnRequestHandle);
  timer_.start(binding_ms_);
  if (AwaitingUser) AwaitingUser();
}

void TPortalShortcuts::OnRequestHandle(const QDBusMessage& reply) {
  // Older portals choose the request's path themselves: the Response is then
  // listened for where they say.
  const QList<QVariant> args = reply.arguments();
  const QString handle = args.isEmpty() ? QString() : ReadPath(args[0]);
  if (!IsObjectPath(handle)) {
    Finish(TOutcome::Failed);
    return;
  }
  if (handle != request_ && !WatchRequest(handle)) Finish(TOutcome::Failed);
}

void TPortalShortcuts::OnResponse(const QDBusMessage& signal) {
  if (request_.isEmpty() || signal.path() != request_) return;
  const QList<QVariant> args = signal.arguments();
  QVariantMap results;
  if (args.size() < 2 || args[0].metaType() != QMetaType::fromType<uint>() ||
      !ReadVardict(args[1], results)) {
    Finish(TOutcome::Failed);
    return;
  }
  const uint code = args[0].toUInt();
  if (code != 0) {
    Finish(code == 1 ? TOutcome::Declined : TOutcome::Failed);
    return;
  }
  if (state_ == TState::Session) {
    const QString session = ReadPath(results.value("session_handle"));
    if (!IsObjectPath(session)) {
      Finish(TOutcome::Failed);
      return;
    }
    session_ = session;
    timer_.stop();
    UnwatchRequest();
    watching_activation_ =
        bus_.connect(kService, kPath, kInterface, "Activated", this, SLOT(OnActivated(QDBusMessage)));
    BindShortcuts();
    return;
  }
  if (state_ != TState::Binding) return;
  // No list at all: the portal bound what it was given. A list names what is bound.
  if (results.contains("shortcuts")) {
    QList<TShortcut> shortcuts;
    if (!ReadShortcuts(results.value("shortcuts"), shortcuts)) {
      Finish(TOutcome::Failed);
      return;
    }
    bool ours = false;
    for (const TShortcut& shortcut : shortcuts) {
      if (shortcut.Id != QLatin1String(kShortcutId)) continue;
      ours = true;
      const QVariant description = Unwrapped(shortcut.Properties.value("trigger_description"));
      if (description.metaType() == QMetaType::fromType<QString>())
        trigger_ = description.toString().left(kLongestTrigger);
    }
    if (!ours) {
      Finish(TOutcome::NotBound);
      return;
    }
  }
  Finish(TOutcome::Bound);
}

void TPortalShortcuts::OnActivated(const QDBusMessage& signal) {
  if (state_ != TState::Bound) return;
  const QList<QVariant> args = signal.arguments();
  if (args.size() < 2 || ReadPath(args[0]) != session_ ||
      args[1].metaType() != QMetaType::fromType<QString>() ||
      args[1].toString() != QLatin1String(kShortcutId))
    return;
  if (Activated) Activated();
}

}  // namespace qb::qt
