// The explorer tree and the item lookups on a large cabinet: 10,000 items in 10
// drawers. Goals: RebuildCabinetTree under 100 ms; FindItemEntry and
// NextFreeItemName under 5 ms each.
//
// The cabinet is written directly (stored entries, central directory with the
// entry comments) so that building it does not take 10,000 archive updates.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/main_form.h"
#include "store/item_paths.h"

namespace {

namespace fs = std::filesystem;

constexpr int kDrawers = 10;
constexpr int kItemsPerDrawer = 1000;

void Put16(std::string& out, uint32_t v) {
  out += static_cast<char>(v & 0xFF);
  out += static_cast<char>((v >> 8) & 0xFF);
}
void Put32(std::string& out, uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}

std::string DrawerName(int d) {
  return d == 0 ? "NewItems" : "Drawer" + std::to_string(d);
}

// Writes a ZIP archive of stored entries named Drawer\Item<n> (archive names use
// "/"), each with a text item's comment; every seventh item has a note.
std::string WriteLargeCabinet() {
  const fs::path path = fs::temp_directory_path() / "quiverbox_bench_tree.qvf";
  std::string file, central;
  uint32_t count = 0;
  for (int d = 0; d < kDrawers; ++d) {
    for (int n = 0; n < kItemsPerDrawer; ++n) {
      const std::string name = DrawerName(d) + "/Item" + std::to_string(n);
      const std::string data =
          "Clip number " + std::to_string(n) + " of drawer " + std::to_string(d) + "\r\n";
      std::string comment =
          "\x8C"
          "1\x8C\xBF\xA5"
          "3\xA5\xBF";
      if (n % 7 == 0) comment += "\xA7note\xA7\xBF";
      const uint32_t crc = static_cast<uint32_t>(
          crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
      const uint32_t offset = static_cast<uint32_t>(file.size());
      Put32(file, 0x04034b50);
      Put16(file, 10);
      Put16(file, 0);
      Put16(file, 0);  // version, flags, stored
      Put16(file, 0);
      Put16(file, 0x5A21);  // time, date
      Put32(file, crc);
      Put32(file, static_cast<uint32_t>(data.size()));
      Put32(file, static_cast<uint32_t>(data.size()));
      Put16(file, static_cast<uint32_t>(name.size()));
      Put16(file, 0);
      file += name;
      file += data;
      Put32(central, 0x02014b50);
      Put16(central, 20);
      Put16(central, 10);
      Put16(central, 0);
      Put16(central, 0);
      Put16(central, 0);
      Put16(central, 0x5A21);
      Put32(central, crc);
      Put32(central, static_cast<uint32_t>(data.size()));
      Put32(central, static_cast<uint32_t>(data.size()));
      Put16(central, static_cast<uint32_t>(name.size()));
      Put16(central, 0);
      Put16(central, static_cast<uint32_t>(comment.size()));
      Put16(central, 0);
      Put16(central, 0);
      Put32(central, 0);
      Put32(central, offset);
      central += name;
      central += comment;
      ++count;
    }
  }
  const uint32_t central_offset = static_cast<uint32_t>(file.size());
  file += central;
  Put32(file, 0x06054b50);
  Put16(file, 0);
  Put16(file, 0);
  Put16(file, count);
  Put16(file, count);
  Put32(file, static_cast<uint32_t>(central.size()));
  Put32(file, central_offset);
  Put16(file, 0);
  std::ofstream(path, std::ios::binary).write(file.data(), static_cast<std::streamsize>(file.size()));
  return path.string();
}

const std::string& LargeCabinet() {
  static const std::string path = WriteLargeCabinet();
  return path;
}

class TSilentInteraction : public qb::IUserInteraction {
 public:
  qb::MsgAnswer MessageBox(qb::MsgKind, const std::string&, const std::string&, qb::MsgButtons) override {
    return qb::MsgAnswer::Ok;
  }
};

// The form as after Open: the directory is read again by the rebuild.
void BM_RebuildCabinetTree_AfterOpen(benchmark::State& state) {
  TSilentInteraction ui;
  qb::TMainForm form(ui, qb::TPaths::InFolder(fs::temp_directory_path() / "quiverbox_bench_home"));
  for (auto _ : state) {
    form.Zip1().SetZipName("");
    form.Zip1().SetZipName(LargeCabinet());
    form.RebuildCabinetTree();
  }
  state.counters["nodes"] = form.DockableForm().TreeView1().NodeCount();
}
BENCHMARK(BM_RebuildCabinetTree_AfterOpen)->Unit(benchmark::kMillisecond);

// The directory is loaded and current: the tree alone.
void BM_RebuildCabinetTree_Loaded(benchmark::State& state) {
  TSilentInteraction ui;
  qb::TMainForm form(ui, qb::TPaths::InFolder(fs::temp_directory_path() / "quiverbox_bench_home"));
  form.Zip1().SetZipName(LargeCabinet());
  form.RebuildCabinetTree();
  for (auto _ : state) form.RebuildCabinetTree();
}
BENCHMARK(BM_RebuildCabinetTree_Loaded)->Unit(benchmark::kMillisecond);

qb::zip::TZipWriter& LoadedArchive() {
  static qb::zip::TZipWriter zip;
  static bool loaded = false;
  if (!loaded) {
    zip.SetSortMode(qb::zip::TZipSortMode::ByName);
    zip.SetZipName(LargeCabinet());
    zip.ReadDirectory();
    loaded = true;
  }
  return zip;
}

// The last entry in archive order, and a path that is not there: full scans.
void BM_FindItemEntry(benchmark::State& state) {
  qb::zip::TZipWriter& zip = LoadedArchive();
  const std::string last = zip.EntryFullName(zip.EntryCount() - 1);
  const std::string missing = "NewItems\\Nothing";
  for (auto _ : state) {
    benchmark::DoNotOptimize(qb::store::FindItemEntry(zip, state.range(0) ? last : missing));
  }
}
BENCHMARK(BM_FindItemEntry)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// NewItems\Item0..999 are taken: 1000 probes before the free Item1000.
void BM_NextFreeItemName(benchmark::State& state) {
  qb::zip::TZipWriter& zip = LoadedArchive();
  std::string name;
  for (auto _ : state) benchmark::DoNotOptimize(name = qb::store::NextFreeItemName(zip, "NewItems\\Item"));
  if (name != "NewItems\\Item1000") state.SkipWithError(("unexpected proposal " + name).c_str());
}
BENCHMARK(BM_NextFreeItemName)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
