// qvf at every size: add, test, cat and ls on cabinets of 1,000 / 10,000 /
// 60,000 items and about 1 MB / 100 MB / 1 GB, each run as a whole program beside
// a peer doing the same job:
//   add   qvf add of a 1 KiB text clip     cp of the cabinet + sync of the copy
//   test  qvf test                         unzip -t
//   cat   qvf cat of one item (mid-file)   unzip -p of that item
//   ls    qvf ls                           unzip -l
// Each iteration runs ours, then the peer, so that both meet the same machine; the
// time reported is ours (real time), with the counters
//   peer_ms   the peer's time per iteration
//   ratio     ours / peer over all iterations (the goal is <= 1.0, add <= 1.2)
//   peak_MB   our largest peak resident memory (the peer's in peer_peak_MB)
//   file_MB   the cabinet's size.
// Name form: Scale/VERB/ITEMS/SIZE. Run with --benchmark_repetitions=N for medians;
// --benchmark_filter picks cases. The 1 GB cases (minutes each, and 3 GB of disk)
// are registered only with QB_BENCH_SCALE_1GB=1.
//
// Peak memory is measured by running each program under this benchmark itself
// started afresh ("--qb-measure FILE PROGRAM ARGS..."): a child of the large
// benchmark process would be charged the parent's memory at exec.
//
// The cabinets are made here (entries as the program writes them: deflated text
// clips from the header corpus, a format and glyph comment, a note on every fifth,
// 16 drawers interleaved in the file) in $QB_BENCH_SCALE_DIR or a folder under the
// temporary directory, removed at the end unless QB_BENCH_SCALE_KEEP is set (then
// a later run reuses them).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "bench_data.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

fs::path ProgramFolder() {
  std::error_code ec;
  fs::path self = fs::read_symlink("/proc/self/exe", ec);
  return ec ? fs::current_path() : self.parent_path();
}

const fs::path& Folder() {
  static const fs::path folder = [] {
    const char* chosen = std::getenv("QB_BENCH_SCALE_DIR");
    fs::path p = chosen ? fs::path(chosen) : fs::temp_directory_path() / "qb-bench-scale";
    fs::create_directories(p);
    return p;
  }();
  return folder;
}

// --- making a cabinet ----------------------------------------------------------

void Put16(std::string& out, uint32_t v) {
  out += static_cast<char>(v & 0xFF);
  out += static_cast<char>((v >> 8) & 0xFF);
}
void Put32(std::string& out, uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}

struct Payload {
  std::string deflated;
  uint32_t crc = 0;
  uint32_t size = 0;
};

Payload Compress(const uint8_t* data, size_t size) {
  Payload p;
  p.size = static_cast<uint32_t>(size);
  p.crc = static_cast<uint32_t>(crc32(0, data, static_cast<uInt>(size)));
  z_stream z{};
  deflateInit2(&z, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
  p.deflated.resize(deflateBound(&z, size));
  z.next_in = const_cast<uint8_t*>(data);
  z.avail_in = static_cast<uInt>(size);
  z.next_out = reinterpret_cast<Bytef*>(p.deflated.data());
  z.avail_out = static_cast<uInt>(p.deflated.size());
  deflate(&z, Z_FINISH);
  p.deflated.resize(z.total_out);
  deflateEnd(&z);
  return p;
}

std::string ItemName(int i) {
  char name[64];
  std::snprintf(name, sizeof name, "Drawer%02d/Item%d", i % 16, i);
  return name;
}

// Writes a cabinet of `items` entries of about `bytes` in all (at least a short
// clip per item) to path.
void MakeCabinet(const fs::path& path, int items, uint64_t bytes) {
  const std::vector<uint8_t>& corpus = qbbench::TextCorpus();
  const uint64_t overhead = 30 + 46 + 2 * 16 + 24;  // headers, names, comment
  const uint64_t budget = bytes / static_cast<uint64_t>(items);
  const uint64_t target = budget > overhead + 64 ? budget - overhead : 64;  // compressed bytes per item
  // The text's ratio at this size, from one sample.
  size_t length = static_cast<size_t>(std::min<uint64_t>(target * 4, corpus.size() / 2));
  Payload sample = Compress(corpus.data() + corpus.size() / 3, length);
  length = static_cast<size_t>(std::min<uint64_t>(
      corpus.size() / 2, std::max<uint64_t>(16, target * length / sample.deflated.size())));
  // A pool of distinct clips from along the corpus, used in turn.
  const size_t variants =
      std::max<size_t>(4, std::min<size_t>(64, (256u << 20) / std::max<size_t>(length, 1)));
  std::vector<Payload> pool;
  for (size_t k = 0; k < variants; ++k) {
    const size_t at = (corpus.size() - length) / variants * k;
    pool.push_back(Compress(corpus.data() + at, length));
  }
  const std::string tmp = path.string() + ".part";
  std::FILE* f = std::fopen(tmp.c_str(), "wb");
  if (!f) std::abort();
  std::vector<char> buffer(1 << 20);
  std::setvbuf(f, buffer.data(), _IOFBF, buffer.size());
  std::string central;
  uint64_t offset = 0;
  const uint32_t dos_time = (44u << 25) | (1u << 21) | (2u << 16) | (3u << 11) | (4u << 5);
  for (int i = 0; i < items; ++i) {
    const Payload& p = pool[static_cast<size_t>(i) % pool.size()];
    const std::string name = ItemName(i);
    std::string comment =
        "\x8c"
        "1\x8c\xbf\xa5"
        "3\xa5\xbf";
    if (i % 5 == 0) comment += "\xa7note of item " + std::to_string(i) + "\xa7\xbf";
    std::string local;
    Put32(local, 0x04034B50);
    Put16(local, 20);
    Put16(local, 0);
    Put16(local, 8);
    Put32(local, dos_time);
    Put32(local, p.crc);
    Put32(local, static_cast<uint32_t>(p.deflated.size()));
    Put32(local, p.size);
    Put16(local, static_cast<uint32_t>(name.size()));
    Put16(local, 0);
    local += name;
    std::fwrite(local.data(), 1, local.size(), f);
    std::fwrite(p.deflated.data(), 1, p.deflated.size(), f);
    Put32(central, 0x02014B50);
    Put16(central, 0x0314);
    Put16(central, 20);
    Put16(central, 0);
    Put16(central, 8);
    Put32(central, dos_time);
    Put32(central, p.crc);
    Put32(central, static_cast<uint32_t>(p.deflated.size()));
    Put32(central, p.size);
    Put16(central, static_cast<uint32_t>(name.size()));
    Put16(central, 0);
    Put16(central, static_cast<uint32_t>(comment.size()));
    Put16(central, 0);
    Put16(central, 1);
    Put32(central, (0100644u << 16) | 0x20);
    Put32(central, static_cast<uint32_t>(offset));
    central += name;
    central += comment;
    offset += local.size() + p.deflated.size();
  }
  std::fwrite(central.data(), 1, central.size(), f);
  std::string end;
  Put32(end, 0x06054B50);
  Put16(end, 0);
  Put16(end, 0);
  Put16(end, static_cast<uint32_t>(items));
  Put16(end, static_cast<uint32_t>(items));
  Put32(end, static_cast<uint32_t>(central.size()));
  Put32(end, static_cast<uint32_t>(offset));
  Put16(end, 0);
  std::fwrite(end.data(), 1, end.size(), f);
  if (std::fclose(f) != 0) std::abort();
  fs::rename(tmp, path);
}

struct Case {
  int items;
  uint64_t bytes;
  const char* size_label;
};

const fs::path& CabinetFor(const Case& c) {
  static std::map<std::string, fs::path> made;
  const std::string key = std::to_string(c.items) + "-" + c.size_label;
  auto it = made.find(key);
  if (it != made.end()) return it->second;
  fs::path path = Folder() / ("scale-" + key + ".qvf");
  if (!fs::exists(path)) MakeCabinet(path, c.items, c.bytes);
  return made[key] = path;
}

// --- running programs --------------------------------------------------------------

struct RunResult {
  bool ok = false;
  double seconds = 0;
  double peak_mb = 0;
};

RunResult Run(const std::vector<std::string>& program) {
  char peak_file[] = "/tmp/qb-bench-peak-XXXXXX";
  const int peak_fd = mkstemp(peak_file);
  if (peak_fd < 0) return {};
  close(peak_fd);
  std::vector<std::string> args = {ProgramFolder() / "bench_scale", "--qb-measure", peak_file};
  args.insert(args.end(), program.begin(), program.end());
  std::vector<char*> argv;
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  RunResult result;
  const auto start = std::chrono::steady_clock::now();
  pid_t pid = 0;
  const int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return result;
  int status = 0;
  rusage usage{};
  if (wait4(pid, &status, 0, &usage) < 0) return result;
  result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  result.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  long peak_kb = 0;
  if (std::FILE* f = std::fopen(peak_file, "r")) {
    if (std::fscanf(f, "%ld", &peak_kb) != 1) peak_kb = 0;
    std::fclose(f);
  }
  unlink(peak_file);
  result.peak_mb = static_cast<double>(peak_kb) / 1024.0;
  return result;
}

// The measuring launcher: runs argv[3...] as a child of this small process and
// writes the child's peak resident memory (KiB) to argv[2]; exits as the child did.
int Measure(int argc, char** argv) {
  if (argc < 4) return 2;
  const pid_t pid = fork();
  if (pid < 0) return 2;
  if (pid == 0) {
    execvp(argv[3], argv + 3);
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  if (wait4(pid, &status, 0, &usage) < 0) return 2;
  if (std::FILE* f = std::fopen(argv[2], "w")) {
    std::fprintf(f, "%ld\n", usage.ru_maxrss);
    std::fclose(f);
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 2;
}

// A step of one side: one or more programs run one after the other.
using Commands = std::vector<std::vector<std::string>>;

RunResult RunAll(const Commands& commands) {
  RunResult total;
  total.ok = true;
  for (const auto& command : commands) {
    RunResult r = Run(command);
    total.ok = total.ok && r.ok;
    total.seconds += r.seconds;
    total.peak_mb = std::max(total.peak_mb, r.peak_mb);
  }
  return total;
}

// Runs ours and the peer in turn each iteration; `ours` may change from one
// iteration to the next (a new item name for add).
template <class Ours>
void Pair(benchmark::State& state, const fs::path& cabinet, Ours ours, const Commands& peer) {
  double ours_total = 0, peer_total = 0, peak = 0, peer_peak = 0;
  int n = 0;
  for (auto _ : state) {
    const RunResult a = RunAll(ours(n));
    const RunResult b = RunAll(peer);
    ++n;
    if (!a.ok || !b.ok) {
      state.SkipWithError(a.ok ? "the peer failed" : "qvf failed");
      return;
    }
    state.SetIterationTime(a.seconds);
    ours_total += a.seconds;
    peer_total += b.seconds;
    peak = std::max(peak, a.peak_mb);
    peer_peak = std::max(peer_peak, b.peak_mb);
  }
  state.counters["peer_ms"] = peer_total * 1e3 / n;
  state.counters["ratio"] = ours_total / peer_total;
  state.counters["peak_MB"] = peak;
  state.counters["peer_peak_MB"] = peer_peak;
  state.counters["file_MB"] = static_cast<double>(fs::file_size(cabinet)) / 1e6;
}

std::string Qvf() {
  return (ProgramFolder() / "qvf").string();
}

void BM_Add(benchmark::State& state, Case c) {
  const fs::path& base = CabinetFor(c);
  const fs::path work = Folder() / "add-work.qvf";
  const fs::path copy = Folder() / "add-copy.qvf";
  const fs::path clip = Folder() / "clip.txt";
  {
    std::vector<uint8_t> text = qbbench::TextClip(1024);
    std::ofstream(clip, std::ios::binary)
        .write(reinterpret_cast<const char*>(text.data()), static_cast<std::streamsize>(text.size()));
  }
  fs::copy_file(base, work, fs::copy_options::overwrite_existing);
  fs::copy_file(base, copy, fs::copy_options::overwrite_existing);
  RunAll({{"sync"}});
  const auto add = [&](const std::string& name) {
    return Commands{{Qvf(), "add", work.string(), "NewItems/" + name, clip.string()}};
  };
  const Commands peer{{"cp", base.string(), copy.string()}, {"sync", copy.string()}};
  // One round untimed first: the side that ran right after the two copies above
  // met the file system still busy with them (at 1 GB, an add that copies in 0.8 s
  // then took 2.6 s), and with one iteration a repetition, that was always ours.
  RunAll(add("Warm-up"));
  RunAll(peer);
  Pair(
      state, base, [&](int n) { return add("Item" + std::to_string(n)); }, peer);
  fs::remove(work);
  fs::remove(copy);
}

void BM_Test(benchmark::State& state, Case c) {
  const std::string base = CabinetFor(c).string();
  Pair(state, base, [&](int) { return Commands{{Qvf(), "test", base}}; }, {{"unzip", "-t", base}});
}

void BM_Cat(benchmark::State& state, Case c) {
  const std::string base = CabinetFor(c).string();
  const std::string item = ItemName(c.items / 2);
  Pair(state, base, [&](int) { return Commands{{Qvf(), "cat", base, item}}; }, {{"unzip", "-p", base, item}});
}

void BM_Ls(benchmark::State& state, Case c) {
  const std::string base = CabinetFor(c).string();
  Pair(state, base, [&](int) { return Commands{{Qvf(), "ls", base}}; }, {{"unzip", "-l", base}});
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::string(argv[1]) == "--qb-measure") return Measure(argc, argv);
  const bool gigabyte = std::getenv("QB_BENCH_SCALE_1GB") != nullptr;
  const Case cases[] = {
      {1000, 1000000, "1MB"},     {10000, 1000000, "1MB"},     {60000, 1000000, "1MB"},
      {1000, 100000000, "100MB"}, {10000, 100000000, "100MB"}, {60000, 100000000, "100MB"},
      {1000, 1000000000, "1GB"},  {10000, 1000000000, "1GB"},  {60000, 1000000000, "1GB"},
  };
  using Fn = void (*)(benchmark::State&, Case);
  const std::pair<const char*, Fn> verbs[] = {
      {"add", BM_Add}, {"test", BM_Test}, {"cat", BM_Cat}, {"ls", BM_Ls}};
  for (const auto& [verb, fn] : verbs)
    for (const Case& c : cases) {
      if (c.bytes >= 1000000000 && !gigabyte) continue;
      const std::string name =
          std::string("Scale/") + verb + "/" + std::to_string(c.items) + "/" + c.size_label;
      benchmark::RegisterBenchmark(name.c_str(), fn, c)->UseManualTime()->Unit(benchmark::kMillisecond);
    }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  if (!std::getenv("QB_BENCH_SCALE_KEEP") && !std::getenv("QB_BENCH_SCALE_DIR")) {
    std::error_code ec;
    fs::remove_all(Folder(), ec);
  }
  return 0;
}
