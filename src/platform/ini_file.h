// TIniFile: the settings file, an INI profile file kept in memory and written back
// whole.
//
// Sections ("[name]") hold "key=value" lines. Section and key names compare with
// ASCII letters folded; the first spelling met is kept. Blanks around names and
// values are dropped; lines that are neither a section header nor hold "=" (and
// comment lines starting with ";") are ignored on reading and not written back.
// Order of sections and keys is kept; new ones go at the end. A missing or
// unreadable file reads as empty; UpdateFile replaces the file whole or not at all
// (WriteFileAtomically), so a failed write leaves the old file intact.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace qb {

class TIniFile {
 public:
  TIniFile() = default;
  // Reads path; a file that does not exist gives an empty profile.
  explicit TIniFile(std::string path);

  const std::string& FileName() const { return path_; }
  void LoadFromText(std::string_view text);
  std::string ToText() const;

  bool SectionExists(std::string_view section) const;
  bool ValueExists(std::string_view section, std::string_view key) const;
  std::string ReadString(std::string_view section, std::string_view key, const std::string& fallback) const;
  // A value that is not a decimal integer gives fallback.
  long long ReadInteger(std::string_view section, std::string_view key, long long fallback) const;
  // "True"/"False" (any case) and "1"/"0"; anything else gives fallback.
  bool ReadBool(std::string_view section, std::string_view key, bool fallback) const;

  // Line breaks in a value would split it; they are written as blanks.
  void WriteString(std::string_view section, std::string_view key, std::string_view value);
  void WriteInteger(std::string_view section, std::string_view key, long long value);
  void WriteBool(std::string_view section, std::string_view key, bool value);  // "True"/"False"
  void DeleteKey(std::string_view section, std::string_view key);
  void EraseSection(std::string_view section);

  // Writes the profile to FileName() (creating its folder); throws EFCreateError or
  // EInOutError when that fails.
  void UpdateFile() const;

 private:
  struct TKey {
    std::string Name;
    std::string Value;
  };
  struct TSection {
    std::string Name;
    std::vector<TKey> Keys;
  };
  const TSection* Find(std::string_view section) const;
  TSection& Obtain(std::string_view section);

  std::string path_;
  std::vector<TSection> sections_;
};

}  // namespace qb
