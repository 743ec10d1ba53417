// qvf ls against unzip -l on a cabinet of 10,000 items, both run as programs, side
// by side. The cabinet is made once by Python's zipfile, every entry with a comment
// as the program writes it (format and glyph fields, a note on every fifth item).
// The goal: qvf ls within twice the time of unzip -l.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;

constexpr int kItems = 10000;

// The folder of this benchmark program, where qvf is built too.
fs::path ProgramFolder() {
  std::error_code ec;
  fs::path self = fs::read_symlink("/proc/self/exe", ec);
  return ec ? fs::current_path() : self.parent_path();
}

struct BenchCabinet {
  fs::path folder;
  fs::path path;
  std::string error;

  BenchCabinet() {
    folder = fs::temp_directory_path() / ("qb-bench-qvf-ls-" + std::to_string(::getpid()));
    fs::create_directories(folder);
    path = folder / "big.qvf";
    std::ofstream(folder / "make.py") << R"(
import zipfile, sys
fmt = b'\x8c1\x8c\xbf\xa53\xa5\xbf'
with zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_DEFLATED) as z:
    for k in range()" << kItems << R"():
        info = zipfile.ZipInfo('Drawer%d/Sub%d/Item%d' % (k // 1000, k // 100 % 10, k), (2024, 1, 2, 3, 4, 6))
        info.compress_type = zipfile.ZIP_DEFLATED
        info.comment = fmt + (b'\xa7note for item %d\r\nsecond line\xa7\xbf' % k if k % 5 == 0 else b'')
        z.writestr(info, ('clip %d ' % k) * 20)
)";
    std::string command = "python3 '" + (folder / "make.py").string() + "' '" + path.string() + "'";
    if (std::system(command.c_str()) != 0 || !fs::exists(path)) error = "python3 could not build the cabinet";
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

// Runs a program with its standard output thrown away; its exit status, or -1.
int RunQuietly(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return -1;
  int status = 0;
  if (waitpid(pid, &status, 0) < 0 || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

void RunEach(benchmark::State& state, const std::vector<std::string>& args) {
  if (!Cabinet().error.empty()) {
    state.SkipWithError(Cabinet().error.c_str());
    return;
  }
  for (auto _ : state) {
    if (RunQuietly(args) != 0) {
      state.SkipWithError(("failed: " + args[0]).c_str());
      return;
    }
  }
  state.counters["items/s"] =
      benchmark::Counter(static_cast<double>(state.iterations()) * kItems, benchmark::Counter::kIsRate);
}

void BM_QvfLs(benchmark::State& state) {
  RunEach(state, {(ProgramFolder() / "qvf").string(), "ls", Cabinet().path.string()});
}

void BM_QvfLsLong(benchmark::State& state) {
  RunEach(state, {(ProgramFolder() / "qvf").string(), "ls", "--long", Cabinet().path.string()});
}

void BM_UnzipL(benchmark::State& state) {
  RunEach(state, {"unzip", "-l", Cabinet().path.string()});
}

void BM_UnzipZ(benchmark::State& state) {
  // unzip -Z: the zipinfo listing, which reads the comments too.
  RunEach(state, {"unzip", "-Z", Cabinet().path.string()});
}

BENCHMARK(BM_QvfLs)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_UnzipL)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_QvfLsLong)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_UnzipZ)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
