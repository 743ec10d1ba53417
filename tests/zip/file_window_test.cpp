// Passes over a file that another program cuts short, through windows mapped or
// read: the pass ends, the program goes on; faults outside a pass still end the
// program as before.
#include "zip/file_window.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <string_view>
#include <thread>

#include "support/test_support.h"
#include "zip/system_calls.h"

namespace qb::zip {
namespace {

using qbtest::TempDir;
using Way = TFileWindow::Way;

constexpr uint64_t kPage = 4096;

// The tests of this program that count the engine's calls, or cut a file at its
// first mapping, take windows mapped unless they choose otherwise: the way this
// machine would choose is measured, and may be either.
class MappedWindows : public testing::Environment {
  void SetUp() override { TFileWindow::UseWay(Way::Map); }
};
[[maybe_unused]] testing::Environment* const kMappedWindows =
    testing::AddGlobalTestEnvironment(new MappedWindows);

// A file of size bytes, open for reading.
struct TestFile {
  std::string path;
  int fd = -1;
  TestFile(const TempDir& dir, const std::string& name, uint64_t size) : path(dir / name) {
    qbtest::WriteFileBytes(path, std::vector<uint8_t>(size, 7));
    fd = open(path.c_str(), O_RDONLY);
  }
  ~TestFile() { close(fd); }
};

// Reads the first byte of every page below end; *reached is the last page read.
struct EveryPage {
  TFileWindow& window;
  uint64_t end;
  uint64_t* reached;
  uint64_t sum = 0;
  void operator()() {
    for (uint64_t at = 0; at < end; at += kPage) {
      sum += *window.Peek(at, 1);
      *reached = at;
    }
  }
};

bool SigbusBlocked() {
  sigset_t mask;
  pthread_sigmask(SIG_BLOCK, nullptr, &mask);
  return sigismember(&mask, SIGBUS);
}

// The same bytes as the file holds, and a stop where the file was cut, whether
// the cut came before or after a window was mapped.
TEST(FileWindowCut, AFileCutShortEndsThePassNotTheProgram) {
  TempDir dir;
  // More than one window, so that the pass moves it along.
  const uint64_t size = 2 * TFileWindow::kWindow + 5 * kPage;
  TestFile file(dir, "f", size);
  TFileWindow window(file.fd, size, Way::Map);
  uint64_t reached = 0;
  EveryPage pass{window, size, &reached};
  ASSERT_TRUE(RunGuarded(pass));
  EXPECT_EQ(reached, size - kPage);
  EXPECT_EQ(pass.sum, 7 * (size / kPage));

  // Cut within the second window, past its first page: the page holding the new
  // end is still read, the next one stops the pass, each time it is tried.
  const uint64_t cut = TFileWindow::kWindow + 3 * kPage + 100;
  ASSERT_EQ(truncate(file.path.c_str(), static_cast<off_t>(cut)), 0);
  for (int attempt = 0; attempt < 3; ++attempt) {
    reached = 0;
    EXPECT_FALSE(RunGuarded(pass));
    EXPECT_EQ(reached, cut - cut % kPage);
    EXPECT_FALSE(SigbusBlocked());
  }
  // Over the file as it now is, a pass runs to its end.
  TFileWindow shorter(file.fd, cut, Way::Map);
  EXPECT_EQ(shorter.Peek(cut - 1, 2), nullptr);
  EveryPage whole{shorter, cut, &reached};
  EXPECT_TRUE(RunGuarded(whole));
  EXPECT_EQ(reached, cut - cut % kPage);
  uint8_t bytes[8] = {};
  bool copied = false;
  auto read_tail = [&] { copied = shorter.ReadAt(cut - 3, bytes, sizeof bytes) == 3; };
  EXPECT_TRUE(RunGuarded(read_tail));
  EXPECT_TRUE(copied);
  EXPECT_EQ(bytes[2], 7);
  EXPECT_EQ(bytes[3], 0);

  // Cut again while a window is mapped, its pages in place or not: the pass stops
  // at the first page the file no longer holds, within the window it has.
  const uint64_t second_cut = 5 * kPage + 10;
  auto cut_midway = [&] {
    reached = 0;
    for (uint64_t at = 0; at < cut; at += kPage) {
      if (at == kPage && truncate(file.path.c_str(), static_cast<off_t>(second_cut)) != 0) return;
      pass.sum += *shorter.Peek(at, 1);
      reached = at;
    }
  };
  EXPECT_FALSE(RunGuarded(cut_midway));
  EXPECT_EQ(reached, second_cut - second_cut % kPage);
  EXPECT_FALSE(SigbusBlocked());
}

TEST(FileWindow, PassesOnOtherThreadsGoOnWhileOneIsStopped) {
  TempDir dir;
  const uint64_t size = 64 * kPage;
  TestFile good(dir, "good", size), cut(dir, "cut", size);
  ASSERT_EQ(truncate(cut.path.c_str(), static_cast<off_t>(size / 2)), 0);
  int stopped = 0, completed = 0;
  std::thread faulting([&] {
    for (int i = 0; i < 200; ++i) {
      TFileWindow window(cut.fd, size, Way::Map);
      uint64_t reached = 0;
      EveryPage pass{window, size, &reached};
      stopped += RunGuarded(pass) ? 0 : 1;
    }
  });
  for (int i = 0; i < 200; ++i) {
    TFileWindow window(good.fd, size, Way::Map);
    uint64_t reached = 0;
    EveryPage pass{window, size, &reached};
    completed += RunGuarded(pass) && reached == size - kPage ? 1 : 0;
  }
  faulting.join();
  EXPECT_EQ(stopped, 200);
  EXPECT_EQ(completed, 200);
}

// Read into a buffer of its own, a window gives the file's bytes wherever the pass
// asks, across the window's ends; once the file is cut short, the pass stops at
// the first bytes no longer there, and a read that fails stops it too.
TEST(FileWindowCut, AReadWindowGivesTheFileAndStopsWhereItWasCut) {
  TempDir dir;
  const uint64_t size = 2 * TFileWindow::kWindow + 5 * kPage + 17;
  std::vector<uint8_t> bytes(size);
  for (uint64_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(i * 7 + i / 251);
  const std::string path = dir / "f";
  qbtest::WriteFileBytes(path, bytes);
  const int fd = open(path.c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  TFileWindow window(fd, size, Way::Read);
  EXPECT_EQ(window.way(), Way::Read);
  bool same = true;
  auto here = [&](TFileWindow& w, uint64_t at, size_t count) {
    const uint8_t* p = w.Peek(at, count);
    same = same && p && std::memcmp(p, &bytes[at], count) == 0;
  };
  auto across = [&] {
    for (uint64_t at : {uint64_t{0}, TFileWindow::kWindow - 3, uint64_t{5}, size - 40,
                        TFileWindow::kWindow + 1, 2 * TFileWindow::kWindow - 20})
      here(window, at, 40);
  };
  ASSERT_TRUE(RunGuarded(across));
  EXPECT_TRUE(same);
  EXPECT_EQ(window.Peek(size - 3, 4), nullptr);
  uint8_t tail[8] = {};
  size_t copied = 0;
  auto read_tail = [&] { copied = window.ReadAt(size - 3, tail, sizeof tail); };
  ASSERT_TRUE(RunGuarded(read_tail));
  EXPECT_EQ(copied, 3u);
  EXPECT_EQ(tail[2], bytes[size - 1]);

  // Cut within the second window: the pass reads up to the cut, then stops.
  const uint64_t cut = TFileWindow::kWindow + 3 * kPage + 100;
  ASSERT_EQ(truncate(path.c_str(), static_cast<off_t>(cut)), 0);
  TFileWindow after(fd, size, Way::Read);
  uint64_t reached = 0;
  auto every_page = [&] {
    for (uint64_t at = 0; at < size; at += kPage) {
      here(after, at, 1);
      reached = at;
    }
  };
  EXPECT_FALSE(RunGuarded(every_page));
  EXPECT_EQ(reached, cut - cut % kPage);
  EXPECT_TRUE(same);
  EXPECT_FALSE(SigbusBlocked());

  sys::SetFailureHook([](const char* call) { return std::string_view(call) == "pread" ? EIO : 0; });
  TFileWindow failing(fd, cut, Way::Read);
  auto first = [&] { here(failing, 0, 1); };
  EXPECT_FALSE(RunGuarded(first));
  sys::SetFailureHook({});
  close(fd);
}

// Which way is cheaper is measured only for a pass over megabytes, not again once
// known, and a measure that cannot be made leaves the mapping.
TEST(FileWindow, TheWayIsMeasuredForLongPassesAndKept) {
  TempDir dir;
  const uint64_t size = 1200 * kPage;
  TestFile file(dir, "f", size);
  const TFileWindow::TWayUsed unknown(Way::Map);
  TFileWindow::UseWay(std::nullopt);
  int calls = 0;
  sys::SetFailureHook([&](const char*) { return ++calls, 0; });
  EXPECT_EQ(TFileWindow(file.fd, size, 100 * kPage).way(), Way::Map);
  EXPECT_EQ(calls, 0);
  sys::SetFailureHook([](const char* call) { return std::string_view(call) == "mmap" ? ENOMEM : 0; });
  EXPECT_EQ(TFileWindow(file.fd, size, size).way(), Way::Map);
  sys::SetFailureHook({});
  const Way measured = TFileWindow(file.fd, size, size).way();
  sys::SetFailureHook([&](const char*) { return ++calls, 0; });
  EXPECT_EQ(TFileWindow(file.fd, size, size).way(), measured);
  EXPECT_EQ(TFileWindow(file.fd, size, 100 * kPage).way(), measured);
  sys::SetFailureHook({});
  EXPECT_EQ(calls, 0);  // not measured again
}

// Ended as the handler before ours ends it: by the signal, or by a sanitizer's
// report (which exits, or aborts when told to abort on errors).
bool EndedByTheFault(int status) {
  return (WIFSIGNALED(status) && (WTERMSIG(status) == SIGBUS || WTERMSIG(status) == SIGABRT)) ||
         (WIFEXITED(status) && WEXITSTATUS(status) != 0);
}

TEST(FileWindowDeathTest, AFaultOutsideAPassStillEndsTheProgram) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  TempDir dir;
  TestFile file(dir, "f", 4 * kPage);
  // The handler is in place once a pass has run.
  auto nothing = [] {};
  ASSERT_TRUE(RunGuarded(nothing));
  void* view = mmap(nullptr, 4 * kPage, PROT_READ, MAP_SHARED, file.fd, 0);
  ASSERT_NE(view, MAP_FAILED);
  ASSERT_EQ(truncate(file.path.c_str(), 100), 0);
  EXPECT_EXIT(
      {
        volatile uint8_t byte = static_cast<const uint8_t*>(view)[2 * kPage];
        (void)byte;
        std::exit(0);
      },
      EndedByTheFault, "");
  munmap(view, 4 * kPage);
}

}  // namespace
}  // namespace qb::zip
