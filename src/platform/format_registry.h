// The registry of clipboard format names: the stand-in for the platform's table of
// registered clipboard formats.
//
// A name is registered once and keeps its number for the life of the process; the
// numbers are handed out from 0xC000 upwards, and registering a name again - in any
// mix of ASCII letter case - returns the number it already has. The program
// registers its own three formats ("Delphi Picture", "Delphi Component",
// "Delphi Icon") at start-up; the clipboard layer registers the names it meets.
//
// Thread-safe: every member locks the registry.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace qb {

inline constexpr const char* kDelphiPictureFormatName = "Delphi Picture";
inline constexpr const char* kDelphiComponentFormatName = "Delphi Component";
inline constexpr const char* kDelphiIconFormatName = "Delphi Icon";

class TClipboardFormatRegistry {
 public:
  static constexpr uint32_t kFirstNumber = 0xC000;
  static constexpr uint32_t kLastNumber = 0xFFFF;

  // The number of name, registering it when it is new. Returns 0 (no format) for
  // an empty name or when all numbers up to kLastNumber are taken.
  uint32_t Register(std::string_view name);
  // The number of a registered name, without registering it.
  std::optional<uint32_t> Find(std::string_view name) const;
  // The name as first registered, for a registered number.
  std::optional<std::string> NameOf(uint32_t number) const;
  size_t Count() const;

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> names_;                     // names_[k] has the number kFirstNumber + k
  std::unordered_map<std::string, uint32_t> numbers_;  // ASCII-lower-cased name -> number
};

// The program's one registry.
TClipboardFormatRegistry& ClipboardFormats();

// Registers the program's three formats; called once at start-up (calling it again
// changes nothing).
void RegisterProgramFormats(TClipboardFormatRegistry& registry = ClipboardFormats());

}  // namespace qb
