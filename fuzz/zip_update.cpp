// Updates of any file: an add, a rename, a removal, a repair, a note written or the
// glyph fields shifted after a deletion of user glyphs, chosen by the first byte;
// the rest of the input is the archive. Whatever the file holds, an update either
// fails and leaves the file byte for byte as it was (and no temporary file beside
// it), or succeeds and the file then reads back sound, holding every entry it held
// before, with the same bytes and comment, apart from the one change asked for. An
// add comes to the same whichever way the file is read for it (only the new
// name's records, as qvf add reads, or the whole directory) and whether it
// appends or rewrites: refused with the same message, or the same entries after.
#include <dirent.h>

#include <algorithm>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "glyphs/user_glyph_library.h"
#include "platform/codepage.h"
#include "platform/errors.h"
#include "platform/memory_stream.h"
#include "store/item_metadata.h"
#include "zip/file_window.h"
#include "zip/zip_writer.h"

using namespace qb;

namespace {

// An entry as a later reader sees it: its name, its bytes when they could be read
// (small entries only, so that a run stays quick) and its comment when it could be
// read.
struct Seen {
  std::string name;
  bool readable = false;
  std::string bytes;
  std::optional<std::string> comment;
};
using Contents = std::vector<Seen>;

constexpr uint64_t kLargestCompared = 1 << 20;

std::string Folded(const std::string& name) {
  std::string folded = name;
  for (char& c : folded)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return folded;
}

Contents ReadContents(zip::TZipReader& zip) {
  Contents contents;
  for (int i = 0; i < zip.EntryCount(); ++i) {
    Seen seen;
    seen.name = zip.EntryFullName(i);
    if (zip.Entry(i).uncompressed_size <= kLargestCompared) {
      TMemoryStream out;
      try {
        seen.readable = zip.ExtractIndexToStream(&out, i) > 0;
      } catch (const Exception&) {
      }
      if (seen.readable) seen.bytes = out.ToString();
    }
    contents.push_back(std::move(seen));
  }
  return contents;
}

// The comments of the archive at path, in the order of a reader that does not
// sort; nothing where one could not be read.
std::vector<std::optional<std::string>> CommentsAt(const std::string& path) {
  std::vector<std::optional<std::string>> comments;
  try {
    zip::TZipReader zip;
    zip.SetSortMode(zip::TZipSortMode::ByNone);
    zip.SetIncompleteZipMode(zip::TIncompleteZipMode::izAssumeBad);
    zip.SetZipName(path);
    zip.ReadDirectory();
    for (int i = 0; i < zip.EntryCount(); ++i) {
      std::optional<std::string> comment;
      try {
        comment = zip.EntryHasComment(i) ? zip.EntryComment(i) : std::string();
      } catch (const Exception&) {
      }
      comments.push_back(std::move(comment));
    }
  } catch (const Exception&) {
  }
  return comments;
}

// Contents with the comments of the archive at path, read by a reader of its own so
// that the writer's update finds its comments still in the file, as the program's
// does when no note was shown.
Contents WithComments(Contents contents, const std::string& path) {
  const std::vector<std::optional<std::string>> comments = CommentsAt(path);
  if (comments.size() == contents.size())
    for (size_t k = 0; k < contents.size(); ++k) contents[k].comment = comments[k];
  return contents;
}

std::string FileBytes(const std::string& path) {
  std::string bytes;
  if (FILE* f = std::fopen(path.c_str(), "rb")) {
    char buffer[65536];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) bytes.append(buffer, n);
    std::fclose(f);
  }
  return bytes;
}

std::set<std::string> FolderFiles(const std::string& folder) {
  std::set<std::string> names;
  if (DIR* dir = opendir(folder.c_str())) {
    while (dirent* e = readdir(dir))
      if (std::string(e->d_name) != "." && std::string(e->d_name) != "..") names.insert(e->d_name);
    closedir(dir);
  }
  return names;
}

void EmptyFolder(const std::string& folder) {
  for (const std::string& name : FolderFiles(folder)) ::unlink((folder + "/" + name).c_str());
}

// Every entry of before must have one of its own in after: the same name, the same
// bytes when they could be read before (those are matched first, since names may
// repeat), and with_comments, the same comment when it could be read before.
void CheckKept(const Contents& before, const Contents& after, bool with_comments = true) {
  std::vector<bool> used(after.size());
  auto take = [&](const Seen& old, bool by_bytes) {
    for (size_t k = 0; k < after.size(); ++k)
      if (!used[k] && after[k].name == old.name &&
          (!with_comments || !old.comment || after[k].comment == old.comment) &&
          (!by_bytes || (after[k].readable && after[k].bytes == old.bytes))) {
        used[k] = true;
        return true;
      }
    return false;
  };
  for (const Seen& old : before)
    if (old.readable) QB_FUZZ_CHECK(take(old, true));
  for (const Seen& old : before)
    if (!old.readable) QB_FUZZ_CHECK(take(old, false));
}

Contents Without(Contents contents, size_t index) {
  if (index < contents.size()) contents.erase(contents.begin() + static_cast<ptrdiff_t>(index));
  return contents;
}

// Every writer here: no sorting, a file without an end record read as damaged,
// quick compression, paths kept, and no wait for another writer's lock.
void SetUp(zip::TZipWriter& zip) {
  zip.SetSortMode(zip::TZipSortMode::ByNone);
  zip.SetIncompleteZipMode(zip::TIncompleteZipMode::izAssumeBad);
  zip.SetPackLevel(1);
  zip.SetStorePaths(true);
  zip.SetLockWait(std::chrono::milliseconds(0));
}

// How an add reads the file: the whole directory (as the program holds it), only
// the records of the new name (as qvf add reads it), or with a filter that leaves
// the new name out, which makes the add read everything and rewrite the file.
enum class Reading { Whole, OnlyTheName, Rewrite };

// What adding name to a file of these bytes comes to: the refusal's message, or
// the entries afterwards.
struct AddOutcome {
  bool loaded = false;
  std::string refused;
  Contents after;
};

AddOutcome AddTo(const std::string& path, std::span<const uint8_t> bytes, Reading reading,
                 const std::string& name) {
  qbfuzz::WriteWholeFile(path, bytes.data(), bytes.size());
  AddOutcome outcome;
  try {
    zip::TZipWriter zip;
    SetUp(zip);
    if (reading == Reading::OnlyTheName) zip.SetNameFilter({name});
    if (reading == Reading::Rewrite) zip.SetNameFilter({"Not" + name});
    zip.SetZipName(path);
    zip.ReadDirectory();
    outcome.loaded = zip.DirectoryLoaded();
    if (!outcome.loaded) return outcome;
    TMemoryStream item(std::string_view("a clip"));
    zip.AddFromStream(&item, name);
  } catch (const Exception& e) {
    outcome.refused = e.what();
    return outcome;
  }
  zip::TZipReader reread;
  reread.SetSortMode(zip::TZipSortMode::ByNone);
  reread.SetZipName(path);
  reread.ReadDirectory();
  outcome.after = ReadContents(reread);
  return outcome;
}

void CheckAddsAlike(std::span<const uint8_t> bytes, const std::string& name) {
  static const std::string folder = [] {
    std::string path = qbfuzz::ScratchFolder() + "/alike";
    ::mkdir(path.c_str(), 0700);
    return path;
  }();
  EmptyFolder(folder);
  const AddOutcome whole = AddTo(folder + "/whole.qvf", bytes, Reading::Whole, name);
  if (!whole.loaded) return;
  for (Reading reading : {Reading::OnlyTheName, Reading::Rewrite}) {
    const AddOutcome other = AddTo(folder + "/other.qvf", bytes, reading, name);
    QB_FUZZ_CHECK(other.loaded);
    QB_FUZZ_CHECK(other.refused == whole.refused);
    QB_FUZZ_CHECK(other.after.size() == whole.after.size());
    for (size_t k = 0; k < whole.after.size(); ++k) {
      QB_FUZZ_CHECK(other.after[k].name == whole.after[k].name);
      QB_FUZZ_CHECK(other.after[k].readable == whole.after[k].readable);
      QB_FUZZ_CHECK(other.after[k].bytes == whole.after[k].bytes);
    }
  }
}

// What an input does to the file: the first byte's low two bits, its top bit
// turning a rename into a note and a removal into a glyph shift.
enum Operation { kAdd, kRename, kRemove, kRepair, kNote, kReindex };

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string folder = [] {
    std::string path = qbfuzz::ScratchFolder() + "/update";
    ::mkdir(path.c_str(), 0700);
    return path;
  }();
  static const std::string path = folder + "/cabinet.qvf";
  // File windows both mapped and read, chosen by the input's length so that its
  // bytes keep their meaning.
  zip::TFileWindow::UseWay(size % 2 ? zip::TFileWindow::Way::Read : zip::TFileWindow::Way::Map);
  EmptyFolder(folder);
  qbfuzz::Input input(data, size);
  const uint8_t choice = input.Byte();
  const auto rest = input.Rest();
  const std::string fresh = "Fuzz\\Fresh";
  if ((choice & 3) == 0) CheckAddsAlike(rest, fresh);
  qbfuzz::WriteWholeFile(path, rest.data(), rest.size());
  const std::string original = FileBytes(path);

  zip::TZipWriter zip;
  SetUp(zip);
  try {
    zip.SetZipName(path);
    zip.ReadDirectory();
  } catch (const Exception&) {
    return 0;
  }
  if (!zip.DirectoryLoaded()) return 0;
  const bool damaged = !zip.DirectoryDamage().empty();
  const Contents before = WithComments(ReadContents(zip), path);
  const auto replaced = std::find_if(before.begin(), before.end(),
                                     [&](const Seen& entry) { return Folded(entry.name) == Folded(fresh); });
  const bool fresh_is_new = replaced == before.end();
  const int count = zip.EntryCount();
  const int target = count ? static_cast<int>(choice >> 2) % count : 0;

  Operation operation = static_cast<Operation>(choice & 3);
  if (operation == kRename && (choice & 0x80)) operation = kNote;
  if (operation == kRemove && (choice & 0x80)) operation = kReindex;
  if (operation != kAdd && operation != kRepair && operation != kReindex && count == 0) operation = kAdd;
  std::string repaired_copy;
  std::string note_comment;
  // User glyphs 0-2 (glyph indexes 22-24) before, the middle one deleted.
  const glyphs::TReindexMap reindex({"Kept", "Deleted", "Moved"}, {"Deleted"});
  int reindexed = 0;
  try {
    switch (operation) {
      case kAdd: {
        TMemoryStream item(std::string_view("a clip"));
        zip.AddFromStream(&item, fresh);
        break;
      }
      case kRename:
        zip.SetEntryPath(target, "Fuzz");
        zip.SetEntryFileName(target, "Fresh");
        zip.CommitChanges();
        break;
      case kRemove:
        zip.SetEntrySelected(target, true);
        zip.RemoveEntries();
        break;
      case kRepair:
        repaired_copy = zip.Repair();
        break;
      case kNote:
        // As the note pane writes a note: the rest of the comment kept.
        note_comment = store::ComposeAddNoteComment(zip.EntryComment(target), "Fuzz note\r\nline 2");
        zip.SetEntryComment(target, note_comment);
        zip.CommitChanges();
        break;
      case kReindex:
        reindexed = glyphs::ReindexCabinet(zip, reindex);
        break;
    }
  } catch (const Exception&) {
    // Refused or failed: the file is as it was and nothing is left beside it.
    QB_FUZZ_CHECK(FileBytes(path) == original);
    for (const std::string& name : FolderFiles(folder))
      QB_FUZZ_CHECK(name == "cabinet.qvf" || name == ".cabinet.qvf.lock" ||
                    name.rfind("cabinet.qvf.damaged", 0) == 0);
    return 0;
  }
  // Shifting glyph fields changes only what the map moves, and a cabinet where it
  // moves nothing is not written.
  if (operation == kReindex) {
    int moving = 0;
    for (const Seen& entry : before)
      moving += entry.comment && glyphs::ReindexComment(*entry.comment, reindex) ? 1 : 0;
    QB_FUZZ_CHECK(reindexed == moving);
    if (reindexed == 0) {
      QB_FUZZ_CHECK(FileBytes(path) == original);
      return 0;
    }
  }
  // An update over a damaged directory must have been refused; a repair of a sound
  // one does nothing.
  QB_FUZZ_CHECK(!damaged || operation == kRepair);
  if (operation == kRepair && !damaged) {
    QB_FUZZ_CHECK(repaired_copy.empty() && FileBytes(path) == original);
    return 0;
  }
  if (operation == kRepair) QB_FUZZ_CHECK(FileBytes(repaired_copy) == original);

  zip::TZipReader reread;
  reread.SetSortMode(zip::TZipSortMode::ByNone);
  reread.SetZipName(path);
  reread.ReadDirectory();
  QB_FUZZ_CHECK(reread.DirectoryLoaded() && reread.DirectoryDamage().empty());
  const Contents after = WithComments(ReadContents(reread), path);
  switch (operation) {
    case kAdd: {
      // A name that was there (ignoring ASCII case) is replaced in place.
      CheckKept(fresh_is_new ? before : Without(before, static_cast<size_t>(replaced - before.begin())),
                after);
      QB_FUZZ_CHECK(after.size() == before.size() + (fresh_is_new ? 1 : 0));
      bool found = false;
      for (const Seen& entry : after) found |= Folded(entry.name) == Folded(fresh) && entry.bytes == "a clip";
      QB_FUZZ_CHECK(found);
      break;
    }
    case kRename:
      CheckKept(Without(before, static_cast<size_t>(target)), after);
      QB_FUZZ_CHECK(after.size() == before.size());
      QB_FUZZ_CHECK(std::any_of(after.begin(), after.end(), [&](const Seen& entry) {
        const Seen& old = before[static_cast<size_t>(target)];
        return entry.name == fresh && (!old.readable || entry.bytes == old.bytes) &&
               (!old.comment || entry.comment == old.comment);
      }));
      break;
    case kRemove:
      CheckKept(Without(before, static_cast<size_t>(target)), after);
      QB_FUZZ_CHECK(after.size() + 1 == before.size());
      break;
    case kRepair:
      // Everything that could be read of the damaged file is still there (a
      // directory rebuilt from the local headers has no comments to keep).
      CheckKept(before, after, /*with_comments=*/false);
      break;
    case kNote: {
      Contents noted = before;
      noted[static_cast<size_t>(target)].comment = note_comment;
      CheckKept(noted, after);
      QB_FUZZ_CHECK(after.size() == before.size());
      break;
    }
    case kReindex: {
      Contents shifted = before;
      for (Seen& entry : shifted)
        if (entry.comment)
          if (std::optional<std::string> moved = glyphs::ReindexComment(*entry.comment, reindex))
            entry.comment = *moved;
      CheckKept(shifted, after);
      QB_FUZZ_CHECK(after.size() == before.size());
      break;
    }
  }
  return 0;
}
