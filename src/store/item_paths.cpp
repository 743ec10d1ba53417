#include "store/item_paths.h"

#include <algorithm>
#include <vector>

#include "platform/codepage.h"
#include "platform/paths.h"
#include "store/store_errors.h"
#include "zip/zip_writer.h"

namespace qb::store {

bool IsBlankName(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) <= ' '; });
}

int FindItemEntry(const zip::TZipReader& zip, std::string_view path) {
  return zip.FindEntry(path);
}

std::string NextFreeItemName(zip::TZipReader& zip, const std::string& prefix) {
  long long n = 0;
  if (RegularFileExists(zip.ZipName())) {
    zip.ReadDirectory();
    const int count = zip.EntryCount();
    std::vector<std::string> names;
    names.reserve(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) names.push_back(codepage::AsciiLowerCase(zip.EntryFullName(i)));
    std::sort(names.begin(), names.end());
    const std::string folded_prefix = codepage::AsciiLowerCase(prefix);
    while (n < count && std::binary_search(names.begin(), names.end(), folded_prefix + std::to_string(n)))
      ++n;
  }
  return prefix + std::to_string(n);
}

std::string DrawerItemPrefix(std::string_view item_path) {
  return std::string(DrawerPathOf(item_path)) + "Item";
}

std::string_view ItemNameOf(std::string_view item_path) {
  size_t k = item_path.rfind('\\');
  return k == std::string_view::npos ? item_path : item_path.substr(k + 1);
}

std::string_view DrawerPathOf(std::string_view item_path) {
  size_t k = item_path.rfind('\\');
  return k == std::string_view::npos ? std::string_view() : item_path.substr(0, k + 1);
}

std::string NormalizeItemPath(const std::string& typed) {
  if (IsBlankName(typed)) throw EItemPathError("An item path must not be empty");
  std::string path, file_name;
  zip::TZipWriter::NormalizeName(typed, true, path, file_name);
  if (IsBlankName(file_name))
    throw EItemPathError("\"" + typed +
                         "\" names a drawer, not an item: an item path must end in the item's name");
  if (!path.empty() && (path.front() == '\\' || path.find("\\\\") != std::string::npos))
    throw EItemPathError("\"" + typed + "\" has an empty drawer name");
  return path + file_name;
}

void RefreshDirectory(zip::TZipReader& zip) {
  if (RegularFileExists(zip.ZipName())) zip.ReadDirectory();
}

}  // namespace qb::store
