// The program's command line: "/UNINSTALL", or the cabinet to open.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qb {

inline constexpr std::string_view kUninstallSwitch = "/UNINSTALL";
// True when args (without the program's name) are exactly "/UNINSTALL", in that
// letter case.
bool IsUninstallCommandLine(const std::vector<std::string>& args);
// The cabinet the command line names: the first argument, made absolute, when its
// extension is ".qvf" in any letter case; nothing otherwise.
std::optional<std::string> CabinetFromCommandLine(const std::vector<std::string>& args);

}  // namespace qb
