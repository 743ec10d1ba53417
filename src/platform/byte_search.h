// FindBytes: where a byte string first occurs in a longer one, as memmem answers,
// made for scanning many megabytes for a short needle (the search field scans the
// whole text of a cabinet on a keystroke). Positions are tested many at a time for
// two bytes of the needle together - its two rarest in common text (SSE2 or AVX2
// compares) - and only the positions that pass both are compared whole; a
// one-byte needle is memchr's.
#pragma once

#include <cstddef>
#include <string_view>

namespace qb::text {

// The first occurrence of needle in [data, data + size), or null. An empty needle
// is found at data.
const char* FindBytes(const char* data, size_t size, std::string_view needle);
// The same with the 16-byte compares that processors without AVX2 use, whatever
// this one has: for the tests, so that both loops are checked on any machine.
const char* FindBytesNarrow(const char* data, size_t size, std::string_view needle);

inline bool ContainsBytes(std::string_view haystack, std::string_view needle) {
  return FindBytes(haystack.data(), haystack.size(), needle) != nullptr;
}

}  // namespace qb::text
