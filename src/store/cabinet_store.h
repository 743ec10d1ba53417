// The cabinet store's write routines: storing an item with its comment, changing
// its note or glyph, renaming or moving it, deleting it. The program's commands and
// qvf share them; each ends with the archive written back.
//
// Every routine takes the item path as typed. An existing item is found by that
// path first and, failing that, by its normalised form (NormalizeItemPath); a new
// item is stored under the normalised form, so its comment always reaches the
// entry that was stored. A routine that fails leaves the cabinet file as it was and
// takes back the changes it made in memory, so a refused rename or comment is not
// written later by some other update. Each routine holds the cabinet's writer lock
// from its look-up to its update, so that no other writer (a second window, qvf)
// changes the cabinet in between; it fails with ECabinetBusy, changing nothing,
// when another writer holds the lock too long.
#pragma once

#include <optional>
#include <string>

#include "platform/memory_stream.h"
#include "zip/zip_writer.h"

namespace qb::store {

// Sets the archive object up for a cabinet: sort mode ByName, paths stored,
// ReplaceReadOnly set (it concerns extraction to disk files only; a read-only
// cabinet is never changed).
void ConfigureCabinetArchive(zip::TZipWriter& zip);

// Clears the selection marks of every entry. Commands select by index; marks left
// by another command would make the engine act on their entries too.
void ClearSelection(zip::TZipReader& zip);

// The index of the existing item typed_path names (see above). Reads the directory
// when the file exists. Throws EItemNotFound, or EItemPathError for a path that
// names no item.
int LocateItem(zip::TZipReader& zip, const std::string& typed_path);

struct StoredItem {
  std::string path;       // the path the item was stored under
  int index = 0;          // its index after the update
  long long glyph = 0;    // the glyph written (SaveItem)
  bool has_note = false;  // a note was carried over (SaveItem) or kept
  bool replaced = false;  // an item of that path existed before
};

// Saves payload as the item typed_path with clipboard format `format`, the way the
// clipboard is saved: over an existing item its glyph and note are kept (the
// format's own glyph when its comment has no glyph field); a glyph given here
// replaces the glyph. Payload and comment are written by one update.
StoredItem SaveItem(zip::TZipWriter& zip, TMemoryStream& payload, const std::string& typed_path,
                    long long format, std::optional<long long> glyph = std::nullopt);
// Stores payload as the item typed_path with exactly this comment, by one update.
StoredItem StoreItemWithComment(zip::TZipWriter& zip, TMemoryStream& payload, const std::string& typed_path,
                                const std::string& comment);

// Sets (adds or replaces) the item's note; note is UTF-8, its line breaks are
// written as CR LF.
void SetItemNote(zip::TZipWriter& zip, const std::string& typed_path, const std::string& note);
// Removes the item's note (the comment becomes the glyph field, then the format field).
void DeleteItemNote(zip::TZipWriter& zip, const std::string& typed_path);
// Gives the item another glyph (glyph field, format field, note field).
void SetItemGlyph(zip::TZipWriter& zip, const std::string& typed_path, long long glyph);

// Renames or moves the item to new_typed_path (a whole item path). Another item
// already there is removed in the same update when replace_existing is set;
// otherwise EItemExists is thrown. A new path equal to the old one (letter case
// counting) changes nothing. Returns the normalised new path.
std::string MoveItem(zip::TZipWriter& zip, const std::string& typed_path, const std::string& new_typed_path,
                     bool replace_existing);

// Deletes the item.
void DeleteItem(zip::TZipWriter& zip, const std::string& typed_path);

}  // namespace qb::store
