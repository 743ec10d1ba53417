#include "zip/file_window.h"

#include <setjmp.h>
#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>

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

TFileWindow::TFileWindow(int fd, uint64_t size)
    : fd_(fd), size_(size), page_(static_cast<uint64_t>(sysconf(_SC_PAGESIZE))) {}

size_t TFileWindow::ReadAt(uint64_t position, void* buffer, size_t count) {
  if (position >= size_) return 0;
  const size_t n = static_cast<size_t>(std::min<uint64_t>(count, size_ - position));
  if (n > 0) std::memcpy(buffer, Peek(position, n), n);
  return n;
}

void TFileWindow::Move(uint64_t position, size_t count) {
  Unmap();
  const uint64_t start = position - position % page_;
  const uint64_t wanted = std::max<uint64_t>(kWindow, position + count - start);
  const size_t length = static_cast<size_t>(std::min(wanted, size_ - start));
  void* view = sys::Mmap(length, PROT_READ, MAP_SHARED | MAP_POPULATE, fd_, static_cast<off_t>(start));
  if (view == MAP_FAILED) AbandonGuardedPass();
  map_ = static_cast<const uint8_t*>(view);
  start_ = start;
  length_ = length;
}

void TFileWindow::Unmap() {
  if (map_) ::munmap(const_cast<uint8_t*>(map_), length_);
  map_ = nullptr;
  start_ = 0;
  length_ = 0;
}

}  // namespace qb::zip
