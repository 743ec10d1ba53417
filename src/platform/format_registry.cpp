#include "platform/format_registry.h"

#include "platform/codepage.h"

namespace qb {

uint32_t TClipboardFormatRegistry::Register(std::string_view name) {
  if (name.empty()) return 0;
  std::string key = codepage::AsciiLowerCase(name);
  std::lock_guard lock(mutex_);
  if (auto it = numbers_.find(key); it != numbers_.end()) return it->second;
  if (names_.size() > kLastNumber - kFirstNumber) return 0;
  const uint32_t number = kFirstNumber + static_cast<uint32_t>(names_.size());
  names_.emplace_back(name);
  numbers_.emplace(std::move(key), number);
  return number;
}

std::optional<uint32_t> TClipboardFormatRegistry::Find(std::string_view name) const {
  std::string key = codepage::AsciiLowerCase(name);
  std::lock_guard lock(mutex_);
  auto it = numbers_.find(key);
  if (it == numbers_.end()) return std::nullopt;
  return it->second;
}

std::optional<std::string> TClipboardFormatRegistry::NameOf(uint32_t number) const {
  std::lock_guard lock(mutex_);
  if (number < kFirstNumber || number - kFirstNumber >= names_.size()) return std::nullopt;
  return names_[number - kFirstNumber];
}

size_t TClipboardFormatRegistry::Count() const {
  std::lock_guard lock(mutex_);
  return names_.size();
}

TClipboardFormatRegistry& ClipboardFormats() {
  static TClipboardFormatRegistry registry;
  return registry;
}

void RegisterProgramFormats(TClipboardFormatRegistry& registry) {
  registry.Register(kDelphiPictureFormatName);
  registry.Register(kDelphiComponentFormatName);
  registry.Register(kDelphiIconFormatName);
}

}  // namespace qb
