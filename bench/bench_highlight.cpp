// Highlighting: the full state scan and colouring of a 5 MB source text, and the
// cost of one keystroke on it (the edit, its incremental rescan, and the states of
// the screenful of lines below the caret that a repaint asks for).
#include <benchmark/benchmark.h>

#include <cctype>
#include <string>

#include "bench_data.h"
#include "highlight/hl_engine.h"

namespace {

constexpr size_t kTextBytes = 5u << 20;
constexpr size_t kScreenLines = 60;

const std::string& SourceText() {
  static const std::string text = [] {
    const auto& corpus = qbbench::TextCorpus();
    const size_t size = std::min(kTextBytes, corpus.size());
    return std::string(corpus.begin(), corpus.begin() + static_cast<std::ptrdiff_t>(size));
  }();
  return text;
}

void BM_LoadAndFullStateScan(benchmark::State& state) {
  qb::THLEditor e;
  e.SetHighLighter(static_cast<qb::THighLighter>(state.range(0)));
  for (auto _ : state) {
    e.SetText(SourceText());
    e.Rescan();
    benchmark::DoNotOptimize(e.LineStartState(e.LineCount() - 1));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * SourceText().size()));
  state.counters["lines"] = static_cast<double>(e.LineCount());
}
BENCHMARK(BM_LoadAndFullStateScan)->Arg(qb::hlCBuilder)->Arg(qb::hlPascal)->Unit(benchmark::kMillisecond);

void BM_FullStateScan(benchmark::State& state) {
  qb::THLEditor e;
  e.SetHighLighter(static_cast<qb::THighLighter>(state.range(0)));
  e.SetText(SourceText());
  for (auto _ : state) {
    e.Rescan();
    benchmark::DoNotOptimize(e.LineStartState(e.LineCount() - 1));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * SourceText().size()));
}
BENCHMARK(BM_FullStateScan)
    ->Arg(qb::hlCBuilder)
    ->Arg(qb::hlPascal)
    ->Arg(qb::hlHtml)
    ->Unit(benchmark::kMillisecond);

void BM_ColourEveryLine(benchmark::State& state) {
  qb::THLEditor e;
  e.SetHighLighter(static_cast<qb::THighLighter>(state.range(0)));
  e.SetText(SourceText());
  e.Rescan();
  size_t spans = 0;
  const qb::THLSpanSink sink = [&](const qb::THLSpan&) { ++spans; };
  for (auto _ : state) {
    for (size_t i = 0; i < e.LineCount(); ++i) e.LineAttributes(i, sink);
  }
  benchmark::DoNotOptimize(spans);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * SourceText().size()));
}
BENCHMARK(BM_ColourEveryLine)->Arg(qb::hlCBuilder)->Arg(qb::hlPascal)->Unit(benchmark::kMillisecond);

// One keystroke per iteration in the middle of the text: even iterations type the
// text, odd ones take it out again, so the text stays the same on average.
void Keystroke(benchmark::State& state, qb::THighLighter mode, std::string_view typed) {
  qb::THLEditor e;
  e.SetHighLighter(mode);
  e.SetText(SourceText());
  e.Rescan();
  // From the middle on, the first line with a word of three letters: the caret goes
  // after its first letter.
  size_t line = e.LineCount() / 2, column = 0;
  for (; line < e.LineCount(); ++line) {
    const std::string_view text = e.Line(line);
    size_t run = 0;
    for (column = 0; column < text.size() && run < 3; ++column)
      run = std::isalpha(static_cast<unsigned char>(text[column])) ? run + 1 : 0;
    if (run == 3) break;
  }
  const qb::TTextPos at{line, column - 2};
  size_t scanned_before = static_cast<size_t>(e.LinesScanned());
  bool typed_in = false;
  for (auto _ : state) {
    if (!typed_in) {
      e.Insert(at, typed);
    } else {
      qb::TTextPos end = at;
      if (typed == "\n")
        end = {at.Line + 1, 0};
      else
        end.Column += typed.size();
      e.Delete(at, end);
    }
    typed_in = !typed_in;
    for (size_t i = line; i < line + kScreenLines; ++i) benchmark::DoNotOptimize(e.LineStartState(i));
  }
  state.counters["lines_scanned_per_key"] =
      static_cast<double>(e.LinesScanned() - scanned_before) / static_cast<double>(state.iterations());
}

void BM_KeystrokeLetter(benchmark::State& state) {
  Keystroke(state, qb::hlCBuilder, "x");
}
void BM_KeystrokeStar(benchmark::State& state) {
  Keystroke(state, qb::hlCBuilder, "*");
}
void BM_KeystrokeEnter(benchmark::State& state) {
  Keystroke(state, qb::hlCBuilder, "\n");
}
void BM_KeystrokeOpenComment(benchmark::State& state) {
  Keystroke(state, qb::hlCBuilder, "/*");
}
void BM_KeystrokeOpenBrace(benchmark::State& state) {
  Keystroke(state, qb::hlPascal, "{");
}
BENCHMARK(BM_KeystrokeLetter)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_KeystrokeStar)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_KeystrokeEnter)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_KeystrokeOpenComment)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_KeystrokeOpenBrace)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
