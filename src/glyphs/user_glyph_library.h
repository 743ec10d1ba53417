// The user glyph library: the user's own 16 x 16 glyphs, kept in one ZIP archive
// (TPaths::UserGlyphLibrary(), "UserGlyphs.dll") and shown after the 22 fixed
// glyphs, so that library entry k is glyph index 22 + k.
//
// Library layout. One entry per glyph, in archive order (never sorted: the
// archive object reads the library with sort mode ByNone). The entry's full name
// is the glyph's title; its data is the glyph as a BMP file image; its comment is
// unused. A new glyph is appended as the last entry. Titles are unique within the
// library, compared with ASCII letters folded - the rule by which the engine
// replaces an entry of the same name, so a title that passes the check always
// makes a new entry and the glyph list stays in step with the library.
//
// Re-indexing. Deleting glyphs shifts the indexes of the glyphs behind them, so
// the entry comments of cabinets that use them are rewritten (ReindexCabinet) by a
// map from the old index to the new one (TReindexMap). Only the glyph field
// changes: the rewritten comment is the glyph field, the format field copied
// whole, then the note field copied whole, each field found by its opening byte.
//
// Borrowing. The commands point the main window's archive object at the library
// (or at other cabinets) and back again; TBorrowedArchive does that and restores
// the object on every way out.
#pragma once

#include <cstdint>
#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "zip/zip_writer.h"

namespace qb::glyphs {

inline constexpr int kFixedGlyphCount = 22;
inline constexpr int kGlyphSize = 16;
// A library entry larger than this is no glyph (a 16 x 16 BMP takes some 1.1 KiB).
inline constexpr uint64_t kMaxGlyphEntryBytes = 64 * 1024;
inline constexpr std::string_view kTitlePrefix = "UserGlyph";

// One user glyph: its title and its picture as a BMP file image. Bitmap is empty
// for an entry that could not be read as a picture; the glyph keeps its place
// (and its index) and shows nothing.
struct TUserGlyph {
  std::string Title;
  std::vector<uint8_t> Bitmap;
  bool operator==(const TUserGlyph&) const = default;
};

// What reading the library found.
struct TLibraryContents {
  std::vector<TUserGlyph> Glyphs;
  // Why the library as a whole could not be used ("is not a ZIP archive", the
  // directory's damage, ...); empty when it was read. A library with a problem
  // gives no glyphs.
  std::string Problem;
  // Titles of entries kept as empty glyphs, each with the reason.
  std::vector<std::string> BadEntries;
};

// --- the archive object, borrowed ---------------------------------------------------

// Points zip at path with sort mode mode for the object's life, then back at the
// archive it named before with sort mode ByName, whose directory is read again
// when its file exists. Changes left unwritten in memory by a failed update of
// the borrowed archive are dropped, never written to another file.
class TBorrowedArchive {
 public:
  TBorrowedArchive(zip::TZipWriter& zip, const std::string& path, zip::TZipSortMode mode);
  // Restores quietly (errors are dropped) unless Restore already ran.
  ~TBorrowedArchive();
  TBorrowedArchive(const TBorrowedArchive&) = delete;
  TBorrowedArchive& operator=(const TBorrowedArchive&) = delete;

  // Points the object at another archive (pending changes dropped as above).
  void PointAt(const std::string& path, zip::TZipSortMode mode);
  // Restores now; errors reading the restored cabinet propagate (the object names
  // it all the same).
  void Restore();
  const std::string& Remembered() const { return remembered_; }

 private:
  zip::TZipWriter& zip_;
  std::string remembered_;
  bool restored_ = false;
};

// Drops the loaded directory of zip and what was changed in it without writing it,
// and points zip at path.
void PointArchiveAt(zip::TZipWriter& zip, const std::string& path, zip::TZipSortMode mode);

// --- reading the library --------------------------------------------------------------

// Reads the library zip points at (sort mode ByNone): every entry in archive order.
// A file that is missing gives nothing; a file that is no archive, or whose
// directory is damaged, gives Problem. Entries that are too large or no readable
// BMP are kept as empty glyphs and listed in BadEntries.
TLibraryContents ReadLibrary(zip::TZipWriter& zip);
// The entry names of the library zip points at, in archive order; nothing when the
// file does not exist. Throws the engine's errors, and EUserGlyphLibrary when the
// file is no archive or its directory is damaged.
std::vector<std::string> LibraryTitles(zip::TZipWriter& zip);

class EUserGlyphLibrary : public Exception {
 public:
  using Exception::Exception;
};

// --- titles -----------------------------------------------------------------------

// "UserGlyph<k>" with the smallest k from 0 that no title takes (ASCII case folded).
std::string ProposeGlyphTitle(const std::vector<std::string>& titles);
// The name an entry titled title gets in the library (as the engine stores it).
std::string StoredTitle(const std::string& title);
// True when title, stored, would take the name of an existing title (ASCII case
// folded).
bool TitleTaken(const std::vector<std::string>& titles, const std::string& title);
// True when title is stored under no name at all (empty, blanks, or only a drive
// or path prefix).
bool TitleBlank(const std::string& title);

// --- pictures ---------------------------------------------------------------------

// A picture the user picked: its size and its BMP file image (transparent pixels
// turned fuchsia).
struct TGlyphPicture {
  int Width = 0;
  int Height = 0;
  std::vector<uint8_t> Bitmap;
};
// Reads a BMP file the way the library keeps it: the bitmap written again with its
// colour depth and palette. Throws EInvalidGraphic for anything but a readable BMP.
TGlyphPicture ReadBmpPicture(const std::vector<uint8_t>& file);
// A 24-bit picture from 32-bit pixels, 0xAARRGGBB, top row first: pixels less than
// half opaque become fuchsia (255, 0, 255), the mask colour of user glyphs.
TGlyphPicture PictureFromArgb(int width, int height, const std::vector<uint32_t>& pixels);

// --- re-indexing --------------------------------------------------------------------

// The re-index map of one deletion: the titles before it, in library order, and the
// titles deleted.
class TReindexMap {
 public:
  TReindexMap() = default;
  TReindexMap(std::vector<std::string> names_before, std::vector<std::string> deleted);

  const std::vector<std::string>& NamesBefore() const { return names_before_; }
  const std::vector<std::string>& Deleted() const { return deleted_; }
  bool IsDeleted(const std::string& name) const;

  // The new index of old glyph index n: -1 stays -1; a deleted glyph gives -1; a
  // kept user glyph moves down by the number of deleted glyphs before it. An index
  // of a fixed glyph, or one beyond the last user glyph before the deletion, has
  // no place in the map and is returned unchanged.
  int MapGlyphIndex(int n) const;

 private:
  std::vector<std::string> names_before_;
  std::vector<std::string> deleted_;
  std::vector<int> deleted_before_;  // deleted names at positions 0..p
  std::vector<bool> deleted_at_;
};

// The new comment of an entry whose comment is comment, or nothing when it keeps
// it: no glyph field or an empty one, a glyph field that is not a number (written
// by another program), a fixed glyph (21 or less, -1 too), or an index the map
// leaves as it is.
std::optional<std::string> ReindexComment(std::string_view comment, const TReindexMap& map);

// Re-indexes the cabinet zip points at (sort mode ByName): every changed comment is
// written in one update, under the cabinet's writer lock, and only when one
// changed. Returns the number of comments changed; 0 when the file does not exist.
// On failure the cabinet is untouched and nothing is left pending in memory.
int ReindexCabinet(zip::TZipWriter& zip, const TReindexMap& map);

}  // namespace qb::glyphs
