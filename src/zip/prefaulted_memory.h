// Memory for large tables that are filled in one go (the facts of a central
// directory, a hash set of its names): taken from the system with its pages in
// place, instead of a page fault for each page as it is first touched, which costs
// more than the filling itself.
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

  TPrefaultedAllocator() = default;
  template <class U>
  TPrefaultedAllocator(const TPrefaultedAllocator<U>&) noexcept {}

  // Zero-filled when it comes from the system.
  T* allocate(size_t n) {
    if (n > SIZE_MAX / sizeof(T)) throw std::bad_array_new_length();
    if (n * sizeof(T) < kLeast) return std::allocator<T>().allocate(n);
    void* p = ::mmap(nullptr, n * sizeof(T), PROT_READ | PROT_WRITE,
                     MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
    if (p == MAP_FAILED) throw std::bad_alloc();
    return static_cast<T*>(p);
  }
  void deallocate(T* p, size_t n) noexcept {
    if (n * sizeof(T) < kLeast)
      std::allocator<T>().deallocate(p, n);
    else
      ::munmap(p, n * sizeof(T));
  }
  friend bool operator==(const TPrefaultedAllocator&, const TPrefaultedAllocator&) { return true; }
};

}  // namespace qb::zip
