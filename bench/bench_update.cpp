// Storing one small item with its comment in a large cabinet, side by side with
// copying that cabinet's file (`cp`, and an in-process copy): every change rewrites
// the whole archive, so a copy is the floor.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/memory_stream.h"
#include "zip/zip_writer.h"

namespace {

namespace fs = std::filesystem;

const fs::path& Folder() {
  static const fs::path folder = [] {
    fs::path p = fs::temp_directory_path() / ("qb-bench-update-" + std::to_string(::getpid()));
    fs::create_directories(p);
    return p;
  }();
  return folder;
}

// 10,000 items of ~5 KB in 10 drawers (~50 MB), each with a comment like the
// program's: format field, glyph field.
const std::string& BaseCabinet() {
  static const std::string path = [] {
    std::string base = (Folder() / "base.qvf").string();
    std::string script = (Folder() / "make.py").string();
    FILE* f = std::fopen(script.c_str(), "w");
    std::fputs(
        "import zipfile, random, sys\n"
        "random.seed(1)\n"
        "with zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_STORED) as z:\n"
        "  for i in range(10000):\n"
        "    info = zipfile.ZipInfo('Drawer%d/Item%d' % (i % 10, i))\n"
        "    info.comment = b'\\x8c1\\x8c\\xbf\\xa53\\xa5\\xbf'\n"
        "    z.writestr(info, random.randbytes(5000))\n",
        f);
    std::fclose(f);
    if (std::system(("python3 " + script + " " + base).c_str()) != 0) std::abort();
    return base;
  }();
  return path;
}

void BM_AddSmallItemWithComment(benchmark::State& state) {
  const std::string& base = BaseCabinet();
  const std::string work = (Folder() / "work.qvf").string();
  qb::zip::TZipWriter zip;
  zip.SetSortMode(qb::zip::TZipSortMode::ByName);
  zip.SetStorePaths(true);
  int n = 0;
  for (auto _ : state) {
    state.PauseTiming();
    fs::copy_file(base, work, fs::copy_options::overwrite_existing);
    zip.SetZipName("");
    zip.SetZipName(work);
    zip.ReadDirectory();  // a cabinet is open before the user saves into it
    qb::TMemoryStream item("a small clip of text" + std::to_string(n++));
    state.ResumeTiming();
    zip.AddFromStreamWithComment(&item, "NewItems\\Item0",
                                 std::string("\x8c"
                                             "1\x8c\xbf\xa5"
                                             "3\xa5\xbf"));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(fs::file_size(base)));
}
BENCHMARK(BM_AddSmallItemWithComment)->Unit(benchmark::kMillisecond);

void BM_CpCommand(benchmark::State& state) {
  const std::string& base = BaseCabinet();
  const std::string copy = (Folder() / "copy.qvf").string();
  for (auto _ : state) {
    if (std::system(("cp " + base + " " + copy).c_str()) != 0) state.SkipWithError("cp failed");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(fs::file_size(base)));
}
BENCHMARK(BM_CpCommand)->Unit(benchmark::kMillisecond);

// cp followed by forcing the copy to the disk, as the update does with its output.
void BM_CpAndSyncCommand(benchmark::State& state) {
  const std::string& base = BaseCabinet();
  const std::string copy = (Folder() / "copy3.qvf").string();
  for (auto _ : state) {
    if (std::system(("cp " + base + " " + copy + " && sync " + copy).c_str()) != 0)
      state.SkipWithError("cp failed");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(fs::file_size(base)));
}
BENCHMARK(BM_CpAndSyncCommand)->Unit(benchmark::kMillisecond);

void BM_CopyFileInProcess(benchmark::State& state) {
  const std::string& base = BaseCabinet();
  const std::string copy = (Folder() / "copy2.qvf").string();
  for (auto _ : state) fs::copy_file(base, copy, fs::copy_options::overwrite_existing);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(fs::file_size(base)));
}
BENCHMARK(BM_CopyFileInProcess)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::error_code ec;
  fs::remove_all(Folder(), ec);
  return 0;
}
