// The main window over the desktop clipboard when another program copies a
// picture: the live view and AutoSave do not decode it on the UI thread, and what
// is stored is the picture, in the order of the copies.
#include <gtest/gtest.h>

#include <QBuffer>
#include <QClipboard>
#include <QDockWidget>
#include <QGuiApplication>
#include <QImage>
#include <QLabel>
#include <QMimeData>
#include <QTest>
#include <QTimer>
#include <functional>

#include "qt/clipboard_view.h"
#include "qt/main_window_fixture.h"
#include "qt/qt_clipboard.h"

namespace qb::qt {
namespace {

bool WaitFor(const std::function<bool()>& done) {
  for (int i = 0; i < 500 && !done(); ++i) QTest::qWait(10);
  return done();
}

// A noisy picture (so that its PNG takes a while to decode) as another program
// offers it: PNG bytes only.
QImage NoisyImage(int width, int height) {
  QImage image(width, height, QImage::Format_RGB32);
  uint32_t seed = 1;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      seed = seed * 1103515245u + 12345u;
      image.setPixel(x, y, qRgb((x + (seed >> 16)) & 0xFF, (y * 3) & 0xFF, (seed >> 24) & 0xFF));
    }
  return image;
}

void CopyAsPng(const QImage& image) {
  QByteArray png;
  QBuffer buffer(&png);
  buffer.open(QIODevice::WriteOnly);
  image.save(&buffer, "PNG");
  auto* data = new QMimeData;
  data->setData("image/png", png);
  QGuiApplication::clipboard()->setMimeData(data);
}

class PictureWindowTest : public MainWindowTest {
 protected:
  void SetUp() override {
    MainWindowTest::SetUp();
    window_.reset();
    QGuiApplication::clipboard()->clear();
    window_ = std::make_unique<TQtMainWindow>(TPaths::InFolder(dir_.Path().string()), &desktop_, &ui_);
    window_->resize(700, 500);
    window_->show();
    window_->OpenCabinet(cabinet_);
  }
  void TearDown() override {
    window_.reset();  // before the clipboard it reads
    QGuiApplication::clipboard()->clear();
  }
  TClipboardView& View() { return *window_->ClipboardView(); }

  TQtClipboard desktop_;
};

TEST_F(PictureWindowTest, TheLiveViewShowsAPictureOnceItIsDecodedAside) {
  const QImage image = NoisyImage(1600, 1200);
  CopyAsPng(image);
  // The change has been handled; the picture is still being decoded.
  EXPECT_EQ(View().ShownPage(), "placeholder");
  EXPECT_EQ(View().ShownText().toStdString(), kReadingPictureText);
  ASSERT_TRUE(WaitFor([&] { return View().ShownPage() == "picture"; }));
  QImage shown;
  for (const QLabel* label : View().findChildren<QLabel*>())
    if (!label->pixmap().isNull()) shown = label->pixmap().toImage();
  ASSERT_EQ(shown.size(), image.size());
  for (int y = 0; y < 1200; y += 37)
    for (int x = 0; x < 1600; x += 41) ASSERT_EQ(shown.pixel(x, y), image.pixel(x, y)) << x << "," << y;

  // A text copied before a picture's decoding ends is what the view shows.
  CopyAsPng(NoisyImage(1200, 900));
  QGuiApplication::clipboard()->setText("after the picture");
  QTest::qWait(300);
  EXPECT_EQ(View().ShownPage(), "text");
  EXPECT_EQ(View().ShownText().toStdString(), "after the picture");

  // So is a text copied once the picture is decoded but while the view may still
  // be converting it for the screen: that conversion is dropped.
  CopyAsPng(NoisyImage(1200, 900));
  const TClipboardViewer& viewer = window_->Form().ClipboardCommands().ClipboardViewer1();
  ASSERT_TRUE(WaitFor([&] { return viewer.Shown().LargeBitmap.valid(); }));
  QGuiApplication::clipboard()->setText("after the decoding");
  QTest::qWait(300);
  EXPECT_EQ(View().ShownPage(), "text");
  EXPECT_EQ(View().ShownText().toStdString(), "after the decoding");
}

TEST_F(PictureWindowTest, AutoSaveStoresAnotherProgramsPictureAndWhatFollowsItInOrder) {
  window_->Run(TCommand::AutoSaveMiClick);
  const QImage image = NoisyImage(1600, 1200);
  // A text copied while the picture's store waits for its decoding is stored after it.
  QTimer::singleShot(0, window_.get(), [] { QGuiApplication::clipboard()->setText("copied meanwhile"); });
  CopyAsPng(image);
  ASSERT_TRUE(WaitFor([&] { return Disk().size() == 4; }));
  EXPECT_TRUE(ui_.BoxLog().empty());
  const std::vector<TDiskEntry> disk = Disk();
  ASSERT_EQ(Names(disk), (std::vector<std::string>{"Code\\Snippet", "NewItems\\Item0", "NewItems\\Item1",
                                                   "NewItems\\Item2"}));
  EXPECT_EQ(store::ReadFormatNumber(disk[2].Comment), std::optional<long long>(CF_BITMAP));
  const TDib stored =
      TDib::ReadBmp(std::span(reinterpret_cast<const uint8_t*>(disk[2].Data.data()), disk[2].Data.size()));
  ASSERT_EQ(stored.Width(), 1600);
  ASSERT_EQ(stored.Height(), 1200);
  EXPECT_EQ(stored.BitCount(), 24);
  for (int y = 0; y < 1200; y += 13)
    for (int x = 0; x < 1600; x += 17) {
      const TRgbQuad c = stored.PixelColor(x, y);
      ASSERT_EQ(qRgb(c.Red, c.Green, c.Blue), image.pixel(x, y)) << x << "," << y;
    }
  EXPECT_EQ(disk[3].Data, std::string("copied meanwhile\0", 17));
}

}  // namespace
}  // namespace qb::qt
