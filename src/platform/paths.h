// TPaths: the one service that answers where the program keeps its files.
//
// Nothing else builds a path to a settings or data file. The locations follow the
// XDG base directories:
//
//   settings file          $XDG_CONFIG_HOME/quiverbox/quiverbox.ini
//   layout file            $XDG_CONFIG_HOME/quiverbox/quiverbox.dat
//   registry files         $XDG_CONFIG_HOME/quiverbox/<root>.reg
//   user glyph library     $XDG_DATA_HOME/quiverbox/UserGlyphs.dll
//   temporary picture      $XDG_CACHE_HOME/quiverbox/[@@]
//   manual                 $XDG_DATA_HOME/quiverbox/manual
//   desktop integration    $XDG_DATA_HOME (applications/, mime/, icons/)
//
// with the usual defaults ~/.config, ~/.local/share and ~/.cache when a variable is
// unset, empty or not an absolute path. When QUIVERBOX_HOME is set (portable mode,
// and the isolation every test uses), every file lies directly in that folder
// instead, and the program does not integrate with the desktop (DesktopDataDir is
// empty): nothing is written outside that folder. Without HOME and without the XDG variables the files go to
// a private folder under the system's temporary folder ($TMPDIR or /tmp), so the program still runs:
// "quiverbox-<uid>" when that is a folder of this user's that nobody else can reach, else a fresh
// "quiverbox-XXXXXX"; made with mode 0700 when the paths are built, and never a link that someone else
// planted.
//
// Folders are not created here; EnsureParentDir does that for a writer.
#pragma once

#include <functional>
#include <optional>
#include <string>

namespace qb {

class TPaths {
 public:
  // Reads the environment variables through lookup (nothing for an unset one).
  using TEnvLookup = std::function<std::optional<std::string>(const char* name)>;
  explicit TPaths(const TEnvLookup& lookup);
  // From the process environment.
  static TPaths FromEnvironment();
  // Everything in one folder, as QUIVERBOX_HOME does.
  static TPaths InFolder(const std::string& folder);

  bool Portable() const { return portable_; }
  const std::string& ConfigDir() const { return config_dir_; }
  const std::string& DataDir() const { return data_dir_; }
  const std::string& CacheDir() const { return cache_dir_; }
  // The data folder the desktop reads applications, MIME types and icons from;
  // empty in portable mode.
  const std::string& DesktopDataDir() const { return desktop_dir_; }

  std::string SettingsFile() const;      // quiverbox.ini
  std::string LayoutFile() const;        // quiverbox.dat
  std::string UserGlyphLibrary() const;  // UserGlyphs.dll
  std::string TempPictureFile() const;   // [@@]
  std::string ManualDir() const;         // the HTML manual
  // The file behind one root of the registry layer: "CurrentUser" -> CurrentUser.reg.
  std::string RegistryFile(const std::string& root_name) const;

 private:
  TPaths() = default;
  bool portable_ = false;
  std::string config_dir_, data_dir_, cache_dir_, desktop_dir_;
};

// Creates the folder that will hold path (and its parents); throws EFCreateError
// when that fails.
void EnsureParentDir(const std::string& path);

// True when two paths name the same file as the file system sees it: the same
// path text, or two existing paths that lead to one file (the same device and
// inode, so links and "dir/../x" forms count). Letter case matters exactly as
// much as the file system makes it matter: "Work.qvf" and "work.qvf" are two
// files unless they are one on disk. Empty paths equal only each other.
bool SameFilePath(const std::string& a, const std::string& b);

// True when a regular file (symbolic links followed) exists at path: false for an
// empty path, a path holding a NUL, a folder, a pipe or a device. Never throws.
bool RegularFileExists(const std::string& path);

}  // namespace qb
