// Deflate compression speed and size, ours against zlib at the same level.
//
// Each benchmark compresses a whole input once per iteration and reports the
// input bytes per second and, as the counter "out_bytes", the compressed size.
// zlib runs with windowBits -15 (raw Deflate) and memLevel 8, its defaults.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <cstdint>
#include <vector>

#include "bench_data.h"
#include "zip/deflate.h"

namespace {

using Input = const std::vector<uint8_t>& (*)();

void BM_QbDeflate(benchmark::State& state, Input input) {
  const std::vector<uint8_t>& data = input();
  const int level = static_cast<int>(state.range(0));
  size_t out_size = 0;
  for (auto _ : state) {
    qb::zip::DeflateOutput out = qb::zip::Deflate(data.data(), data.size(), level);
    out_size = out.stored_whole ? data.size() : out.data.size();
    benchmark::DoNotOptimize(out.data.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * data.size()));
  state.counters["out_bytes"] = static_cast<double>(out_size);
  state.counters["ratio_pct"] = 100.0 * static_cast<double>(out_size) / static_cast<double>(data.size());
}

void BM_ZlibDeflate(benchmark::State& state, Input input) {
  const std::vector<uint8_t>& data = input();
  const int level = static_cast<int>(state.range(0));
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
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * data.size()));
  state.counters["out_bytes"] = static_cast<double>(out_size);
  state.counters["ratio_pct"] = 100.0 * static_cast<double>(out_size) / static_cast<double>(data.size());
}

BENCHMARK_CAPTURE(BM_QbDeflate, text, &qbbench::TextCorpus)->Arg(1)->Arg(6)->Arg(9)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ZlibDeflate, text, &qbbench::TextCorpus)->Arg(1)->Arg(6)->Arg(9)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_QbDeflate, bmp, &qbbench::BmpScreenshot)->Arg(1)->Arg(6)->Arg(9)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ZlibDeflate, bmp, &qbbench::BmpScreenshot)->Arg(1)->Arg(6)->Arg(9)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
