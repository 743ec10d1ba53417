// qvf's shared pieces: the parsed command line, the verbs, opening a cabinet and
// the output conventions.
//
// Exit status: 0 success, 1 the operation failed (the message is on standard
// error), 2 the command line was wrong, 3 the cabinet was changed as asked but a
// step after the change failed (printing the result, or confirming that the
// change reached the disk; the message says which).
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "cli/stderr_interaction.h"
#include "zip/zip_writer.h"

namespace qb::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitChangedThenFailed = 3;

// A wrong command line; the text says what is wrong.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// One verb's command line after the verb: its positional arguments, the flags given
// and the options with values.
struct Arguments {
  std::string verb;
  std::vector<std::string> positional;
  std::set<std::string> flags;
  std::map<std::string, std::string> values;
  bool help = false;

  bool Flag(const std::string& name) const { return flags.count(name) != 0; }
  const std::string* Value(const std::string& name) const {
    auto it = values.find(name);
    return it == values.end() ? nullptr : &it->second;
  }
};

// Splits args (after the verb). known_flags and known_values list the options the
// verb takes ("--long", "--format"); "--name=value" and "--name value" both work,
// "--" ends the options and "-" is an argument. Throws UsageError.
Arguments ParseArguments(const std::string& verb, const std::vector<std::string>& args,
                         const std::set<std::string>& known_flags, const std::set<std::string>& known_values);
// Throws UsageError unless there are between min and max positional arguments.
void RequirePositional(const Arguments& args, size_t min, size_t max);

// An item path as typed on the command line: "/" becomes "\".
std::string ItemArgument(const std::string& typed);
// A decimal integer argument in [min, max]; throws UsageError naming the option.
long long IntegerArgument(const std::string& what, const std::string& text, long long min, long long max);

// The archive object set up for a cabinet, messages to standard error.
struct Cabinet {
  TStderrInteraction interaction;
  zip::TZipWriter zip;
  explicit Cabinet(const std::string& path);
};
// Reads the directory of a cabinet that must exist. A file that is not a ZIP
// archive gives the engine's EIncompleteZip; a missing file its EFOpenError.
void OpenExisting(Cabinet& cabinet);
// The same when the file exists; a missing file is a new cabinet with no items.
void OpenIfExists(Cabinet& cabinet);

// Output conventions (one record per line, fields separated by tabs):
// a path with its control characters written as \xHH;
std::string ShowPath(const std::string& path);
// a text field (notes) with \\, \t, \n (CR LF, LF), \r and \xHH escapes;
std::string ShowText(const std::string& text);
// a DOS date and time as "YYYY-MM-DD HH:MM:SS".
std::string ShowDosDateTime(uint32_t dos_date_time);
// Writes bytes to standard output; false when the output failed.
bool WriteOut(const void* data, size_t size);
inline bool WriteOut(const std::string& text) {
  return WriteOut(text.data(), text.size());
}
// Prints "qvf: message" on standard error.
void Complain(const std::string& message);

// The verbs. Each returns the exit status; exceptions of the engine and the store
// propagate to main, which prints their text and exits with 1.
int CommandLs(const std::vector<std::string>& args);
int CommandFind(const std::vector<std::string>& args);
int CommandCat(const std::vector<std::string>& args);
int CommandNote(const std::vector<std::string>& args);
int CommandTest(const std::vector<std::string>& args);
int CommandAdd(const std::vector<std::string>& args);
int CommandRm(const std::vector<std::string>& args);
int CommandMv(const std::vector<std::string>& args);
int CommandCp(const std::vector<std::string>& args);
int CommandGlyph(const std::vector<std::string>& args);
int CommandRepair(const std::vector<std::string>& args);
// The read form of note (no --set or --delete): prints the note.
int ShowNote(const Arguments& args);

// Help texts.
const char* GeneralHelp();
// The help of one verb, or nullptr for an unknown verb.
const char* VerbHelp(const std::string& verb);

}  // namespace qb::cli
