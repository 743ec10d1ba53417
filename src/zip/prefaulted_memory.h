// Memory for large tables that are filled in one go (the facts of a central
// directory, a hash set of its names): taken from the system with its pages in
// place, instead of a page fault for each page as it is first touched, which costs
// more than the filling itself. A table of a megabyte or more is laid on 2 MiB
// boundaries and asked for as huge pages: one page to fault in, and one entry to
// map, where 4 KiB pages take 512 of each (under a hypervisor that keeps its own
// page tables, each of those also traps to the host the first time it is
// touched, even when it was put in place beforehand: 2.4 ms for 1.9 MB there,
// 0.2 ms as a huge page). The waste is under 2 MiB a table.
#pragma once

#include <sys/mman.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>

namespace qb::zip {

template <class T>
struct TPrefaultedAllocator {
  using value_type = T;
  // Smaller blocks come from the heap as usual.
  static constexpr size_t kLeast = size_t{64} << 10;
  // From here on, whole huge pages.
  static constexpr size_t kHugeFrom = size_t{1} << 20;
  static constexpr size_t kHuge = size_t{2} << 20;

  TPrefaultedAllocator() = default;
  template <class U>
  TPrefaultedAllocator(const TPrefaultedAllocator<U>&) noexcept {}

  // Zero-filled when it comes from the system.
  T* allocate(size_t n) {
    if (n > SIZE_MAX / sizeof(T)) throw std::bad_array_new_length();
    const size_t bytes = n * sizeof(T);
    if (bytes < kLeast) return std::allocator<T>().allocate(n);
    if (bytes < kHugeFrom) {
      void* p =
          ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
      if (p == MAP_FAILED) throw std::bad_alloc();
      return static_cast<T*>(p);
    }
    return static_cast<T*>(AllocateHuge(MappedLength(bytes)));
  }
  void deallocate(T* p, size_t n) noexcept {
    const size_t bytes = n * sizeof(T);
    if (bytes < kLeast)
      std::allocator<T>().deallocate(p, n);
    else
      ::munmap(p, bytes < kHugeFrom ? bytes : MappedLength(bytes));
  }
  friend bool operator==(const TPrefaultedAllocator&, const TPrefaultedAllocator&) { return true; }

 private:
  static size_t MappedLength(size_t bytes) {
    if (bytes > SIZE_MAX - kHuge) throw std::bad_array_new_length();
    return (bytes + kHuge - 1) & ~(kHuge - 1);
  }
  // length bytes at a 2 MiB boundary: a mapping one huge page longer, its ends cut
  // off. Where the system gives no huge pages the advice is ignored and the pages
  // are put in place one by one, as for a smaller table.
  static void* AllocateHuge(size_t length) {
    void* reserved =
        ::mmap(nullptr, length + kHuge, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (reserved == MAP_FAILED) throw std::bad_alloc();
    const uintptr_t start = reinterpret_cast<uintptr_t>(reserved);
    const uintptr_t aligned = (start + kHuge - 1) & ~uintptr_t{kHuge - 1};
    if (aligned > start) ::munmap(reserved, aligned - start);
    if (const size_t tail = start + kHuge - aligned)
      ::munmap(reinterpret_cast<void*>(aligned + length), tail);
    void* p = reinterpret_cast<void*>(aligned);
    ::madvise(p, length, MADV_HUGEPAGE);
#ifdef MADV_POPULATE_WRITE
    if (::madvise(p, length, MADV_POPULATE_WRITE) == 0) return p;
#endif
    // An older kernel: touch a byte of each page instead.
    for (size_t at = 0; at < length; at += 4096) static_cast<volatile uint8_t*>(p)[at] = 0;
    return p;
  }
};

}  // namespace qb::zip
