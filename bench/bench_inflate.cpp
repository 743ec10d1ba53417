// Inflate throughput: ours against zlib's inflate on the same raw Deflate
// streams (zlib level 6), whole buffer in, whole buffer out. Bytes per second
// count the uncompressed size.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "bench_data.h"
#include "zip/inflate.h"

namespace {

struct Sample {
  std::vector<uint8_t> original;
  std::vector<uint8_t> compressed;
};

Sample MakeSample(const std::vector<uint8_t>& original) {
  Sample s{original, {}};
  z_stream zs{};
  if (deflateInit2(&zs, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) std::abort();
  s.compressed.resize(deflateBound(&zs, original.size()));
  zs.next_in = const_cast<Bytef*>(original.data());
  zs.avail_in = static_cast<uInt>(original.size());
  zs.next_out = s.compressed.data();
  zs.avail_out = static_cast<uInt>(s.compressed.size());
  if (deflate(&zs, Z_FINISH) != Z_STREAM_END) std::abort();
  s.compressed.resize(zs.total_out);
  deflateEnd(&zs);
  return s;
}

const Sample& Text() {
  static const Sample s = MakeSample(qbbench::TextCorpus());
  return s;
}
const Sample& Bmp() {
  static const Sample s = MakeSample(qbbench::BmpScreenshot());
  return s;
}

void Check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "%s failed\n", what);
    std::abort();
  }
}

void RunOurs(benchmark::State& state, const Sample& s) {
  std::vector<uint8_t> out(s.original.size());
  for (auto _ : state) {
    const qb::zip::CodecResult r =
        qb::zip::Inflate(s.compressed.data(), s.compressed.size(), out.data(), out.size());
    Check(r.status == qb::zip::CodecStatus::Ok && r.produced == out.size(), "Inflate");
    benchmark::DoNotOptimize(out.data());
  }
  Check(out == s.original, "Inflate output");
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(s.original.size()));
  state.counters["ratio"] = static_cast<double>(s.compressed.size()) / static_cast<double>(s.original.size());
}

void RunZlib(benchmark::State& state, const Sample& s) {
  std::vector<uint8_t> out(s.original.size());
  for (auto _ : state) {
    z_stream zs{};
    Check(inflateInit2(&zs, -15) == Z_OK, "inflateInit2");
    zs.next_in = const_cast<Bytef*>(s.compressed.data());
    zs.avail_in = static_cast<uInt>(s.compressed.size());
    zs.next_out = out.data();
    zs.avail_out = static_cast<uInt>(out.size());
    Check(inflate(&zs, Z_FINISH) == Z_STREAM_END, "zlib inflate");
    inflateEnd(&zs);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(s.original.size()));
}

// The streaming decoder as qvf test and cat use it: input in 64 KiB pieces, a
// 256 KiB window that slides, the output passed on piece by piece.
void RunOursStreaming(benchmark::State& state, const Sample& s) {
  struct Source : qb::zip::InflateSource {
    const std::vector<uint8_t>* data = nullptr;
    size_t at = 0;
    size_t Read(uint8_t* buffer, size_t capacity) override {
      const size_t n = std::min(capacity, data->size() - at);
      std::copy_n(data->data() + at, n, buffer);
      at += n;
      return n;
    }
  };
  struct Sink : qb::zip::InflateSink {
    std::vector<uint8_t>* out = nullptr;
    size_t at = 0;
    bool Write(const uint8_t* data, size_t size) override {
      std::copy_n(data, size, out->data() + at);
      at += size;
      return true;
    }
  };
  std::vector<uint8_t> out(s.original.size());
  for (auto _ : state) {
    Source source;
    source.data = &s.compressed;
    Sink sink;
    sink.out = &out;
    const qb::zip::CodecResult r = qb::zip::InflateStream(source, sink, 256 << 10, 256 << 10);
    Check(r.status == qb::zip::CodecStatus::Ok && r.produced == out.size(), "InflateStream");
    benchmark::DoNotOptimize(out.data());
  }
  Check(out == s.original, "InflateStream output");
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(s.original.size()));
}

void BM_TextOursStreaming(benchmark::State& state) {
  RunOursStreaming(state, Text());
}
void BM_TextOurs(benchmark::State& state) {
  RunOurs(state, Text());
}
void BM_TextZlib(benchmark::State& state) {
  RunZlib(state, Text());
}
void BM_BmpOurs(benchmark::State& state) {
  RunOurs(state, Bmp());
}
void BM_BmpZlib(benchmark::State& state) {
  RunZlib(state, Bmp());
}

BENCHMARK(BM_TextOurs)->Name("Inflate/text/ours")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TextZlib)->Name("Inflate/text/zlib")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TextOursStreaming)->Name("Inflate/text/ours-streaming")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BmpOurs)->Name("Inflate/bmp/ours")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BmpZlib)->Name("Inflate/bmp/zlib")->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
