#include "qt/wayland/data_control_clipboard.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>
#include <wayland-client.h>

#include <QImage>
#include <QImageReader>
#include <QSocketNotifier>
#include <QTimer>
#include <chrono>
#include <cstring>

#include "ext-data-control-v1-client-protocol.h"
#include "wlr-data-control-unstable-v1-client-protocol.h"

namespace qb::qt::wayland {
namespace {

constexpr const char* kQtImageMime = "application/x-qt-image";
constexpr const char* kTextMime = "text/plain";
constexpr const char* kUtf8TextMime = "text/plain;charset=utf-8";
constexpr int kConnectTimeoutMs = 5000;
constexpr qsizetype kWriteChunk = qsizetype(1) << 20;
constexpr int kPictureRetryMs = 20;

// One code path speaks both protocols: their requests carry the same numbers.
static_assert(EXT_DATA_CONTROL_MANAGER_V1_CREATE_DATA_SOURCE ==
              ZWLR_DATA_CONTROL_MANAGER_V1_CREATE_DATA_SOURCE);
static_assert(EXT_DATA_CONTROL_MANAGER_V1_GET_DATA_DEVICE == ZWLR_DATA_CONTROL_MANAGER_V1_GET_DATA_DEVICE);
static_assert(EXT_DATA_CONTROL_MANAGER_V1_DESTROY == ZWLR_DATA_CONTROL_MANAGER_V1_DESTROY);
static_assert(EXT_DATA_CONTROL_DEVICE_V1_SET_SELECTION == ZWLR_DATA_CONTROL_DEVICE_V1_SET_SELECTION);
static_assert(EXT_DATA_CONTROL_DEVICE_V1_DESTROY == ZWLR_DATA_CONTROL_DEVICE_V1_DESTROY);
static_assert(EXT_DATA_CONTROL_SOURCE_V1_OFFER == ZWLR_DATA_CONTROL_SOURCE_V1_OFFER);
static_assert(EXT_DATA_CONTROL_SOURCE_V1_DESTROY == ZWLR_DATA_CONTROL_SOURCE_V1_DESTROY);
static_assert(EXT_DATA_CONTROL_OFFER_V1_RECEIVE == ZWLR_DATA_CONTROL_OFFER_V1_RECEIVE);
static_assert(EXT_DATA_CONTROL_OFFER_V1_DESTROY == ZWLR_DATA_CONTROL_OFFER_V1_DESTROY);

// The listeners, with the protocol's object types as plain proxies. Their layout is
// the generated listeners' (libwayland calls them through the interface's event
// signatures, which are the same for both protocols).
struct TDeviceListener {
  void (*DataOffer)(void*, wl_proxy*, wl_proxy*);
  void (*Selection)(void*, wl_proxy*, wl_proxy*);
  void (*Finished)(void*, wl_proxy*);
  void (*PrimarySelection)(void*, wl_proxy*, wl_proxy*);
};
struct TOfferListener {
  void (*Offer)(void*, wl_proxy*, const char*);
};
struct TSourceListener {
  void (*Send)(void*, wl_proxy*, const char*, int32_t);
  void (*Cancelled)(void*, wl_proxy*);
};

template <typename Listener>
void AddListener(wl_proxy* proxy, const Listener& listener, void* data) {
  wl_proxy_add_listener(proxy, reinterpret_cast<void (**)(void)>(const_cast<Listener*>(&listener)), data);
}

void Destroy(wl_proxy* proxy, uint32_t opcode) {
  if (proxy)
    wl_proxy_marshal_flags(proxy, opcode, nullptr, wl_proxy_get_version(proxy), WL_MARSHAL_FLAG_DESTROY);
}

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

struct TDataControlClipboard::TInterfaces {
  const wl_interface* Manager;
  const wl_interface* Device;
  const wl_interface* Source;
};

namespace {

const TDataControlClipboard::TInterfaces kExtInterfaces{&ext_data_control_manager_v1_interface,
                                                        &ext_data_control_device_v1_interface,
                                                        &ext_data_control_source_v1_interface};
const TDataControlClipboard::TInterfaces kWlrInterfaces{&zwlr_data_control_manager_v1_interface,
                                                        &zwlr_data_control_device_v1_interface,
                                                        &zwlr_data_control_source_v1_interface};

}  // namespace

// A request of another program for this program's clip, answered as the pipe
// takes the bytes.
struct TDataControlClipboard::TTransfer {
  int Fd = -1;
  std::shared_ptr<QMimeData> Data;  // until the bytes are taken from it
  QString Mime;
  QByteArray Bytes;
  qsizetype Done = 0;
  QSocketNotifier* Notifier = nullptr;
};

// --- another program's clip ----------------------------------------------------------

TOfferMimeData::TOfferMimeData(std::vector<QByteArray> offered, Fetch fetch)
    : raw_(std::move(offered)), fetch_(std::move(fetch)) {
  for (const QByteArray& mime : raw_) offered_.append(QString::fromUtf8(mime));
}

QString TOfferMimeData::ImageTypeToDecode() const {
  static const QList<QByteArray> readable = QImageReader::supportedMimeTypes();
  if (offered_.contains(QLatin1String("image/png"))) return QStringLiteral("image/png");
  for (const QString& mime : offered_)
    if (mime.startsWith(QLatin1String("image/")) && readable.contains(mime.toLatin1())) return mime;
  return {};
}

QStringList TOfferMimeData::formats() const {
  QStringList list = offered_;
  if (!list.contains(QLatin1String(kQtImageMime)) && !ImageTypeToDecode().isEmpty())
    list.append(QLatin1String(kQtImageMime));
  return list;
}

bool TOfferMimeData::hasFormat(const QString& mime) const {
  return formats().contains(mime);
}

QByteArray TOfferMimeData::Bytes(const QString& mime) const {
  if (auto kept = fetched_.find(mime); kept != fetched_.end()) return kept->second;
  const qsizetype index = offered_.indexOf(mime);
  if (index < 0) return {};
  std::optional<QByteArray> bytes;
  if (fetch_) bytes = fetch_(raw_[static_cast<size_t>(index)]);
  // A failed fetch is kept too: every reader of this clip sees the same bytes, and
  // an owner that does not answer is waited for once.
  if (fetch_) fetched_[mime] = bytes.value_or(QByteArray());
  return bytes.value_or(QByteArray());
}

QVariant TOfferMimeData::retrieveData(const QString& mime, QMetaType type) const {
  if (offered_.contains(mime)) return Bytes(mime);
  if (mime == QLatin1String(kQtImageMime)) {
    const QString source = ImageTypeToDecode();
    if (source.isEmpty()) return {};
    QImage image = QImage::fromData(Bytes(source));
    if (image.isNull()) return {};
    return image;
  }
  (void)type;
  return {};
}

QStringList OfferedTypesOf(const QMimeData& data) {
  QStringList types;
  for (const QString& mime : data.formats()) {
    if (mime == QLatin1String(kQtImageMime) || types.contains(mime)) continue;
    types.append(mime);
    if (mime == QLatin1String(kTextMime) && !data.formats().contains(QLatin1String(kUtf8TextMime)))
      types.append(QLatin1String(kUtf8TextMime));
  }
  return types;
}

QString ServedTypeOf(const QMimeData& data, const QString& mime) {
  const QStringList own = data.formats();
  if (mime == QLatin1String(kQtImageMime)) return {};
  if (own.contains(mime)) return mime;
  if (mime == QLatin1String(kUtf8TextMime) && own.contains(QLatin1String(kTextMime)))
    return QLatin1String(kTextMime);
  return {};
}

std::optional<QByteArray> ReadToEnd(int fd, int idle_ms, qsizetype limit) {
  QByteArray bytes;
  char chunk[65536];
  for (;;) {
    pollfd p{fd, POLLIN, 0};
    const int ready = poll(&p, 1, idle_ms);
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return std::nullopt;  // silent for too long, or poll failed
    const ssize_t n = read(fd, chunk, sizeof chunk);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n < 0) return std::nullopt;
    if (n == 0) return bytes;
    if (bytes.size() + n > limit) return std::nullopt;
    bytes.append(chunk, static_cast<qsizetype>(n));
  }
}

// --- the connection ------------------------------------------------------------------

TDataControlClipboard::TDataControlClipboard(wl_display* display, wl_registry* registry)
    : display_(display), registry_(registry) {}

std::unique_ptr<TDataControlClipboard> TDataControlClipboard::Connect(std::string* why) {
  auto fail = [why](const char* reason) {
    if (why) *why = reason;
    return nullptr;
  };
  wl_display* display = wl_display_connect(nullptr);
  if (!display) return fail("no Wayland compositor to connect to");
  std::unique_ptr<TDataControlClipboard> clipboard(
      new TDataControlClipboard(display, wl_display_get_registry(display)));
  static const wl_registry_listener listener{&RegistryGlobal, &RegistryGlobalRemove};
  wl_registry_add_listener(clipboard->registry_, &listener, clipboard.get());
  if (!clipboard->RoundTrip(kConnectTimeoutMs)) return fail("the Wayland compositor does not answer");
  if (!clipboard->ext_name_ && !clipboard->wlr_name_)
    return fail("the Wayland compositor offers no data-control");
  if (!clipboard->seat_name_) return fail("the Wayland compositor has no seat");
  clipboard->protocol_ = clipboard->ext_name_ ? TDataControlProtocol::Ext : TDataControlProtocol::Wlr;
  clipboard->interfaces_ =
      clipboard->protocol_ == TDataControlProtocol::Ext ? &kExtInterfaces : &kWlrInterfaces;
  // Version 1 of either: the wlr manager's version 2 only adds the primary selection.
  clipboard->manager_ = static_cast<wl_proxy*>(wl_registry_bind(
      clipboard->registry_, clipboard->ext_name_ ? clipboard->ext_name_ : clipboard->wlr_name_,
      clipboard->interfaces_->Manager, 1));
  clipboard->seat_ = static_cast<wl_proxy*>(
      wl_registry_bind(clipboard->registry_, clipboard->seat_name_, &wl_seat_interface, 1));
  if (!clipboard->Flush(kConnectTimeoutMs)) return fail("the Wayland compositor does not answer");
  return clipboard;
}

TDataControlClipboard::~TDataControlClipboard() {
  for (auto& transfer : transfers_) {
    delete transfer->Notifier;
    close(transfer->Fd);
  }
  transfers_.clear();
  delete notifier_;
  delete write_notifier_;
  if (foreign_) {
    foreign_->Detach();
    delete foreign_;
  }
  if (!lost_) {
    DestroyOffer(foreign_offer_);
    for (auto& [offer, types] : offers_) DestroyOffer(offer);
    if (own_) Destroy(own_->Proxy, EXT_DATA_CONTROL_SOURCE_V1_DESTROY);
    for (TSource& source : retired_) Destroy(source.Proxy, EXT_DATA_CONTROL_SOURCE_V1_DESTROY);
    Destroy(device_, EXT_DATA_CONTROL_DEVICE_V1_DESTROY);
    Destroy(manager_, EXT_DATA_CONTROL_MANAGER_V1_DESTROY);
    Flush();
  }
  if (seat_) wl_proxy_destroy(seat_);
  wl_registry_destroy(registry_);
  wl_display_disconnect(display_);
}

void TDataControlClipboard::RegistryGlobal(void* self, wl_registry*, uint32_t name, const char* interface,
                                           uint32_t) {
  auto* clipboard = static_cast<TDataControlClipboard*>(self);
  const std::string_view kind(interface);
  if (kind == "ext_data_control_manager_v1")
    clipboard->ext_name_ = name;
  else if (kind == "zwlr_data_control_manager_v1")
    clipboard->wlr_name_ = name;
  else if (kind == "wl_seat" && !clipboard->seat_name_)
    clipboard->seat_name_ = name;  // the first seat: desktops have one
}

void TDataControlClipboard::RegistryGlobalRemove(void*, wl_registry*, uint32_t) {
  // A seat that goes away finishes the device; that is handled there.
}

void TDataControlClipboard::Start() {
  if (lost_ || device_) return;
  // A reader that closes its end early must not end the program.
  signal(SIGPIPE, SIG_IGN);
  device_ = wl_proxy_marshal_flags(manager_, EXT_DATA_CONTROL_MANAGER_V1_GET_DATA_DEVICE, interfaces_->Device,
                                   wl_proxy_get_version(manager_), 0, nullptr, seat_);
  static const TDeviceListener listener{&DeviceDataOffer, &DeviceSelection, &DeviceFinished,
                                        &DevicePrimarySelection};
  AddListener(device_, listener, this);
  notifier_ = new QSocketNotifier(wl_display_get_fd(display_), QSocketNotifier::Read);
  QObject::connect(notifier_, &QSocketNotifier::activated, &context_, [this] { Dispatch(); });
  Flush();
  // Events read while connecting wait in the queue: dispatch them from the loop.
  QTimer::singleShot(0, &context_, [this] { Dispatch(); });
}

void TDataControlClipboard::Dispatch() {
  if (lost_) return;
  if (wl_display_prepare_read(display_) == 0) {
    // Reads what is there without waiting (the socket notifier said it was ready,
    // or there is nothing and the read returns at once).
    pollfd p{wl_display_get_fd(display_), POLLIN, 0};
    if (poll(&p, 1, 0) > 0) {
      if (wl_display_read_events(display_) < 0) return Lose();
    } else {
      wl_display_cancel_read(display_);
    }
  }
  if (wl_display_dispatch_pending(display_) < 0) return Lose();
  Flush();
}

bool TDataControlClipboard::Flush(int timeout_ms) {
  if (lost_) return false;
  const int64_t end = NowMs() + timeout_ms;
  for (;;) {
    if (wl_display_flush(display_) >= 0) {
      if (write_notifier_) write_notifier_->setEnabled(false);
      return true;
    }
    if (errno != EAGAIN) {
      Lose();
      return false;
    }
    const int64_t left = end - NowMs();
    if (left <= 0) break;
    pollfd p{wl_display_get_fd(display_), POLLOUT, 0};
    poll(&p, 1, static_cast<int>(left));
  }
  // The socket is full: send the rest when it has room.
  if (!write_notifier_ && QCoreApplication::instance()) {
    write_notifier_ = new QSocketNotifier(wl_display_get_fd(display_), QSocketNotifier::Write);
    QObject::connect(write_notifier_, &QSocketNotifier::activated, &context_, [this] { Flush(); });
  }
  if (write_notifier_) write_notifier_->setEnabled(true);
  return true;
}

bool TDataControlClipboard::RoundTrip(int timeout_ms) {
  bool done = false;
  wl_callback* callback = wl_display_sync(display_);
  static const wl_callback_listener listener{
      [](void* flag, wl_callback*, uint32_t) { *static_cast<bool*>(flag) = true; }};
  wl_callback_add_listener(callback, &listener, &done);
  const int64_t end = NowMs() + timeout_ms;
  while (!done && !lost_) {
    if (!Flush(static_cast<int>(std::max<int64_t>(0, end - NowMs())))) break;
    while (wl_display_prepare_read(display_) != 0)
      if (wl_display_dispatch_pending(display_) < 0) {
        Lose();
        break;
      }
    if (lost_ || done) {
      if (!lost_) wl_display_cancel_read(display_);
      break;
    }
    const int64_t left = end - NowMs();
    pollfd p{wl_display_get_fd(display_), POLLIN, 0};
    if (left <= 0 || poll(&p, 1, static_cast<int>(left)) <= 0) {
      wl_display_cancel_read(display_);
      break;
    }
    if (wl_display_read_events(display_) < 0 || wl_display_dispatch_pending(display_) < 0) Lose();
  }
  // Destroyed, the callback is never called: an answer that comes late cannot
  // write into this frame.
  wl_callback_destroy(callback);
  return done;
}

void TDataControlClipboard::Lose() {
  if (lost_) return;
  lost_ = true;
  if (notifier_) notifier_->setEnabled(false);
  if (write_notifier_) write_notifier_->setEnabled(false);
  for (auto& transfer : transfers_) {
    transfer->Notifier->setEnabled(false);
    transfer->Notifier->deleteLater();
    close(transfer->Fd);
  }
  transfers_.clear();
  // The proxies stay allocated until the destructor; no request goes out any more.
  own_.reset();
  retired_.clear();
  if (foreign_) {
    foreign_->Detach();
    foreign_->deleteLater();
    foreign_ = nullptr;
  }
  // Told from the event loop: this may run in the middle of a read or a write of
  // the clipboard.
  auto tell = [this] {
    if (OnChanged) OnChanged();
    if (OnLost) OnLost();
  };
  if (QCoreApplication::instance())
    QTimer::singleShot(0, &context_, tell);
  else
    tell();
}

void TDataControlClipboard::CheckConnection() {
  if (!lost_ && wl_display_get_error(display_) != 0) Lose();
}

// --- the selection -------------------------------------------------------------------

void TDataControlClipboard::DestroyOffer(wl_proxy* offer) {
  Destroy(offer, EXT_DATA_CONTROL_OFFER_V1_DESTROY);
}

void TDataControlClipboard::DeviceDataOffer(void* self, wl_proxy*, wl_proxy* offer) {
  auto* clipboard = static_cast<TDataControlClipboard*>(self);
  static const TOfferListener listener{&OfferOffer};
  AddListener(offer, listener, clipboard);
  clipboard->offers_[offer];
}

void TDataControlClipboard::OfferOffer(void* self, wl_proxy* offer, const char* mime) {
  auto* clipboard = static_cast<TDataControlClipboard*>(self);
  auto found = clipboard->offers_.find(offer);
  if (found != clipboard->offers_.end()) found->second.emplace_back(mime);
}

void TDataControlClipboard::DropForeign() {
  if (foreign_) {
    foreign_->Detach();
    foreign_->deleteLater();  // a reader up the stack may still hold it
    foreign_ = nullptr;
  }
  DestroyOffer(foreign_offer_);
  foreign_offer_ = nullptr;
}

void TDataControlClipboard::DeviceSelection(void* self, wl_proxy*, wl_proxy* offer) {
  auto* clipboard = static_cast<TDataControlClipboard*>(self);
  clipboard->DropForeign();
  std::vector<QByteArray> types;
  if (offer) {
    auto found = clipboard->offers_.find(offer);
    if (found != clipboard->offers_.end()) {
      types = std::move(found->second);
      clipboard->offers_.erase(found);
    }
  }
  if (offer && clipboard->own_) {
    // The compositor names this program's own source the selection: it is read
    // from the data itself, never through a pipe to this very program. (When
    // another program takes the selection, the compositor cancels this program's
    // source before it names the new one, so own_ is gone by then.)
    clipboard->DestroyOffer(offer);
  } else if (offer) {
    clipboard->foreign_offer_ = offer;
    clipboard->foreign_ = new TOfferMimeData(std::move(types), [clipboard, offer](const QByteArray& mime) {
      return clipboard->Fetch(offer, mime);
    });
  }
  if (clipboard->OnChanged) clipboard->OnChanged();
}

void TDataControlClipboard::DevicePrimarySelection(void* self, wl_proxy*, wl_proxy* offer) {
  auto* clipboard = static_cast<TDataControlClipboard*>(self);
  if (!offer) return;
  clipboard->offers_.erase(offer);
  clipboard->DestroyOffer(offer);
}

void TDataControlClipboard::DeviceFinished(void* self, wl_proxy*) {
  // The seat is gone: the clipboard can be neither seen nor set any more.
  static_cast<TDataControlClipboard*>(self)->Lose();
}

const QMimeData* TDataControlClipboard::MimeData() const {
  if (own_) return own_->Data.get();
  return foreign_;
}

void TDataControlClipboard::SetMimeData(std::unique_ptr<QMimeData> data) {
  if (lost_ || !device_) return;
  const QStringList types = data ? OfferedTypesOf(*data) : QStringList();
  wl_proxy* source = nullptr;
  if (!types.isEmpty()) {
    source = wl_proxy_marshal_flags(manager_, EXT_DATA_CONTROL_MANAGER_V1_CREATE_DATA_SOURCE,
                                    interfaces_->Source, wl_proxy_get_version(manager_), 0, nullptr);
    static const TSourceListener listener{&SourceSend, &SourceCancelled};
    AddListener(source, listener, this);
    for (const QString& mime : types)
      wl_proxy_marshal_flags(source, EXT_DATA_CONTROL_SOURCE_V1_OFFER, nullptr, wl_proxy_get_version(source),
                             0, mime.toUtf8().constData());
  }
  wl_proxy_marshal_flags(device_, EXT_DATA_CONTROL_DEVICE_V1_SET_SELECTION, nullptr,
                         wl_proxy_get_version(device_), 0, source);
  // The source replaced stays until the compositor cancels it: a paste asked of it
  // just before is still answered.
  if (own_) retired_.push_back(std::move(*own_));
  own_.reset();
  if (source) own_ = TSource{source, std::shared_ptr<QMimeData>(data.release())};
  DropForeign();
  Flush();
  CheckConnection();
}

void TDataControlClipboard::SourceCancelled(void* self, wl_proxy* source) {
  auto* clipboard = static_cast<TDataControlClipboard*>(self);
  if (clipboard->own_ && clipboard->own_->Proxy == source) clipboard->own_.reset();
  clipboard->retired_.remove_if([source](const TSource& s) { return s.Proxy == source; });
  Destroy(source, EXT_DATA_CONTROL_SOURCE_V1_DESTROY);
}

// --- reading another program's clip --------------------------------------------------

std::optional<QByteArray> TDataControlClipboard::Fetch(wl_proxy* offer, const QByteArray& mime) {
  if (lost_) return std::nullopt;
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return std::nullopt;
  // libwayland sends a duplicate of the write end: this one is closed at once, so
  // the read ends when the owner closes its copy.
  wl_proxy_marshal_flags(offer, EXT_DATA_CONTROL_OFFER_V1_RECEIVE, nullptr, wl_proxy_get_version(offer), 0,
                         mime.constData(), fds[1]);
  close(fds[1]);
  if (!Flush(kFetchIdleMs)) {
    close(fds[0]);
    return std::nullopt;
  }
  std::optional<QByteArray> bytes = ReadToEnd(fds[0], kFetchIdleMs, kMaxFetchBytes);
  close(fds[0]);
  return bytes;
}

// --- serving this program's clip -----------------------------------------------------

void TDataControlClipboard::SourceSend(void* self, wl_proxy* source, const char* mime, int32_t fd) {
  auto* clipboard = static_cast<TDataControlClipboard*>(self);
  std::shared_ptr<QMimeData> data;
  if (clipboard->own_ && clipboard->own_->Proxy == source) data = clipboard->own_->Data;
  for (const TSource& retired : clipboard->retired_)
    if (retired.Proxy == source) data = retired.Data;
  if (!data) {
    close(fd);
    return;
  }
  clipboard->Serve(std::move(data), QString::fromUtf8(mime), fd);
}

void TDataControlClipboard::Serve(std::shared_ptr<QMimeData> data, const QString& mime, int fd) {
  const QString served = ServedTypeOf(*data, mime);
  if (served.isEmpty()) {
    close(fd);
    return;
  }
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
  auto transfer = std::make_unique<TTransfer>();
  transfer->Fd = fd;
  transfer->Data = std::move(data);
  transfer->Mime = served;
  transfer->Notifier = new QSocketNotifier(fd, QSocketNotifier::Write);
  transfer->Notifier->setEnabled(false);
  TTransfer& ref = *transfer;
  QObject::connect(transfer->Notifier, &QSocketNotifier::activated, &context_, [this, &ref] { Pump(ref); });
  transfers_.push_back(std::move(transfer));
  Pump(ref);
}

void TDataControlClipboard::Pump(TTransfer& transfer) {
  if (transfer.Data) {
    // A picture of this program is encoded into its file forms on a worker: its
    // request waits for them without holding up the event loop.
    const auto* picture = dynamic_cast<const TPictureMimeData*>(transfer.Data.get());
    if (picture && !picture->EncodingDone() && transfer.Mime.startsWith(QLatin1String("image/"))) {
      transfer.Notifier->setEnabled(false);
      QTimer::singleShot(kPictureRetryMs, &context_, [this, pending = &transfer] {
        for (auto& t : transfers_)
          if (t.get() == pending) return Pump(*t);  // unless it ended meanwhile
      });
      return;
    }
    transfer.Bytes = transfer.Data->data(transfer.Mime);
    transfer.Data.reset();
  }
  while (transfer.Done < transfer.Bytes.size()) {
    const qsizetype length = std::min(kWriteChunk, transfer.Bytes.size() - transfer.Done);
    const ssize_t n =
        write(transfer.Fd, transfer.Bytes.constData() + transfer.Done, static_cast<size_t>(length));
    if (n > 0) {
      transfer.Done += n;
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) {
      transfer.Notifier->setEnabled(true);  // on when the reader took some
      return;
    }
    break;  // the reader went away: nothing more to do
  }
  EndTransfer(transfer);
}

void TDataControlClipboard::EndTransfer(TTransfer& transfer) {
  transfer.Notifier->setEnabled(false);
  transfer.Notifier->deleteLater();  // this may run inside its own signal
  close(transfer.Fd);
  transfers_.remove_if([&transfer](const std::unique_ptr<TTransfer>& t) { return t.get() == &transfer; });
}

}  // namespace qb::qt::wayland
