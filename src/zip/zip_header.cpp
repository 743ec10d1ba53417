#include "zip/zip_header.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>

#include "platform/codepage.h"

namespace qb::zip {

void SplitEntryName(const std::string& full_name, std::string& path, std::string& file_name) {
  size_t cut = full_name.rfind('\\');
  if (cut == std::string::npos) {
    path.clear();
    file_name = full_name;
    return;
  }
  path = full_name.substr(0, cut + 1);
  file_name = full_name.substr(cut + 1);
}

int CompareNamesFolded(const std::string& a, const std::string& b) {
  size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    auto ca = static_cast<uint8_t>(codepage::AsciiUpper(a[i]));
    auto cb = static_cast<uint8_t>(codepage::AsciiUpper(b[i]));
    if (ca != cb) return ca < cb ? -1 : 1;
  }
  return a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
}

namespace {

constexpr uint64_t kEveryByte = 0x0101010101010101ull;
constexpr uint64_t kHighBits = 0x8080808080808080ull;

// Eight name bytes at a time: a-z to upper case and, with stored_form, "/" to
// "\\"; bytes of 0x80 and above are left as they are.
uint64_t FoldWord(uint64_t x, bool stored_form) {
  if (stored_form) {
    const uint64_t y = x ^ (kEveryByte * '/');  // a zero byte where x has '/'
    const uint64_t zero = ~(((y & ~kHighBits) + ~kHighBits) | y) & kHighBits;
    x ^= (zero >> 7) * ('/' ^ '\\');
  }
  const uint64_t low = x & ~kHighBits;
  const uint64_t from_a = low + kEveryByte * (0x80 - 'a');      // high bit: at least 'a'
  const uint64_t past_z = low + kEveryByte * (0x80 - 'z' - 1);  // high bit: beyond 'z'
  const uint64_t lower = from_a & ~past_z & ~x & kHighBits;
  return x ^ (lower >> 2);  // 0x20 off each lower-case letter
}

uint64_t LoadWord(const char* bytes) {
  uint64_t word;
  std::memcpy(&word, bytes, sizeof word);
  return word;
}

// The last count bytes (1 to 7) of the size bytes at bytes as the low bytes of a
// word, the rest zero: from one load that ends where they end when there is room.
uint64_t LoadTail(const char* bytes, size_t size, size_t count) {
  if (size >= 8) {
    const uint64_t word = LoadWord(bytes + size - 8);
    return std::endian::native == std::endian::little ? word >> (8 * (8 - count)) : word << (8 * (8 - count));
  }
  uint64_t word = 0;
  std::memcpy(&word, bytes + size - count, count);
  return word;
}

// The hash; the bytes ORed together go to *seen.
uint64_t HashBytes(const char* bytes, size_t size, bool stored_form, uint64_t* seen = nullptr) {
  uint64_t h = 0x243F6A8885A308D3ull, all = 0;
  auto mix = [&h, &all, stored_form](uint64_t word) {
    all |= word;
    h = (h ^ FoldWord(word, stored_form)) * 0x9E3779B97F4A7C15ull;
    h ^= h >> 29;
  };
  size_t i = 0;
  for (; i + 8 <= size; i += 8) mix(LoadWord(bytes + i));
  if (i < size) mix(LoadTail(bytes, size, size - i));
  if (seen) *seen = all;
  h ^= size;
  h ^= h >> 33;
  h *= 0xFF51AFD7ED558CCDull;
  h ^= h >> 33;
  h *= 0xC4CEB9FE1A85EC53ull;
  return h ^ (h >> 33);
}

}  // namespace

uint64_t FoldedNameHashAscii(std::string_view name, bool stored_form, bool& ascii) {
  uint64_t seen = 0;
  const uint64_t h = HashBytes(name.data(), name.size(), stored_form, &seen);
  ascii = (seen & kHighBits) == 0;
  return h;
}

bool StoredNameIs(std::string_view stored, std::string_view wanted) {
  const size_t size = stored.size();
  if (wanted.size() != size) return false;
  size_t i = 0;
  for (; i + 8 <= size; i += 8)
    if (FoldWord(LoadWord(stored.data() + i), true) != FoldWord(LoadWord(wanted.data() + i), false))
      return false;
  return i == size || FoldWord(LoadTail(stored.data(), size, size - i), true) ==
                          FoldWord(LoadTail(wanted.data(), size, size - i), false);
}

uint64_t FoldedNameHash(std::string_view head, std::string_view tail, bool stored_form) {
  if (tail.empty()) return HashBytes(head.data(), head.size(), stored_form);
  if (head.empty()) return HashBytes(tail.data(), tail.size(), stored_form);
  // One run of bytes, so that where the name is cut does not matter.
  char joined[256];
  if (head.size() + tail.size() <= sizeof joined) {
    std::memcpy(joined, head.data(), head.size());
    std::memcpy(joined + head.size(), tail.data(), tail.size());
    return HashBytes(joined, head.size() + tail.size(), stored_form);
  }
  std::string whole;
  whole.reserve(head.size() + tail.size());
  whole.append(head).append(tail);
  return HashBytes(whole.data(), whole.size(), stored_form);
}

namespace {
template <class V>
int Order(V a, V b) {
  return a < b ? -1 : a > b ? 1 : 0;
}
// Path plus file name compared as one string, without building it.
int CompareFullNamesFolded(const TZipHeaderInfo& a, const TZipHeaderInfo& b) {
  const size_t na = a.path.size() + a.file_name.size(), nb = b.path.size() + b.file_name.size();
  const auto at = [](const TZipHeaderInfo& e, size_t i) {
    char c = i < e.path.size() ? e.path[i] : e.file_name[i - e.path.size()];
    return static_cast<uint8_t>(codepage::AsciiUpper(c));
  };
  for (size_t i = 0, n = std::min(na, nb); i < n; ++i) {
    uint8_t ca = at(a, i), cb = at(b, i);
    if (ca != cb) return ca < cb ? -1 : 1;
  }
  return Order(na, nb);
}
// Compression rate in thousandths: how much of the original the packing saved.
// The sizes come from the archive and may be anything: a packed size that would
// overflow the sum is figured in floating point, and growth beyond a billion
// times counts as that (those rates sort together).
long long Rate(const TZipHeaderInfo* e) {
  const uint64_t packed = e->compressed_size, original = e->uncompressed_size;
  if (original == 0) return 0;
  constexpr uint64_t kMostKept = 1'000'000'000'000;
  const uint64_t kept =
      packed <= UINT64_MAX / 1000
          ? packed * 1000 / original
          : static_cast<uint64_t>(std::min(static_cast<long double>(packed) * 1000 / original,
                                           static_cast<long double>(kMostKept)));
  return 1000 - static_cast<long long>(std::min(kept, kMostKept));
}
}  // namespace

namespace {
// A folded name as the ByName sort compares it: its first 16 bytes as two
// big-endian numbers (zero padded), so that most comparisons need no look at the
// text, and where the whole text lies in the arena.
struct NameKey {
  uint64_t high, low;
  uint32_t at, length;
  uint32_t order;
};
// codepage::AsciiUpper, inline: it runs for every byte of every name.
inline char Upper(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
}
uint64_t BigEndian(const uint8_t* p) {
  uint64_t v = 0;
  for (int i = 0; i < 8; ++i) v = (v << 8) | p[i];
  return v;
}
int CompareKeys(const NameKey& a, const NameKey& b, const char* arena) {
  if (a.high != b.high) return a.high < b.high ? -1 : 1;
  if (a.low != b.low) return a.low < b.low ? -1 : 1;
  // The first 16 bytes agree (padding included): the rest, then the lengths.
  const uint32_t ta = a.length > 16 ? a.length - 16 : 0, tb = b.length > 16 ? b.length - 16 : 0;
  if (const uint32_t n = std::min(ta, tb); n > 0)
    if (int c = std::memcmp(arena + a.at + 16, arena + b.at + 16, n); c != 0) return c;
  return Order(a.length, b.length);
}
}  // namespace

void TSortedZip::AssignInOrder(std::vector<TZipHeaderInfo*> items) {
  if (mode_ != TZipSortMode::ByName) {
    AssignSorted(std::move(items));
    return;
  }
  // Every folded name in one arena; the sort moves 32-byte keys only.
  size_t total = 0;
  for (const TZipHeaderInfo* item : items) total += item->path.size() + item->file_name.size();
  std::string arena(total, '\0');
  std::vector<NameKey> keys(items.size());
  size_t at = 0;
  for (size_t i = 0; i < items.size(); ++i) {
    const TZipHeaderInfo& item = *items[i];
    char* out = arena.data() + at;
    for (char c : item.path) *out++ = Upper(c);
    for (char c : item.file_name) *out++ = Upper(c);
    const size_t length = item.path.size() + item.file_name.size();
    uint8_t head[16] = {};
    std::memcpy(head, arena.data() + at, std::min<size_t>(length, 16));
    keys[i] = {BigEndian(head), BigEndian(head + 8), static_cast<uint32_t>(at), static_cast<uint32_t>(length),
               static_cast<uint32_t>(i)};
    at += length;
  }
  const char* text = arena.data();
  // Among equal names the item given later comes first (as inserting each before
  // the first equal one does).
  std::sort(keys.begin(), keys.end(), [text](const NameKey& a, const NameKey& b) {
    int c = CompareKeys(a, b, text);
    return c != 0 ? c < 0 : a.order > b.order;
  });
  auto equal = [&](size_t i, size_t j) { return CompareKeys(keys[i], keys[j], text) == 0; };
  if (Duplicates() == TDuplicates::dupError)
    for (size_t i = 1; i < keys.size(); ++i)
      if (equal(i, i - 1)) throw EListError("Duplicate Object index");
  Clear();
  for (size_t i = 0; i < keys.size(); ++i) {
    // Ignoring duplicates keeps the first given, which sorts last among its equals.
    if (Duplicates() == TDuplicates::dupIgnore && i + 1 < keys.size() && equal(i, i + 1)) continue;
    AppendItem(items[keys[i].order]);
  }
}

int TSortedZip::Compare(const TZipHeaderInfo* a, const TZipHeaderInfo* b) const {
  switch (mode_) {
    case TZipSortMode::ByName:
      return CompareFullNamesFolded(*a, *b);
    case TZipSortMode::ByFileName:
      return CompareNamesFolded(a->file_name, b->file_name);
    case TZipSortMode::ByDirectoryName:
      return CompareNamesFolded(a->path, b->path);
    case TZipSortMode::ByDate:
      return Order(a->dos_date_time, b->dos_date_time);
    case TZipSortMode::ByCompressedSize:
      return Order(a->compressed_size, b->compressed_size);
    case TZipSortMode::ByUnCompressedSize:
      return Order(a->uncompressed_size, b->uncompressed_size);
    case TZipSortMode::ByRate:
      return Order(Rate(a), Rate(b));
    case TZipSortMode::ByNone:
      break;
  }
  int d = Order(a->disk_number_start, b->disk_number_start);
  return d != 0 ? d : Order(a->local_header_offset, b->local_header_offset);
}

}  // namespace qb::zip
