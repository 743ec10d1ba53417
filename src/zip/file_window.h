// Reading a file through a moving read-only mapping, safe against the file being
// cut short meanwhile.
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

// A window of a file mapped for reading, moved along as the pass asks for other
// bytes; a window at a time keeps the pages mapped (and so the resident memory)
// bounded however large the file. Touch its bytes only within RunGuarded.
class TFileWindow {
 public:
  static constexpr size_t kWindow = size_t{2} << 20;

  // For the first size bytes of the file open for reading as fd, for a pass that
  // touches nearly every page of what it reads: each window is mapped with its
  // pages in place (those in the cache, the others read in one go), not page by
  // page as the pass first touches them, a fault each, and what the pass asks to
  // be prefetched lies in pages already mapped.
  TFileWindow(int fd, uint64_t size);
  ~TFileWindow() { Unmap(); }
  TFileWindow(const TFileWindow&) = delete;
  TFileWindow& operator=(const TFileWindow&) = delete;

  // The count bytes at position; nullptr when they run past size. Within a pass
  // only: a window that cannot be mapped abandons the pass.
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

 private:
  void Move(uint64_t position, size_t count);
  void Unmap();

  int fd_;
  uint64_t size_;
  uint64_t page_;
  const uint8_t* map_ = nullptr;
  uint64_t start_ = 0;
  size_t length_ = 0;
};

}  // namespace qb::zip
