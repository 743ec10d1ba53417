#include "platform/paths.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "platform/errors.h"

namespace qb {

namespace fs = std::filesystem;

namespace {

constexpr const char* kAppFolder = "quiverbox";

std::string Join(const std::string& folder, const std::string& name) {
  return (fs::path(folder) / name).string();
}

// An XDG variable counts only when it holds an absolute path.
std::optional<std::string> AbsoluteVariable(const TPaths::TEnvLookup& lookup, const char* name) {
  std::optional<std::string> value = lookup(name);
  if (!value || value->empty() || !fs::path(*value).is_absolute()) return std::nullopt;
  return value;
}

// A folder of the system's temporary folder that only this user can reach: the
// fixed "quiverbox-<uid>" when it is a real folder (not a link) owned by this user
// with no access for others, else a fresh one with a random name. Created 0700, so
// nobody else can plant a file or a link inside; "/dev/null" (where no file can
// ever be made) when neither can be had.
std::string PrivateFallbackBase(const TPaths::TEnvLookup& lookup) {
  std::string temp = "/tmp";
  if (std::optional<std::string> tmpdir = AbsoluteVariable(lookup, "TMPDIR")) temp = *tmpdir;
  while (temp.size() > 1 && temp.back() == '/') temp.pop_back();
  const std::string fixed = temp + "/" + kAppFolder + "-" + std::to_string(::geteuid());
  if (::mkdir(fixed.c_str(), 0700) == 0 || errno == EEXIST) {
    struct stat st {};
    if (::lstat(fixed.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() &&
        (st.st_mode & 077) == 0)
      return fixed;
  }
  std::string fresh = temp + "/" + kAppFolder + "-XXXXXX";
  if (::mkdtemp(fresh.data())) return fresh;
  return "/dev/null";
}

}  // namespace

TPaths::TPaths(const TEnvLookup& lookup) {
  if (std::optional<std::string> home = lookup("QUIVERBOX_HOME"); home && !home->empty()) {
    portable_ = true;
    config_dir_ = data_dir_ = cache_dir_ = fs::absolute(*home).lexically_normal().string();
    return;
  }
  std::optional<std::string> user_home = AbsoluteVariable(lookup, "HOME");
  std::optional<std::string> fallback;
  auto base = [&](const char* variable, const char* under_home) -> std::string {
    if (std::optional<std::string> value = AbsoluteVariable(lookup, variable))
      return Join(*value, kAppFolder);
    if (user_home) return Join(Join(*user_home, under_home), kAppFolder);
    if (!fallback) fallback = PrivateFallbackBase(lookup);
    return Join(*fallback, under_home);
  };
  config_dir_ = base("XDG_CONFIG_HOME", ".config");
  data_dir_ = base("XDG_DATA_HOME", ".local/share");
  cache_dir_ = base("XDG_CACHE_HOME", ".cache");
  desktop_dir_ = fs::path(data_dir_).parent_path().string();
}

TPaths TPaths::FromEnvironment() {
  return TPaths([](const char* name) -> std::optional<std::string> {
    const char* value = std::getenv(name);
    if (!value) return std::nullopt;
    return std::string(value);
  });
}

TPaths TPaths::InFolder(const std::string& folder) {
  return TPaths([folder](const char* name) -> std::optional<std::string> {
    if (std::string(name) == "QUIVERBOX_HOME") return folder;
    return std::nullopt;
  });
}

std::string TPaths::SettingsFile() const {
  return Join(config_dir_, "quiverbox.ini");
}
std::string TPaths::LayoutFile() const {
  return Join(config_dir_, "quiverbox.dat");
}
std::string TPaths::UserGlyphLibrary() const {
  return Join(data_dir_, "UserGlyphs.dll");
}
std::string TPaths::TempPictureFile() const {
  return Join(cache_dir_, "[@@]");
}
std::string TPaths::ManualDir() const {
  return Join(data_dir_, "manual");
}
std::string TPaths::RegistryFile(const std::string& root_name) const {
  return Join(config_dir_, root_name + ".reg");
}

void EnsureParentDir(const std::string& path) {
  const fs::path parent = fs::path(path).parent_path();
  if (parent.empty()) return;
  std::error_code ec;
  fs::create_directories(parent, ec);
  if (ec) throw EFCreateError(path, ec.message());
}

bool RegularFileExists(const std::string& path) {
  if (path.empty() || path.find('\0') != std::string::npos) return false;
  std::error_code ec;
  return fs::is_regular_file(path, ec);
}

bool SameFilePath(const std::string& a, const std::string& b) {
  if (a == b) return true;
  if (a.empty() || b.empty()) return false;
  struct stat sa = {};
  struct stat sb = {};
  if (::stat(a.c_str(), &sa) != 0 || ::stat(b.c_str(), &sb) != 0) return false;
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

}  // namespace qb
