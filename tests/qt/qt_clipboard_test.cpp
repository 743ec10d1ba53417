// The desktop clipboard through the program's clipboard interface.
#include "qt/qt_clipboard.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QClipboard>
#include <QColor>
#include <QGuiApplication>
#include <QImage>
#include <QMimeData>
#include <QTest>

namespace qb::qt {
namespace {

void PutMime(std::initializer_list<std::pair<const char*, QByteArray>> formats) {
  auto* data = new QMimeData;
  for (const auto& [mime, bytes] : formats) data->setData(mime, bytes);
  QGuiApplication::clipboard()->setMimeData(data);
}

TEST(QtClipboard, TextReadsWithItsZeroByteAndOemTextIsMadeFromIt) {
  TQtClipboard clipboard;
  QGuiApplication::clipboard()->setText(QString::fromUtf8("caf\xC3\xA9 \xE2\x82\xAC"));
  EXPECT_TRUE(clipboard.HasFormat(CF_TEXT));
  EXPECT_TRUE(clipboard.HasFormat(CF_OEMTEXT));
  TClipboardLock lock(clipboard);
  auto text = clipboard.GetBlock(CF_TEXT);
  ASSERT_TRUE(text);
  EXPECT_EQ(std::string(text->begin(), text->end()), std::string("caf\xC3\xA9 \xE2\x82\xAC\0", 10));
  auto oem = clipboard.GetBlock(CF_OEMTEXT);
  ASSERT_TRUE(oem);
  EXPECT_EQ(std::string(oem->begin(), oem->end()),
            std::string("caf\x82 ?\0", 7));  // no euro in code page 437
}

TEST(QtClipboard, OpenTwiceFailsAndWritesAppearOnClose) {
  TQtClipboard clipboard;
  int changes = 0;
  clipboard.SetOnChange([&] { ++changes; });
  clipboard.Open();
  try {
    clipboard.Open();
    FAIL();
  } catch (const EClipboardError& e) {
    EXPECT_STREQ(e.what(), "Cannot open clipboard");
  }
  clipboard.Empty();
  std::string block("stored text\0\0\0", 14);  // slack after the zero byte
  EXPECT_TRUE(clipboard.SetBlock(CF_TEXT, std::vector<uint8_t>(block.begin(), block.end())));
  EXPECT_NE(QGuiApplication::clipboard()->text().toStdString(), "stored text");  // not before Close
  clipboard.Close();
  EXPECT_EQ(QGuiApplication::clipboard()->text().toStdString(), "stored text");
  EXPECT_GE(changes, 1);
  clipboard.Open();
  EXPECT_FALSE(clipboard.SetBlock(CF_BITMAP, {}));  // an object format takes no block
  EXPECT_FALSE(clipboard.SetBlock(0, {'x'}));
  clipboard.Close();
  EXPECT_THROW(clipboard.Empty(), EClipboardError);  // not open
}

TEST(QtClipboard, UnknownMimeTypesTravelAsRegisteredFormats) {
  TQtClipboard clipboard;
  PutMime({{"text/html", QByteArray("<b>x</b>")},
           {"application/x-qt-windows-mime;value=\"Delphi Component\"", QByteArray("TPF0 component")}});
  auto formats = clipboard.Formats();
  uint32_t html = clipboard.Registry().Register("text/html");
  uint32_t component = clipboard.Registry().Register("Delphi Component");
  EXPECT_NE(std::find(formats.begin(), formats.end(), html), formats.end());
  EXPECT_NE(std::find(formats.begin(), formats.end(), component), formats.end());
  {
    TClipboardLock lock(clipboard);
    auto bytes = clipboard.GetBlock(component);
    ASSERT_TRUE(bytes);
    EXPECT_EQ(std::string(bytes->begin(), bytes->end()), "TPF0 component");
    // Put back under its number: the same MIME type again.
    clipboard.Empty();
    clipboard.SetBlock(html, {'<', 'i', '>'});
  }
  EXPECT_EQ(QGuiApplication::clipboard()->mimeData()->data("text/html"), QByteArray("<i>"));
}

TEST(QtClipboard, MimeTypesWithoutASlashRoundTripExactly) {
  TQtClipboard clipboard;
  // As a password manager copies a secret on X11: the text and a hint target.
  PutMime({{"text/plain", QByteArray("hunter2")},
           {"x-kde-passwordManagerHint", QByteArray("secret")},
           {"COMPOUND_TEXT", QByteArray("raw target")}});
  EXPECT_TRUE(IsSecretClip(clipboard));
  const uint32_t hint = clipboard.Registry().Register("x-kde-passwordManagerHint");
  const uint32_t compound = clipboard.Registry().Register("COMPOUND_TEXT");
  EXPECT_TRUE(clipboard.HasFormat(compound));
  {
    TClipboardLock lock(clipboard);
    auto raw = clipboard.GetBlock(compound);
    ASSERT_TRUE(raw);
    EXPECT_EQ(std::string(raw->begin(), raw->end()), "raw target");
    // Put back under the same numbers: the same MIME types, not Qt's form for
    // registered names.
    clipboard.Empty();
    clipboard.SetBlock(hint, {'s', 'e', 'c', 'r', 'e', 't'});
    clipboard.SetBlock(compound, {'b', 'a', 'c', 'k'});
  }
  const QMimeData* data = QGuiApplication::clipboard()->mimeData();
  EXPECT_EQ(data->data("x-kde-passwordManagerHint"), QByteArray("secret"));
  EXPECT_EQ(data->data("COMPOUND_TEXT"), QByteArray("back"));
  for (const QString& mime : data->formats()) EXPECT_FALSE(mime.startsWith("application/x-qt-windows-mime"));
  EXPECT_EQ(clipboard.MimeTypeOf(hint), "x-kde-passwordManagerHint");

  // The program's own formats, never seen on the clipboard, use Qt's form.
  EXPECT_EQ(clipboard.MimeTypeOf(clipboard.Registry().Register("Delphi Icon")),
            "application/x-qt-windows-mime;value=\"Delphi Icon\"");
}

TEST(QtClipboard, BitmapsRoundTripThroughImages) {
  TQtClipboard clipboard;
  QImage image(3, 2, QImage::Format_RGB32);
  image.fill(QColor(10, 20, 30));
  image.setPixelColor(2, 1, QColor(200, 100, 50));
  QGuiApplication::clipboard()->setImage(image);
  ASSERT_TRUE(clipboard.HasFormat(CF_BITMAP));
  TDib dib;
  {
    TClipboardLock lock(clipboard);
    auto got = clipboard.GetBitmap();
    ASSERT_TRUE(got);
    dib = *got;
  }
  EXPECT_EQ(dib.Width(), 3);
  EXPECT_EQ(dib.Height(), 2);
  EXPECT_EQ(dib.PixelColor(2, 1).Red, 200);
  {
    TClipboardLock lock(clipboard);
    clipboard.Empty();
    clipboard.SetBitmap(dib);
  }
  QImage back = QGuiApplication::clipboard()->image();
  ASSERT_FALSE(back.isNull());
  EXPECT_EQ(back.pixelColor(2, 1), QColor(200, 100, 50));
  EXPECT_EQ(back.pixelColor(0, 0), QColor(10, 20, 30));
}

// A picture put on the clipboard is offered to other programs as PNG and BMP,
// encoded once ahead of the first request: every request is served the same bytes,
// which decode to the picture, whatever its bit count.
TEST(QtClipboard, PicturesAreOfferedAsPngEncodedOnce) {
  TQtClipboard clipboard;
  TDib dib(301, 7, 24);  // an odd width: rows of 903 bytes, padded to 904
  for (int y = 0; y < dib.Height(); ++y)
    for (int x = 0; x < dib.Width(); ++x)
      dib.SetPixel(x, y, static_cast<uint32_t>((x * 7 + y * 50) << 16 | (x ^ y) << 8 | (255 - x % 256)));
  {
    TClipboardLock lock(clipboard);
    clipboard.Empty();
    clipboard.SetBlock(CF_TEXT, {'t', 0});
    clipboard.SetBitmap(dib);
  }
  const QMimeData* data = QGuiApplication::clipboard()->mimeData();
  ASSERT_NE(data, nullptr);
  EXPECT_TRUE(data->formats().contains(QStringLiteral("image/png")));
  EXPECT_TRUE(data->formats().contains(QStringLiteral("image/bmp")));
  EXPECT_EQ(data->text(), QStringLiteral("t"));  // the other formats stay
  const QByteArray png = data->data(QStringLiteral("image/png"));
  EXPECT_EQ(data->data(QStringLiteral("image/png")).constData(),
            png.constData());  // the same bytes, not again
  const QImage decoded = QImage::fromData(png, "PNG");
  ASSERT_EQ(decoded.size(), QSize(301, 7));
  const QImage bmp = QImage::fromData(data->data(QStringLiteral("image/bmp")), "BMP");
  ASSERT_EQ(bmp.size(), QSize(301, 7));
  for (int y = 0; y < 7; ++y)
    for (int x = 0; x < 301; ++x) {
      const TRgbQuad c = dib.PixelColor(x, y);
      ASSERT_EQ(decoded.pixelColor(x, y), QColor(c.Red, c.Green, c.Blue)) << x << "," << y;
      ASSERT_EQ(bmp.pixelColor(x, y), QColor(c.Red, c.Green, c.Blue)) << x << "," << y;
    }
  EXPECT_EQ(QGuiApplication::clipboard()->image().pixelColor(5, 3), decoded.pixelColor(5, 3));
  // Read back by the program: the picture itself.
  {
    TClipboardLock lock(clipboard);
    EXPECT_EQ(clipboard.GetBitmap(), std::optional<TDib>(dib));
    clipboard.SetBlock(CF_WAVE, {'R', 'I', 'F', 'F'});  // another format keeps the picture
  }
  EXPECT_EQ(QGuiApplication::clipboard()->mimeData()->data(QStringLiteral("image/png")), png);

  // A palettised bitmap and a tall one-pixel one: PNG rows of other shapes.
  for (TDib other : {TDib(5, 4, 8), TDib(1, 300, 32)}) {
    if (other.BitCount() == 8) {
      other.SetPalette({Rgb(0, 0, 0), Rgb(255, 0, 0), Rgb(0, 255, 0)});
      other.SetPixel(3, 2, 1);
      other.SetPixel(4, 3, 2);
    } else {
      other.SetPixel(0, 150, 0x00123456);
    }
    {
      TClipboardLock lock(clipboard);
      clipboard.Empty();
      clipboard.SetBitmap(other);
    }
    const QImage got = QImage::fromData(QGuiApplication::clipboard()->mimeData()->data("image/png"), "PNG");
    ASSERT_EQ(got.size(), QSize(other.Width(), other.Height()));
    for (int y = 0; y < other.Height(); ++y)
      for (int x = 0; x < other.Width(); ++x) {
        const TRgbQuad c = other.PixelColor(x, y);
        ASSERT_EQ(got.pixelColor(x, y), QColor(c.Red, c.Green, c.Blue)) << x << "," << y;
      }
  }
}

// Another program's picture is fetched at once and decoded on a worker thread,
// once per clip: every reader of the same clip gets the same decoding, the
// bitmap-ready notification says when it is done, and a clip that replaces it
// gets its own. Broken picture bytes give no bitmap rather than a failure.
TEST(QtClipboard, AnotherProgramsPictureIsDecodedOnceAside) {
  TQtClipboard clipboard;
  int ready = 0;
  clipboard.SetOnBitmapReady([&] { ++ready; });
  QImage image(640, 480, QImage::Format_RGB32);
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x) image.setPixel(x, y, qRgb(x % 256, (x * y) % 251, y % 256));
  QByteArray png;
  {
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    ASSERT_TRUE(image.save(&buffer, "PNG"));
  }
  PutMime({{"image/png", png}, {"text/html", "<img>"}});
  TBitmapFuture first, second;
  {
    TClipboardLock lock(clipboard);
    first = clipboard.GetBitmapLater();
    second = clipboard.GetBitmapLater();
  }
  ASSERT_TRUE(first.valid());
  const std::optional<TDib>& dib = first.get();
  EXPECT_EQ(&second.get(), &dib);  // one decoding for both readers
  ASSERT_TRUE(dib);
  ASSERT_EQ(dib->Width(), 640);
  ASSERT_EQ(dib->Height(), 480);
  for (int y = 0; y < 480; y += 7)
    for (int x = 0; x < 640; x += 5) {
      const TRgbQuad c = dib->PixelColor(x, y);
      ASSERT_EQ(qRgb(c.Red, c.Green, c.Blue), image.pixel(x, y)) << x << "," << y;
    }
  for (int i = 0; i < 100 && ready == 0; ++i) QTest::qWait(10);
  EXPECT_EQ(ready, 1);
  {
    TClipboardLock lock(clipboard);
    EXPECT_EQ(clipboard.GetBitmap(), dib);  // the same picture, read at once
  }

  // The next clip is decoded anew.
  image.fill(qRgb(1, 2, 3));
  png.clear();
  {
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
  }
  PutMime({{"image/png", png}});
  {
    TClipboardLock lock(clipboard);
    const TBitmapFuture next = clipboard.GetBitmapLater();
    ASSERT_TRUE(next.get());
    EXPECT_EQ(next.get()->PixelColor(9, 9), Rgb(1, 2, 3));
  }

  // Bytes that are no picture.
  PutMime({{"image/png", QByteArrayLiteral("\x89PNG\r\n\x1a\n broken")}});
  {
    TClipboardLock lock(clipboard);
    EXPECT_FALSE(clipboard.GetBitmapLater().get());
    EXPECT_FALSE(clipboard.GetBitmap());
  }
}

}  // namespace
}  // namespace qb::qt
