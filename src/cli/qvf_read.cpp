// The read verbs: ls, find, cat, note (without --set/--delete), test.
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "cli/qvf_cli.h"
#include "finder/cabinet_index.h"
#include "finder/item_preview.h"
#include "platform/case_fold.h"
#include "platform/errors.h"
#include "store/cabinet_store.h"
#include "store/item_metadata.h"
#include "store/item_paths.h"
#include "zip/zip_errors.h"

namespace qb::cli {

namespace {

// A number field of a comment as shown by ls: the number, "-" when absent, "?" when
// it is not a number (the reason goes to standard error).
template <class Reader>
std::string ShowNumberField(Reader read, const std::string& comment, const std::string& path, bool& damaged) {
  try {
    auto value = read(comment);
    return value ? std::to_string(*value) : "-";
  } catch (const EConvertError& e) {
    Complain(ShowPath(path) + ": " + e.what());
    damaged = true;
    return "?";
  }
}

// Items up to this size are extracted into memory and written in one go; larger
// ones are checked first and then streamed, so memory stays bounded.
constexpr uint64_t kCatInMemory = 16 << 20;

bool IsDrawerEntry(const zip::TZipHeaderInfo& entry) {
  return entry.file_name.empty();
}

// Reports a damaged directory after a listing: what is wrong and what was read.
// True when there was damage.
bool ReportDamage(const zip::TZipReader& zip, const std::string& cabinet) {
  if (zip.DirectoryDamage().empty()) return false;
  Complain("\"" + ShowPath(cabinet) + "\" is damaged: " + zip.DirectoryDamage() + "; " +
           std::to_string(zip.EntryCount()) +
           " items could be read (listed above). Nothing can be changed in it" +
           " until \"qvf repair\" has rewritten it.");
  return true;
}

// A verb about one item reads of the directory only the entries that can answer
// to its name: the name as typed and as normalised (the names LocateItem tries).
void ReadOnlyEntriesNamed(Cabinet& cabinet, const std::string& item) {
  std::vector<std::string> names{item};
  try {
    names.push_back(store::NormalizeItemPath(item));
  } catch (const Exception&) {
    // Not an item path: only the name as typed can match.
  }
  cabinet.zip.SetNameFilter(std::move(names), false);
}

// Writes the ls line of each entry of order; false when the output failed.
bool ListEntries(zip::TZipWriter& zip, const std::vector<int>& order, bool long_form, bool& damaged) {
  std::string out;
  for (int i : order) {
    const zip::TZipHeaderInfo& entry = zip.Entry(i);
    const std::string path = entry.FullName();
    const std::string comment = zip.EntryHasComment(i) ? zip.EntryComment(i) : std::string();
    out += ShowPath(path);
    out += '\t';
    out += ShowNumberField(store::ReadFormatNumber, comment, path, damaged);
    out += '\t';
    out += ShowNumberField(store::ReadGlyphIndex, comment, path, damaged);
    out += '\t';
    const bool has_note = store::CommentHasNote(comment);
    out += has_note ? "N" : "-";
    out += '\t';
    out += std::to_string(entry.compressed_size);
    out += '\t';
    out += std::to_string(entry.uncompressed_size);
    if (long_form) {
      out += '\t';
      out += ShowDosDateTime(entry.dos_date_time);
      out += '\t';
      if (has_note) out += ShowText(store::ReadNoteText(comment));
    }
    out += '\n';
    if (out.size() >= (1u << 16)) {
      if (!WriteOut(out)) return false;
      out.clear();
    }
  }
  return WriteOut(out);
}

// The entries in the cabinet's order, or newest first by their stored dates.
std::vector<int> ListOrder(const zip::TZipReader& zip, const std::vector<int>& entries, bool by_date) {
  if (!by_date) return entries;
  std::vector<uint32_t> dates;
  dates.reserve(entries.size());
  for (int i : entries) dates.push_back(zip.Entry(i).dos_date_time);
  std::vector<int> order;
  order.reserve(entries.size());
  for (int k : finder::NewestFirst(dates)) order.push_back(entries[static_cast<size_t>(k)]);
  return order;
}

}  // namespace

int CommandLs(const std::vector<std::string>& argv) {
  Arguments args = ParseArguments("ls", argv, {"--long", "--by-date"}, {});
  if (args.help) return WriteOut(VerbHelp("ls")) ? kExitOk : kExitFailure;
  RequirePositional(args, 1, 1);
  Cabinet cabinet(args.positional[0]);
  OpenExisting(cabinet);
  zip::TZipWriter& zip = cabinet.zip;
  zip.LoadAllComments();
  std::vector<int> entries(static_cast<size_t>(zip.EntryCount()));
  for (size_t i = 0; i < entries.size(); ++i) entries[i] = static_cast<int>(i);
  bool damaged = false;
  if (!ListEntries(zip, ListOrder(zip, entries, args.Flag("--by-date")), args.Flag("--long"), damaged))
    return kExitFailure;
  if (ReportDamage(zip, args.positional[0])) damaged = true;
  return damaged ? kExitFailure : kExitOk;
}

int CommandFind(const std::vector<std::string>& argv) {
  Arguments args =
      ParseArguments("find", argv, {"--long", "--by-date", "--paths", "--notes", "--content"}, {});
  if (args.help) return WriteOut(VerbHelp("find")) ? kExitOk : kExitFailure;
  RequirePositional(args, 2, 2);
  bool paths = args.Flag("--paths"), notes = args.Flag("--notes"), content = args.Flag("--content");
  if (!paths && !notes && !content) paths = notes = content = true;
  const text::TFoldedNeedle needle(args.positional[1]);
  Cabinet cabinet(args.positional[0]);
  OpenExisting(cabinet);
  zip::TZipWriter& zip = cabinet.zip;
  zip.LoadAllComments();
  zip.SetKeepZipOpen(true);

  bool damaged = false;
  std::vector<int> found;
  std::string scratch, payload;
  const int count = zip.EntryCount();
  for (int i = 0; i < count; ++i) {
    const zip::TZipHeaderInfo& entry = zip.Entry(i);
    const std::string path = entry.FullName();
    if (paths && needle.FoundIn(path, scratch)) {
      found.push_back(i);
      continue;
    }
    const std::string comment = zip.EntryHasComment(i) ? zip.EntryComment(i) : std::string();
    if (notes && store::CommentHasNote(comment) && needle.FoundIn(store::ReadNoteText(comment), scratch)) {
      found.push_back(i);
      continue;
    }
    if (!content || IsDrawerEntry(entry)) continue;
    std::optional<long long> format;
    try {
      format = store::ReadFormatNumber(comment);
    } catch (const EConvertError&) {
      continue;  // data of no known format: not text
    }
    if (!finder::IsTextFormat(format)) continue;
    // The text runs to the first zero byte; the rest is decoded only to check the
    // item's CRC. A text beyond the limit is searched in its first part, unchecked.
    payload.clear();
    const uint64_t limit = std::min<uint64_t>(entry.uncompressed_size, finder::kMaxIndexedText);
    bool zero_seen = false, ended = false;
    std::string problem;
    try {
      problem = zip.CheckEntry(i, [&](const uint8_t* data, size_t size) {
        if (zero_seen) return true;
        const char* bytes = reinterpret_cast<const char*>(data);
        const size_t take = static_cast<size_t>(std::min<uint64_t>(size, limit - payload.size()));
        const void* zero = std::memchr(bytes, 0, take);
        payload.append(bytes, zero ? static_cast<size_t>(static_cast<const char*>(zero) - bytes) : take);
        zero_seen = zero != nullptr;
        ended = !zero_seen && payload.size() >= limit && limit < entry.uncompressed_size;
        return !ended;
      });
    } catch (const Exception& e) {
      problem = e.what();
    }
    if (!problem.empty() && !ended) {
      Complain("\"" + ShowPath(path) + "\" " + problem);
      damaged = true;
      continue;
    }
    const std::optional<std::string> text = finder::ItemText(format, payload);
    if (text && needle.FoundIn(*text, scratch)) found.push_back(i);
  }
  if (!ListEntries(zip, ListOrder(zip, found, args.Flag("--by-date")), args.Flag("--long"), damaged))
    return kExitFailure;
  if (ReportDamage(zip, args.positional[0])) damaged = true;
  return damaged ? kExitFailure : kExitOk;
}

int CommandCat(const std::vector<std::string>& argv) {
  Arguments args = ParseArguments("cat", argv, {}, {});
  if (args.help) return WriteOut(VerbHelp("cat")) ? kExitOk : kExitFailure;
  RequirePositional(args, 2, 2);
  Cabinet cabinet(args.positional[0]);
  const std::string item = ItemArgument(args.positional[1]);
  ReadOnlyEntriesNamed(cabinet, item);
  OpenExisting(cabinet);
  const int index = store::LocateItem(cabinet.zip, item);
  const zip::TZipHeaderInfo& entry = cabinet.zip.Entry(index);
  const std::string path = entry.FullName();
  if (IsDrawerEntry(entry)) {
    Complain("\"" + ShowPath(path) + "\" names a drawer, not an item");
    return kExitFailure;
  }
  if (entry.uncompressed_size <= kCatInMemory) {
    // Decoded once, into a buffer of the item's size (the check refuses anything
    // past it), and written only when it came out whole.
    std::string data;
    data.reserve(static_cast<size_t>(entry.uncompressed_size));
    const std::string problem = cabinet.zip.CheckEntry(index, [&](const uint8_t* bytes, size_t size) {
      data.append(reinterpret_cast<const char*>(bytes), size);
      return true;
    });
    if (!problem.empty()) {
      Complain("\"" + ShowPath(path) + "\" " + problem);
      return kExitFailure;
    }
    return WriteOut(data) ? kExitOk : kExitFailure;
  }
  // Checked whole first, so that a damaged item writes nothing; then streamed.
  if (std::string problem = cabinet.zip.CheckEntry(index); !problem.empty()) {
    Complain("\"" + ShowPath(path) + "\" " + problem);
    return kExitFailure;
  }
  bool written = true;
  const std::string problem = cabinet.zip.CheckEntry(
      index, [&](const uint8_t* data, size_t size) { return written = WriteOut(data, size); });
  if (!written) return kExitFailure;
  if (!problem.empty()) {
    Complain("\"" + ShowPath(path) + "\" " + problem);
    return kExitFailure;
  }
  return kExitOk;
}

// The read form of note: prints the note text.
int ShowNote(const Arguments& args) {
  RequirePositional(args, 2, 2);
  Cabinet cabinet(args.positional[0]);
  const std::string item = ItemArgument(args.positional[1]);
  ReadOnlyEntriesNamed(cabinet, item);
  OpenExisting(cabinet);
  const int index = store::LocateItem(cabinet.zip, item);
  const std::string comment =
      cabinet.zip.EntryHasComment(index) ? cabinet.zip.EntryComment(index) : std::string();
  if (!store::CommentHasNote(comment)) {
    Complain("\"" + ShowPath(cabinet.zip.EntryFullName(index)) + "\" has no note");
    return kExitFailure;
  }
  std::string text;
  const std::string note = store::ReadNoteText(comment);
  for (size_t i = 0; i < note.size(); ++i) {
    if (note[i] == '\r' && i + 1 < note.size() && note[i + 1] == '\n') continue;
    text += note[i];
  }
  text += '\n';
  return WriteOut(text) ? kExitOk : kExitFailure;
}

int CommandTest(const std::vector<std::string>& argv) {
  Arguments args = ParseArguments("test", argv, {}, {});
  if (args.help) return WriteOut(VerbHelp("test")) ? kExitOk : kExitFailure;
  RequirePositional(args, 1, 1);
  Cabinet cabinet(args.positional[0]);
  OpenExisting(cabinet);
  zip::TZipWriter& zip = cabinet.zip;
  const int count = zip.EntryCount();
  int failed = 0;
  bool written = true;
  std::string out;
  zip.CheckAllEntries([&](int i, const std::string& problem) {
    if (!written) return;
    out += ShowPath(zip.EntryFullName(i));
    if (problem.empty()) {
      out += "\tOK\n";
    } else {
      out += "\tFAILED\t" + problem + '\n';
      ++failed;
    }
    if (out.size() >= (1u << 16)) {
      written = WriteOut(out);
      out.clear();
    }
  });
  if (!written || !WriteOut(out)) return kExitFailure;
  if (failed > 0)
    Complain(std::to_string(failed) + " of " + std::to_string(count) + " items failed the test");
  const bool damaged = ReportDamage(zip, args.positional[0]);
  return failed > 0 || damaged ? kExitFailure : kExitOk;
}

}  // namespace qb::cli
