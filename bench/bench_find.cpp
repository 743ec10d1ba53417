// Finding items in a cabinet of 60,000 text items with about 100 MB of text (clips
// cut from the header corpus, a note on every fifth, dates in two-second steps
// with several items per step), side by side with a reference:
//   Find/qvf/Q              qvf find CABINET Q (paths, notes and text)
//   Find/unzip_grep/Q       unzip -p CABINET | grep -c Q   (the reference)
// with Q a word that occurs nowhere (every text read to its end) and one that
// occurs in many items. In the program, with the cabinet's index read:
//   Index/Read              reading the index (the program does it off the UI thread)
//   Search/fresh/Q          one search over every item (a keystroke after a paste)
//   Search/narrowing        the keystroke that adds a letter to the query
//   History/order           the newest-first order of all items
// The cabinet is made once per run under the temporary directory (zlib, level 6).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "bench_data.h"
#include "finder/cabinet_index.h"
#include "store/cabinet_store.h"
#include "zip/zip_writer.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

constexpr int kItems = 60000;
constexpr size_t kClip = 1750;  // 60,000 x 1,750 bytes: 105 MB of text

fs::path ProgramFolder() {
  std::error_code ec;
  fs::path self = fs::read_symlink("/proc/self/exe", ec);
  return ec ? fs::current_path() : self.parent_path();
}

void Put16(std::string& out, uint32_t v) {
  out += static_cast<char>(v & 0xFF);
  out += static_cast<char>((v >> 8) & 0xFF);
}
void Put32(std::string& out, uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}

std::string Deflate(const uint8_t* data, size_t size) {
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

struct BenchCabinet {
  fs::path folder = fs::temp_directory_path() / ("qb-bench-find-" + std::to_string(::getpid()));
  fs::path path = folder / "history.qvf";

  BenchCabinet() {
    fs::create_directories(folder);
    const std::vector<uint8_t>& corpus = qbbench::TextCorpus();
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) std::abort();
    std::string central;
    uint64_t offset = 0;
    for (int i = 0; i < kItems; ++i) {
      const size_t at = (static_cast<size_t>(i) * 7919 * 64) % (corpus.size() - kClip);
      const std::string deflated = Deflate(corpus.data() + at, kClip);
      const uint32_t crc = static_cast<uint32_t>(crc32(0, corpus.data() + at, kClip));
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
      Put32(header, static_cast<uint32_t>(kClip));
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
    Put16(end, kItems);
    Put16(end, kItems);
    Put32(end, static_cast<uint32_t>(central.size()));
    Put32(end, static_cast<uint32_t>(offset));
    Put16(end, 0);
    std::fwrite(end.data(), 1, end.size(), f);
    if (std::fclose(f) != 0) std::abort();
  }
  ~BenchCabinet() {
    std::error_code ec;
    fs::remove_all(folder, ec);
  }
};

const BenchCabinet& Cabinet() {
  static BenchCabinet cabinet;
  return cabinet;
}

const qb::finder::TCabinetIndex& Index() {
  static const qb::finder::TCabinetIndex index = [] {
    qb::zip::TZipWriter zip;
    qb::store::ConfigureCabinetArchive(zip);
    zip.SetZipName(Cabinet().path.string());
    return qb::finder::TCabinetIndex::Read(zip);
  }();
  return index;
}

// Runs a command line through the shell, its output thrown away; its exit status.
int RunShell(const std::string& line) {
  const char* argv[] = {"/bin/sh", "-c", line.c_str(), nullptr};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, const_cast<char**>(argv), environ);
  posix_spawn_file_actions_destroy(&actions);
  int status = 0;
  if (rc != 0 || waitpid(pid, &status, 0) < 0 || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

const char* const kAbsent = "QuiverboxNeedle";
const char* const kCommon = "typedef struct";

void Count(benchmark::State& state) {
  state.counters["MB/s"] = benchmark::Counter(static_cast<double>(state.iterations()) * kItems * kClip / 1e6,
                                              benchmark::Counter::kIsRate);
}

void BM_QvfFind(benchmark::State& state, const char* query) {
  const std::string line =
      "'" + (ProgramFolder() / "qvf").string() + "' find '" + Cabinet().path.string() + "' '" + query + "'";
  for (auto _ : state)
    if (RunShell(line) != 0) state.SkipWithError("qvf find failed");
  Count(state);
}

void BM_UnzipGrep(benchmark::State& state, const char* query) {
  // grep -c exits with 1 when it counts nothing.
  const std::string line = "unzip -p '" + Cabinet().path.string() + "' | grep -c '" + query + "'";
  for (auto _ : state)
    if (RunShell(line) > 1) state.SkipWithError("unzip | grep failed");
  Count(state);
}

void BM_IndexRead(benchmark::State& state) {
  for (auto _ : state) {
    qb::zip::TZipWriter zip;
    qb::store::ConfigureCabinetArchive(zip);
    zip.SetZipName(Cabinet().path.string());
    benchmark::DoNotOptimize(qb::finder::TCabinetIndex::Read(zip).Count());
  }
  Count(state);
}

void BM_SearchFresh(benchmark::State& state, const char* query) {
  const auto& index = Index();
  size_t found = 0;
  for (auto _ : state) found = index.Search(query).size();
  state.counters["found"] = static_cast<double>(found);
}

void BM_SearchNarrowing(benchmark::State& state) {
  // The user typed "typedef struc" and now adds the "t".
  const auto& index = Index();
  const std::vector<int> before = index.Search("typedef struc");
  size_t found = 0;
  for (auto _ : state) found = index.Search(kCommon, qb::finder::kSearchAll, &before).size();
  state.counters["found"] = static_cast<double>(found);
}

void BM_History(benchmark::State& state) {
  const auto& index = Index();
  for (auto _ : state) benchmark::DoNotOptimize(index.History().size());
}

BENCHMARK_CAPTURE(BM_QvfFind, absent, kAbsent)
    ->Name("Find/qvf/absent")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_UnzipGrep, absent, kAbsent)
    ->Name("Find/unzip_grep/absent")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_QvfFind, common, kCommon)
    ->Name("Find/qvf/common")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_UnzipGrep, common, kCommon)
    ->Name("Find/unzip_grep/common")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_IndexRead)->Name("Index/Read")->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK_CAPTURE(BM_SearchFresh, absent, kAbsent)
    ->Name("Search/fresh/absent")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_SearchFresh, common, kCommon)
    ->Name("Search/fresh/common")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_SearchFresh, one_letter, "e")
    ->Name("Search/fresh/one_letter")
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SearchNarrowing)->Name("Search/narrowing")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_History)->Name("History/order")->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
