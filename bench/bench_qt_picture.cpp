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

#include <QBuffer>
#include <QClipboard>
#include <QGuiApplication>
#include <QImage>
#include <QMimeData>
#include <cmath>

#include "clipboard/png_image.h"
#include "qt/qt_clipboard.h"

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

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
