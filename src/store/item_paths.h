// Item paths: finding an item by its path, proposing the name of a new item, and
// turning a typed path into the form the archive engine stores.
//
// An item path is the entry's full name: drawer levels and the item name joined by
// single backslashes, no leading backslash ("NewItems\Item0", "Work\Code\Snippet",
// "item1"). Two paths name the same item when they are equal with the ASCII letters
// folded; the first match in archive order (the sorted view) wins.
#pragma once

#include <string>
#include <string_view>

#include "zip/zip_reader.h"

namespace qb::store {

// The prefix of proposed names for new items.
inline constexpr const char* kNewItemsPrefix = "NewItems\\Item";

// The index of the first entry, in archive order, whose full name equals path with
// ASCII letters folded; EntryCount() when there is none. Uses the loaded directory.
int FindItemEntry(const zip::TZipReader& zip, std::string_view path);

// The proposed path of a new item: prefix followed by the smallest n (decimal, no
// leading zeros) such that that path is not taken, trying at most as many numbers
// as the cabinet has entries. A cabinet file that does not exist yet gives n = 0.
// Reads the directory when the file exists.
std::string NextFreeItemName(zip::TZipReader& zip, const std::string& prefix);

// The prefix for new items in the drawer of item_path: its drawer path followed by
// "Item" ("Work\Code\Snippet" -> "Work\Code\Item", "item1" -> "Item").
std::string DrawerItemPrefix(std::string_view item_path);

// The item name (after the last backslash) and the drawer path (up to and
// including the last backslash; empty for an item directly in the cabinet).
std::string_view ItemNameOf(std::string_view item_path);
std::string_view DrawerPathOf(std::string_view item_path);

// A typed item path in the form the archive engine stores it
// (TZipWriter::NormalizeName: "/" as "\\", not UTF-8 read as Windows-1252, drive or
// server prefix and leading backslashes removed); normalising it again changes
// nothing, and looking the result up finds what was stored under it.
// Throws EItemPathError when the result names no item: an empty or blank path, a
// path ending in a backslash (a drawer), or one with an empty drawer level.
std::string NormalizeItemPath(const std::string& typed);

// True when a typed name holds nothing but blanks and control characters (every
// byte up to the space), the empty name included: such a name names nothing.
bool IsBlankName(std::string_view text);

// Reads the directory of the archive when its file exists (ReadDirectory would
// fail on a missing one); a missing file is a cabinet with no entries yet.
void RefreshDirectory(zip::TZipReader& zip);

}  // namespace qb::store
