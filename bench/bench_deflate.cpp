// Deflate compression speed and size: ours, zlib and libdeflate at the same level
// on the same buffers.
//
// Each benchmark compresses a whole input once per iteration and reports the
// input bytes per second and, as the counter "out_bytes", the compressed size.
// Every codec keeps what it can reuse between calls, as a caller compressing
// clip after clip would: zlib one stream (deflateReset; windowBits -15 for raw
// Deflate, memLevel 8, its defaults), libdeflate one compressor, ours nothing
// but what Deflate() keeps by itself. Names are Deflate/INPUT/LEVEL/CODEC, so
// bench/compare.py can set each codec beside the others.
//
// The "clips" inputs are 64 different pieces of text of one size, compressed
// one after the other, one per iteration. Compressing the same small input
// over and over lets the processor learn every branch of it, which real clips
// never allow; these rows show the cost of a clip the codec has not just seen.
#include <benchmark/benchmark.h>
#include <libdeflate.h>
#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench_data.h"
#include "zip/deflate.h"

namespace {

using Input = std::vector<std::vector<uint8_t>> (*)();

void Fail(const char* what) {
  std::fprintf(stderr, "%s failed\n", what);
  std::abort();
}

// Compresses the inputs in turn, one per iteration, with `compress` (which
// returns the compressed size), and reports the input bytes per second and the
// compressed size: of the one input, or the mean over several.
template <class Compress>
void Run(benchmark::State& state, const std::vector<std::vector<uint8_t>>& all, Compress compress) {
  size_t out_size = 0, next = 0;
  for (auto _ : state) {
    out_size = compress(all[next]);
    next = next + 1 == all.size() ? 0 : next + 1;
  }
  if (all.size() > 1) {
    size_t total = 0;
    for (const std::vector<uint8_t>& data : all) total += compress(data);
    out_size = total / all.size();
  }
  const size_t in_size = all[0].size();
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * in_size));
  state.counters["out_bytes"] = static_cast<double>(out_size);
  state.counters["ratio_pct"] = 100.0 * static_cast<double>(out_size) / static_cast<double>(in_size);
}

void BM_Ours(benchmark::State& state, Input input, int level) {
  Run(state, input(), [level](const std::vector<uint8_t>& data) {
    qb::zip::DeflateOutput out = qb::zip::Deflate(data.data(), data.size(), level);
    benchmark::DoNotOptimize(out.data.data());
    return out.stored_whole ? data.size() : out.data.size();
  });
}

void BM_Zlib(benchmark::State& state, Input input, int level) {
  const std::vector<std::vector<uint8_t>> all = input();
  std::vector<uint8_t> out(compressBound(static_cast<uLong>(all[0].size())) + 64);
  z_stream z{};
  if (deflateInit2(&z, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) Fail("deflateInit2");
  Run(state, all, [&](const std::vector<uint8_t>& data) {
    deflateReset(&z);
    z.next_in = const_cast<uint8_t*>(data.data());
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    if (deflate(&z, Z_FINISH) != Z_STREAM_END) Fail("zlib deflate");
    benchmark::DoNotOptimize(out.data());
    return static_cast<size_t>(z.total_out);
  });
  deflateEnd(&z);
}

void BM_Libdeflate(benchmark::State& state, Input input, int level) {
  const std::vector<std::vector<uint8_t>> all = input();
  libdeflate_compressor* c = libdeflate_alloc_compressor(level);
  if (!c) Fail("libdeflate_alloc_compressor");
  std::vector<uint8_t> out(libdeflate_deflate_compress_bound(c, all[0].size()));
  Run(state, all, [&](const std::vector<uint8_t>& data) {
    const size_t n = libdeflate_deflate_compress(c, data.data(), data.size(), out.data(), out.size());
    if (n == 0) Fail("libdeflate_deflate_compress");
    benchmark::DoNotOptimize(out.data());
    return n;
  });
  libdeflate_free_compressor(c);
}

std::vector<std::vector<uint8_t>> Text() {
  return {qbbench::TextCorpus()};
}
std::vector<std::vector<uint8_t>> Screenshot() {
  return {qbbench::Screenshot()};
}
std::vector<std::vector<uint8_t>> Clip1K() {
  return {qbbench::TextClip(1024)};
}
std::vector<std::vector<uint8_t>> Clip4K() {
  return {qbbench::TextClip(4096)};
}
std::vector<std::vector<uint8_t>> Clip64K() {
  return {qbbench::TextClip(65536)};
}
// 64 pieces of `size` bytes spread evenly over the text corpus.
std::vector<std::vector<uint8_t>> Clips(size_t size) {
  const std::vector<uint8_t>& corpus = qbbench::TextCorpus();
  constexpr size_t kCount = 64;
  std::vector<std::vector<uint8_t>> clips;
  for (size_t i = 0; i < kCount; ++i) {
    const size_t at = (corpus.size() - size) / kCount * i;
    clips.emplace_back(corpus.begin() + static_cast<ptrdiff_t>(at),
                       corpus.begin() + static_cast<ptrdiff_t>(at + size));
  }
  return clips;
}
std::vector<std::vector<uint8_t>> Clips4K() {
  return Clips(4096);
}
std::vector<std::vector<uint8_t>> Clips64K() {
  return Clips(65536);
}

}  // namespace

int main(int argc, char** argv) {
  const std::pair<const char*, Input> inputs[] = {
      {"text", &Text},       {"screenshot", &Screenshot}, {"clip1k", &Clip1K},    {"clip4k", &Clip4K},
      {"clip64k", &Clip64K}, {"clips4k", &Clips4K},       {"clips64k", &Clips64K}};
  for (const auto& [name, input] : inputs) {
    const bool large = name == std::string("text") || name == std::string("screenshot");
    for (int level : {1, 6, 9}) {
      const std::string prefix = "Deflate/" + std::string(name) + "/L" + std::to_string(level) + "/";
      auto unit = large ? benchmark::kMillisecond : benchmark::kMicrosecond;
      benchmark::RegisterBenchmark((prefix + "ours").c_str(), BM_Ours, input, level)->Unit(unit);
      benchmark::RegisterBenchmark((prefix + "zlib").c_str(), BM_Zlib, input, level)->Unit(unit);
      benchmark::RegisterBenchmark((prefix + "libdeflate").c_str(), BM_Libdeflate, input, level)->Unit(unit);
    }
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
