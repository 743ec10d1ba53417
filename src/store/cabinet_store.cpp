#include "store/cabinet_store.h"

#include "store/item_metadata.h"
#include "store/item_paths.h"
#include "store/store_errors.h"

namespace qb::store {

void ClearSelection(zip::TZipReader& zip) {
  for (int i = 0; zip.SelectedCount() > 0 && i < zip.EntryCount(); ++i)
    if (zip.EntrySelected(i)) zip.SetEntrySelected(i, false);
}

namespace {

std::string CommentOf(zip::TZipReader& zip, int index) {
  return zip.EntryHasComment(index) ? zip.EntryComment(index) : std::string();
}

// An entry comment holds at most 65535 bytes; only a note can make it longer.
void CheckCommentSize(const std::string& comment) {
  if (comment.size() > 0xFFFF)
    throw Exception("The note is too long: the item's comment would take " + std::to_string(comment.size()) +
                    " bytes, and a comment holds at most 65535");
}

// Sets the comment of entry index and writes it; on failure the old comment is put
// back in memory.
void WriteComment(zip::TZipWriter& zip, int index, const std::string& comment) {
  CheckCommentSize(comment);
  const std::string old = CommentOf(zip, index);
  zip.SetEntryComment(index, comment);
  try {
    zip.CommitChanges();
  } catch (...) {
    zip.SetEntryComment(index, old);
    throw;
  }
}

}  // namespace

void ConfigureCabinetArchive(zip::TZipWriter& zip) {
  zip.SetSortMode(zip::TZipSortMode::ByName);
  zip.SetStorePaths(true);
  zip.SetReplaceReadOnly(true);
}

int LocateItem(zip::TZipReader& zip, const std::string& typed_path) {
  RefreshDirectory(zip);
  int index = FindItemEntry(zip, typed_path);
  if (index < zip.EntryCount()) return index;
  const std::string normalised = NormalizeItemPath(typed_path);
  index = FindItemEntry(zip, normalised);
  if (index < zip.EntryCount()) return index;
  throw EItemNotFound(typed_path);
}

StoredItem StoreItemWithComment(zip::TZipWriter& zip, TMemoryStream& payload, const std::string& typed_path,
                                const std::string& comment) {
  zip::TCabinetLockHold hold(zip);  // no other writer between the look-up and the update
  StoredItem item;
  item.path = NormalizeItemPath(typed_path);
  CheckCommentSize(comment);
  RefreshDirectory(zip);
  item.replaced = FindItemEntry(zip, item.path) < zip.EntryCount();
  if (zip.AddFromStreamWithComment(&payload, item.path, comment) != 1)
    throw Exception("The item \"" + item.path + "\" could not be stored in the File Cabinet");
  item.index = FindItemEntry(zip, item.path);
  item.has_note = CommentHasNote(comment);
  return item;
}

StoredItem SaveItem(zip::TZipWriter& zip, TMemoryStream& payload, const std::string& typed_path,
                    long long format, std::optional<long long> glyph) {
  const std::string path = NormalizeItemPath(typed_path);
  zip::TCabinetLockHold hold(zip);
  RefreshDirectory(zip);
  const int old_index = FindItemEntry(zip, path);
  const std::string old_comment = old_index < zip.EntryCount() ? CommentOf(zip, old_index) : std::string();
  // Read before anything is written: a damaged old glyph field ends the save with
  // the cabinet untouched.
  CarriedMetadata carried = CarryOverMetadata(old_comment);
  const long long new_glyph = glyph ? *glyph : carried.glyph ? *carried.glyph : GlyphForFormat(format);
  StoredItem item =
      StoreItemWithComment(zip, payload, path, ComposeSavedComment(format, new_glyph, carried.note_field));
  item.glyph = new_glyph;
  return item;
}

void SetItemNote(zip::TZipWriter& zip, const std::string& typed_path, const std::string& note) {
  zip::TCabinetLockHold hold(zip);
  const int index = LocateItem(zip, typed_path);
  WriteComment(zip, index, ComposeAddNoteComment(CommentOf(zip, index), NoteLineBreaks(note)));
}

void DeleteItemNote(zip::TZipWriter& zip, const std::string& typed_path) {
  zip::TCabinetLockHold hold(zip);
  const int index = LocateItem(zip, typed_path);
  WriteComment(zip, index, ComposeDeleteNoteComment(CommentOf(zip, index)));
}

void SetItemGlyph(zip::TZipWriter& zip, const std::string& typed_path, long long glyph) {
  zip::TCabinetLockHold hold(zip);
  const int index = LocateItem(zip, typed_path);
  WriteComment(zip, index, ComposeGlyphComment(CommentOf(zip, index), glyph));
}

std::string MoveItem(zip::TZipWriter& zip, const std::string& typed_path, const std::string& new_typed_path,
                     bool replace_existing) {
  zip::TCabinetLockHold hold(zip);
  const int index = LocateItem(zip, typed_path);
  const std::string new_path = NormalizeItemPath(new_typed_path);
  if (zip.EntryFullName(index) == new_path) return new_path;
  const int other = FindItemEntry(zip, new_path);
  const bool displaces = other < zip.EntryCount() && other != index;
  if (displaces && !replace_existing) throw EItemExists(zip.EntryFullName(other));

  const std::string old_drawer = zip.EntryPath(index), old_name = zip.EntryFileName(index);
  ClearSelection(zip);
  if (displaces) zip.SetEntrySelected(other, true);
  zip.SetEntryPath(index, std::string(DrawerPathOf(new_path)));
  zip.SetEntryFileName(index, std::string(ItemNameOf(new_path)));
  try {
    // A removal writes the pending rename in the same update.
    if (displaces)
      zip.RemoveEntries();
    else
      zip.CommitChanges();
  } catch (...) {
    ClearSelection(zip);
    zip.SetEntryPath(index, old_drawer);
    zip.SetEntryFileName(index, old_name);
    throw;
  }
  return new_path;
}

void DeleteItem(zip::TZipWriter& zip, const std::string& typed_path) {
  zip::TCabinetLockHold hold(zip);
  const int index = LocateItem(zip, typed_path);
  ClearSelection(zip);
  zip.SetEntrySelected(index, true);
  int removed = 0;
  try {
    removed = zip.RemoveEntries();
  } catch (...) {
    ClearSelection(zip);
    throw;
  }
  if (removed < 1) throw Exception("Unable to remove the selected item from the File Cabinet");
}

}  // namespace qb::store
