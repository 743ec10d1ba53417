// The cabinet the finding benchmarks work on: 60,000 text items of 1,750 bytes
// (105 MB of text cut from the header corpus), a note on every fifth, dates in
// two-second steps with three items per step, written with zlib (level 6) under
// the temporary directory once per run and removed at its end.
#pragma once

#include <unistd.h>
#include <zlib.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "bench_data.h"

namespace qbbench {

namespace fs = std::filesystem;

inline constexpr int kFindItems = 60000;
inline constexpr size_t kFindClip = 1750;  // 60,000 x 1,750 bytes: 105 MB of text

inline void Put16(std::string& out, uint32_t v) {
  out += static_cast<char>(v & 0xFF);
  out += static_cast<char>((v >> 8) & 0xFF);
}
inline void Put32(std::string& out, uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}

inline std::string Deflate(const uint8_t* data, size_t size) {
  z_stream z{};
  deflateInit2(&z, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
  std::string out(deflateBound(&z, size), '\0');
  z.next_in = const_cast<uint8_t*>(data);
  z.avail_in = static_cast<uInt>(size);
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

struct FindBenchCabinet {
  fs::path folder = fs::temp_directory_path() / ("qb-bench-find-" + std::to_string(::getpid()));
  fs::path path = folder / "history.qvf";

  FindBenchCabinet() {
    fs::create_directories(folder);
    const std::vector<uint8_t>& corpus = TextCorpus();
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) std::abort();
    std::string central;
    uint64_t offset = 0;
    for (int i = 0; i < kFindItems; ++i) {
      const size_t at = (static_cast<size_t>(i) * 7919 * 64) % (corpus.size() - kFindClip);
      const std::string deflated = Deflate(corpus.data() + at, kFindClip);
      const uint32_t crc = static_cast<uint32_t>(crc32(0, corpus.data() + at, kFindClip));
      char name[48];
      std::snprintf(name, sizeof name, "Drawer%02d/Item%d", i % 16, i);
      std::string comment =
          "\x8c"
          "1\x8c\xbf\xa5"
          "3\xa5\xbf";
      if (i % 5 == 0) comment += "\xa7note of clip " + std::to_string(i) + "\xa7\xbf";
      // 2024-01-01 plus two seconds for every third item.
      const uint32_t seconds = static_cast<uint32_t>(i / 3 * 2);
      const uint32_t day = 1 + seconds / 86400, rest = seconds % 86400;
      const uint32_t dos = (44u << 25) | (1u << 21) | (day << 16) | ((rest / 3600) << 11) |
                           ((rest / 60 % 60) << 5) | (rest % 60 / 2);
      std::string header;
      Put16(header, 20);
      Put16(header, 0);
      Put16(header, 8);
      Put32(header, dos);
      Put32(header, crc);
      Put32(header, static_cast<uint32_t>(deflated.size()));
      Put32(header, static_cast<uint32_t>(kFindClip));
      Put16(header, static_cast<uint32_t>(std::strlen(name)));
      std::string local;
      Put32(local, 0x04034B50);
      local += header;
      Put16(local, 0);
      local += name;
      std::fwrite(local.data(), 1, local.size(), f);
      std::fwrite(deflated.data(), 1, deflated.size(), f);
      Put32(central, 0x02014B50);
      Put16(central, 0x0314);
      central += header;
      Put16(central, 0);
      Put16(central, static_cast<uint32_t>(comment.size()));
      Put16(central, 0);
      Put16(central, 1);
      Put32(central, (0100644u << 16) | 0x20);
      Put32(central, static_cast<uint32_t>(offset));
      central += name;
      central += comment;
      offset += local.size() + deflated.size();
    }
    std::fwrite(central.data(), 1, central.size(), f);
    std::string end;
    Put32(end, 0x06054B50);
    Put32(end, 0);
    Put16(end, kFindItems);
    Put16(end, kFindItems);
    Put32(end, static_cast<uint32_t>(central.size()));
    Put32(end, static_cast<uint32_t>(offset));
    Put16(end, 0);
    std::fwrite(end.data(), 1, end.size(), f);
    if (std::fclose(f) != 0) std::abort();
  }
  ~FindBenchCabinet() {
    std::error_code ec;
    fs::remove_all(folder, ec);
  }
};

inline const FindBenchCabinet& FindCabinet() {
  static FindBenchCabinet cabinet;
  return cabinet;
}

}  // namespace qbbench
