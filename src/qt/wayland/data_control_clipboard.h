// TDataControlClipboard: the desktop clipboard of a Wayland session, watched and
// set through the compositor's data-control protocol.
//
// A Wayland program sees the clipboard only while one of its windows has the
// keyboard focus, unless the compositor lets it act as a clipboard manager:
// ext-data-control-v1 (taken when offered) or its forerunner
// wlr-data-control-unstable-v1 (wlroots compositors, KWin). Through either, every
// change of the seat's selection arrives with the MIME types of the new clip,
// focus or not, and the program can set the selection itself.
//
// The clipboard keeps a connection to the compositor of its own, apart from the
// one Qt may hold for the windows, and dispatches it from Qt's event loop (a socket
// notifier on the connection). Both protocols have the same requests and events in
// the same order, so one code path speaks either through libwayland's generic
// proxy calls, with the interface descriptions of the protocol that was bound.
// Only the regular selection is used: primary selection offers are let go at once.
//
// Reading another program's clip: each MIME type is fetched the first time it is
// read (the owner writes it into a pipe) and kept until the next clip; a fetch
// waits for the owner on the UI thread, as reading Qt's clipboard does, and gives
// up when the owner stays silent for kFetchIdleMs or sends more than
// kMaxFetchBytes (the type then reads as empty).
//
// Setting the clip: the data becomes a data source offering its MIME types. Other
// programs' requests are answered with non-blocking writes driven by the event
// loop, however big the data; a picture whose file forms are still being encoded
// is served once they are ready, without waiting on the UI thread.
#pragma once

#include <QMimeData>
#include <QObject>
#include <QStringList>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "qt/qt_clipboard.h"

struct wl_display;
struct wl_registry;
struct wl_proxy;
struct wl_interface;
class QSocketNotifier;

namespace qb::qt::wayland {

// MIME data of a clip another program owns: the types its offer lists, each read
// through fetch on first use and kept. Besides the offered types it answers
// "application/x-qt-image" with the picture decoded from an offered image type,
// as Qt's own clipboard does, so pictures are found the same way everywhere.
class TOfferMimeData : public QMimeData {
 public:
  // fetch(raw type) gives the bytes of one offered type, or nothing on failure.
  using Fetch = std::function<std::optional<QByteArray>(const QByteArray& mime)>;
  TOfferMimeData(std::vector<QByteArray> offered, Fetch fetch);

  // The offer is gone: what was fetched stays readable, the rest reads as empty.
  void Detach() { fetch_ = nullptr; }

  QStringList formats() const override;
  bool hasFormat(const QString& mime) const override;

 protected:
  QVariant retrieveData(const QString& mime, QMetaType type) const override;

 private:
  QByteArray Bytes(const QString& mime) const;
  QString ImageTypeToDecode() const;

  std::vector<QByteArray> raw_;  // as offered, byte for byte
  QStringList offered_;
  Fetch fetch_;
  mutable std::map<QString, QByteArray> fetched_;
};

// The MIME types a clip of this program is offered as: its own types, less Qt's
// internal picture type, plus "text/plain;charset=utf-8" beside "text/plain" (the
// program's text is UTF-8; Wayland programs ask for it by that name).
QStringList OfferedTypesOf(const QMimeData& data);
// The type of data that answers a request for mime; empty when none does.
QString ServedTypeOf(const QMimeData& data, const QString& mime);

// Reads fd to its end. Nothing when no byte came for idle_ms, when more than
// limit bytes came, or on a read error.
std::optional<QByteArray> ReadToEnd(int fd, int idle_ms, qsizetype limit);

enum class TDataControlProtocol { Ext, Wlr };

class TDataControlClipboard : public IDesktopClipboard {
 public:
  static constexpr int kFetchIdleMs = 5000;
  static constexpr qsizetype kMaxFetchBytes = qsizetype(1) << 30;

  // Connects to the compositor of WAYLAND_DISPLAY and looks for data-control and a
  // seat. Needs no application object yet. Null, with the reason in *why, when
  // there is no compositor or it offers no data-control.
  static std::unique_ptr<TDataControlClipboard> Connect(std::string* why = nullptr);
  ~TDataControlClipboard() override;
  TDataControlClipboard(const TDataControlClipboard&) = delete;
  TDataControlClipboard& operator=(const TDataControlClipboard&) = delete;

  TDataControlProtocol Protocol() const { return protocol_; }

  // Starts watching the seat's selection from the event loop (the application
  // object must exist). The compositor answers with the current clip.
  void Start();

  // The connection to the compositor ended (it quit, or refused a request): the
  // clipboard is seen as empty from then on and nothing is set. OnLost runs once.
  bool Lost() const { return lost_; }
  std::function<void()> OnLost;

  const QMimeData* MimeData() const override;
  void SetMimeData(std::unique_ptr<QMimeData> data) override;

  // How many requests of other programs for this program's clip are being served.
  size_t TransfersInFlight() const { return transfers_.size(); }

 public:
  // The interface descriptions of the protocol bound.
  struct TInterfaces;

 private:
  struct TTransfer;
  struct TSource {
    wl_proxy* Proxy = nullptr;
    std::shared_ptr<QMimeData> Data;
  };

  TDataControlClipboard(wl_display* display, wl_registry* registry);

  // libwayland's listeners.
  static void RegistryGlobal(void* self, wl_registry* registry, uint32_t name, const char* interface,
                             uint32_t version);
  static void RegistryGlobalRemove(void* self, wl_registry* registry, uint32_t name);
  static void DeviceDataOffer(void* self, wl_proxy* device, wl_proxy* offer);
  static void DeviceSelection(void* self, wl_proxy* device, wl_proxy* offer);
  static void DeviceFinished(void* self, wl_proxy* device);
  static void DevicePrimarySelection(void* self, wl_proxy* device, wl_proxy* offer);
  static void OfferOffer(void* self, wl_proxy* offer, const char* mime);
  static void SourceSend(void* self, wl_proxy* source, const char* mime, int32_t fd);
  static void SourceCancelled(void* self, wl_proxy* source);

  // Reads and dispatches what the compositor sent; sends what is queued.
  void Dispatch();
  // Sends the queued requests, waiting up to timeout_ms for room in the socket.
  bool Flush(int timeout_ms = 0);
  // A request's answers, read and dispatched, within timeout_ms.
  bool RoundTrip(int timeout_ms);
  void CheckConnection();
  void Lose();

  std::optional<QByteArray> Fetch(wl_proxy* offer, const QByteArray& mime);
  void DropForeign();
  void DestroyOffer(wl_proxy* offer);
  void Serve(std::shared_ptr<QMimeData> data, const QString& mime, int fd);
  void Pump(TTransfer& transfer);
  void EndTransfer(TTransfer& transfer);

  wl_display* display_;
  wl_registry* registry_;
  const TInterfaces* interfaces_ = nullptr;
  TDataControlProtocol protocol_ = TDataControlProtocol::Ext;
  uint32_t ext_name_ = 0, wlr_name_ = 0, seat_name_ = 0;
  wl_proxy* manager_ = nullptr;
  wl_proxy* seat_ = nullptr;
  wl_proxy* device_ = nullptr;
  QSocketNotifier* notifier_ = nullptr;
  QSocketNotifier* write_notifier_ = nullptr;
  bool lost_ = false;

  // Offers introduced but not yet named the selection, with their types so far.
  std::map<wl_proxy*, std::vector<QByteArray>> offers_;
  // The selection when another program owns it.
  wl_proxy* foreign_offer_ = nullptr;
  TOfferMimeData* foreign_ = nullptr;
  // This program's clip while it owns the selection, and the sources it replaced
  // that the compositor has not cancelled yet (requests may still reach them).
  std::optional<TSource> own_;
  std::list<TSource> retired_;
  std::list<std::unique_ptr<TTransfer>> transfers_;
  QObject context_;
};

}  // namespace qb::qt::wayland
