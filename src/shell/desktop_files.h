// TDesktopFiles: what a Linux desktop needs so that a double click on a ".qvf"
// file opens the program - in a data folder the desktop reads ($XDG_DATA_HOME):
//
//   mime/packages/quiverbox.xml             the MIME type application/x-quiverbox-cabinet
//                                           (glob *.qvf, a kind of ZIP archive)
//   applications/quiverbox.desktop          the program: Exec with %f, MimeType, Icon
//   icons/hicolor/<n>x<n>/apps/quiverbox.png the program's icon in each size given
//
// followed by update-mime-database and update-desktop-database on that folder when
// they exist (the desktop's "association changed" notification).
//
// Install writes only the files that are missing or differ, so a second start
// changes nothing and runs no updater. Nothing here makes the program the default
// handler of the type: no mimeapps.list is written, so a default the user chose
// stays theirs. Remove deletes exactly these files.
#pragma once

#include <string>
#include <vector>

namespace qb {

struct TIconImage {
  int Size = 0;     // width and height in pixels
  std::string Png;  // the PNG file's bytes
};

class TDesktopFiles {
 public:
  static constexpr const char* kMimeType = "application/x-quiverbox-cabinet";
  static constexpr const char* kName = "quiverbox";  // desktop file id, icon name, package name
  static constexpr int kUpdaterTimeoutMs = 20000;

  // data_dir: the folder; empty means no desktop integration (everything does
  // nothing).
  explicit TDesktopFiles(std::string data_dir) : data_dir_(std::move(data_dir)) {}
  const std::string& DataDir() const { return data_dir_; }

  std::string MimePackageFile() const;
  std::string DesktopEntryFile() const;
  std::string IconFile(int size) const;

  // Brings the files up to date for program; true when a file was written. A
  // program path that is not UTF-8 cannot be named in a desktop entry: then
  // nothing is written. Failures to write are not reported (false).
  bool Install(const std::string& program, const std::vector<TIconImage>& icons);
  // Deletes the files; true when one went.
  bool Remove();
  // Runs the updaters that exist on the folder.
  void RunUpdaters() const;

  // The contents of the files.
  static std::string MimePackageText();
  static std::string DesktopEntryText(const std::string& program);
  // One Exec argument: quoted when it holds a reserved character, then escaped as
  // a desktop entry string value, with "%" doubled.
  static std::string ExecArgument(const std::string& argument);

 private:
  std::string data_dir_;
};

}  // namespace qb
