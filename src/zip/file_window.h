// Reading a file through a moving window, safe against the file being cut short
// meanwhile.
//
// A page of a file mapping that the file no longer backs (another program
// truncated the file) raises SIGBUS when it is touched, which would end the
// program. RunGuarded runs a pass over such mappings with that signal caught: the
// pass stops where it was, and RunGuarded returns false; the caller then does the
// work again by reading (read calls see the file as it now is and report a short
// file as usual). As the pass may be left at any point, it must hold nothing that
// needs undoing: no allocation, no object with a destructor, no lock, no
// exception; it writes its results to memory that outlives it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "zip/prefaulted_memory.h"

namespace qb::zip {

namespace detail {
bool RunGuarded(void (*pass)(void*), void* context);
}

// Runs pass() with SIGBUS from its memory accesses caught (see above): true when
// it ran to its end; false when it was stopped, by a fault or by
// AbandonGuardedPass, or could not be guarded (the thread blocks SIGBUS, or
// another handler replaced ours) and was not run.
template <class Pass>
bool RunGuarded(Pass& pass) {
  return detail::RunGuarded([](void* p) { (*static_cast<Pass*>(p))(); }, &pass);
}

// Ends the running guarded pass as a fault does (RunGuarded returns false). Only
// within a pass.
[[noreturn]] void AbandonGuardedPass();

// A window of a file for reading, moved along as the pass asks for other bytes; a
// window at a time keeps the resident memory bounded however large the file.
// Touch its bytes only within RunGuarded.
//
// A window is either the file's pages mapped in place or a copy of them read into
// a buffer of the window's own. Mapping saves the copy, and where the kernel keeps
// the page tables it costs a fraction of it (a pass over 100 MB of small entries:
// 2-3 ms mapped, 11-19 ms read). Under a hypervisor that keeps page tables of its
// own for the guest, though, each first touch of a mapped page traps to the host,
// even when the page was put in place beforehand: there a pass over 12 MB took
// 5.5 ms mapped and 1.2 ms read. Which way is cheaper is therefore measured once a
// process, on the first pass long enough for it to matter (see ChooseWay).
class TFileWindow {
 public:
  static constexpr size_t kWindow = size_t{2} << 20;

  enum class Way { Map, Read };

  // For the first size bytes of the file open for reading as fd, for a pass that
  // touches nearly every page of what it reads, about reach bytes in all. Mapped,
  // each window has its pages in place (those in the cache, the others read in
  // one go), not page by page as the pass first touches them, a fault each, and
  // what the pass asks to be prefetched lies in pages already mapped.
  TFileWindow(int fd, uint64_t size, uint64_t reach);
  TFileWindow(int fd, uint64_t size, Way way);
  ~TFileWindow() { Unmap(); }
  TFileWindow(const TFileWindow&) = delete;
  TFileWindow& operator=(const TFileWindow&) = delete;

  // The count bytes at position; nullptr when they run past size. Within a pass
  // only: a window that cannot be mapped or read abandons the pass.
  const uint8_t* Peek(uint64_t position, size_t count) {
    if (position > size_ || count > size_ - position) return nullptr;
    if (!map_ || position < start_ || position + count > start_ + length_) Move(position, count);
    return map_ + (position - start_);
  }
  // Asks for the bytes at position to be brought into the cache, where they lie in
  // the window.
  void Prefetch(uint64_t position) const {
    if (position >= start_ && position - start_ < length_) __builtin_prefetch(map_ + (position - start_));
  }
  // Copies up to count bytes at position; fewer only where size ends.
  size_t ReadAt(uint64_t position, void* buffer, size_t count);

  Way way() const { return way_; }

  // The way windows take in this process from now on; nullopt measures it again
  // before the next long pass. Returns the way that was in use. For tests, as is
  // TWayUsed: the way windows take while it lives.
  static std::optional<Way> UseWay(std::optional<Way> way);
  class TWayUsed {
   public:
    explicit TWayUsed(Way way) : before_(UseWay(way)) {}
    ~TWayUsed() { UseWay(before_); }
    TWayUsed(const TWayUsed&) = delete;
    TWayUsed& operator=(const TWayUsed&) = delete;

   private:
    std::optional<Way> before_;
  };

 private:
  // The way of this process, measured on fd the first time a pass reaches
  // kMeasureFrom bytes or more; shorter passes are mapped until then.
  static Way ChooseWay(int fd, uint64_t size, uint64_t reach);
  void Move(uint64_t position, size_t count);
  void Fill(uint64_t position, size_t count);
  void Unmap();

  int fd_;
  uint64_t size_;
  uint64_t page_;
  Way way_;
  std::vector<uint8_t, TPrefaultedAllocator<uint8_t>> buffer_;  // Read: the window's bytes
  const uint8_t* map_ = nullptr;
  uint64_t start_ = 0;
  size_t length_ = 0;
};

}  // namespace qb::zip
