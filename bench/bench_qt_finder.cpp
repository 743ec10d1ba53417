// The search field and the history as the program runs them, on the main window
// over a cabinet of 60,000 text items with 105 MB of text (find_cabinet.h),
// offscreen:
//   Keystroke/narrowing     one more letter typed ("typedef struc" -> "...struct",
//                           2,900 items found): search, filter and lay out the tree
//   Keystroke/backspace     the letter taken back (the results of a query met again
//                           are kept)
//   Keystroke/fresh         a new word that occurs nowhere (every text searched)
//   Keystroke/everything    a letter found in every item: 60,000 rows shown open
//   Keystroke/clear         Escape: the whole tree back as it was
//   History/open            the History tab shown: 60,000 rows, newest first
//   Index/stall             reading the index (off the user interface thread):
//                           the longest the event loop waited meanwhile
// Each keystroke counts from the text change to the tree laid out (the event loop
// drained); its CPU time is the whole process's (a long search scans on two
// threads). The reference is the same window's Display All Explorer's Entries
// (expanding the whole unfiltered tree), a command of the program itself.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QTabWidget>
#include <QTimer>
#include <QTreeView>
#include <chrono>
#include <memory>

#include "find_cabinet.h"
#include "qt/explorer_view.h"
#include "qt/finder_pane.h"
#include "qt/main_window.h"

inline void InitBenchResources() {
  Q_INIT_RESOURCE(quiverbox);
}

namespace {

using qb::qt::TQtMainWindow;

struct Program {
  qbbench::fs::path home =
      qbbench::fs::temp_directory_path() / ("qb-bench-qt-finder-" + std::to_string(::getpid()));
  std::unique_ptr<TQtMainWindow> window;
  Program() {
    InitBenchResources();
    qbbench::fs::create_directories(home);
    window = std::make_unique<TQtMainWindow>(qb::TPaths::InFolder(home.string()));
    window->resize(900, 700);
    window->show();
    window->OpenCabinet(qbbench::FindCabinet().path.string());
  }
  ~Program() {
    window.reset();
    std::error_code ec;
    qbbench::fs::remove_all(home, ec);
  }
  qb::qt::TFinderPane& Pane() { return *window->FinderPane(); }
  void Drain() {
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
  }
  // The index read, waited for.
  void Ready() {
    while (Pane().Finder().Reading() || !Pane().Finder().Index()) {
      Pane().Finder().Refresh(true);
      QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    }
  }
  void Type(const QString& text) {
    Pane().SearchField()->setText(text);
    Drain();
  }
};

// Made on first use, gone before the application object is.
std::unique_ptr<Program> g_program;
Program& TheProgram() {
  if (!g_program) g_program = std::make_unique<Program>();
  return *g_program;
}

// Types before, then (timed) typed; the finder's kept results are forgotten first
// unless keep (each keystroke searches as the first of its kind would).
void Timed(benchmark::State& state, const QString& before, const QString& typed, bool keep = false) {
  Program& p = TheProgram();
  p.Ready();
  size_t found = 0;
  for (auto _ : state) {
    state.PauseTiming();
    if (!keep) p.Pane().Finder().ForgetResults();
    p.Type(before);
    state.ResumeTiming();
    p.Type(typed);
    found = p.Pane().Finder().Found().size();
  }
  state.counters["found"] = static_cast<double>(found);
  p.Type("");
}

void BM_Narrowing(benchmark::State& state) {
  Timed(state, "typedef struc", "typedef struct");
}
void BM_Backspace(benchmark::State& state) {
  Timed(state, "typedef struct", "typedef struc", true);
}
void BM_Fresh(benchmark::State& state) {
  Timed(state, "", "QuiverboxNeedle");
}
void BM_Everything(benchmark::State& state) {
  Timed(state, "", "e");
}
void BM_Clear(benchmark::State& state) {
  Timed(state, "typedef struct", "");
}

void BM_DisplayAll(benchmark::State& state) {
  Program& p = TheProgram();
  p.Ready();
  for (auto _ : state) {
    state.PauseTiming();
    p.window->Run(qb::TCommand::CollapseAllMiClick);
    p.Drain();
    state.ResumeTiming();
    p.window->Run(qb::TCommand::DisplayAllMiClick);
    p.Drain();
  }
  p.window->Run(qb::TCommand::CollapseAllMiClick);
}

void BM_HistoryOpen(benchmark::State& state) {
  Program& p = TheProgram();
  p.Ready();
  QTabWidget* tabs = p.Pane().Tabs();
  for (auto _ : state) {
    state.PauseTiming();
    tabs->setCurrentIndex(0);
    p.Drain();
    p.Pane().CabinetChanged("");  // the history is filled afresh each time
    p.Pane().CabinetChanged(qbbench::FindCabinet().path.string());
    p.Ready();
    state.ResumeTiming();
    tabs->setCurrentWidget(p.Pane().HistoryView());
    p.Drain();
  }
  state.counters["rows"] = p.Pane().History()->rowCount();
  tabs->setCurrentIndex(0);
}

void BM_IndexStall(benchmark::State& state) {
  Program& p = TheProgram();
  double worst = 0;
  for (auto _ : state) {
    p.Pane().CabinetChanged("");
    p.Pane().CabinetChanged(qbbench::FindCabinet().path.string());
    QElapsedTimer clock;
    clock.start();
    qint64 last = 0, longest = 0;
    p.Pane().Finder().Refresh(true);
    while (p.Pane().Finder().Reading()) {
      QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
      const qint64 now = clock.elapsed();
      longest = std::max(longest, now - last);
      last = now;
    }
    worst = std::max(worst, static_cast<double>(longest));
    state.SetIterationTime(static_cast<double>(clock.elapsed()) / 1000.0);
  }
  state.counters["max_stall_ms"] = worst;
}

BENCHMARK(BM_Narrowing)->Name("Keystroke/narrowing")->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();
BENCHMARK(BM_Backspace)->Name("Keystroke/backspace")->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();
BENCHMARK(BM_Fresh)->Name("Keystroke/fresh")->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();
BENCHMARK(BM_Everything)
    ->Name("Keystroke/everything")
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime();
BENCHMARK(BM_Clear)->Name("Keystroke/clear")->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();
BENCHMARK(BM_DisplayAll)->Name("Reference/DisplayAll")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HistoryOpen)->Name("History/open")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_IndexStall)->Name("Index/stall")->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(2);

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  g_program.reset();
  benchmark::Shutdown();
  return 0;
}
