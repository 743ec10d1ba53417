#include "qt/qt_clipboard.h"

#include <QBuffer>
#include <QClipboard>
#include <QGuiApplication>
#include <QImage>
#include <QMimeData>

#include "platform/codepage.h"

namespace qb::qt {
namespace {

constexpr const char* kTextMime = "text/plain";
constexpr const char* kWaveMime = "audio/wav";
constexpr const char* kEmfMime = "image/emf";
constexpr const char* kPaletteMime = "application/x-qt-windows-mime;value=\"Palette\"";
constexpr const char* kWindowsMimePrefix = "application/x-qt-windows-mime;value=\"";

QByteArray ToQBytes(const std::vector<uint8_t>& bytes) {
  return QByteArray(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size()));
}
std::vector<uint8_t> FromQBytes(const QByteArray& bytes) {
  return std::vector<uint8_t>(bytes.begin(), bytes.end());
}

// The registered name a MIME type stands for, or "" for the types with numbers of their own.
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

TQtClipboard::TQtClipboard() {
  QObject::connect(QGuiApplication::clipboard(), &QClipboard::dataChanged, &context_,
                   [this] { NotifyChange(); });
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
  if (pending_) QGuiApplication::clipboard()->setMimeData(pending_.release());
}

void TQtClipboard::RequireOpen() const {
  if (!open_) throw EClipboardError("Clipboard is not open");
}

const QMimeData* TQtClipboard::Current() const {
  if (pending_) return pending_.get();
  return QGuiApplication::clipboard()->mimeData();
}

QMimeData& TQtClipboard::Pending() {
  if (!pending_) {
    // Setting one format keeps the others: start from a copy of what is there.
    pending_ = std::make_unique<QMimeData>();
    if (const QMimeData* now = QGuiApplication::clipboard()->mimeData())
      for (const QString& mime : now->formats()) pending_->setData(mime, now->data(mime));
  }
  return *pending_;
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
  if (name->find('/') != std::string::npos) return *name;
  return kWindowsMimePrefix + *name + "\"";
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
    else if (auto name = RegisteredNameOf(mime); !name.empty())
      add(Registry().Register(name));
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
  std::string mime = MimeTypeOf(format);
  if (mime.empty()) return std::nullopt;
  return FromQBytes(data->data(QString::fromStdString(mime)));
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
  if (!data || !data->hasImage()) return std::nullopt;
  QImage image = qvariant_cast<QImage>(data->imageData());
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
  QImage image = QImage::fromData(ToQBytes(bitmap.WriteBmp()), "BMP");
  Pending().setImageData(image);
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
