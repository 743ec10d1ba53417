// The archive reader on any file: the directory (with recovery from the local
// headers when the end record is missing), every name, comment and item metadata,
// and the extraction of every entry. Names must come out as the reader promises
// (UTF-8, path plus file name, the path empty or ending in a backslash), lookups by
// name find the first entry of that name, and no entry yields more than its size.
#include "zip/zip_reader.h"

#include "fuzz_support.h"
#include "platform/codepage.h"
#include "platform/errors.h"
#include "platform/memory_stream.h"
#include "store/item_metadata.h"
#include "store/item_paths.h"

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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = qbfuzz::ScratchFolder() + "/input.zip";
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
    ReadEverything(zip);
    break;
  }
  return 0;
}
