// CRC-32 throughput: ours (Crc32(), then each kernel this processor can run)
// against zlib's crc32 and libdeflate's libdeflate_crc32, over the ~30 MB header
// corpus and over clipboard-sized pieces of it. Names are Crc32/INPUT/CODEC
// (see bench/compare.py); a kernel the processor lacks is reported as skipped.
#include <benchmark/benchmark.h>
#include <libdeflate.h>
#include <zlib.h>

#include <string>
#include <vector>

#include "bench_data.h"
#include "zip/crc32.h"

namespace {

using qb::zip::Crc32Kernel;

void Report(benchmark::State& state, const std::vector<uint8_t>& data) {
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(data.size()));
}

void BM_Ours(benchmark::State& state, const std::vector<uint8_t>* data) {
  for (auto _ : state) benchmark::DoNotOptimize(qb::zip::Crc32(0, data->data(), data->size()));
  Report(state, *data);
}

void BM_Kernel(benchmark::State& state, const std::vector<uint8_t>* data, Crc32Kernel kernel) {
  if (!qb::zip::Crc32KernelAvailable(kernel)) {
    state.SkipWithError("not available on this processor");
    return;
  }
  for (auto _ : state) benchmark::DoNotOptimize(qb::zip::Crc32With(kernel, 0, data->data(), data->size()));
  Report(state, *data);
}

void BM_Zlib(benchmark::State& state, const std::vector<uint8_t>* data) {
  // zlib takes at most 4 GiB - 1 per call; the inputs are far smaller.
  for (auto _ : state) benchmark::DoNotOptimize(crc32(0, data->data(), static_cast<uInt>(data->size())));
  Report(state, *data);
}

void BM_Libdeflate(benchmark::State& state, const std::vector<uint8_t>* data) {
  for (auto _ : state) benchmark::DoNotOptimize(libdeflate_crc32(0, data->data(), data->size()));
  Report(state, *data);
}

}  // namespace

int main(int argc, char** argv) {
  static const std::vector<uint8_t> text = qbbench::TextCorpus();
  static const std::vector<uint8_t> clip1k = qbbench::TextClip(1024);
  static const std::vector<uint8_t> clip4k = qbbench::TextClip(4096);
  static const std::vector<uint8_t> clip64k = qbbench::TextClip(65536);
  // Not a multiple of any kernel's block: the code after the main loop runs too.
  static const std::vector<uint8_t> clip4000 = qbbench::TextClip(4000);
  const std::pair<const char*, const std::vector<uint8_t>*> inputs[] = {{"text", &text},
                                                                        {"clip1k", &clip1k},
                                                                        {"clip4k", &clip4k},
                                                                        {"clip64k", &clip64k},
                                                                        {"clip4000", &clip4000}};
  const std::pair<const char*, Crc32Kernel> kernels[] = {
      {"portable", Crc32Kernel::Portable},
      {"clmul", Crc32Kernel::Clmul},
      {"avx2_clmul", Crc32Kernel::Avx2Clmul},
      {"wide_clmul", Crc32Kernel::WideClmul},
  };
  for (const auto& [name, data] : inputs) {
    const std::string prefix = "Crc32/" + std::string(name) + "/";
    const auto unit = data->size() > (1u << 20) ? benchmark::kMillisecond : benchmark::kNanosecond;
    benchmark::RegisterBenchmark((prefix + "ours").c_str(), BM_Ours, data)->Unit(unit);
    benchmark::RegisterBenchmark((prefix + "zlib").c_str(), BM_Zlib, data)->Unit(unit);
    benchmark::RegisterBenchmark((prefix + "libdeflate").c_str(), BM_Libdeflate, data)->Unit(unit);
    for (const auto& [kernel_name, kernel] : kernels)
      benchmark::RegisterBenchmark((prefix + "kernel:" + kernel_name).c_str(), BM_Kernel, data, kernel)
          ->Unit(unit);
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
