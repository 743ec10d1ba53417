// Inputs shared by the benchmarks: a text corpus, a 24-bit BMP screenshot and
// clipboard-sized pieces of text.
#pragma once

#include <zlib.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
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

// A real screenshot as a 24-bit BMP file (1920 x 1080): Quiverbox's main window
// under Xvfb with C++ source in the clipboard view and the help manual open
// beside it, captured with xwd and converted to BMP. It is kept gzipped in
// bench/data/ (see the README there).
inline const std::vector<uint8_t>& Screenshot() {
  static const std::vector<uint8_t> bmp = [] {
    const std::string path = std::string(QB_BENCH_DATA_DIR) + "/screenshot.bmp.gz";
    gzFile f = gzopen(path.c_str(), "rb");
    if (!f) {
      std::fprintf(stderr, "cannot open %s\n", path.c_str());
      std::abort();
    }
    std::vector<uint8_t> out;
    uint8_t buf[1 << 16];
    for (int n; (n = gzread(f, buf, sizeof buf)) > 0;) out.insert(out.end(), buf, buf + n);
    gzclose(f);
    if (out.size() < 54 || out[0] != 'B' || out[1] != 'M') {
      std::fprintf(stderr, "%s is not a BMP file\n", path.c_str());
      std::abort();
    }
    return out;
  }();
  return bmp;
}

// A clipboard-sized piece of the text corpus: `size` bytes from a fixed place in
// its middle (source text, as most clips are).
inline std::vector<uint8_t> TextClip(size_t size) {
  const std::vector<uint8_t>& corpus = TextCorpus();
  const size_t at = std::min(corpus.size() / 2, corpus.size() - std::min(size, corpus.size()));
  return std::vector<uint8_t>(corpus.begin() + static_cast<ptrdiff_t>(at),
                              corpus.begin() + static_cast<ptrdiff_t>(at + std::min(size, corpus.size())));
}

}  // namespace qbbench
