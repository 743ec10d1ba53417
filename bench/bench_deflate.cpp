// Deflate compression speed and size, ours against zlib at the same level.
//
// Each benchmark compresses a whole input once per iteration and reports the
// input bytes per second and, as the counter "out_bytes", the compressed size.
// zlib runs with windowBits -15 (raw Deflate) and memLevel 8, its defaults.
// Ours and zlib's run next to each other for every input and level.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <cstdint>
#include <string>
#include <vector>

#include "bench_data.h"
#include "zip/deflate.h"

namespace {

using Input = const std::vector<uint8_t>& (*)();

void ReportSize(benchmark::State& state, size_t in_size, size_t out_size) {
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * in_size));
  state.counters["out_bytes"] = static_cast<double>(out_size);
  state.counters["ratio_pct"] = 100.0 * static_cast<double>(out_size) / static_cast<double>(in_size);
}

void BM_Ours(benchmark::State& state, Input input, int level) {
  const std::vector<uint8_t>& data = input();
  size_t out_size = 0;
  for (auto _ : state) {
    qb::zip::DeflateOutput out = qb::zip::Deflate(data.data(), data.size(), level);
    out_size = out.stored_whole ? data.size() : out.data.size();
    benchmark::DoNotOptimize(out.data.data());
  }
  ReportSize(state, data.size(), out_size);
}

void BM_Zlib(benchmark::State& state, Input input, int level) {
  const std::vector<uint8_t>& data = input();
  std::vector<uint8_t> out(compressBound(static_cast<uLong>(data.size())) + 64);
  size_t out_size = 0;
  for (auto _ : state) {
    z_stream z{};
    deflateInit2(&z, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    z.next_in = const_cast<uint8_t*>(data.data());
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    deflate(&z, Z_FINISH);
    out_size = z.total_out;
    deflateEnd(&z);
    benchmark::DoNotOptimize(out.data());
  }
  ReportSize(state, data.size(), out_size);
}

}  // namespace

int main(int argc, char** argv) {
  const std::pair<const char*, Input> inputs[] = {{"text", &qbbench::TextCorpus},
                                                  {"bmp", &qbbench::BmpScreenshot}};
  for (const auto& [name, input] : inputs) {
    for (int level : {1, 6, 9}) {
      const std::string suffix = std::string(name) + "/level:" + std::to_string(level);
      benchmark::RegisterBenchmark(("Deflate/ours/" + suffix).c_str(), BM_Ours, input, level)
          ->Unit(benchmark::kMillisecond);
      benchmark::RegisterBenchmark(("Deflate/zlib/" + suffix).c_str(), BM_Zlib, input, level)
          ->Unit(benchmark::kMillisecond);
    }
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
