// Thumbnails of picture payloads: the kinds of picture an item can hold, the
// size they are brought to, and payloads that are no picture at all.
#include "qt/item_thumbnails.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QImage>

#include "platform/picture.h"
#include "store/item_metadata.h"

namespace qb::qt {
namespace {

std::string Bytes(const std::vector<uint8_t>& bytes) {
  return std::string(bytes.begin(), bytes.end());
}

std::string Png(const QImage& image) {
  QByteArray png;
  QBuffer buffer(&png);
  buffer.open(QIODevice::WriteOnly);
  image.save(&buffer, "PNG");
  return png.toStdString();
}

TEST(ItemThumbnails, PicturesOfEveryKindAreFittedIntoTheSquare) {
  // An 8-bit bitmap with a colour table (not one of the bitmaps converted
  // directly): pixel 0 is the table's first colour.
  TDib palette(300, 600, 8);
  palette.SetPalette({Rgb(0, 200, 0), Rgb(0, 0, 0)});
  const QImage from_palette = ThumbnailImage(store::kFormatBitmap, Bytes(palette.WriteBmp()), 256);
  EXPECT_EQ(from_palette.size(), QSize(128, 256));
  EXPECT_EQ(QColor(from_palette.pixel(60, 100)), QColor(0, 200, 0));

  // A very thin one keeps a pixel across; a small one keeps its size.
  EXPECT_EQ(ThumbnailImage(store::kFormatBitmap, Bytes(TDib(3000, 2, 24).WriteBmp()), 256).size(),
            QSize(256, 1));
  EXPECT_EQ(ThumbnailImage(store::kFormatBitmap, Bytes(TDib(16, 16, 32).WriteBmp()), 256).size(),
            QSize(16, 16));

  // A "Delphi Picture" holds a picture file of any kind.
  TClipboardFormatRegistry registry;
  RegisterProgramFormats(registry);
  const long long picture = *registry.Find(kDelphiPictureFormatName);
  QImage blue(512, 100, QImage::Format_RGB32);
  blue.fill(Qt::blue);
  const QImage from_png = ThumbnailImage(picture, Png(blue), 256, registry);
  EXPECT_EQ(from_png.size(), QSize(256, 50));
  EXPECT_EQ(QColor(from_png.pixel(100, 25)), QColor(Qt::blue));
}

TEST(ItemThumbnails, WhatIsNoPictureGivesNone) {
  TClipboardFormatRegistry registry;
  RegisterProgramFormats(registry);
  const long long picture = *registry.Find(kDelphiPictureFormatName);
  const std::string bmp = Bytes(TDib(100, 100, 24).WriteBmp());
  EXPECT_TRUE(ThumbnailImage(store::kFormatBitmap, bmp.substr(0, 200), 256, registry).isNull());  // cut short
  EXPECT_TRUE(ThumbnailImage(store::kFormatBitmap, "BM not really", 256, registry).isNull());
  EXPECT_TRUE(ThumbnailImage(picture, "\x89PNG\r\n\x1a\n and then nothing", 256, registry).isNull());
  EXPECT_TRUE(ThumbnailImage(picture, "", 256, registry).isNull());
  // Text, and items of no format, are no pictures whatever they hold.
  EXPECT_TRUE(ThumbnailImage(store::kFormatText, bmp, 256, registry).isNull());
  EXPECT_TRUE(ThumbnailImage(std::nullopt, bmp, 256, registry).isNull());
  EXPECT_FALSE(HasThumbnail(store::kFormatEnhancedMetafile, registry));
}

}  // namespace
}  // namespace qb::qt
