#include "platform/byte_search.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define QB_BYTE_SEARCH_X86 1
#endif

namespace qb::text {

namespace {

// How common a byte is in the texts searched (folded: lower case): the two
// rarest bytes of a needle let the fewest false candidates through.
constexpr int CommonnessOf(unsigned char c) {
  constexpr std::string_view kLetters = " etaoinsrhldcumfpgwybvkxjqz";  // most common first
  for (size_t k = 0; k < kLetters.size(); ++k)
    if (static_cast<unsigned char>(kLetters[k]) == c) return 100 - static_cast<int>(k) * 2;
  if (std::string_view("\n\t_.,;:()=*-/\"'{}<>").find(static_cast<char>(c)) != std::string_view::npos)
    return 50;
  if (c >= '0' && c <= '9') return 45;
  if (c >= 0x80) return 30;  // UTF-8 sequences
  if (c > ' ' && c < 0x7F) return 25;
  return 10;
}

// Looked up for every byte of a needle on every call (narrowed searches call
// once per item).
constexpr std::array<int, 256> kCommonness = [] {
  std::array<int, 256> table{};
  for (size_t c = 0; c < table.size(); ++c) table[c] = CommonnessOf(static_cast<unsigned char>(c));
  return table;
}();

int Commonness(unsigned char c) {
  return kCommonness[c];
}

// Where in the needle the two bytes tested first stand (a < b).
struct TProbe {
  size_t a = 0, b = 0;
};

TProbe ProbeOf(std::string_view needle) {
  size_t rarest = 0;
  for (size_t k = 1; k < needle.size(); ++k)
    if (Commonness(static_cast<unsigned char>(needle[k])) <
        Commonness(static_cast<unsigned char>(needle[rarest])))
      rarest = k;
  size_t second = rarest == 0 ? 1 : 0;
  for (size_t k = 0; k < needle.size(); ++k)
    if (k != rarest && Commonness(static_cast<unsigned char>(needle[k])) <
                           Commonness(static_cast<unsigned char>(needle[second])))
      second = k;
  return {std::min(rarest, second), std::max(rarest, second)};
}

inline bool MatchesAt(const char* p, std::string_view needle) {
  return std::memcmp(p, needle.data(), needle.size()) == 0;
}

// Scalar rest: candidates from position at on.
const char* FindFrom(const char* data, size_t size, size_t at, std::string_view needle, TProbe probe) {
  for (; at + needle.size() <= size; ++at)
    if (data[at + probe.a] == needle[probe.a] && data[at + probe.b] == needle[probe.b] &&
        MatchesAt(data + at, needle))
      return data + at;
  return nullptr;
}

#ifdef QB_BYTE_SEARCH_X86

// Candidates at..at + 15 (SSE2) or at..at + 31 (AVX2) are tested at once; the
// loads reach at most needle.size() - 1 + width bytes past at.
const char* FindSse2(const char* data, size_t size, std::string_view needle, TProbe probe) {
  const __m128i byte_a = _mm_set1_epi8(needle[probe.a]);
  const __m128i byte_b = _mm_set1_epi8(needle[probe.b]);
  size_t at = 0;
  for (; at + needle.size() - 1 + 16 <= size; at += 16) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + at + probe.a));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + at + probe.b));
    auto mask = static_cast<uint32_t>(
        _mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(a, byte_a), _mm_cmpeq_epi8(b, byte_b))));
    while (mask) {
      const auto bit = static_cast<size_t>(__builtin_ctz(mask));
      if (MatchesAt(data + at + bit, needle)) return data + at + bit;
      mask &= mask - 1;
    }
  }
  return FindFrom(data, size, at, needle, probe);
}

__attribute__((target("avx2"))) const char* FindAvx2(const char* data, size_t size, std::string_view needle,
                                                     TProbe probe) {
  const __m256i byte_a = _mm256_set1_epi8(needle[probe.a]);
  const __m256i byte_b = _mm256_set1_epi8(needle[probe.b]);
  size_t at = 0;
  for (; at + needle.size() - 1 + 32 <= size; at += 32) {
    const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(data + at + probe.a));
    const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(data + at + probe.b));
    auto mask = static_cast<uint32_t>(
        _mm256_movemask_epi8(_mm256_and_si256(_mm256_cmpeq_epi8(a, byte_a), _mm256_cmpeq_epi8(b, byte_b))));
    while (mask) {
      const auto bit = static_cast<size_t>(__builtin_ctz(mask));
      if (MatchesAt(data + at + bit, needle)) return data + at + bit;
      mask &= mask - 1;
    }
  }
  return FindFrom(data, size, at, needle, probe);
}

bool HasAvx2() {
  static const bool has = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") != 0;
  }();
  return has;
}

#endif

const char* Search(const char* data, size_t size, std::string_view needle, bool wide) {
  if (needle.empty()) return data;
  if (needle.size() > size) return nullptr;
  if (needle.size() == 1) return static_cast<const char*>(std::memchr(data, needle[0], size));
#ifdef QB_BYTE_SEARCH_X86
  const TProbe probe = ProbeOf(needle);
  return wide && HasAvx2() ? FindAvx2(data, size, needle, probe) : FindSse2(data, size, needle, probe);
#else
  (void)wide;
  return static_cast<const char*>(::memmem(data, size, needle.data(), needle.size()));
#endif
}

}  // namespace

const char* FindBytes(const char* data, size_t size, std::string_view needle) {
  return Search(data, size, needle, true);
}

const char* FindBytesNarrow(const char* data, size_t size, std::string_view needle) {
  return Search(data, size, needle, false);
}

}  // namespace qb::text
