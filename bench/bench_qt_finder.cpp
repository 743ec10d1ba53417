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
//   Index/stall/searching-history  the same with a search on and the History
//                           shown (the results and the history filled anew)
//   Tray/menu/index         the tray menu's entries from the search's index
//   Tray/menu/directory     the same from the cabinet's loaded directory (no index)
//   Reference/tray-own-reader  the newest items as the menu read them before, by a
//                           reader of its own (the whole directory read each time)
//   Save/follow             a clip saved while a search is on: from the save to
//                           the search showing it (the new item read on another
//                           thread); diff_ms: the directory compared with the
//                           index, max_stall_ms: the longest the event loop waited
//   Reference/whole-read    what a save cost the search before: the whole index
//                           read again
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

#include "app/tray_menu.h"
#include "find_cabinet.h"
#include "qt/explorer_view.h"
#include "qt/finder_pane.h"
#include "qt/main_window.h"
#include "store/cabinet_store.h"

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

void BM_IndexStall(benchmark::State& state, const char* query, bool history) {
  Program& p = TheProgram();
  p.Type(query);
  if (history) p.Pane().Tabs()->setCurrentWidget(p.Pane().HistoryView());
  double worst = 0;
  for (auto _ : state) {
    p.Pane().CabinetChanged("");
    p.Pane().CabinetChanged(qbbench::FindCabinet().path.string());
    // The switch's own work (the whole tree and history shown again) is not the read's.
    p.Drain();
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
  state.counters["found"] = static_cast<double>(p.Pane().Finder().Found().size());
  p.Pane().Tabs()->setCurrentIndex(0);
  p.Type("");
}

void BM_TrayMenu(benchmark::State& state, bool from_index) {
  Program& p = TheProgram();
  p.Ready();
  const auto index = p.Pane().Finder().CurrentIndex();
  if (from_index && !index) {
    state.SkipWithError("the index is not in step");
    return;
  }
  size_t entries = 0;
  for (auto _ : state) entries = p.window->Form().TrayMenu(from_index ? index.get() : nullptr).size();
  state.counters["entries"] = static_cast<double>(entries);
}

void BM_TrayOwnReader(benchmark::State& state) {
  TheProgram().Ready();
  size_t items = 0;
  for (auto _ : state) items = qb::NewestItems(qbbench::FindCabinet().path.string(), 10).size();
  state.counters["items"] = static_cast<double>(items);
}

// Saves a clip into the open cabinet as AutoSave does, with a search on.
void SaveClip(Program& p, int n) {
  qb::TMemoryStream payload("typedef struct saved_" + std::to_string(n) + " { int x; } saved;" +
                            std::string(1, '\0'));
  qb::store::SaveItem(p.window->Form().Zip1(), payload, "Saved\\Clip" + std::to_string(n), 1);
}

void BM_SaveFollow(benchmark::State& state) {
  Program& p = TheProgram();
  p.Ready();
  p.Type("typedef struct");
  const std::string cabinet = qbbench::FindCabinet().path.string();
  static int saved = 0;
  double first_ms = 0, longest_ms = 0;
  for (auto _ : state) {
    SaveClip(p, ++saved);
    QElapsedTimer clock;
    clock.start();
    p.Pane().CabinetChanged(cabinet);
    first_ms += static_cast<double>(clock.nsecsElapsed()) / 1e6;
    qint64 last = clock.nsecsElapsed();
    while (p.Pane().Finder().Catching() || p.Pane().Finder().Reading()) {
      QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
      const qint64 now = clock.nsecsElapsed();
      longest_ms = std::max(longest_ms, static_cast<double>(now - last) / 1e6);
      last = now;
    }
    state.SetIterationTime(static_cast<double>(clock.nsecsElapsed()) / 1e9);
  }
  state.counters["diff_ms"] = first_ms / static_cast<double>(state.iterations());
  state.counters["max_stall_ms"] = longest_ms;
  state.counters["found"] = static_cast<double>(p.Pane().Finder().Found().size());
  p.Type("");
}

void BM_WholeRead(benchmark::State& state) {
  Program& p = TheProgram();
  p.Ready();
  p.Type("typedef struct");
  static int saved = 1000;
  for (auto _ : state) {
    SaveClip(p, ++saved);
    QElapsedTimer clock;
    clock.start();
    p.Pane().Finder().Refresh(true);  // what followed a save before
    while (p.Pane().Finder().Reading()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    state.SetIterationTime(static_cast<double>(clock.nsecsElapsed()) / 1e9);
  }
  p.Type("");
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
BENCHMARK_CAPTURE(BM_IndexStall, plain, "", false)
    ->Name("Index/stall")
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(2);
BENCHMARK_CAPTURE(BM_IndexStall, searching, "typedef struct", true)
    ->Name("Index/stall/searching-history")
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(2);
BENCHMARK_CAPTURE(BM_TrayMenu, index, true)->Name("Tray/menu/index")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_TrayMenu, directory, false)->Name("Tray/menu/directory")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TrayOwnReader)->Name("Reference/tray-own-reader")->Unit(benchmark::kMillisecond);
// These two add items to the cabinet: they come last.
BENCHMARK(BM_SaveFollow)->Name("Save/follow")->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(20);
BENCHMARK(BM_WholeRead)
    ->Name("Reference/whole-read")
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(2);

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
