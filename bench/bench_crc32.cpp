// CRC-32 throughput: ours (dispatching, portable tables, carry-less multiply)
// against zlib's crc32, over the ~30 MB header corpus.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include "bench_data.h"
#include "zip/crc32.h"

namespace {

template <uint32_t (*Fn)(uint32_t, const void*, size_t)>
void BM_Ours(benchmark::State& state) {
  const auto& data = qbbench::TextCorpus();
  for (auto _ : state) benchmark::DoNotOptimize(Fn(0, data.data(), data.size()));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(data.size()));
}

void BM_Zlib(benchmark::State& state) {
  const auto& data = qbbench::TextCorpus();
  for (auto _ : state) {
    // zlib takes at most 4 GiB - 1 per call; the corpus is far smaller.
    benchmark::DoNotOptimize(crc32(0, data.data(), static_cast<uInt>(data.size())));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(data.size()));
}

BENCHMARK(BM_Ours<qb::zip::Crc32>)->Name("Crc32/ours")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Ours<qb::zip::Crc32Portable>)->Name("Crc32/ours_portable")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Zlib)->Name("Crc32/zlib")->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
