// TPortalShortcuts: the global hotkey through the desktop's global shortcut
// service, the desktop portal's GlobalShortcuts interface on the session bus
// (org.freedesktop.portal.Desktop, /org/freedesktop/portal/desktop).
//
// Binding is a conversation: the interface's version is read, a session is
// created, the key is offered for binding (the desktop may ask the user in a
// dialog), and every step's outcome comes back as a Response signal on a request
// object whose path the caller works out beforehand. Everything is asynchronous
// and every wait has a time limit, so a portal that never answers costs nothing
// but the wait. Replies are checked before use: a wrong type, an unknown
// shortcut or a huge text is ignored or reported, never trusted.
#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>
#include <string>

#include "app/hotkey.h"

class QDBusMessage;
class QDBusPendingCallWatcher;

namespace qb::qt {

class TPortalShortcuts : public QObject {
  Q_OBJECT
 public:
  enum class TOutcome {
    Bound,      // the service bound the key (Trigger() says how the desktop shows it)
    NoService,  // no session bus, no portal, or a portal without GlobalShortcuts
    Silent,     // the service did not answer in time
    Declined,   // the user declined it (Response 1)
    NotBound,   // the service answered, but without this key among the bound ones
    Failed,     // an error reply, Response 2 or more, or an answer that makes no sense
  };

  explicit TPortalShortcuts(QObject* parent = nullptr);
  ~TPortalShortcuts() override;

  // The bus the service is looked for on (the session bus until set).
  void SetBus(const QDBusConnection& bus);
  // How long a method call or a Response is waited for, in milliseconds; the
  // binding's Response waits longer (its dialog waits for the user).
  void SetTimeouts(int answer_ms, int binding_ms);

  // Asks the service for key (ending any earlier session). The outcome comes to
  // Done from the event loop, once; AwaitingUser when the binding was sent.
  void Bind(const THotkey& key);
  // Ends the session and forgets the key; no Done follows for a Bind under way.
  void Release();
  bool Active() const { return state_ != TState::Idle; }
  bool IsBound() const { return state_ == TState::Bound; }
  QString Trigger() const { return trigger_; }
  QString SessionHandle() const { return session_; }

  std::function<void(TOutcome)> Done;
  std::function<void()> AwaitingUser;
  // The bound key was pressed.
  std::function<void()> Activated;

  static constexpr const char* kShortcutId = "show-search";

 private:
  enum class TState { Idle, Version, Session, Binding, Bound };

  void Finish(TOutcome outcome);
  void CallVersion();
  void CreateSession();
  void BindShortcuts();
  QString RequestPath(const QString& token) const;
  QString NewToken();
  bool WatchRequest(const QString& path);
  void UnwatchRequest();
  void Watch(QDBusPendingCallWatcher* watcher, void (TPortalShortcuts::*reply)(const QDBusMessage&));
  void OnVersion(const QDBusMessage& reply);
  void OnRequestHandle(const QDBusMessage& reply);

 private Q_SLOTS:
  void OnResponse(const QDBusMessage& signal);
  void OnActivated(const QDBusMessage& signal);

 private:
  QDBusConnection bus_;
  TState state_ = TState::Idle;
  THotkey key_;
  QString request_;  // the request whose Response is awaited
  QString session_;
  QString trigger_;
  bool watching_activation_ = false;
  unsigned generation_ = 0;  // replies of an earlier Bind are dropped
  int answer_ms_ = 10000, binding_ms_ = 300000;
  QTimer timer_;
};

}  // namespace qb::qt
