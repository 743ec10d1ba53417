// Inflate throughput: ours, zlib and libdeflate on the same raw Deflate streams
// (made by zlib at level 6), whole buffer in, whole buffer out. Bytes per second
// count the uncompressed size. zlib reuses one stream (inflateReset), libdeflate
// one decompressor. ours-streaming is our InflateStream() as qvf test and cat use
// it. Names are Inflate/INPUT/CODEC (see bench/compare.py).
#include <benchmark/benchmark.h>
#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench_data.h"
#include "zip/inflate.h"

namespace {

struct Sample {
  std::vector<uint8_t> original;
  std::vector<uint8_t> compressed;
};

void Check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "%s failed\n", what);
    std::abort();
  }
}

Sample MakeSample(const std::vector<uint8_t>& original) {
  Sample s{original, {}};
  z_stream zs{};
  Check(deflateInit2(&zs, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) == Z_OK, "deflateInit2");
  s.compressed.resize(deflateBound(&zs, original.size()));
  zs.next_in = const_cast<Bytef*>(original.data());
  zs.avail_in = static_cast<uInt>(original.size());
  zs.next_out = s.compressed.data();
  zs.avail_out = static_cast<uInt>(s.compressed.size());
  Check(deflate(&zs, Z_FINISH) == Z_STREAM_END, "zlib deflate");
  s.compressed.resize(zs.total_out);
  deflateEnd(&zs);
  return s;
}

void Report(benchmark::State& state, const Sample& s) {
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(s.original.size()));
  state.counters["ratio"] = static_cast<double>(s.compressed.size()) / static_cast<double>(s.original.size());
}

void BM_Ours(benchmark::State& state, const Sample* s) {
  std::vector<uint8_t> out(s->original.size());
  for (auto _ : state) {
    const qb::zip::CodecResult r =
        qb::zip::Inflate(s->compressed.data(), s->compressed.size(), out.data(), out.size());
    Check(r.status == qb::zip::CodecStatus::Ok && r.produced == out.size(), "Inflate");
    benchmark::DoNotOptimize(out.data());
  }
  Check(out == s->original, "Inflate output");
  Report(state, *s);
}

// The streaming decoder as qvf test and cat use it: input in 64 KiB pieces, a
// 256 KiB window that slides, the output passed on piece by piece.
void BM_OursStreaming(benchmark::State& state, const Sample* s) {
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
  std::vector<uint8_t> out(s->original.size());
  for (auto _ : state) {
    Source source;
    source.data = &s->compressed;
    Sink sink;
    sink.out = &out;
    const qb::zip::CodecResult r = qb::zip::InflateStream(source, sink, 256 << 10, 256 << 10);
    Check(r.status == qb::zip::CodecStatus::Ok && r.produced == out.size(), "InflateStream");
    benchmark::DoNotOptimize(out.data());
  }
  Check(out == s->original, "InflateStream output");
  Report(state, *s);
}

void BM_Zlib(benchmark::State& state, const Sample* s) {
  std::vector<uint8_t> out(s->original.size());
  z_stream zs{};
  Check(inflateInit2(&zs, -15) == Z_OK, "inflateInit2");
  for (auto _ : state) {
    inflateReset(&zs);
    zs.next_in = const_cast<Bytef*>(s->compressed.data());
    zs.avail_in = static_cast<uInt>(s->compressed.size());
    zs.next_out = out.data();
    zs.avail_out = static_cast<uInt>(out.size());
    Check(inflate(&zs, Z_FINISH) == Z_STREAM_END, "zlib inflate");
    benchmark::DoNotOptimize(out.data());
  }
  inflateEnd(&zs);
  Check(out == s->original, "zlib output");
  Report(state, *s);
}

void BM_Libdeflate(benchmark::State& state, const Sample* s) {
  std::vector<uint8_t> out(s->original.size());
  libdeflate_decompressor* d = libdeflate_alloc_decompressor();
  Check(d != nullptr, "libdeflate_alloc_decompressor");
  for (auto _ : state) {
    size_t produced = 0;
    Check(libdeflate_deflate_decompress(d, s->compressed.data(), s->compressed.size(), out.data(), out.size(),
                                        &produced) == LIBDEFLATE_SUCCESS &&
              produced == out.size(),
          "libdeflate_deflate_decompress");
    benchmark::DoNotOptimize(out.data());
  }
  libdeflate_free_decompressor(d);
  Check(out == s->original, "libdeflate output");
  Report(state, *s);
}

}  // namespace

int main(int argc, char** argv) {
  static const Sample text = MakeSample(qbbench::TextCorpus());
  static const Sample screenshot = MakeSample(qbbench::Screenshot());
  static const Sample clip1k = MakeSample(qbbench::TextClip(1024));
  static const Sample clip4k = MakeSample(qbbench::TextClip(4096));
  static const Sample clip64k = MakeSample(qbbench::TextClip(65536));
  const std::pair<const char*, const Sample*> inputs[] = {{"text", &text},
                                                          {"screenshot", &screenshot},
                                                          {"clip1k", &clip1k},
                                                          {"clip4k", &clip4k},
                                                          {"clip64k", &clip64k}};
  for (const auto& [name, sample] : inputs) {
    const std::string prefix = "Inflate/" + std::string(name) + "/";
    const auto unit =
        sample->original.size() > (1u << 20) ? benchmark::kMillisecond : benchmark::kMicrosecond;
    benchmark::RegisterBenchmark((prefix + "ours").c_str(), BM_Ours, sample)->Unit(unit);
    if (name == std::string("text"))
      benchmark::RegisterBenchmark((prefix + "ours-streaming").c_str(), BM_OursStreaming, sample)->Unit(unit);
    benchmark::RegisterBenchmark((prefix + "zlib").c_str(), BM_Zlib, sample)->Unit(unit);
    benchmark::RegisterBenchmark((prefix + "libdeflate").c_str(), BM_Libdeflate, sample)->Unit(unit);
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
