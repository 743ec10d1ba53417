#include "platform/format_registry.h"

#include "platform/codepage.h"

namespace qb {

namespace {

// Index of name in names, compared with ASCII letters folded; names.size() if absent.
size_t IndexOfName(const std::vector<std::string>& names, std::string_view name) {
  for (size_t k = 0; k < names.size(); ++k)
    if (codepage::SameTextAscii(names[k], name)) return k;
  return names.size();
}

}  // namespace

uint32_t TClipboardFormatRegistry::Register(std::string_view name) {
  if (name.empty()) return 0;
  std::lock_guard lock(mutex_);
  size_t k = IndexOfName(names_, name);
  if (k == names_.size()) {
    if (names_.size() > kLastNumber - kFirstNumber) return 0;
    names_.emplace_back(name);
  }
  return kFirstNumber + static_cast<uint32_t>(k);
}

std::optional<uint32_t> TClipboardFormatRegistry::Find(std::string_view name) const {
  std::lock_guard lock(mutex_);
  size_t k = IndexOfName(names_, name);
  if (name.empty() || k == names_.size()) return std::nullopt;
  return kFirstNumber + static_cast<uint32_t>(k);
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
