// The archive reader on any file: the directory (with recovery from the local
// headers when the end record is missing), every name, comment and item metadata,
// and the extraction of every entry. Names must come out as the reader promises
// (UTF-8, path plus file name, the path empty or ending in a backslash), lookups by
// name find the first entry of that name, and no entry yields more than its size.
// A read of one name finds of it what the whole read finds, and the pass that
// checks every entry finds what checking each on its own finds. Read as the user
// glyph library, the file gives a glyph for every entry or names its problem.
#include "zip/zip_reader.h"

#include <algorithm>
#include <span>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "glyphs/user_glyph_library.h"
#include "platform/codepage.h"
#include "platform/errors.h"
#include "platform/memory_stream.h"
#include "platform/picture.h"
#include "store/item_metadata.h"
#include "store/item_paths.h"
#include "zip/file_window.h"

using namespace qb;

namespace {

void ReadEverything(zip::TZipReader& zip) {
  const int count = zip.EntryCount();
  for (int i = 0; i < count; ++i) {
    const std::string path = zip.EntryPath(i), file = zip.EntryFileName(i), full = zip.EntryFullName(i);
    QB_FUZZ_CHECK(full == path + file);
    QB_FUZZ_CHECK(path.empty() || path.back() == '\\');
    QB_FUZZ_CHECK(file.find('\\') == std::string::npos);
    QB_FUZZ_CHECK(codepage::IsValidUtf8(full));
    const int found = store::FindItemEntry(zip, full);
    QB_FUZZ_CHECK(found <= i && codepage::SameTextAscii(zip.EntryFullName(found), full));
    try {
      store::ReadItemMetadata(zip.EntryComment(i));
    } catch (const Exception&) {
    }
    TMemoryStream out;
    try {
      zip.ExtractIndexToStream(&out, i);
    } catch (const Exception&) {
    }
    QB_FUZZ_CHECK(out.Size() <= zip.Entry(i).uncompressed_size);
  }
  try {
    zip.LoadAllComments();
    zip.ArchiveComment();
  } catch (const Exception&) {
  }
}

// The pass over every entry (qvf test) reads a small file whole and decodes from
// memory; each entry checked on its own reads from the file. Both must find the
// same problem in every entry.
void CheckPassMatchesEntries(zip::TZipReader& zip) {
  std::vector<std::string> one_by_one;
  for (int i = 0; i < zip.EntryCount(); ++i) {
    try {
      one_by_one.push_back(zip.CheckEntry(i));
    } catch (const Exception& e) {
      one_by_one.push_back(e.what());
    }
  }
  std::vector<std::string> pass;
  zip.CheckAllEntries([&](int i, const std::string& problem) {
    QB_FUZZ_CHECK(i == static_cast<int>(pass.size()));
    pass.push_back(problem);
  });
  QB_FUZZ_CHECK(pass == one_by_one);
}

// What a reader holds of the entries of name (of all, when recovered), in
// directory order.
std::vector<std::string> RecordsOf(zip::TZipReader& zip, const std::string& name) {
  std::vector<std::pair<uint64_t, std::string>> records;
  for (int i = 0; i < zip.EntryCount(); ++i) {
    const zip::TZipHeaderInfo& r = zip.Entry(i);
    if (!zip.DirectoryRecovered() && !codepage::SameTextAscii(r.FullName(), name)) continue;
    records.emplace_back(r.central_header_offset, r.FullName() + " " + std::to_string(r.local_header_offset) +
                                                      " " + std::to_string(r.compressed_size) + " " +
                                                      std::to_string(r.crc) + " " +
                                                      std::to_string(r.comment_length));
  }
  std::stable_sort(records.begin(), records.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<std::string> out;
  for (auto& [at, text] : records) out.push_back(std::to_string(at) + " " + text);
  return out;
}

// A read of one name (as qvf add and cat read, for an update or not) takes the
// file, holds the records of that name that the whole read holds, and tells the
// same damage.
void CheckReadOfOneName(const std::string& path, zip::TZipReader& whole, zip::TIncompleteZipMode mode,
                        bool for_update) {
  const std::string name = whole.EntryCount() ? whole.EntryFullName(whole.EntryCount() / 2) : "Fuzz\\Fresh";
  zip::TZipReader one;
  one.SetNameFilter({name}, for_update);
  one.SetSortMode(zip::TZipSortMode::ByName);
  one.SetIncompleteZipMode(mode);
  one.SetZipName(path);
  // The whole read took the file, so a read of one name must take it too.
  try {
    one.ReadDirectory();
  } catch (const Exception& e) {
    std::fprintf(stderr, "the read of one name refused the file: %s\n", e.what());
    QB_FUZZ_CHECK(false);
  }
  QB_FUZZ_CHECK(one.DirectoryLoaded());
  QB_FUZZ_CHECK(one.DirectoryDamage() == whole.DirectoryDamage());
  QB_FUZZ_CHECK(one.DirectoryRecovered() == whole.DirectoryRecovered());
  QB_FUZZ_CHECK(RecordsOf(one, name) == RecordsOf(whole, name));
}

// The same file read as the user glyph library: a sound directory gives a glyph for
// every entry, under its name; each either a picture within the size a glyph may
// take that the picture reader accepts, or an empty one named as a bad entry.
void CheckGlyphLibrary(const std::string& path, const zip::TZipReader& whole) {
  zip::TZipWriter library;
  glyphs::PointArchiveAt(library, path, zip::TZipSortMode::ByNone);
  const glyphs::TLibraryContents contents = glyphs::ReadLibrary(library);
  if (!contents.Problem.empty()) {
    QB_FUZZ_CHECK(contents.Glyphs.empty() && contents.BadEntries.empty());
    QB_FUZZ_CHECK(whole.DirectoryRecovered() || !whole.DirectoryDamage().empty());
    return;
  }
  if (whole.DirectoryRecovered() || !whole.DirectoryDamage().empty()) return;
  std::vector<std::string> titles, names;
  size_t empty = 0;
  for (const glyphs::TUserGlyph& glyph : contents.Glyphs) {
    titles.push_back(glyph.Title);
    if (glyph.Bitmap.empty()) {
      ++empty;
      continue;
    }
    QB_FUZZ_CHECK(glyph.Bitmap.size() <= glyphs::kMaxGlyphEntryBytes);
    try {
      TDib::ReadBmp(std::span<const uint8_t>(glyph.Bitmap));
    } catch (const Exception&) {
      QB_FUZZ_CHECK(false);
    }
  }
  QB_FUZZ_CHECK(contents.BadEntries.size() == empty);
  for (int i = 0; i < whole.EntryCount(); ++i) names.push_back(whole.EntryFullName(i));
  std::sort(titles.begin(), titles.end());
  std::sort(names.begin(), names.end());
  QB_FUZZ_CHECK(titles == names);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = qbfuzz::ScratchFolder() + "/input.zip";
  // File windows both mapped and read, chosen by the input's length so that its
  // bytes keep their meaning.
  zip::TFileWindow::UseWay(size % 2 ? zip::TFileWindow::Way::Read : zip::TFileWindow::Way::Map);
  qbfuzz::WriteWholeFile(path, data, size);
  for (zip::TIncompleteZipMode mode :
       {zip::TIncompleteZipMode::izAssumeMulti, zip::TIncompleteZipMode::izAssumeBad}) {
    zip::TZipReader zip;
    zip.SetSortMode(zip::TZipSortMode::ByName);
    zip.SetIncompleteZipMode(mode);
    zip.SetZipName(path);
    try {
      zip.ReadDirectory();
    } catch (const Exception&) {
      continue;
    }
    if (!zip.DirectoryLoaded()) continue;  // no end record: the next mode recovers
    for (bool for_update : {true, false}) CheckReadOfOneName(path, zip, mode, for_update);
    CheckPassMatchesEntries(zip);
    ReadEverything(zip);
    CheckGlyphLibrary(path, zip);
    break;
  }
  return 0;
}
