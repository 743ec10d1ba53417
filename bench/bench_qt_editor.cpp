// The text editor dialog as the program runs it: opening a 5 MB text and typing
// one key in it, and typing in a text that is one line of 100 KB. Each measurement
// runs twice, through the dialog with C++ highlighting ("ours") and through a bare
// QPlainTextEdit with the same text and no highlighter ("reference"), so the
// difference is what the highlighting costs. Both are shown (offscreen) and their
// text area is painted after the load and after each key, as a user would see it:
// the figures are the document edit, the highlighter's work and one paint.
//
// The dialog takes a long text in piece by piece: its open is the time until the
// first screen is painted; how long the rest takes to go in through the event loop,
// and the longest the loading keeps the loop from events, are counters. The
// reference takes the whole text at once, as a plain QPlainTextEdit does.
// Times are CPU times of this thread (the machine's load disturbs wall times).
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QPlainTextEdit>
#include <QTextBlock>
#include <QTextCursor>
#include <chrono>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "bench_data.h"
#include "qt/hl_syntax_highlighter.h"
#include "qt/memo_dialog.h"

namespace {

constexpr size_t kTextBytes = 5u << 20;
constexpr size_t kLongLineBytes = 100u << 10;

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\n') continue;
    lines.push_back(text.substr(start, i - start));
    start = i + 1;
  }
  lines.push_back(text.substr(start));
  return lines;
}

// 5 MB of C and C++ headers, as the editor's lines.
const std::vector<std::string>& BigTextLines() {
  static const std::vector<std::string> lines = [] {
    const auto& corpus = qbbench::TextCorpus();
    std::string text(corpus.begin(),
                     corpus.begin() + static_cast<std::ptrdiff_t>(std::min(kTextBytes, corpus.size())));
    for (char& c : text)
      if (c == '\r' || c == '\0') c = ' ';
    return SplitLines(text);
  }();
  return lines;
}

// One line of 100 KB of C code: statements, strings and comments.
const std::vector<std::string>& LongLine() {
  static const std::vector<std::string> lines = [] {
    std::string line;
    for (int i = 0; line.size() < kLongLineBytes; ++i)
      line += "x" + std::to_string(i) + " = y * 2 + f(\"s\", 'c'); /* note */ ";
    return std::vector<std::string>{line};
  }();
  return lines;
}

// CPU time of this thread.
double ThreadMs() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

// The 5 MB text with the 100 KB line in its middle.
const std::vector<std::string>& LongLineIn5MB() {
  static const std::vector<std::string> lines = [] {
    std::vector<std::string> text = BigTextLines();
    text[text.size() / 2] = LongLine().front();
    return text;
  }();
  return lines;
}

QString Joined(const std::vector<std::string>& lines) {
  QStringList list;
  for (const std::string& line : lines) list.append(QString::fromStdString(line));
  return list.join(QLatin1Char('\n'));
}

// An editor holding the text: the program's dialog with C++ highlighting, or a bare
// QPlainTextEdit.
struct Editor {
  std::unique_ptr<qb::qt::TMemoDialog> dialog;
  std::unique_ptr<QPlainTextEdit> bare;

  explicit Editor(bool ours) {
    if (ours) {
      dialog = std::make_unique<qb::qt::TMemoDialog>();
      dialog->resize(800, 600);
      dialog->show();
    } else {
      bare = std::make_unique<QPlainTextEdit>();
      bare->setLineWrapMode(QPlainTextEdit::NoWrap);
      bare->resize(800, 600);
      bare->show();
    }
  }
  QPlainTextEdit* Edit() const {
    return dialog ? static_cast<QPlainTextEdit*>(dialog->Editor()) : bare.get();
  }
  // Paints the text area now.
  void Paint() const { Edit()->viewport()->repaint(); }
  void Load(const std::vector<std::string>& lines, const QString& joined) {
    if (dialog) {
      qb::TTextEditorRequest request;
      request.HighLighter = qb::hlCBuilder;
      request.Lines = lines;
      dialog->Load(request);
    } else {
      bare->setPlainText(joined);
    }
  }
  // Runs the event loop until the whole text is in; returns the longest turn of
  // the loop and the time it all took (CPU, ms).
  std::pair<double, double> FinishLoading() const {
    double longest = 0, total = 0;
    while (dialog && dialog->Editor()->Loading()) {
      const double start = ThreadMs();
      QCoreApplication::processEvents();
      const double turn = ThreadMs() - start;
      longest = std::max(longest, turn);
      total += turn;
    }
    return {longest, total};
  }
  QTextDocument* Document() const { return dialog ? dialog->Editor()->document() : bare->document(); }
};

void Open(benchmark::State& state, const std::vector<std::string>& lines) {
  const bool ours = state.range(0) == 1;
  const QString joined = Joined(lines);
  double adapter_ms = 0, longest_turn_ms = 0, rest_ms = 0;
  for (auto _ : state) {
    state.PauseTiming();
    auto editor = std::make_unique<Editor>(ours);
    state.ResumeTiming();
    editor->Load(lines, joined);
    editor->Paint();
    state.PauseTiming();
    const auto [longest, rest] = editor->FinishLoading();
    longest_turn_ms = std::max(longest_turn_ms, longest);
    rest_ms += rest;
    if (editor->dialog)
      adapter_ms +=
          std::chrono::duration<double, std::milli>(editor->dialog->Editor()->Highlighter()->TimeSpent())
              .count();
    editor.reset();
    state.ResumeTiming();
  }
  const auto n = static_cast<double>(state.iterations());
  if (ours) {
    state.counters["adapter_ms"] = adapter_ms / n;
    state.counters["rest_ms"] = rest_ms / n;
    state.counters["longest_turn_ms"] = longest_turn_ms;
  }
  state.SetLabel(ours ? "ours" : "reference");
}

// Types a character (even iterations) and takes it out again (odd ones), at a
// position inside a word in the middle of the text.
void Keystroke(benchmark::State& state, const std::vector<std::string>& lines, const QString& typed) {
  const bool ours = state.range(0) == 1;
  Editor editor(ours);
  editor.Load(lines, Joined(lines));
  if (editor.dialog) editor.dialog->Editor()->FinishLoading();
  QCoreApplication::processEvents();
  QTextDocument* doc = editor.Document();
  const QTextBlock block = doc->findBlockByNumber(doc->blockCount() / 2);
  const int at = block.position() + block.length() / 2;
  QTextCursor cursor(doc);
  cursor.setPosition(at);
  editor.Edit()->setTextCursor(cursor);  // the place typed at is in view
  editor.Edit()->ensureCursorVisible();
  editor.Paint();
  QCoreApplication::processEvents();
  qb::qt::THLSyntaxHighlighter* highlighter =
      editor.dialog ? editor.dialog->Editor()->Highlighter() : nullptr;
  const uint64_t coloured = highlighter ? highlighter->BlocksColoured() : 0;
  const auto spent = highlighter ? highlighter->TimeSpent() : std::chrono::nanoseconds(0);
  const int resyncs = highlighter ? highlighter->Resyncs() : 0;
  bool typed_in = false;
  for (auto _ : state) {
    cursor.setPosition(at);
    if (!typed_in) {
      cursor.insertText(typed);
    } else {
      cursor.setPosition(at + static_cast<int>(typed.size()), QTextCursor::KeepAnchor);
      cursor.removeSelectedText();
    }
    editor.Paint();
    typed_in = !typed_in;
  }
  if (highlighter) {
    state.counters["blocks_per_key"] = static_cast<double>(highlighter->BlocksColoured() - coloured) /
                                       static_cast<double>(state.iterations());
    state.counters["resyncs"] = highlighter->Resyncs() - resyncs;
    state.counters["adapter_us_per_key"] =
        std::chrono::duration<double, std::micro>(highlighter->TimeSpent() - spent).count() /
        static_cast<double>(state.iterations());
  }
  state.SetLabel(ours ? "ours" : "reference");
}

void BM_Open5MB(benchmark::State& state) {
  Open(state, BigTextLines());
}
void BM_Keystroke5MB(benchmark::State& state) {
  Keystroke(state, BigTextLines(), QStringLiteral("x"));
}
void BM_KeystrokeStar5MB(benchmark::State& state) {
  Keystroke(state, BigTextLines(), QStringLiteral("*"));
}
void BM_Open100KBLine(benchmark::State& state) {
  Open(state, LongLine());
}
void BM_Keystroke100KBLine(benchmark::State& state) {
  Keystroke(state, LongLine(), QStringLiteral("x"));
}
void BM_KeystrokeStar100KBLine(benchmark::State& state) {
  Keystroke(state, LongLine(), QStringLiteral("*"));
}
void BM_KeystrokeStar100KBLineIn5MB(benchmark::State& state) {
  Keystroke(state, LongLineIn5MB(), QStringLiteral("*"));
}

// Arg 1: the dialog with highlighting; 0: a bare QPlainTextEdit.
BENCHMARK(BM_Open5MB)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Keystroke5MB)->Arg(1)->Arg(0)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_KeystrokeStar5MB)->Arg(1)->Arg(0)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Open100KBLine)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Keystroke100KBLine)->Arg(1)->Arg(0)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_KeystrokeStar100KBLine)->Arg(1)->Arg(0)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_KeystrokeStar100KBLineIn5MB)->Arg(1)->Arg(0)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
