// Inflate throughput: ours, zlib and libdeflate on the same raw Deflate streams
// (made by zlib at level 6), whole buffer in, whole buffer out. Bytes per second
// count the uncompressed size. zlib reuses one stream (inflateReset), libdeflate
// one decompressor. ours-streaming is our InflateStream() as qvf test and cat use
// it. Names are Inflate/INPUT/CODEC (see bench/compare.py).
//
// The "clips" inputs are 64 different pieces of text of one size, decoded one
// after the other, one per iteration. Decoding the same small stream over and
// over lets the processor learn its branches, and how well it does that
// depends on where the code lies; these rows show the cost of a clip not just
// decoded.
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

// 64 streams of `size` bytes each, spread evenly over the text corpus.
std::vector<Sample> MakeClips(size_t size) {
  const std::vector<uint8_t>& corpus = qbbench::TextCorpus();
  constexpr size_t kCount = 64;
  std::vector<Sample> clips;
  for (size_t i = 0; i < kCount; ++i) {
    const size_t at = (corpus.size() - size) / kCount * i;
    clips.push_back(MakeSample(std::vector<uint8_t>(corpus.begin() + static_cast<ptrdiff_t>(at),
                                                    corpus.begin() + static_cast<ptrdiff_t>(at + size))));
  }
  return clips;
}

// Decodes the clips in turn, one per iteration, with decode(sample, out), which
// says whether it produced the whole clip; every clip's output is checked first.
template <class Decode>
void RunClips(benchmark::State& state, const std::vector<Sample>& clips, const char* what, Decode decode) {
  std::vector<uint8_t> out(clips.front().original.size());
  for (const Sample& s : clips) Check(decode(s, out) && out == s.original, what);
  size_t next = 0;
  for (auto _ : state) {
    Check(decode(clips[next], out), what);
    next = next + 1 == clips.size() ? 0 : next + 1;
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(out.size()));
}

void BM_OursClips(benchmark::State& state, const std::vector<Sample>* clips) {
  RunClips(state, *clips, "Inflate", [](const Sample& s, std::vector<uint8_t>& out) {
    const qb::zip::CodecResult r =
        qb::zip::Inflate(s.compressed.data(), s.compressed.size(), out.data(), out.size());
    return r.status == qb::zip::CodecStatus::Ok && r.produced == out.size();
  });
}

void BM_ZlibClips(benchmark::State& state, const std::vector<Sample>* clips) {
  z_stream zs{};
  Check(inflateInit2(&zs, -15) == Z_OK, "inflateInit2");
  RunClips(state, *clips, "zlib inflate", [&zs](const Sample& s, std::vector<uint8_t>& out) {
    inflateReset(&zs);
    zs.next_in = const_cast<Bytef*>(s.compressed.data());
    zs.avail_in = static_cast<uInt>(s.compressed.size());
    zs.next_out = out.data();
    zs.avail_out = static_cast<uInt>(out.size());
    return inflate(&zs, Z_FINISH) == Z_STREAM_END && zs.avail_out == 0;
  });
  inflateEnd(&zs);
}

void BM_LibdeflateClips(benchmark::State& state, const std::vector<Sample>* clips) {
  libdeflate_decompressor* d = libdeflate_alloc_decompressor();
  Check(d != nullptr, "libdeflate_alloc_decompressor");
  RunClips(state, *clips, "libdeflate_deflate_decompress", [d](const Sample& s, std::vector<uint8_t>& out) {
    size_t produced = 0;
    return libdeflate_deflate_decompress(d, s.compressed.data(), s.compressed.size(), out.data(), out.size(),
                                         &produced) == LIBDEFLATE_SUCCESS &&
           produced == out.size();
  });
  libdeflate_free_decompressor(d);
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
  static const std::vector<Sample> clips4k = MakeClips(4096);
  static const std::vector<Sample> clips64k = MakeClips(65536);
  for (const auto& [name, clips] : {std::pair{"clips4k", &clips4k}, std::pair{"clips64k", &clips64k}}) {
    const std::string prefix = "Inflate/" + std::string(name) + "/";
    benchmark::RegisterBenchmark((prefix + "ours").c_str(), BM_OursClips, clips)
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark((prefix + "zlib").c_str(), BM_ZlibClips, clips)
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark((prefix + "libdeflate").c_str(), BM_LibdeflateClips, clips)
        ->Unit(benchmark::kMicrosecond);
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
