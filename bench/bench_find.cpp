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
// and the byte scan under every search, over 105 MB of folded text:
//   Scan/ours/Q             text::FindBytes
//   Scan/memmem/Q           the C library's memmem (the reference)
// The cabinet (find_cabinet.h) is made once per run under the temporary directory.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "find_cabinet.h"
#include "finder/cabinet_index.h"
#include "platform/byte_search.h"
#include "platform/case_fold.h"
#include "store/cabinet_store.h"
#include "zip/zip_writer.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

fs::path ProgramFolder() {
  std::error_code ec;
  fs::path self = fs::read_symlink("/proc/self/exe", ec);
  return ec ? fs::current_path() : self.parent_path();
}

struct Cabinet_ {
  const fs::path& path = qbbench::FindCabinet().path;
};
const Cabinet_& Cabinet() {
  static Cabinet_ cabinet;
  return cabinet;
}

constexpr int kItems = qbbench::kFindItems;
constexpr size_t kClip = qbbench::kFindClip;

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

// The corpus, folded, repeated to the size of the cabinet's text.
const std::string& FoldedText() {
  static const std::string text = [] {
    const std::vector<uint8_t>& corpus = qbbench::TextCorpus();
    const std::string folded =
        qb::text::CaseFolded(std::string_view(reinterpret_cast<const char*>(corpus.data()), corpus.size()));
    std::string out;
    out.reserve(kItems * kClip + folded.size());
    while (out.size() < kItems * kClip) out += folded;
    return out;
  }();
  return text;
}

void BM_Scan(benchmark::State& state, const char* query, bool ours) {
  const std::string& text = FoldedText();
  const std::string needle = qb::text::CaseFolded(query);
  size_t hits = 0;
  for (auto _ : state) {
    hits = 0;
    const char* at = text.data();
    const char* const end = text.data() + text.size();
    while (const char* found = ours ? qb::text::FindBytes(at, static_cast<size_t>(end - at), needle)
                                    : static_cast<const char*>(::memmem(at, static_cast<size_t>(end - at),
                                                                        needle.data(), needle.size()))) {
      ++hits;
      at = found + needle.size();
    }
  }
  state.counters["hits"] = static_cast<double>(hits);
  state.counters["MB/s"] = benchmark::Counter(static_cast<double>(state.iterations() * text.size()) / 1e6,
                                              benchmark::Counter::kIsRate);
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
BENCHMARK_CAPTURE(BM_Scan, ours_absent, kAbsent, true)
    ->Name("Scan/ours/absent")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Scan, memmem_absent, kAbsent, false)
    ->Name("Scan/memmem/absent")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Scan, ours_common, kCommon, true)
    ->Name("Scan/ours/common")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Scan, memmem_common, kCommon, false)
    ->Name("Scan/memmem/common")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Scan, ours_the, "the", true)->Name("Scan/ours/the")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Scan, memmem_the, "the", false)->Name("Scan/memmem/the")->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
