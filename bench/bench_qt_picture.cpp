// A 4000 x 3000 photograph-like picture put on the clipboard and asked for as PNG
// by another program, as the program does it and as Qt alone would:
//  - PngEncode: one PNG encoding of the picture; ours (png_image.h, done once per
//    picture on a worker thread) beside Qt's own PNG writer at its default setting
//    (what Qt runs on the UI thread for every request when handed a plain image);
//  - SetBitmapOnUiThread: what putting the picture on the clipboard costs the UI
//    thread; ours beside the plain-image way (BMP to QImage, setImageData);
//  - FirstPasteRightAway: from putting the picture on the clipboard to having the
//    PNG bytes of a request that comes at once (the worst case: no head start).
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QBuffer>
#include <QClipboard>
#include <QGuiApplication>
#include <QImage>
#include <QMimeData>
#include <QTemporaryDir>
#include <QTimer>
#include <chrono>
#include <cmath>
#include <memory>

#include "clipboard/png_image.h"
#include "qt/clipboard_view.h"
#include "qt/main_window.h"
#include "qt/qt_clipboard.h"
#include "store/cabinet_store.h"

namespace {

// Smooth shading with sensor-like noise: compresses like a photograph does.
const qb::TDib& Photo() {
  static const qb::TDib dib = [] {
    constexpr int W = 4000, H = 3000;
    qb::TDib d(W, H, 24);
    uint32_t seed = 7;
    for (int y = 0; y < H; ++y)
      for (int x = 0; x < W; ++x) {
        seed = seed * 1103515245u + 12345u;
        const int noise = static_cast<int>((seed >> 16) % 9) - 4;
        const double v = 128 + 60 * std::sin(x / 300.0) * std::cos(y / 200.0);
        auto c = [](double value) {
          return static_cast<uint32_t>(std::clamp(static_cast<int>(value), 0, 255));
        };
        d.SetPixel(
            x, y,
            c(v + noise + x / 40.0) << 16 | c(v * 0.8 + noise + y / 30.0) << 8 | c(200 - v / 2 + noise));
      }
    return d;
  }();
  return dib;
}

void BM_PngEncode(benchmark::State& state) {
  const bool ours = state.range(0) == 1;
  const qb::TDib& dib = Photo();
  const std::vector<uint8_t> bmp = ours ? std::vector<uint8_t>() : dib.WriteBmp();
  const QImage image = ours ? QImage() : QImage::fromData(bmp.data(), static_cast<int>(bmp.size()), "BMP");
  size_t bytes = 0;
  for (auto _ : state) {
    if (ours) {
      bytes = qb::EncodePng(dib).size();
    } else {
      QByteArray png;
      QBuffer buffer(&png);
      buffer.open(QIODevice::WriteOnly);
      image.save(&buffer, "PNG");
      bytes = static_cast<size_t>(png.size());
    }
  }
  state.counters["png_MB"] = static_cast<double>(bytes) / 1e6;
  state.SetLabel(ours ? "ours" : "reference: Qt's PNG writer");
}
BENCHMARK(BM_PngEncode)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->Iterations(2);

void BM_SetBitmapOnUiThread(benchmark::State& state) {
  const bool ours = state.range(0) == 1;
  qb::qt::TQtClipboard clipboard;
  for (auto _ : state) {
    qb::TDib dib = Photo();  // the copy the caller hands over
    if (ours) {
      qb::TClipboardLock lock(clipboard);
      clipboard.Empty();
      clipboard.SetBitmap(std::move(dib));
    } else {
      const std::vector<uint8_t> bmp = dib.WriteBmp();
      auto* data = new QMimeData;
      data->setImageData(QImage::fromData(bmp.data(), static_cast<int>(bmp.size()), "BMP"));
      QGuiApplication::clipboard()->setMimeData(data);
    }
    state.PauseTiming();
    QGuiApplication::clipboard()->clear();  // waits for nothing; the worker finishes on its own
    state.ResumeTiming();
  }
  state.SetLabel(ours ? "ours" : "reference: a plain image");
}
BENCHMARK(BM_SetBitmapOnUiThread)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_FirstPasteRightAway(benchmark::State& state) {
  qb::qt::TQtClipboard clipboard;
  size_t bytes = 0;
  for (auto _ : state) {
    {
      qb::TClipboardLock lock(clipboard);
      clipboard.Empty();
      clipboard.SetBitmap(Photo());
    }
    bytes = static_cast<size_t>(QGuiApplication::clipboard()->mimeData()->data("image/png").size());
  }
  state.counters["png_MB"] = static_cast<double>(bytes) / 1e6;
}
BENCHMARK(BM_FirstPasteRightAway)->Unit(benchmark::kMillisecond)->Iterations(3);

// --- another program's picture, as the main window meets it ----------------------------

// The photograph as another program offers it: PNG bytes under image/png.
const QByteArray& ForeignPng() {
  static const QByteArray png = [] {
    const std::vector<uint8_t> bmp = Photo().WriteBmp();
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImage::fromData(bmp.data(), static_cast<int>(bmp.size()), "BMP").save(&buffer, "PNG", 90);
    return bytes;
  }();
  return png;
}

// What the desktop clipboard hands over on X11: the PNG bytes as they are, or an
// image decoded from them at the moment it is asked for.
class TForeignPicture : public QMimeData {
 public:
  QStringList formats() const override { return {"image/png", "application/x-qt-image"}; }
  bool hasFormat(const QString& mime) const override { return formats().contains(mime); }

 protected:
  QVariant retrieveData(const QString& mime, QMetaType type) const override {
    if (mime == "image/png") return ForeignPng();
    if (mime == "application/x-qt-image") return QImage::fromData(ForeignPng(), "PNG");
    return QMimeData::retrieveData(mime, type);
  }
};

void PutForeignPicture() {
  QGuiApplication::clipboard()->setMimeData(new TForeignPicture);
}

// Records the longest time the UI thread went without running its timers.
class TStallMeter {
 public:
  TStallMeter() {
    timer_.setInterval(1);
    QObject::connect(&timer_, &QTimer::timeout, [this] { Tick(); });
  }
  void Start() {
    longest_ = 0;
    last_ = Clock::now();
    timer_.start();
  }
  // Counts the time since the last tick too (a stall that ends now).
  double LongestMs() {
    Tick();
    timer_.stop();
    return longest_;
  }

 private:
  using Clock = std::chrono::steady_clock;
  void Tick() {
    const auto now = Clock::now();
    longest_ = std::max(longest_, std::chrono::duration<double, std::milli>(now - last_).count());
    last_ = now;
  }
  QTimer timer_;
  Clock::time_point last_;
  double longest_ = 0;
};

struct TWindowPlace {
  QTemporaryDir dir;
  std::string Cabinet() const { return (dir.path() + "/Pictures.qvf").toStdString(); }
};

// AutoSave of another program's picture: from the copy to the item in the cabinet,
// with the longest pause of the UI thread on the way. The reference is the decoding
// alone (PNG to a bitmap, as the clipboard layer does it), run on the UI thread.
void BM_AutoSaveForeignPicture(benchmark::State& state) {
  const bool ours = state.range(0) == 1;
  TWindowPlace place;
  qb::qt::TQtClipboard clipboard;
  std::unique_ptr<qb::qt::TQtMainWindow> window;
  if (ours) {
    {
      qb::zip::TZipWriter zip;
      qb::store::ConfigureCabinetArchive(zip);
      zip.SetZipName(place.Cabinet());
      qb::TMemoryStream one(std::string_view("one\0", 4));
      qb::store::SaveItem(zip, one, "NewItems\\Item0", 1);
    }
    window = std::make_unique<qb::qt::TQtMainWindow>(qb::TPaths::InFolder(place.dir.path().toStdString()),
                                                     &clipboard);
    window->show();
    window->OpenCabinet(place.Cabinet());
    window->Form().ClipboardCommands().SetAutoSave(true);
  }
  ForeignPng();  // made before the clock runs
  TStallMeter meter;
  double longest = 0;
  for (auto _ : state) {
    QGuiApplication::clipboard()->setText("between");  // stored too, with AutoSave on
    QCoreApplication::processEvents();
    meter.Start();
    if (ours) {
      const int before = window->Form().Zip1().EntryCount();
      PutForeignPicture();
      while (window->Form().Zip1().EntryCount() == before) QCoreApplication::processEvents();
    } else {
      PutForeignPicture();
      qb::TClipboardLock lock(clipboard);
      benchmark::DoNotOptimize(clipboard.GetBitmap());
    }
    QCoreApplication::processEvents();
    longest = std::max(longest, meter.LongestMs());
  }
  state.counters["longest_ui_pause_ms"] = longest;
  state.SetLabel(ours ? "ours: copy to stored item" : "reference: decoding it on the UI thread");
}
BENCHMARK(BM_AutoSaveForeignPicture)
    ->Arg(1)
    ->Arg(0)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(2)
    ->UseRealTime();

// Start-up with another program's picture on the clipboard: building and showing
// the main window, and the longest pause of the UI thread until the picture is
// shown. The reference is the same start with an empty clipboard.
void BM_StartWithPicture(benchmark::State& state) {
  const bool picture = state.range(0) == 1;
  TWindowPlace place;
  qb::qt::TQtClipboard clipboard;
  ForeignPng();
  TStallMeter meter;
  double longest = 0, shown_ms = 0;
  for (auto _ : state) {
    if (picture)
      PutForeignPicture();
    else
      QGuiApplication::clipboard()->clear();
    QCoreApplication::processEvents();
    meter.Start();
    const auto start = std::chrono::steady_clock::now();
    auto window = std::make_unique<qb::qt::TQtMainWindow>(
        qb::TPaths::InFolder(place.dir.path().toStdString()), &clipboard);
    window->show();
    QCoreApplication::processEvents();
    shown_ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    // Until the picture is on show (or at once without one).
    while (picture && window->ClipboardView()->ShownPage() != "picture") QCoreApplication::processEvents();
    longest = std::max(longest, meter.LongestMs());
  }
  state.counters["window_shown_ms"] = shown_ms;
  state.counters["longest_ui_pause_ms"] = longest;
  state.SetLabel(picture ? "ours: a 4000 x 3000 picture on the clipboard" : "reference: empty clipboard");
}
BENCHMARK(BM_StartWithPicture)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->Iterations(2)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  Q_INIT_RESOURCE(quiverbox);
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
