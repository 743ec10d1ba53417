// Inputs shared by the benchmarks: a text corpus and a 24-bit BMP screenshot.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace qbbench {

// About 30 MB of C and C++ headers from /usr/include, concatenated in path order.
inline const std::vector<uint8_t>& TextCorpus() {
  static const std::vector<uint8_t> corpus = [] {
    constexpr size_t kTarget = 30u << 20;
    std::vector<std::filesystem::path> files;
    std::error_code ec;
    for (auto it = std::filesystem::recursive_directory_iterator("/usr/include", ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
      if (it->is_regular_file(ec) && (it->path().extension() == ".h" || it->path().extension() == ".hpp" ||
                                      it->path().extension() == ""))
        files.push_back(it->path());
    }
    std::sort(files.begin(), files.end());
    std::vector<uint8_t> out;
    out.reserve(kTarget);
    for (const auto& f : files) {
      std::ifstream in(f, std::ios::binary);
      out.insert(out.end(), std::istreambuf_iterator<char>(in), {});
      if (out.size() >= kTarget) break;
    }
    // Repeat what was found if the machine has few headers.
    for (size_t i = 0; !out.empty() && out.size() < kTarget; ++i) out.push_back(out[i]);
    out.resize(std::min(out.size(), kTarget));
    return out;
  }();
  return corpus;
}

// A 1920 x 1080 24-bit BMP file that looks like a desktop screenshot: flat window
// backgrounds, title bar gradients, rows of small text-like glyphs, an icon grid.
inline const std::vector<uint8_t>& BmpScreenshot() {
  static const std::vector<uint8_t> bmp = [] {
    constexpr int W = 1920, H = 1080;
    constexpr int kRow = (W * 3 + 3) & ~3;
    std::vector<uint8_t> pixels(static_cast<size_t>(kRow) * H);
    auto put = [&](int x, int y, uint8_t r, uint8_t g, uint8_t b) {
      uint8_t* p = &pixels[static_cast<size_t>(H - 1 - y) * kRow + x * 3];
      p[0] = b, p[1] = g, p[2] = r;
    };
    uint32_t seed = 12345;
    auto rnd = [&] { return seed = seed * 1103515245u + 12345u, seed >> 16; };
    for (int y = 0; y < H; ++y)
      for (int x = 0; x < W; ++x) put(x, y, 40 + y / 30, 90 + y / 20, 140 + x / 40);  // wallpaper gradient
    struct Win {
      int x, y, w, h;
    };
    const Win wins[] = {{60, 40, 1100, 700}, {700, 300, 1000, 650}, {200, 600, 800, 420}};
    for (const Win& w : wins) {
      for (int y = w.y; y < std::min(H, w.y + w.h); ++y)
        for (int x = w.x; x < std::min(W, w.x + w.w); ++x) {
          if (y < w.y + 28) {
            put(x, y, 20, 60 + (x - w.x) * 120 / w.w, 160);  // title bar
          } else {
            put(x, y, 246, 246, 246);
          }
        }
      // text lines: 7x12 glyph cells made of a few random strokes
      for (int line = w.y + 40; line + 12 < std::min(H, w.y + w.h); line += 16) {
        int len = static_cast<int>(rnd() % (w.w / 8));
        for (int c = 0; c < len; ++c) {
          uint32_t glyph = rnd() % 96;
          if (glyph < 16) continue;  // a blank
          for (int gy = 0; gy < 12; ++gy)
            for (int gx = 0; gx < 6; ++gx) {
              uint32_t bit = (glyph * 2654435761u >> ((gx + gy * 3) % 29)) & 1;
              int px = w.x + 10 + c * 7 + gx;
              if (bit && px < std::min(W, w.x + w.w)) put(px, line + gy, 30, 30, 30);
            }
        }
      }
    }
    for (int i = 0; i < 12; ++i)  // desktop icons
      for (int y = 0; y < 48; ++y)
        for (int x = 0; x < 48; ++x)
          put(1800 + x, 40 + i * 80 + y, static_cast<uint8_t>(i * 20), static_cast<uint8_t>(x * 5),
              static_cast<uint8_t>(y * 5));
    std::vector<uint8_t> file(54 + pixels.size());
    auto u32 = [&](size_t at, uint32_t v) { std::memcpy(&file[at], &v, 4); };
    auto u16 = [&](size_t at, uint16_t v) { std::memcpy(&file[at], &v, 2); };
    file[0] = 'B', file[1] = 'M';
    u32(2, static_cast<uint32_t>(54 + pixels.size()));
    u32(10, 54);
    u32(14, 40);
    u32(18, W);
    u32(22, H);
    u16(26, 1);
    u16(28, 24);
    u32(34, static_cast<uint32_t>(pixels.size()));
    std::copy(pixels.begin(), pixels.end(), file.begin() + 54);
    return file;
  }();
  return bmp;
}

}  // namespace qbbench
