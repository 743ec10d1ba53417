// Tables taken from the system: zero-filled, whole, given back whole, and the
// large ones laid on huge-page boundaries.
#include "zip/prefaulted_memory.h"

#include <gtest/gtest.h>
#include <sys/mman.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>

namespace qb::zip {
namespace {

// Whether [p, p + length) is mapped at all: msync tells of unmapped pages.
bool Mapped(const void* p, size_t length) {
  return msync(const_cast<void*>(p), length, MS_ASYNC) == 0;
}

TEST(PrefaultedMemory, TablesComeZeroedAndWholeAndGoBackWhole) {
  using Allocator = TPrefaultedAllocator<uint64_t>;
  constexpr size_t kHuge = Allocator::kHuge;
  for (size_t bytes :
       {Allocator::kLeast, Allocator::kHugeFrom - 8, Allocator::kHugeFrom, 3 * kHuge + 8, 4 * kHuge}) {
    SCOPED_TRACE(bytes);
    const size_t n = bytes / sizeof(uint64_t);
    Allocator allocator;
    uint64_t* table = allocator.allocate(n);
    EXPECT_TRUE(std::all_of(table, table + n, [](uint64_t v) { return v == 0; }));
    table[0] = 1;
    table[n - 1] = 2;
    const bool huge = bytes >= Allocator::kHugeFrom;
    const size_t mapped = huge ? (bytes + kHuge - 1) / kHuge * kHuge : bytes;
    EXPECT_EQ(reinterpret_cast<uintptr_t>(table) % (huge ? kHuge : 4096), 0u);
    EXPECT_TRUE(Mapped(table, mapped));
    allocator.deallocate(table, n);
    EXPECT_FALSE(Mapped(table, 4096));
    EXPECT_FALSE(Mapped(reinterpret_cast<uint8_t*>(table) + mapped - 4096, 4096));
  }
}

}  // namespace
}  // namespace qb::zip
