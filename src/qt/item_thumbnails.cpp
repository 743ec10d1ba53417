#include "qt/item_thumbnails.h"

#include <QBuffer>
#include <algorithm>
#include <cmath>
#include <span>

#include "platform/errors.h"
#include "platform/picture.h"
#include "qt/clipboard_view.h"
#include "store/item_metadata.h"
#include "zip/zip_reader.h"

namespace qb::qt {

namespace {

std::optional<std::string> RegisteredName(std::optional<long long> format,
                                          const TClipboardFormatRegistry& registry) {
  if (!format || *format < TClipboardFormatRegistry::kFirstNumber ||
      *format > TClipboardFormatRegistry::kLastNumber)
    return std::nullopt;
  return registry.NameOf(static_cast<uint32_t>(*format));
}

QImage FromBmp(std::span<const uint8_t> bytes) {
  // Our own reader checks the bitmap (sizes, offsets, limits) before anything
  // is drawn; the bitmaps of screenshots and photographs convert directly.
  const TDib dib = TDib::ReadBmp(bytes);
  QImage image = ImageFromDib(dib);
  if (!image.isNull()) return image;
  const std::vector<uint8_t> file = dib.WriteBmp();
  return QImage::fromData(file.data(), static_cast<int>(file.size()), "BMP");
}

QImage FromFileImage(std::span<const uint8_t> bytes) {
  switch (RecognizePictureFile(bytes)) {
    case TPictureFileType::Bmp:
      return FromBmp(bytes);
    case TPictureFileType::Ico:
      return QImage::fromData(bytes.data(), static_cast<int>(bytes.size()), "ICO");
    case TPictureFileType::Png:
    case TPictureFileType::Jpeg:
    case TPictureFileType::Gif:
      return QImage::fromData(bytes.data(), static_cast<int>(bytes.size()));
    default:
      return QImage();  // metafiles are not drawn here; unknown bytes are not tried
  }
}

// The whole payload of entry path, or nothing when it is missing, too large or
// damaged.
std::optional<std::string> ReadPayload(const std::string& cabinet, const std::string& path) {
  zip::TZipReader zip;
  zip.SetDoProcessMessages(false);
  zip.SetZipName(cabinet);
  zip.ReadDirectory();
  for (int i = 0; i < zip.EntryCount(); ++i) {
    const zip::TZipHeaderInfo& entry = zip.Entry(i);
    if (entry.file_name.empty() || entry.FullName() != path) continue;
    if (entry.uncompressed_size > TItemThumbnails::kMaxPayload) return std::nullopt;
    std::string payload;
    payload.reserve(static_cast<size_t>(entry.uncompressed_size));
    const std::string problem = zip.CheckEntry(i, [&](const uint8_t* data, size_t size) {
      if (payload.size() + size > TItemThumbnails::kMaxPayload) return false;
      payload.append(reinterpret_cast<const char*>(data), size);
      return true;
    });
    if (!problem.empty() || payload.size() != entry.uncompressed_size) return std::nullopt;
    return payload;
  }
  return std::nullopt;
}

QString DataUrl(const QImage& image) {
  QByteArray png;
  QBuffer buffer(&png);
  buffer.open(QIODevice::WriteOnly);
  if (!image.save(&buffer, "PNG")) return QString();
  return "data:image/png;base64," + QString::fromLatin1(png.toBase64());
}

}  // namespace

bool HasThumbnail(std::optional<long long> format, const TClipboardFormatRegistry& registry) {
  if (format == store::kFormatBitmap) return true;
  const std::optional<std::string> name = RegisteredName(format, registry);
  return name == kDelphiPictureFormatName || name == kDelphiIconFormatName;
}

QImage ThumbnailImage(std::optional<long long> format, std::string_view payload, int size,
                      const TClipboardFormatRegistry& registry) {
  if (!HasThumbnail(format, registry)) return QImage();
  const std::span<const uint8_t> bytes(reinterpret_cast<const uint8_t*>(payload.data()), payload.size());
  QImage image;
  try {
    image = format == store::kFormatBitmap ? FromBmp(bytes) : FromFileImage(bytes);
  } catch (const std::exception&) {
    return QImage();  // not a picture after all, or out of memory
  }
  if (image.isNull() || image.width() <= 0 || image.height() <= 0) return QImage();
  if (image.width() <= size && image.height() <= size) return image;
  const double scale =
      std::min(static_cast<double>(size) / image.width(), static_cast<double>(size) / image.height());
  // A very thin picture keeps at least one pixel across.
  const int width = std::clamp(static_cast<int>(std::lround(image.width() * scale)), 1, size);
  const int height = std::clamp(static_cast<int>(std::lround(image.height() * scale)), 1, size);
  return image.scaled(width, height, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

TItemThumbnails::TItemThumbnails(TRunner runner) : runner_(std::move(runner)) {}

TItemThumbnails::~TItemThumbnails() {
  *alive_ = false;
}

QString TItemThumbnails::Find(const std::string& cabinet, const std::string& path,
                              std::optional<long long> format) {
  if (cabinet.empty() || !HasThumbnail(format)) return QString();
  TKey key{cabinet, zip::StampOf(cabinet), path};
  for (auto it = kept_.begin(); it != kept_.end(); ++it)
    if (it->first == key) {
      kept_.splice(kept_.begin(), kept_, it);
      return kept_.front().second;
    }
  if (running_ && running_key_ == key) return QString();
  TRequest request{std::move(key), format};
  if (running_)
    waiting_ = std::move(request);
  else
    Start(std::move(request));
  return QString();
}

void TItemThumbnails::Start(TRequest request) {
  running_ = true;
  running_key_ = request.key;
  auto url = std::make_shared<QString>();
  std::weak_ptr<bool> alive = alive_;
  runner_(
      [key = request.key, format = request.format, url] {
        try {
          if (std::optional<std::string> payload = ReadPayload(key.cabinet, key.path))
            *url = DataUrl(ThumbnailImage(format, *payload, kSize));
        } catch (const std::exception&) {
          // A cabinet that cannot be read now: no thumbnail.
        }
      },
      [this, alive, key = request.key, url] {
        if (alive.expired()) return;
        running_ = false;
        kept_.emplace_front(key, *url);
        if (kept_.size() > kKept) kept_.pop_back();
        if (waiting_) {
          TRequest next = std::move(*waiting_);
          waiting_.reset();
          Start(std::move(next));
        }
        if (OnReady) OnReady(key.path);
      });
}

}  // namespace qb::qt
