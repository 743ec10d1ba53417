// qvf: the command-line tool over File Cabinets.
//
//   qvf VERB [OPTIONS] CABINET [ARGS]
//
// Each verb is one function (qvf_read.cpp, qvf_write.cpp); here are the dispatch,
// the help texts and the one place where failures become messages and exit codes.
#include <cstdio>
#include <exception>
#include <new>
#include <string>
#include <vector>

#include "cli/qvf_cli.h"
#include "platform/errors.h"
#include "platform/format_registry.h"

namespace qb::cli {

const char* GeneralHelp() {
  return "usage: qvf VERB [OPTIONS] CABINET [ARGS]\n"
         "\n"
         "Lists, reads and changes Quiverbox File Cabinets (.qvf) from the command line.\n"
         "Item paths use backslashes like the cabinet (Work\\Code\\Snippet); \"/\" is\n"
         "accepted too. Letter case does not matter when an item is looked up.\n"
         "\n"
         "Reading:\n"
         "  ls CABINET [--long] [--by-date]  one line per item, tab-separated\n"
         "  find CABINET TEXT             the items whose path, note or text holds TEXT\n"
         "  cat CABINET ITEM              the item's payload bytes to standard output\n"
         "  note CABINET ITEM             the item's note\n"
         "  test CABINET                  extract every item and check its CRC\n"
         "Changing (a new cabinet comes into being with its first item):\n"
         "  add CABINET ITEM [FILE|-]     store a file (or standard input) as an item\n"
         "  rm CABINET ITEM               delete an item\n"
         "  mv CABINET ITEM NEWPATH       rename or move an item\n"
         "  cp SOURCE TARGET ITEM...      copy items to another cabinet (--move moves)\n"
         "  note CABINET ITEM --set TEXT  add or replace the item's note\n"
         "  note CABINET ITEM --delete    remove the item's note\n"
         "  glyph CABINET ITEM N          give the item glyph N\n"
         "  repair CABINET                rewrite a damaged cabinet from what can be read\n"
         "\n"
         "qvf VERB --help describes a verb. Exit status: 0 success, 1 failure (the\n"
         "reason is on standard error), 2 a wrong command line, 3 the cabinet was\n"
         "changed as asked but a later step failed (printing the result, or making\n"
         "sure the change reached the disk; standard error says which).\n";
}

const char* VerbHelp(const std::string& verb) {
  if (verb == "ls")
    return "usage: qvf ls CABINET [--long] [--by-date]\n"
           "\n"
           "One line per item, in the cabinet's order (item paths sorted, letter case\n"
           "ignored), or with --by-date newest first by the date stored with each item\n"
           "(items of one date in the cabinet's order), with the fields separated by tabs:\n"
           "  PATH  FORMAT  GLYPH  NOTE  STORED  SIZE\n"
           "FORMAT is the clipboard format number and GLYPH the glyph index, \"-\" when the\n"
           "item has none and \"?\" when its comment holds something else than a number\n"
           "(the reason goes to standard error and the exit status is 1). NOTE is \"N\"\n"
           "when the item has a note, \"-\" otherwise. STORED and SIZE are the compressed\n"
           "and the original size in bytes. --long adds two fields:\n"
           "  DATE (YYYY-MM-DD HH:MM:SS, local time)  NOTE-TEXT\n"
           "In NOTE-TEXT a backslash is written \\\\, a line break \\n, a tab \\t, a lone\n"
           "carriage return \\r and any other control character \\xHH. In PATH control\n"
           "characters are written \\xHH. A cabinet whose directory is damaged lists the\n"
           "items that could be read, says what is wrong on standard error and exits\n"
           "with 1 (see qvf repair).\n";
  if (verb == "find")
    return "usage: qvf find CABINET TEXT [--paths] [--notes] [--content] [--long] [--by-date]\n"
           "\n"
           "Lists the items whose path, note or text contains TEXT, as qvf ls lists them\n"
           "(--long and --by-date as there). Letter case does not matter, in any script\n"
           "(\"STRASSE\" finds \"Stra\xC3\x9F"
           "e\"). The text of an item is that of text and OEM\n"
           "text items (up to the first zero byte, the first 64 MiB of larger ones);\n"
           "pictures, sounds and other data are found by path and note only. --paths,\n"
           "--notes and --content look only there (any of them together); without them\n"
           "all three count. Finding nothing is no failure: the exit status is 0. A text\n"
           "item that cannot be read is named on standard error and the status is 1.\n";
  if (verb == "cat")
    return "usage: qvf cat CABINET ITEM\n"
           "\n"
           "Writes the item's payload, byte for byte, to standard output. An item whose\n"
           "data fails its CRC check writes nothing and exits with 1.\n";
  if (verb == "note")
    return "usage: qvf note CABINET ITEM\n"
           "       qvf note CABINET ITEM --set TEXT\n"
           "       qvf note CABINET ITEM --delete\n"
           "\n"
           "Without an option, prints the item's note followed by a line break (the\n"
           "note's own line breaks as LF); an item without a note prints nothing and\n"
           "exits with 1. --set adds the note TEXT, replacing an existing one (line\n"
           "breaks are stored as CR LF); --delete removes the note.\n";
  if (verb == "test")
    return "usage: qvf test CABINET\n"
           "\n"
           "Extracts every item and checks it. One line per item: PATH, a tab and \"OK\",\n"
           "or PATH, a tab, \"FAILED\", a tab and the reason. Exits with 1 when any item\n"
           "failed, or when the cabinet's directory is damaged (said on standard error;\n"
           "see qvf repair).\n";
  if (verb == "add")
    return "usage: qvf add CABINET ITEM [FILE|-] [--format N] [--glyph N] [--replace]\n"
           "\n"
           "Stores the bytes of FILE (standard input when FILE is \"-\" or missing) as the\n"
           "item ITEM, with the comment a saved item gets. The item is a text item unless\n"
           "--format gives another clipboard format number (1 to 65535); its glyph is the\n"
           "format's own (3 for text) unless --glyph gives one (-1 for none). An existing\n"
           "item is replaced only with --replace; it then keeps its glyph (unless --glyph\n"
           "is given) and its note. The cabinet file is created when it does not exist.\n"
           "Prints the path the item was stored under.\n";
  if (verb == "rm")
    return "usage: qvf rm CABINET ITEM\n"
           "\n"
           "Deletes the item.\n";
  if (verb == "mv")
    return "usage: qvf mv CABINET ITEM NEWPATH [--replace]\n"
           "\n"
           "Renames or moves the item to NEWPATH, a whole item path (\"Work\\Old\" to\n"
           "\"Archive\\Old\" moves it to another drawer). An item already at NEWPATH is\n"
           "replaced only with --replace. Prints the new path.\n";
  if (verb == "cp")
    return "usage: qvf cp SOURCE TARGET ITEM... [--move] [--replace]\n"
           "\n"
           "Copies the items into the cabinet TARGET (created when it does not exist),\n"
           "each as SOURCE stores it: compressed data unchanged, with its note, glyph,\n"
           "date and extra fields. An ITEM ending in \"\\\" names a drawer: all its\n"
           "items and those of the drawers below it. All items go into\n"
           "TARGET in one update, which is read back and checked; --move then removes\n"
           "from SOURCE exactly the items found intact in TARGET. An item that TARGET\n"
           "holds already is skipped unless --replace is given. A damaged item, or an\n"
           "encrypted one, stays where it is and is reported. TARGET may not be SOURCE\n"
           "(by any path). Prints the path of each item copied.\n";
  if (verb == "glyph")
    return "usage: qvf glyph CABINET ITEM N\n"
           "\n"
           "Gives the item the glyph index N (-1 for none); format and note stay.\n";
  if (verb == "repair")
    return "usage: qvf repair CABINET\n"
           "\n"
           "Rewrites a damaged cabinet - one whose directory disagrees with itself or\n"
           "could only be rebuilt from the items' own headers - from every item that\n"
           "can be read. The damaged file is first copied beside it, as CABINET.damaged\n"
           "(or CABINET.damaged-2 and so on); its path is printed. ls and test report\n"
           "such damage, and no other verb changes a damaged cabinet. A cabinet that is\n"
           "not damaged is left alone.\n";
  return nullptr;
}

namespace {

int Dispatch(const std::string& verb, const std::vector<std::string>& args) {
  if (verb == "ls") return CommandLs(args);
  if (verb == "find") return CommandFind(args);
  if (verb == "cat") return CommandCat(args);
  if (verb == "note") return CommandNote(args);
  if (verb == "test") return CommandTest(args);
  if (verb == "add") return CommandAdd(args);
  if (verb == "rm") return CommandRm(args);
  if (verb == "mv") return CommandMv(args);
  if (verb == "cp") return CommandCp(args);
  if (verb == "glyph") return CommandGlyph(args);
  if (verb == "repair") return CommandRepair(args);
  throw UsageError("unknown verb '" + verb + "'");
}

int Run(int argc, char** argv) {
  std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  if (args.empty()) {
    std::fputs(GeneralHelp(), stderr);
    return kExitUsage;
  }
  const std::string verb = args[0];
  if (verb == "--help" || verb == "-h" || verb == "help") {
    if (verb == "help" && args.size() > 1 && VerbHelp(args[1])) return WriteOut(VerbHelp(args[1])) ? 0 : 1;
    return WriteOut(GeneralHelp()) ? kExitOk : kExitFailure;
  }
  args.erase(args.begin());
  try {
    return Dispatch(verb, args);
  } catch (const UsageError& e) {
    const bool known = VerbHelp(verb) != nullptr;
    std::fprintf(stderr, "qvf%s%s: %s\nTry 'qvf %s--help'.\n", known ? " " : "", known ? verb.c_str() : "",
                 e.what(), known ? (verb + " ").c_str() : "");
    return kExitUsage;
  }
}

}  // namespace

}  // namespace qb::cli

int main(int argc, char** argv) {
  qb::RegisterProgramFormats();
  int status = qb::cli::kExitFailure;
  try {
    status = qb::cli::Run(argc, argv);
  } catch (const std::bad_alloc&) {
    qb::cli::Complain("out of memory");
    return qb::cli::kExitFailure;
  } catch (const std::exception& e) {
    qb::cli::Complain(e.what());
    return qb::cli::kExitFailure;
  }
  // (A verb that changed the cabinet has told of its own output failure.)
  if (status != qb::cli::kExitChangedThenFailed && (std::fflush(stdout) != 0 || std::ferror(stdout))) {
    qb::cli::Complain("cannot write to standard output");
    return qb::cli::kExitFailure;
  }
  return status;
}
