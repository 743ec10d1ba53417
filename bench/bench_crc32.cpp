// CRC-32 throughput over the ~30 MB header corpus: ours (Crc32(), then each
// kernel this processor can run) against zlib's crc32.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include "bench_data.h"
#include "zip/crc32.h"

namespace {

void BM_Crc32(benchmark::State& state) {
  const auto& data = qbbench::TextCorpus();
  for (auto _ : state) benchmark::DoNotOptimize(qb::zip::Crc32(0, data.data(), data.size()));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(data.size()));
}

void BM_Kernel(benchmark::State& state, qb::zip::Crc32Kernel kernel) {
  if (!qb::zip::Crc32KernelAvailable(kernel)) {
    state.SkipWithError("not available on this processor");
    return;
  }
  const auto& data = qbbench::TextCorpus();
  for (auto _ : state) benchmark::DoNotOptimize(qb::zip::Crc32With(kernel, 0, data.data(), data.size()));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(data.size()));
}

void BM_Zlib(benchmark::State& state) {
  const auto& data = qbbench::TextCorpus();
  // zlib takes at most 4 GiB - 1 per call; the corpus is far smaller.
  for (auto _ : state) benchmark::DoNotOptimize(crc32(0, data.data(), static_cast<uInt>(data.size())));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(data.size()));
}

BENCHMARK(BM_Crc32)->Name("Crc32/ours")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Zlib)->Name("Crc32/zlib")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Kernel, portable, qb::zip::Crc32Kernel::Portable)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Kernel, clmul, qb::zip::Crc32Kernel::Clmul)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Kernel, wide_clmul, qb::zip::Crc32Kernel::WideClmul)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
