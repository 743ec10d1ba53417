// Finding items: the byte search, case folding and the cabinet's index on any
// text. Input: a byte of changes, then zero-separated parts: the query, then each
// item's path, note and text. Every search must find what a plain search of each
// field's folded text finds: the whole index, a narrowed search and the items left
// after removals and renames alike.
#include <algorithm>
#include <string>
#include <vector>

#include "finder/cabinet_index.h"
#include "fuzz_support.h"
#include "platform/byte_search.h"
#include "platform/case_fold.h"

using namespace qb;
using finder::TCabinetIndex;

namespace {

// The byte search, with the widest compares and with the 16-byte ones, against
// the library's, on a copy of exactly the haystack's size, so that a read past its
// end is caught.
void ByteSearch(std::string_view haystack, std::string_view needle) {
  for (size_t skip = 0; skip < 3 && skip <= haystack.size(); ++skip) {
    const std::string_view part = haystack.substr(skip);
    const std::vector<char> exact(part.begin(), part.end());
    const size_t expected = part.find(needle);
    for (auto find : {text::FindBytes, text::FindBytesNarrow}) {
      const char* found = find(exact.data(), exact.size(), needle);
      QB_FUZZ_CHECK(expected == std::string_view::npos ? found == nullptr : found == exact.data() + expected);
    }
  }
}

struct TFields {
  std::string path, note, text;
};

bool Holds(std::string_view field, const std::string& folded_query) {
  return text::CaseFolded(field).find(folded_query) != std::string::npos;
}

// What the index must answer, item by item.
std::vector<int> Expected(const std::vector<TFields>& items, const std::vector<bool>& live,
                          std::string_view query, unsigned fields) {
  const std::string folded = text::CaseFolded(query);
  std::vector<int> found;
  for (size_t k = 0; k < items.size(); ++k) {
    if (!live[k]) continue;
    if (((fields & finder::kSearchPaths) && Holds(items[k].path, folded)) ||
        ((fields & finder::kSearchNotes) && Holds(items[k].note, folded)) ||
        ((fields & finder::kSearchContent) && Holds(items[k].text, folded)))
      found.push_back(static_cast<int>(k));
  }
  return found;
}

void CheckSearches(const TCabinetIndex& index, const std::vector<TFields>& items,
                   const std::vector<bool>& live, std::string_view query) {
  for (unsigned fields :
       {finder::kSearchPaths, finder::kSearchNotes, finder::kSearchContent, finder::kSearchAll}) {
    const std::vector<int> found = index.Search(query, fields);
    QB_FUZZ_CHECK(found == Expected(items, live, query, fields));
    // Narrowed to every item, or to one: the same items, or that one if found.
    std::vector<int> every(items.size());
    for (size_t k = 0; k < every.size(); ++k) every[k] = static_cast<int>(k);
    QB_FUZZ_CHECK(index.Search(query, fields, &every) == found);
    for (size_t k = 0; k < items.size(); k += 7) {
      const std::vector<int> one{static_cast<int>(k)};
      const bool hit = std::find(found.begin(), found.end(), static_cast<int>(k)) != found.end();
      QB_FUZZ_CHECK(index.Search(query, fields, &one) == (hit ? one : std::vector<int>{}));
    }
    // Narrowed to what a shorter query inside it found, as the search field does
    // while the user types.
    if (query.size() >= 2) {
      const std::string_view inner = query.substr(1, query.size() - 2);
      if (text::CaseFolded(query).find(text::CaseFolded(inner)) != std::string::npos) {
        const std::vector<int> kept = index.Search(inner, fields);
        QB_FUZZ_CHECK(index.Search(query, fields, &kept) == found);
      }
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  qbfuzz::Input input(data, size);
  const uint8_t changes = input.Byte();
  const std::string_view query = input.Until(0);
  std::vector<TFields> items;
  while (!input.Empty() && items.size() < 40) {
    TFields item;
    item.path = input.Until(0);
    item.note = input.Until(0);
    item.text = input.Until(0);
    items.push_back(std::move(item));
  }

  for (const TFields& item : items) {
    ByteSearch(item.text, query);
    ByteSearch(text::CaseFolded(item.text), text::CaseFolded(query));
  }

  TCabinetIndex index;
  for (const TFields& item : items) {
    finder::TIndexedItem indexed;
    indexed.path = item.path;
    index.Add(indexed, item.note, item.text);
  }
  std::vector<bool> live(items.size(), true);
  // Two items with one path: the index knows the later one by it.
  for (size_t k = 0; k < items.size(); ++k)
    if (index.Find(items[k].path) == static_cast<int>(k))
      for (size_t j = k + 1; j < items.size(); ++j) QB_FUZZ_CHECK(items[j].path != items[k].path);
  CheckSearches(index, items, live, query);

  // Removals (every third item when asked) and a rename of the first live item,
  // which moves it to the end under its new path with its note and text.
  if (changes & 1)
    for (size_t k = 0; k < items.size(); k += 3) {
      index.Remove(static_cast<int>(k));
      live[k] = false;
    }
  if ((changes & 2) && !items.empty()) {
    for (size_t k = 0; k < items.size(); ++k) {
      if (!live[k]) continue;
      const std::string path = items[k].path + std::string(query.substr(0, 8));
      if (const int over = index.Find(path); over >= 0)
        live[static_cast<size_t>(over)] = false;  // renamed over
      const int moved = index.Rename(static_cast<int>(k), path);
      QB_FUZZ_CHECK(moved == static_cast<int>(items.size()) && index.Find(path) == moved);
      live[k] = false;
      items.push_back({path, items[k].note, items[k].text});
      live.push_back(true);
      break;
    }
  }
  QB_FUZZ_CHECK(index.LiveCount() == static_cast<int>(std::count(live.begin(), live.end(), true)));
  CheckSearches(index, items, live, query);
  return 0;
}
