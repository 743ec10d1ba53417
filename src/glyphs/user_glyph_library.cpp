#include "glyphs/user_glyph_library.h"

#include <filesystem>
#include <span>
#include <system_error>

#include "platform/codepage.h"
#include "platform/errors.h"
#include "platform/memory_stream.h"
#include "platform/paths.h"
#include "platform/picture.h"
#include "store/item_metadata.h"

namespace qb::glyphs {

namespace {

// Why the directory zip has loaded cannot serve as the library; empty when it can.
std::string LibraryProblem(const zip::TZipWriter& zip) {
  if (!zip.DirectoryLoaded()) return "it is not a ZIP archive";
  if (!zip.DirectoryDamage().empty()) return "it is damaged: " + zip.DirectoryDamage();
  return {};
}

}  // namespace

// --- the archive object, borrowed ------------------------------------------------------

void PointArchiveAt(zip::TZipWriter& zip, const std::string& path, zip::TZipSortMode mode) {
  // The reader's own SetZipName forgets the directory without writing what a
  // failed update left changed in it; the writer's would try to write it again.
  zip.zip::TZipReader::SetZipName("");
  zip.SetSortMode(mode);
  zip.SetZipName(path);
}

TBorrowedArchive::TBorrowedArchive(zip::TZipWriter& zip, const std::string& path, zip::TZipSortMode mode)
    : zip_(zip), remembered_(zip.ZipName()) {
  zip_.SetZipName("");  // the open cabinet's pending changes are written first
  PointArchiveAt(zip_, path, mode);
}

TBorrowedArchive::~TBorrowedArchive() {
  if (restored_) return;
  try {
    Restore();
  } catch (...) {
    // The object names the cabinet again; the caller's error is the one to show.
  }
}

void TBorrowedArchive::PointAt(const std::string& path, zip::TZipSortMode mode) {
  PointArchiveAt(zip_, path, mode);
}

void TBorrowedArchive::Restore() {
  restored_ = true;
  PointArchiveAt(zip_, remembered_, zip::TZipSortMode::ByName);
  if (!RegularFileExists(remembered_)) return;
  try {
    zip_.ReadDirectory();
  } catch (...) {
    // A failed read empties ZipName; the window's cabinet stays the one it was.
    PointArchiveAt(zip_, remembered_, zip::TZipSortMode::ByName);
    throw;
  }
}

// --- reading the library -----------------------------------------------------------------

TLibraryContents ReadLibrary(zip::TZipWriter& zip) {
  TLibraryContents contents;
  if (!RegularFileExists(zip.ZipName())) return contents;
  try {
    zip.ReadDirectory();
  } catch (const std::exception& e) {
    contents.Problem = e.what();
    return contents;
  }
  contents.Problem = LibraryProblem(zip);
  if (!contents.Problem.empty()) return contents;
  const int count = zip.EntryCount();
  contents.Glyphs.reserve(static_cast<size_t>(count));
  for (int i = 0; i < count; ++i) {
    TUserGlyph glyph;
    glyph.Title = zip.EntryFullName(i);
    std::string problem;
    if (zip.Entry(i).uncompressed_size > kMaxGlyphEntryBytes) {
      problem = "it is too large for a glyph";
    } else {
      try {
        TMemoryStream stream;
        if (zip.ExtractIndexToStream(&stream, i) != 1) {
          problem = "it could not be read";
        } else {
          const std::string bytes = stream.ToString();
          std::vector<uint8_t> bitmap(bytes.begin(), bytes.end());
          TDib::ReadBmp(std::span<const uint8_t>(bitmap));  // checks it
          glyph.Bitmap = std::move(bitmap);
        }
      } catch (const std::exception& e) {
        problem = e.what();
      }
    }
    if (!problem.empty()) contents.BadEntries.push_back(glyph.Title + ": " + problem);
    contents.Glyphs.push_back(std::move(glyph));
  }
  return contents;
}

std::vector<std::string> LibraryTitles(zip::TZipWriter& zip) {
  std::vector<std::string> titles;
  if (!RegularFileExists(zip.ZipName())) return titles;
  zip.ReadDirectory();
  if (std::string problem = LibraryProblem(zip); !problem.empty())
    throw EUserGlyphLibrary("The user glyph library cannot be changed: " + problem);
  for (int i = 0; i < zip.EntryCount(); ++i) titles.push_back(zip.EntryFullName(i));
  return titles;
}

// --- titles ------------------------------------------------------------------------------

std::string ProposeGlyphTitle(const std::vector<std::string>& titles) {
  for (size_t k = 0;; ++k) {
    std::string proposal = std::string(kTitlePrefix) + std::to_string(k);
    bool taken = false;
    for (const std::string& title : titles)
      if (codepage::SameTextAscii(title, proposal)) {
        taken = true;
        break;
      }
    if (!taken) return proposal;
  }
}

std::string StoredTitle(const std::string& title) {
  std::string path, file_name;
  zip::TZipWriter::NormalizeName(title, /*store_paths=*/true, path, file_name);
  return path + file_name;
}

bool TitleTaken(const std::vector<std::string>& titles, const std::string& title) {
  const std::string stored = StoredTitle(title);
  for (const std::string& existing : titles)
    if (codepage::SameTextAscii(existing, stored) || codepage::SameTextAscii(existing, title)) return true;
  return false;
}

bool TitleBlank(const std::string& title) {
  std::string path, file_name;
  zip::TZipWriter::NormalizeName(title, /*store_paths=*/true, path, file_name);
  for (char c : file_name)
    if (static_cast<unsigned char>(c) > ' ') return false;
  return true;
}

// --- pictures ------------------------------------------------------------------------------

TGlyphPicture ReadBmpPicture(const std::vector<uint8_t>& file) {
  const TDib dib = TDib::ReadBmp(std::span<const uint8_t>(file));
  return TGlyphPicture{dib.Width(), dib.Height(), dib.WriteBmp()};
}

TGlyphPicture PictureFromArgb(int width, int height, const std::vector<uint32_t>& pixels) {
  if (width <= 0 || height <= 0 || pixels.size() != static_cast<size_t>(width) * static_cast<size_t>(height))
    throw EInvalidGraphic(kInvalidBitmapText);
  TDib dib(width, height, 24);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const uint32_t argb =
          pixels[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)];
      const uint32_t rgb = (argb >> 24) < 0x80 ? 0xFF00FFu : argb & 0xFFFFFFu;
      dib.SetPixel(x, y, rgb);
    }
  return TGlyphPicture{width, height, dib.WriteBmp()};
}

// --- re-indexing ---------------------------------------------------------------------------

TReindexMap::TReindexMap(std::vector<std::string> names_before, std::vector<std::string> deleted)
    : names_before_(std::move(names_before)), deleted_(std::move(deleted)) {
  int running = 0;
  for (const std::string& name : names_before_) {
    const bool gone = IsDeleted(name);
    running += gone ? 1 : 0;
    deleted_at_.push_back(gone);
    deleted_before_.push_back(running);
  }
}

bool TReindexMap::IsDeleted(const std::string& name) const {
  for (const std::string& d : deleted_)
    if (d == name) return true;
  return false;
}

int TReindexMap::MapGlyphIndex(int n) const {
  if (n == -1) return -1;
  const long long p = static_cast<long long>(n) - kFixedGlyphCount;
  if (p < 0 || p >= static_cast<long long>(names_before_.size())) return n;
  const size_t at = static_cast<size_t>(p);
  if (deleted_at_[at]) return -1;
  return n - deleted_before_[at];
}

std::optional<std::string> ReindexComment(std::string_view comment, const TReindexMap& map) {
  const std::optional<std::string_view> field = store::FieldContent(comment, store::kGlyphOpener);
  if (!field || field->empty()) return std::nullopt;
  std::optional<long long> n;
  try {
    n = store::ReadGlyphIndex(comment);
  } catch (const EConvertError&) {
    return std::nullopt;  // not a number: not one of ours to shift
  }
  if (!n || *n <= kFixedGlyphCount - 1 || *n > std::numeric_limits<int>::max()) return std::nullopt;
  const int m = map.MapGlyphIndex(static_cast<int>(*n));
  if (m == *n) return std::nullopt;
  return store::ComposeGlyphComment(comment, m);
}

int ReindexCabinet(zip::TZipWriter& zip, const TReindexMap& map) {
  const std::string name = zip.ZipName();
  if (!RegularFileExists(name)) return 0;
  // A cabinet with nothing to change is only read: no lock is taken, so one that
  // may not be written (read-only) is no failure.
  auto apply = [&](bool dry_run) {
    zip.ReadDirectory();
    const int count = zip.EntryCount();
    if (count > 0) zip.LoadAllComments();
    int changed = 0;
    for (int i = 0; i < count; ++i) {
      if (!zip.EntryHasComment(i)) continue;
      if (std::optional<std::string> comment = ReindexComment(zip.EntryComment(i), map)) {
        if (!dry_run) zip.SetEntryComment(i, *comment);
        ++changed;
      }
    }
    return changed;
  };
  if (apply(/*dry_run=*/true) == 0) return 0;
  try {
    // Read again under the writer lock: another writer may have changed it since.
    zip::TCabinetLockHold hold(zip);
    const int changed = apply(/*dry_run=*/false);
    if (changed > 0) zip.CommitChanges();
    return changed;
  } catch (...) {
    // Nothing half-changed stays in memory to be written later.
    PointArchiveAt(zip, name, zip.SortMode());
    throw;
  }
}

}  // namespace qb::glyphs
