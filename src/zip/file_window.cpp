#include "zip/file_window.h"

#include <setjmp.h>
#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <mutex>
#include <new>

#include "zip/system_calls.h"

namespace qb::zip {

namespace {

// The guarded pass running on this thread, if any.
struct Guard {
  sigjmp_buf jump;
};
thread_local Guard* t_guard = nullptr;

struct sigaction g_previous;  // the handler ours took the place of
bool g_installed = false;

// What would have happened without our handler.
void PassOn(int signal, siginfo_t* info, void* context) {
  if (g_previous.sa_flags & SA_SIGINFO) {
    g_previous.sa_sigaction(signal, info, context);
    return;
  }
  if (g_previous.sa_handler == SIG_IGN && info->si_code <= 0) return;  // sent, not a fault: ignored
  if (g_previous.sa_handler != SIG_DFL && g_previous.sa_handler != SIG_IGN) {
    g_previous.sa_handler(signal);
    return;
  }
  // The default action (a fault cannot be ignored): taken as the handler returns,
  // when the signal is no longer blocked.
  struct sigaction fallback = {};
  fallback.sa_handler = SIG_DFL;
  sigemptyset(&fallback.sa_mask);
  sigaction(signal, &fallback, nullptr);
  raise(signal);
}

void OnBusError(int signal, siginfo_t* info, void* context) {
  Guard* guard = t_guard;
  // A fault of a memory access (not a signal sent) within a guarded pass.
  if (guard && info->si_code > 0) siglongjmp(guard->jump, 1);
  PassOn(signal, info, context);
}

void Install() {
  struct sigaction ours = {};
  ours.sa_sigaction = OnBusError;
  ours.sa_flags = SA_SIGINFO;
  sigemptyset(&ours.sa_mask);
  g_installed = sigaction(SIGBUS, &ours, &g_previous) == 0;
}

// Whether a fault in a pass on this thread comes to our handler.
bool Guardable() {
  static std::once_flag once;
  std::call_once(once, Install);
  if (!g_installed) return false;
  struct sigaction now;
  if (sigaction(SIGBUS, nullptr, &now) != 0 || !(now.sa_flags & SA_SIGINFO) || now.sa_sigaction != OnBusError)
    return false;
  // A fault while the signal is blocked ends the program whatever the handler.
  sigset_t blocked;
  return pthread_sigmask(SIG_BLOCK, nullptr, &blocked) == 0 && !sigismember(&blocked, SIGBUS);
}

}  // namespace

namespace detail {

bool RunGuarded(void (*pass)(void*), void* context) {
  if (!Guardable()) return false;
  Guard guard;
  Guard* const outer = t_guard;
  // The signal mask is saved and restored: the handler leaves with SIGBUS blocked.
  if (sigsetjmp(guard.jump, 1) != 0) {
    t_guard = outer;
    return false;
  }
  t_guard = &guard;
  std::atomic_signal_fence(std::memory_order_seq_cst);
  pass(context);
  std::atomic_signal_fence(std::memory_order_seq_cst);
  t_guard = outer;
  return true;
}

}  // namespace detail

void AbandonGuardedPass() {
  siglongjmp(t_guard->jump, 1);
}

namespace {

// The way of this process: 0 not measured yet, else 1 + Way.
std::atomic<int> g_way{0};
// Passes over fewer bytes are mapped without a measure: the measure would cost
// about what the better way saves on them.
constexpr uint64_t kMeasureFrom = uint64_t{4} << 20;
// What the measure maps and reads: the 64 pages at the file's end, where the
// directory lies that the first pass reads (and whose end record has just been
// read), rather than bytes no pass may need.
constexpr size_t kMeasured = size_t{256} << 10;

// Touches a byte of each page of a mapping.
struct TouchEveryPage {
  const volatile uint8_t* bytes;
  size_t length;
  size_t page;
  unsigned sum = 0;
  void operator()() {
    for (size_t at = 0; at < length; at += page) sum += bytes[at];
  }
};

}  // namespace

std::optional<TFileWindow::Way> TFileWindow::UseWay(std::optional<Way> way) {
  const int before = g_way.exchange(way ? 1 + static_cast<int>(*way) : 0);
  return before ? std::optional<Way>(static_cast<Way>(before - 1)) : std::nullopt;
}

// Maps the last kMeasured bytes and touches each page, then reads them into a
// buffer, twice over, with the bytes in the cache, and keeps the faster way for
// the process. Whatever stops the measure leaves the mapping, as before it.
TFileWindow::Way TFileWindow::ChooseWay(int fd, uint64_t size, uint64_t reach) {
  if (const int known = g_way.load(std::memory_order_relaxed)) return static_cast<Way>(known - 1);
  if (reach < kMeasureFrom || size < kMeasured) return Way::Map;
  using Clock = std::chrono::steady_clock;
  const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  const off_t at = static_cast<off_t>((size - kMeasured) / page * page);
  std::vector<uint8_t, TPrefaultedAllocator<uint8_t>> copy(kMeasured);
  const auto read = [&] {
    return sys::Pread(fd, copy.data(), kMeasured, at) == static_cast<ssize_t>(kMeasured);
  };
  if (!read()) return Way::Map;
  Clock::duration mapped = Clock::duration::max(), copied = Clock::duration::max();
  for (int round = 0; round < 2; ++round) {
    const Clock::time_point start = Clock::now();
    void* view = sys::Mmap(kMeasured, PROT_READ, MAP_SHARED | MAP_POPULATE, fd, at);
    if (view == MAP_FAILED) return Way::Map;
    TouchEveryPage touch{static_cast<const uint8_t*>(view), kMeasured, page};
    const bool touched = RunGuarded(touch);
    ::munmap(view, kMeasured);
    const Clock::time_point between = Clock::now();
    if (!touched || !read()) return Way::Map;
    mapped = std::min(mapped, between - start);
    copied = std::min(copied, Clock::now() - between);
  }
  const Way way = mapped <= copied ? Way::Map : Way::Read;
  g_way.store(1 + static_cast<int>(way));
  return way;
}

TFileWindow::TFileWindow(int fd, uint64_t size, uint64_t reach)
    : TFileWindow(fd, size, ChooseWay(fd, size, reach)) {}

TFileWindow::TFileWindow(int fd, uint64_t size, Way way)
    : fd_(fd), size_(size), page_(static_cast<uint64_t>(sysconf(_SC_PAGESIZE))), way_(way) {}

size_t TFileWindow::ReadAt(uint64_t position, void* buffer, size_t count) {
  if (position >= size_) return 0;
  const size_t n = static_cast<size_t>(std::min<uint64_t>(count, size_ - position));
  if (n > 0) std::memcpy(buffer, Peek(position, n), n);
  return n;
}

void TFileWindow::Move(uint64_t position, size_t count) {
  Unmap();
  if (way_ == Way::Read) {
    Fill(position, count);
    return;
  }
  const uint64_t start = position - position % page_;
  const uint64_t wanted = std::max<uint64_t>(kWindow, position + count - start);
  const size_t length = static_cast<size_t>(std::min(wanted, size_ - start));
  void* view = sys::Mmap(length, PROT_READ, MAP_SHARED | MAP_POPULATE, fd_, static_cast<off_t>(start));
  if (view == MAP_FAILED) AbandonGuardedPass();
  map_ = static_cast<const uint8_t*>(view);
  start_ = start;
  length_ = length;
}

// Reads the window from position on. A file that no longer holds the count bytes
// there (cut short since), or a read that fails, abandons the pass as a fault in
// a mapping does. The buffer is taken as a window first needs it (a pass may
// never ask for one); it belongs to the window, which outlives the pass, and where
// it cannot be had the pass is abandoned rather than left by an exception. Short
// of a quarter of a window (the end of a small directory), it holds just what is
// left of the file; otherwise a whole window, which comes as one huge page: a
// buffer of 4 KiB pages, each touched for the first time, would cost what the
// mapping costs.
void TFileWindow::Fill(uint64_t position, size_t count) {
  const size_t length = static_cast<size_t>(std::min<uint64_t>(kWindow, size_ - position));
  if (buffer_.size() < length) {
    try {
      decltype(buffer_)().swap(buffer_);  // the old bytes are not wanted
      buffer_.resize(length < kWindow / 4 ? length : kWindow);
    } catch (const std::bad_alloc&) {
      AbandonGuardedPass();
    }
  }
  if (count > length) AbandonGuardedPass();
  size_t got = 0;
  while (got < length) {
    const ssize_t n = sys::Pread(fd_, buffer_.data() + got, length - got, static_cast<off_t>(position + got));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  if (got < count) AbandonGuardedPass();
  map_ = buffer_.data();
  start_ = position;
  length_ = got;
}

void TFileWindow::Unmap() {
  if (map_ && way_ == Way::Map) ::munmap(const_cast<uint8_t*>(map_), length_);
  map_ = nullptr;
  start_ = 0;
  length_ = 0;
}

}  // namespace qb::zip
