#include "zip/zip_header.h"

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
long long Rate(const TZipHeaderInfo* e) {
  if (e->uncompressed_size == 0) return 0;
  return 1000 - static_cast<long long>(e->compressed_size) * 1000 / e->uncompressed_size;
}
}  // namespace

void TSortedZip::AssignInOrder(std::vector<TZipHeaderInfo*> items) {
  if (mode_ != TZipSortMode::ByName) {
    AssignSorted(std::move(items));
    return;
  }
  struct Keyed {
    std::string key;
    size_t order;
  };
  std::vector<Keyed> keyed(items.size());
  for (size_t i = 0; i < items.size(); ++i) {
    std::string key = items[i]->path + items[i]->file_name;
    for (char& c : key) c = codepage::AsciiUpper(c);
    keyed[i] = {std::move(key), i};
  }
  // Among equal names the item given later comes first (as inserting each before
  // the first equal one does).
  std::sort(keyed.begin(), keyed.end(), [](const Keyed& a, const Keyed& b) {
    int c = a.key.compare(b.key);
    return c != 0 ? c < 0 : a.order > b.order;
  });
  if (Duplicates() == TDuplicates::dupError)
    for (size_t i = 1; i < keyed.size(); ++i)
      if (keyed[i].key == keyed[i - 1].key) throw EListError("Duplicate Object index");
  Clear();
  for (size_t i = 0; i < keyed.size(); ++i) {
    // Ignoring duplicates keeps the first given, which sorts last among its equals.
    if (Duplicates() == TDuplicates::dupIgnore && i + 1 < keyed.size() && keyed[i].key == keyed[i + 1].key)
      continue;
    AppendItem(items[keyed[i].order]);
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
