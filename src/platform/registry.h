// The registry: named string values in a tree of keys, under two roots - the
// current user's (the recent cabinets) and the classes root (the file type).
//
// IRegistry is what the program asks of it: does a key exist, open one with
// creating, read and write a named or default ("") string value, list subkeys and
// value names, delete a key (only one without subkeys, as the native registry does;
// callers that want a whole tree walk it) and delete a value.
//
// Key paths are backslash-separated, compared with ASCII letters folded (the first
// spelling met is kept); a leading or trailing backslash is ignored, so
// "\Software\Quiverbox" and "Software\Quiverbox" are one key. A path with an empty
// level ("a\\b"), a control character or more than kMaxKeyPath bytes names no key:
// reads find nothing and writes fail. Value names compare the same way.
//
// TFileRegistry keeps each root in one human-readable text file
// (TPaths::RegistryFile: CurrentUser.reg, ClassesRoot.reg):
//
//   ; Quiverbox registry: CurrentUser
//   [Software\Quiverbox\FileCabinets\FileHistory]
//   "File1"="/home/u/clips.qvf"
//   @="the default value"
//
// Strings are quoted with \\, \", \n, \r, \t and \xHH (other control bytes)
// escaped. Every call reads the file afresh (two running programs see each other's
// changes) and every change writes it whole through a temporary file that is
// renamed over the old one, so a crash leaves the old or the new file, never half
// of one. A file that is missing reads as an empty root. Lines that cannot be read
// (a damaged or hand-edited file) are skipped; before such a file is replaced, it
// is kept beside it as "<name>.reg.bad", so nothing the user had is lost without a
// trace. Failures to read or write are not reported beyond the false result.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/paths.h"

namespace qb {

enum class TRegistryRoot { CurrentUser, ClassesRoot };

class IRegistry {
 public:
  static constexpr size_t kMaxKeyPath = 4096;
  virtual ~IRegistry() = default;
  virtual bool KeyExists(TRegistryRoot root, std::string_view key) = 0;
  // Opens the key, creating it (and the levels above it) when missing.
  virtual bool CreateKey(TRegistryRoot root, std::string_view key) = 0;
  // Nothing when the key or the value does not exist. name "" is the default value.
  virtual std::optional<std::string> ReadString(TRegistryRoot root, std::string_view key,
                                                std::string_view name) = 0;
  // Opens the key with creating and writes one value.
  virtual bool WriteString(TRegistryRoot root, std::string_view key, std::string_view name,
                           std::string_view value) = 0;
  // The names of the key's direct subkeys / values, in the order they were made.
  virtual std::vector<std::string> SubKeys(TRegistryRoot root, std::string_view key) = 0;
  virtual std::vector<std::string> ValueNames(TRegistryRoot root, std::string_view key) = 0;
  // Deletes a key that has no subkeys, with its values; false when it has
  // subkeys, does not exist or the change could not be written.
  virtual bool DeleteKey(TRegistryRoot root, std::string_view key) = 0;
  virtual bool DeleteValue(TRegistryRoot root, std::string_view key, std::string_view name) = 0;
};

// "CurrentUser" / "ClassesRoot".
const char* RegistryRootName(TRegistryRoot root);

class TFileRegistry : public IRegistry {
 public:
  explicit TFileRegistry(const TPaths& paths);
  // The file behind a root.
  std::string FileOf(TRegistryRoot root) const;

  bool KeyExists(TRegistryRoot root, std::string_view key) override;
  bool CreateKey(TRegistryRoot root, std::string_view key) override;
  std::optional<std::string> ReadString(TRegistryRoot root, std::string_view key,
                                        std::string_view name) override;
  bool WriteString(TRegistryRoot root, std::string_view key, std::string_view name,
                   std::string_view value) override;
  std::vector<std::string> SubKeys(TRegistryRoot root, std::string_view key) override;
  std::vector<std::string> ValueNames(TRegistryRoot root, std::string_view key) override;
  bool DeleteKey(TRegistryRoot root, std::string_view key) override;
  bool DeleteValue(TRegistryRoot root, std::string_view key, std::string_view name) override;

 private:
  std::string current_user_file_, classes_root_file_;
};

// The text form of one root and back; exposed for the tests. ParseRegistryText
// returns the number of lines it could not read in *skipped.
struct TRegistryValue {
  std::string Name;
  std::string Data;
};
struct TRegistryKeyData {
  std::string Path;  // normalised, "" for the root itself (never stored)
  std::vector<TRegistryValue> Values;
};
std::vector<TRegistryKeyData> ParseRegistryText(std::string_view text, size_t* skipped = nullptr);
std::string RegistryText(const std::vector<TRegistryKeyData>& keys, std::string_view root_name);

}  // namespace qb
