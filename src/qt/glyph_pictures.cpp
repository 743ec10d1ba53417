#include "qt/glyph_pictures.h"

#include <QByteArray>
#include <QFile>
#include <QImageReader>
#include <algorithm>
#include <set>

#include "platform/errors.h"
#include "platform/picture.h"
#include "qt/qt_text.h"

namespace qb::qt {

namespace {

// No picture file this large holds a glyph.
constexpr qint64 kMaxPictureFileBytes = 16 << 20;

bool TooLarge(int width, int height) {
  return width > glyphs::kGlyphSize || height > glyphs::kGlyphSize;
}

}  // namespace

glyphs::TGlyphPicture ReadGlyphPicture(const std::string& path) {
  QFile file(FromUtf8(path));
  if (!file.open(QIODevice::ReadOnly)) throw EFOpenError(path, ToUtf8(file.errorString()));
  if (file.size() > kMaxPictureFileBytes) throw EInvalidGraphic(kInvalidBitmapText);
  const QByteArray bytes = file.readAll();
  file.close();
  if (bytes.startsWith("BM")) {
    // Our own reader keeps the file's depth and palette.
    try {
      return glyphs::ReadBmpPicture(std::vector<uint8_t>(bytes.begin(), bytes.end()));
    } catch (const EInvalidGraphic&) {
      // Qt may still read it.
    }
  }
  QImageReader reader(FromUtf8(path));
  reader.setAutoTransform(true);
  const QSize declared = reader.size();
  if (declared.isValid() && TooLarge(declared.width(), declared.height()))
    return glyphs::TGlyphPicture{declared.width(), declared.height(), {}};
  const QImage image = reader.read();
  if (image.isNull()) throw EInvalidGraphic(kInvalidBitmapText);
  if (TooLarge(image.width(), image.height()))
    return glyphs::TGlyphPicture{image.width(), image.height(), {}};
  const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
  std::vector<uint32_t> pixels;
  pixels.reserve(static_cast<size_t>(argb.width()) * static_cast<size_t>(argb.height()));
  for (int y = 0; y < argb.height(); ++y) {
    const auto* line = reinterpret_cast<const QRgb*>(argb.constScanLine(y));
    pixels.insert(pixels.end(), line, line + argb.width());
  }
  return glyphs::PictureFromArgb(argb.width(), argb.height(), pixels);
}

QImage UserGlyphImage(const glyphs::TUserGlyph& glyph) {
  if (glyph.Bitmap.empty()) return QImage();
  return QImage::fromData(reinterpret_cast<const uchar*>(glyph.Bitmap.data()),
                          static_cast<int>(glyph.Bitmap.size()), "BMP");
}

std::vector<QImage> UserGlyphImages(const std::vector<glyphs::TUserGlyph>& glyphs) {
  std::vector<QImage> images;
  images.reserve(glyphs.size());
  for (const glyphs::TUserGlyph& glyph : glyphs) images.push_back(UserGlyphImage(glyph));
  return images;
}

std::string PictureFileFilter() {
  std::set<std::string> suffixes;
  for (const QByteArray& format : QImageReader::supportedImageFormats())
    suffixes.insert(format.toLower().toStdString());
  suffixes.insert("bmp");
  std::string patterns;
  for (const std::string& suffix : suffixes) {
    if (suffix.find_first_of(" ;|()") != std::string::npos) continue;
    if (!patterns.empty()) patterns += ';';
    patterns += "*." + suffix;
  }
  return "Pictures|" + patterns + "|Bitmaps (*.bmp)|*.bmp|All files (*)|*";
}

}  // namespace qb::qt
