// The write verbs: add, rm, mv, note --set/--delete, glyph.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <string>

#include "cli/qvf_cli.h"
#include "platform/codepage.h"
#include "store/cabinet_store.h"
#include "store/copy_move.h"
#include "store/item_metadata.h"
#include "store/item_paths.h"
#include "store/store_errors.h"

namespace qb::cli {

namespace {

// Entries hold sizes as signed 32-bit values.
constexpr size_t kMaxPayload = 0x7FFFFFFF;

// Reads a whole file, or standard input for "-"; throws Exception with the reason.
void ReadPayload(const std::string& source, TMemoryStream& stream) {
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> owned(nullptr, std::fclose);
  std::FILE* in = stdin;
  if (source != "-") {
    owned.reset(std::fopen(source.c_str(), "rb"));
    if (!owned) throw Exception("cannot read \"" + source + "\": " + std::strerror(errno));
    in = owned.get();
  }
  std::vector<uint8_t>& bytes = stream.Bytes();
  char buffer[1 << 16];
  for (;;) {
    size_t got = std::fread(buffer, 1, sizeof buffer, in);
    if (got == 0) break;
    if (bytes.size() + got > kMaxPayload)
      throw Exception("\"" + source + "\" is too large for a File Cabinet item (2 GiB at most)");
    bytes.insert(bytes.end(), buffer, buffer + got);
  }
  if (std::ferror(in))
    throw Exception("cannot read \"" + (source == "-" ? std::string("standard input") : source) + "\"");
  stream.SetPosition(0);
}

// The exit status of a verb whose change is made: what fails from here on (printing
// the result, a warning the engine gave after the change) gives 3, never 1, so that
// a script does not take a change that was made for one that failed.
int ChangeMade(const Cabinet& cabinet, const std::string& output = {}) {
  bool printed = WriteOut(output) && std::fflush(stdout) == 0;
  if (!printed) {
    const int error = errno;
    Complain("the change was made, but its result could not be written to standard output (" +
             std::string(std::strerror(error)) + ")");
  }
  return printed && cabinet.interaction.ErrorsShown() == 0 ? kExitOk : kExitChangedThenFailed;
}

}  // namespace

int CommandAdd(const std::vector<std::string>& argv) {
  Arguments args = ParseArguments("add", argv, {"--replace"}, {"--format", "--glyph"});
  if (args.help) return WriteOut(VerbHelp("add")) ? kExitOk : kExitFailure;
  RequirePositional(args, 2, 3);
  long long format = store::kFormatText;
  std::optional<long long> glyph;
  if (const std::string* text = args.Value("--format")) format = IntegerArgument("--format", *text, 1, 65535);
  if (const std::string* text = args.Value("--glyph"))
    glyph = IntegerArgument("--glyph", *text, -1, std::numeric_limits<int>::max());

  const std::string path = store::NormalizeItemPath(ItemArgument(args.positional[1]));
  TMemoryStream payload;
  ReadPayload(args.positional.size() > 2 ? args.positional[2] : "-", payload);

  Cabinet cabinet(args.positional[0]);
  // Only the entries of the item's name are read into memory: a new item is
  // appended, the directory carried over as it is (a replacement reads it whole).
  cabinet.zip.SetNameFilter({path});
  // No other writer between the check for an existing item and the save.
  zip::TCabinetLockHold hold(cabinet.zip);
  OpenIfExists(cabinet);
  const int existing = store::FindItemEntry(cabinet.zip, path);
  if (existing < cabinet.zip.EntryCount() && !args.Flag("--replace"))
    throw store::EItemExists(cabinet.zip.EntryFullName(existing));
  store::StoredItem item = store::SaveItem(cabinet.zip, payload, path, format, glyph);
  return ChangeMade(cabinet, ShowPath(item.path) + '\n');
}

int CommandRm(const std::vector<std::string>& argv) {
  Arguments args = ParseArguments("rm", argv, {}, {});
  if (args.help) return WriteOut(VerbHelp("rm")) ? kExitOk : kExitFailure;
  RequirePositional(args, 2, 2);
  Cabinet cabinet(args.positional[0]);
  OpenExisting(cabinet);
  store::DeleteItem(cabinet.zip, ItemArgument(args.positional[1]));
  return ChangeMade(cabinet);
}

int CommandMv(const std::vector<std::string>& argv) {
  Arguments args = ParseArguments("mv", argv, {"--replace"}, {});
  if (args.help) return WriteOut(VerbHelp("mv")) ? kExitOk : kExitFailure;
  RequirePositional(args, 3, 3);
  Cabinet cabinet(args.positional[0]);
  OpenExisting(cabinet);
  const std::string new_path = store::MoveItem(cabinet.zip, ItemArgument(args.positional[1]),
                                               ItemArgument(args.positional[2]), args.Flag("--replace"));
  return ChangeMade(cabinet, ShowPath(new_path) + '\n');
}

int CommandCp(const std::vector<std::string>& argv) {
  Arguments args = ParseArguments("cp", argv, {"--move", "--replace"}, {});
  if (args.help) return WriteOut(VerbHelp("cp")) ? kExitOk : kExitFailure;
  if (args.positional.size() < 3) throw UsageError("cp needs SOURCE, TARGET and at least one ITEM");
  Cabinet source(args.positional[0]);
  OpenExisting(source);
  const std::string& target = args.positional[1];
  if (store::TZipCopyMove::SameCabinet(source.zip.ZipName(), target))
    throw UsageError("TARGET is the same file as SOURCE");
  std::vector<std::string> names;
  bool empty_drawer = false;
  for (size_t a = 2; a < args.positional.size(); ++a) {
    const std::string item = ItemArgument(args.positional[a]);
    if (item.empty() || item.back() != '\\') {
      names.push_back(item);
      continue;
    }
    // A drawer: every item in it and below it.
    bool any = false;
    for (int i = 0; i < source.zip.EntryCount(); ++i) {
      const std::string full = source.zip.EntryFullName(i);
      if (!source.zip.EntryFileName(i).empty() && full.size() > item.size() &&
          codepage::SameTextAscii(std::string_view(full).substr(0, item.size()), item)) {
        names.push_back(full);
        any = true;
      }
    }
    if (!any) {
      Complain("no items in drawer " + ShowPath(item));
      empty_drawer = true;
    }
  }
  store::TZipCopyMove copy_move;
  copy_move.SetZipReader(&source.zip);
  copy_move.SetTargetZip(target);
  copy_move.SetTransferType(args.Flag("--move") ? store::TTransferType::ttMove
                                                : store::TTransferType::ttCopy);
  copy_move.FilesList() = names;
  const bool replace = args.Flag("--replace");
  copy_move.OnReplaceQuery = [&](store::TZipCopyMove&, const std::string& name) {
    if (!replace)
      Complain("skipped " + ShowPath(name) + ": TARGET holds an item of that name (--replace replaces it)");
    return replace ? store::TReplaceAnswer::Yes : store::TReplaceAnswer::No;
  };
  copy_move.Transfer();
  for (const std::string& name : copy_move.TransferredNames()) WriteOut(ShowPath(name) + '\n');
  for (const auto& failure : copy_move.Failures()) Complain(ShowPath(failure.name) + " " + failure.reason);
  if (!copy_move.Problem().empty()) Complain(copy_move.Problem());
  if (!copy_move.Failures().empty() || !copy_move.Problem().empty() || empty_drawer)
    return copy_move.TransferredCount() > 0 ? kExitChangedThenFailed : kExitFailure;
  return kExitOk;
}

int CommandNote(const std::vector<std::string>& argv) {
  Arguments args = ParseArguments("note", argv, {"--delete"}, {"--set"});
  if (args.help) return WriteOut(VerbHelp("note")) ? kExitOk : kExitFailure;
  const std::string* text = args.Value("--set");
  const bool remove = args.Flag("--delete");
  if (text && remove) throw UsageError("--set and --delete exclude each other");
  if (!text && !remove) return ShowNote(args);
  if (text && text->empty()) throw UsageError("--set needs the note's text (--delete removes a note)");
  RequirePositional(args, 2, 2);
  Cabinet cabinet(args.positional[0]);
  OpenExisting(cabinet);
  const std::string item = ItemArgument(args.positional[1]);
  if (remove)
    store::DeleteItemNote(cabinet.zip, item);
  else
    store::SetItemNote(cabinet.zip, item, *text);
  return ChangeMade(cabinet);
}

int CommandGlyph(const std::vector<std::string>& argv) {
  Arguments args = ParseArguments("glyph", argv, {}, {});
  if (args.help) return WriteOut(VerbHelp("glyph")) ? kExitOk : kExitFailure;
  RequirePositional(args, 3, 3);
  const long long glyph = IntegerArgument("glyph", args.positional[2], -1, std::numeric_limits<int>::max());
  Cabinet cabinet(args.positional[0]);
  OpenExisting(cabinet);
  store::SetItemGlyph(cabinet.zip, ItemArgument(args.positional[1]), glyph);
  return ChangeMade(cabinet);
}

int CommandRepair(const std::vector<std::string>& argv) {
  Arguments args = ParseArguments("repair", argv, {}, {});
  if (args.help) return WriteOut(VerbHelp("repair")) ? kExitOk : kExitFailure;
  RequirePositional(args, 1, 1);
  Cabinet cabinet(args.positional[0]);
  OpenExisting(cabinet);
  const std::string damage = cabinet.zip.DirectoryDamage();
  const std::string backup = cabinet.zip.Repair();
  if (backup.empty()) {
    Complain("\"" + ShowPath(args.positional[0]) + "\" is not damaged; nothing was changed");
    return kExitOk;
  }
  Complain("repaired (" + damage + "); " + std::to_string(cabinet.zip.EntryCount()) +
           " items kept; the damaged file was copied to \"" + ShowPath(backup) + "\"");
  return WriteOut(ShowPath(backup) + '\n') ? kExitOk : kExitFailure;
}

}  // namespace qb::cli
