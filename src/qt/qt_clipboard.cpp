#include "qt/qt_clipboard.h"

#include <QBuffer>
#include <QClipboard>
#include <QGuiApplication>
#include <QImage>
#include <QImageReader>
#include <QMimeData>
#include <QThreadPool>
#include <QTimer>

#include "clipboard/png_image.h"
#include "platform/codepage.h"

namespace qb::qt {
namespace {

constexpr const char* kTextMime = "text/plain";
constexpr const char* kWaveMime = "audio/wav";
constexpr const char* kEmfMime = "image/emf";
constexpr const char* kPaletteMime = "application/x-qt-windows-mime;value=\"Palette\"";
constexpr const char* kWindowsMimePrefix = "application/x-qt-windows-mime;value=\"";
constexpr const char* kPngMime = "image/png";
constexpr const char* kBmpMime = "image/bmp";
constexpr const char* kQtImageMime = "application/x-qt-image";

QByteArray ToQBytes(const std::vector<uint8_t>& bytes) {
  return QByteArray(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size()));
}
std::vector<uint8_t> FromQBytes(const QByteArray& bytes) {
  return std::vector<uint8_t>(bytes.begin(), bytes.end());
}

// The MIME types a picture travels as (the picture's own data answers them).
bool IsPictureMime(const QString& mime) {
  if (mime == QLatin1String(kQtImageMime)) return true;
  return mime.startsWith(QLatin1String("image/")) && mime != QLatin1String(kEmfMime) &&
         mime != QLatin1String("image/x-emf");
}

// The registered name a MIME type stands for, or "" for the types with numbers of
// their own: the name inside Qt's form for a Windows registered format, else the
// MIME type itself, exactly as the clipboard offers it.
std::string RegisteredNameOf(const QString& mime) {
  if (mime.startsWith(QLatin1String(kWindowsMimePrefix)) && mime.endsWith('"')) {
    QString name = mime.mid(static_cast<qsizetype>(std::strlen(kWindowsMimePrefix)));
    name.chop(1);
    if (name == QLatin1String("Palette")) return {};
    return name.toStdString();
  }
  if (mime.startsWith(QLatin1String("text/plain")) || mime.startsWith(QLatin1String("image/")) ||
      mime == QLatin1String("audio/wav") || mime == QLatin1String("audio/x-wav") ||
      mime == QLatin1String("application/x-qt-image"))
    return {};
  return mime.toStdString();
}

}  // namespace

// --- pictures for other programs -------------------------------------------------------

TPictureMimeData::Encoded::Encoded(TDib bitmap) : Bitmap(std::move(bitmap)) {}

TPictureMimeData::TPictureMimeData(TDib bitmap) : encoded_(std::make_shared<Encoded>(std::move(bitmap))) {
  // The worker holds the state, not this object: the clipboard may drop the data
  // (a new copy) while the encoding runs, which then finishes into nothing.
  std::shared_ptr<Encoded> state = encoded_;
  QThreadPool::globalInstance()->start([state] {
    try {
      state->Bmp = ToQBytes(state->Bitmap.WriteBmp());
      state->Png = ToQBytes(EncodePng(state->Bitmap));
    } catch (...) {
      // Out of memory: the picture is offered as nothing rather than not at all.
    }
    state->Done.set_value();
  });
}

TPictureMimeData::TPictureMimeData(std::shared_ptr<Encoded> encoded) : encoded_(std::move(encoded)) {}

TPictureMimeData::~TPictureMimeData() = default;

std::unique_ptr<TPictureMimeData> TPictureMimeData::SamePicture() const {
  return std::unique_ptr<TPictureMimeData>(new TPictureMimeData(encoded_));
}

const TPictureMimeData::Encoded& TPictureMimeData::Wait() const {
  encoded_->Ready.wait();
  return *encoded_;
}

bool TPictureMimeData::EncodingDone() const {
  return encoded_->Ready.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
}

QStringList TPictureMimeData::formats() const {
  QStringList list = QMimeData::formats();
  for (const char* mime : {kPngMime, kBmpMime, kQtImageMime})
    if (!list.contains(QLatin1String(mime))) list.append(QLatin1String(mime));
  return list;
}

bool TPictureMimeData::hasFormat(const QString& mime) const {
  return formats().contains(mime);
}

QVariant TPictureMimeData::retrieveData(const QString& mime, QMetaType type) const {
  if (mime == QLatin1String(kPngMime)) return Wait().Png;
  if (mime == QLatin1String(kBmpMime)) return Wait().Bmp;
  if (mime == QLatin1String(kQtImageMime)) {
    const QImage image = QImage::fromData(Wait().Bmp, "BMP");
    return image;
  }
  return QMimeData::retrieveData(mime, type);
}

// --- the clipboard ----------------------------------------------------------------------

namespace {

class TQtDesktopClipboard : public IDesktopClipboard {
 public:
  TQtDesktopClipboard() {
    QObject::connect(QGuiApplication::clipboard(), &QClipboard::dataChanged, &context_, [this] {
      if (OnChanged) OnChanged();
    });
  }
  const QMimeData* MimeData() const override { return QGuiApplication::clipboard()->mimeData(); }
  void SetMimeData(std::unique_ptr<QMimeData> data) override {
    QGuiApplication::clipboard()->setMimeData(data.release());
  }

 private:
  QObject context_;
};

}  // namespace

std::unique_ptr<IDesktopClipboard> QtDesktopClipboard() {
  return std::make_unique<TQtDesktopClipboard>();
}

TQtClipboard::TQtClipboard(std::unique_ptr<IDesktopClipboard> desktop)
    : desktop_(desktop ? std::move(desktop) : QtDesktopClipboard()) {
  desktop_->OnChanged = [this] {
    ++generation_;
    later_ = {};  // a decoding still running finishes into nothing
    NotifyChange();
  };
  decoding_watch_ = std::make_unique<QTimer>();
  decoding_watch_->setInterval(10);
  QObject::connect(decoding_watch_.get(), &QTimer::timeout, decoding_watch_.get(), [this] {
    if (later_.valid() && later_.wait_for(std::chrono::seconds(0)) != std::future_status::ready) return;
    decoding_watch_->stop();
    if (later_.valid()) NotifyBitmapReady();
  });
}

TQtClipboard::~TQtClipboard() = default;

void TQtClipboard::Open() {
  if (open_) throw EClipboardError(kCannotOpenClipboardText);
  open_ = true;
  pending_.reset();
}

void TQtClipboard::Close() {
  if (!open_) return;
  open_ = false;
  if (pending_) desktop_->SetMimeData(std::move(pending_));
}

void TQtClipboard::RequireOpen() const {
  if (!open_) throw EClipboardError("Clipboard is not open");
}

const QMimeData* TQtClipboard::Current() const {
  if (pending_) return pending_.get();
  return desktop_->MimeData();
}

QMimeData& TQtClipboard::Pending() {
  if (!pending_) {
    // Setting one format keeps the others: start from a copy of what is there (a
    // picture of ours as the same picture, not as bytes of every image type).
    const QMimeData* now = desktop_->MimeData();
    const auto* own = dynamic_cast<const TPictureMimeData*>(now);
    if (own)
      pending_ = own->SamePicture();
    else
      pending_ = std::make_unique<QMimeData>();
    if (now)
      for (const QString& mime : now->formats())
        if (!own || !IsPictureMime(mime)) pending_->setData(mime, now->data(mime));
  }
  return *pending_;
}

bool TQtClipboard::IsProgramFormatName(const std::string& name) {
  for (const char* own : {kDelphiPictureFormatName, kDelphiComponentFormatName, kDelphiIconFormatName})
    if (codepage::SameTextAscii(name, own)) return true;
  return false;
}

std::string TQtClipboard::MimeTypeOf(uint32_t format) const {
  switch (format) {
    case CF_TEXT:
    case CF_OEMTEXT:
      return kTextMime;
    case CF_BITMAP:
      return "image/bmp";
    case CF_WAVE:
      return kWaveMime;
    case CF_METAFILEPICT:
    case CF_ENHMETAFILE:
      return kEmfMime;
    case CF_PALETTE:
      return kPaletteMime;
    default:
      break;
  }
  auto name = Registry().NameOf(format);
  if (!name) return {};
  // The MIME type the format was last offered as goes back out unchanged; a
  // format never seen on the clipboard is the MIME type it is named by, except
  // the program's own formats, which travel in Qt's form for registered names.
  if (auto seen = seen_mime_.find(format); seen != seen_mime_.end()) return seen->second.toStdString();
  if (IsProgramFormatName(*name)) return kWindowsMimePrefix + *name + "\"";
  return *name;
}

QString TQtClipboard::OfferedMimeOf(const QMimeData& data, uint32_t format) const {
  for (const QString& mime : data.formats()) {
    const std::string name = RegisteredNameOf(mime);
    if (!name.empty() && Registry().Find(name) == format) return mime;
  }
  return {};
}

std::vector<uint32_t> TQtClipboard::Formats() const {
  std::vector<uint32_t> formats;
  const QMimeData* data = Current();
  if (!data) return formats;
  auto add = [&](uint32_t f) {
    if (std::find(formats.begin(), formats.end(), f) == formats.end()) formats.push_back(f);
  };
  for (const QString& mime : data->formats()) {
    if (mime.startsWith(QLatin1String("text/plain")))
      add(CF_TEXT);
    else if (mime == QLatin1String(kEmfMime) || mime == QLatin1String("image/x-emf"))
      add(CF_ENHMETAFILE);
    else if (mime.startsWith(QLatin1String("image/")) || mime == QLatin1String("application/x-qt-image"))
      add(CF_BITMAP);
    else if (mime == QLatin1String(kWaveMime) || mime == QLatin1String("audio/x-wav"))
      add(CF_WAVE);
    else if (mime == QLatin1String(kPaletteMime))
      add(CF_PALETTE);
    else if (auto name = RegisteredNameOf(mime); !name.empty()) {
      const uint32_t number = Registry().Register(name);
      if (number == 0) continue;
      seen_mime_[number] = mime;
      add(number);
    }
  }
  // Synthesised formats follow the real ones.
  if (std::count(formats.begin(), formats.end(), CF_TEXT)) add(CF_OEMTEXT);
  if (std::count(formats.begin(), formats.end(), CF_ENHMETAFILE)) add(CF_METAFILEPICT);
  return formats;
}

bool TQtClipboard::HasFormat(uint32_t format) const {
  auto formats = Formats();
  return std::find(formats.begin(), formats.end(), format) != formats.end();
}

void TQtClipboard::Empty() {
  RequireOpen();
  pending_ = std::make_unique<QMimeData>();
}

std::optional<std::vector<uint8_t>> TQtClipboard::GetBlock(uint32_t format) {
  RequireOpen();
  if (IsObjectFormat(format) || !HasFormat(format)) return std::nullopt;
  const QMimeData* data = Current();
  if (format == CF_TEXT || format == CF_OEMTEXT) {
    std::string text = data->text().toStdString();
    if (format == CF_OEMTEXT) {
      std::string oem;
      for (size_t i = 0; i < text.size();) {  // characters code page 437 lacks become '?'
        size_t len = 1;
        while (i + len < text.size() && (static_cast<uint8_t>(text[i + len]) & 0xC0) == 0x80) ++len;
        auto one = codepage::Utf8ToCp437(std::string_view(text).substr(i, len));
        oem += one ? *one : "?";
        i += len;
      }
      text = oem;
    }
    std::vector<uint8_t> block(text.begin(), text.end());
    block.push_back(0);
    return block;
  }
  if (format == CF_WAVE)
    return FromQBytes(data->hasFormat(kWaveMime) ? data->data(kWaveMime) : data->data("audio/x-wav"));
  // Read under the very MIME type that made the clipboard offer this format.
  const QString mime = OfferedMimeOf(*data, format);
  if (mime.isEmpty()) return std::nullopt;
  return FromQBytes(data->data(mime));
}

bool TQtClipboard::SetBlock(uint32_t format, std::vector<uint8_t> block) {
  RequireOpen();
  if (format == 0 || IsObjectFormat(format)) return false;
  if (format == CF_TEXT || format == CF_OEMTEXT) {
    std::string_view text = BlockText(block);
    std::string utf8 = format == CF_OEMTEXT ? codepage::Cp437ToUtf8(text) : codepage::BytesToUtf8(text);
    Pending().setText(QString::fromStdString(utf8));
    return true;
  }
  std::string mime = MimeTypeOf(format);
  if (mime.empty()) mime = "application/x-quiverbox-format-" + std::to_string(format);
  Pending().setData(QString::fromStdString(mime), ToQBytes(block));
  return true;
}

std::optional<TDib> TQtClipboard::GetBitmap() {
  RequireOpen();
  const QMimeData* data = Current();
  // A picture this program put there is taken as it is, without going through an image.
  if (const auto* own = dynamic_cast<const TPictureMimeData*>(data)) return own->Bitmap();
  if (pending_) {
    const std::optional<TImageSource> source = TakeImage(data);
    return source ? DecodeImage(*source) : std::nullopt;
  }
  return GetBitmapLater().get();
}

TBitmapFuture TQtClipboard::GetBitmapLater() {
  RequireOpen();
  const QMimeData* data = Current();
  if (pending_ || dynamic_cast<const TPictureMimeData*>(data)) return IClipboard::GetBitmapLater();
  // Another program's picture is fetched and decoded once per clip, however many
  // readers ask (the live view, then the save).
  if (later_.valid() && later_generation_ == generation_) return later_;
  later_generation_ = generation_;
  auto done = std::make_shared<std::promise<std::optional<TDib>>>();
  later_ = done->get_future().share();
  std::optional<TImageSource> source = TakeImage(data);
  if (!source) {
    done->set_value(std::nullopt);
    return later_;
  }
  QThreadPool::globalInstance()->start([done, taken = std::move(*source)] {
    try {
      done->set_value(DecodeImage(taken));
    } catch (...) {
      done->set_value(std::nullopt);  // out of memory: no picture
    }
  });
  WatchDecoding();
  return later_;
}

void TQtClipboard::WatchDecoding() {
  if (!decoding_watch_->isActive()) decoding_watch_->start();
}

std::optional<TQtClipboard::TImageSource> TQtClipboard::TakeImage(const QMimeData* data) {
  if (!data) return std::nullopt;
  // The file bytes of the first type Qt can read, PNG and BMP first (what most
  // programs offer); the transfer from the other program happens here, the
  // decoding later.
  QStringList offered = data->formats();
  std::stable_partition(offered.begin(), offered.end(), [](const QString& mime) {
    return mime == QLatin1String(kPngMime) || mime == QLatin1String(kBmpMime);
  });
  static const QList<QByteArray> readable = QImageReader::supportedMimeTypes();
  for (const QString& mime : offered) {
    if (mime == QLatin1String(kQtImageMime) || !IsPictureMime(mime) || !readable.contains(mime.toLatin1()))
      continue;
    QByteArray bytes = data->data(mime);
    if (!bytes.isEmpty()) return TImageSource{std::move(bytes), QImage()};
  }
  if (!data->hasImage()) return std::nullopt;
  QImage image = qvariant_cast<QImage>(data->imageData());
  if (image.isNull()) return std::nullopt;
  return TImageSource{QByteArray(), std::move(image)};
}

std::optional<TDib> TQtClipboard::DecodeImage(const TImageSource& source) {
  QImage image = source.Image.isNull() ? QImage::fromData(source.Encoded) : source.Image;
  if (image.isNull()) return std::nullopt;
  QByteArray bmp;
  QBuffer buffer(&bmp);
  buffer.open(QIODevice::WriteOnly);
  if (!image.convertToFormat(image.hasAlphaChannel() ? QImage::Format_ARGB32 : QImage::Format_RGB888)
           .save(&buffer, "BMP"))
    return std::nullopt;
  try {
    return TDib::ReadBmp(std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(bmp.constData()),
                                                  static_cast<size_t>(bmp.size())));
  } catch (const Exception&) {
    return std::nullopt;
  }
}

void TQtClipboard::SetBitmap(TDib bitmap) {
  RequireOpen();
  // The picture replaces the other pictures; every other format stays.
  auto picture = std::make_unique<TPictureMimeData>(std::move(bitmap));
  const QMimeData& before = Pending();
  for (const QString& mime : before.formats())
    if (!IsPictureMime(mime)) picture->setData(mime, before.data(mime));
  pending_ = std::move(picture);
}

std::optional<TLogPalette> TQtClipboard::GetPalette() {
  RequireOpen();
  const QMimeData* data = Current();
  if (!data || !data->hasFormat(kPaletteMime)) return std::nullopt;
  try {
    return ReadRiffPalette(FromQBytes(data->data(kPaletteMime)));
  } catch (const Exception&) {
    return std::nullopt;
  }
}

void TQtClipboard::SetPalette(TLogPalette palette) {
  RequireOpen();
  Pending().setData(kPaletteMime, ToQBytes(WriteRiffPalette(palette)));
}

std::optional<TMetafile> TQtClipboard::GetMetafile(uint32_t format) {
  RequireOpen();
  if (format != CF_METAFILEPICT && format != CF_ENHMETAFILE) return std::nullopt;
  const QMimeData* data = Current();
  if (!data) return std::nullopt;
  QByteArray bytes = data->hasFormat(kEmfMime) ? data->data(kEmfMime) : data->data("image/x-emf");
  if (bytes.isEmpty()) return std::nullopt;
  try {
    return TMetafile::Read(FromQBytes(bytes));
  } catch (const Exception&) {
    return std::nullopt;
  }
}

void TQtClipboard::SetMetafile(uint32_t, TMetafile metafile) {
  RequireOpen();
  Pending().setData(kEmfMime, ToQBytes(metafile.EmfBits()));
}

}  // namespace qb::qt
