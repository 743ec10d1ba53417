#include "app/command_line.h"

#include <filesystem>
#include <system_error>

#include "platform/codepage.h"

namespace qb {

namespace fs = std::filesystem;

bool IsUninstallCommandLine(const std::vector<std::string>& args) {
  return args.size() == 1 && args[0] == kUninstallSwitch;
}

std::optional<std::string> CabinetFromCommandLine(const std::vector<std::string>& args) {
  if (args.empty()) return std::nullopt;
  const std::string& first = args[0];
  // The extension: from the last dot after the last separator.
  const size_t dot = first.find_last_of('.');
  const size_t separator = first.find_last_of('/');
  if (dot == std::string::npos || (separator != std::string::npos && dot < separator)) return std::nullopt;
  const std::string_view ext = std::string_view(first).substr(dot);
  if (ext.size() != 4 || !codepage::SameTextAscii(ext, ".qvf")) return std::nullopt;
  std::error_code ec;
  const fs::path absolute = fs::absolute(first, ec);
  return ec ? first : absolute.lexically_normal().string();
}

}  // namespace qb
