#include "shell/desktop_files.h"

#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

#include "platform/atomic_file.h"
#include "platform/codepage.h"
#include "platform/process.h"

namespace qb {

namespace fs = std::filesystem;

namespace {

// Whole file, or nothing when it cannot be read (or is far too big to be ours).
std::optional<std::string> ReadWhole(const std::string& path) {
  std::error_code ec;
  if (!fs::is_regular_file(path, ec) || fs::file_size(path, ec) > (4u << 20)) return std::nullopt;
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// Writes through a temporary file renamed over the target; false on failure.
bool WriteIfDifferent(const std::string& path, const std::string& content) {
  if (ReadWhole(path) == content) return false;
  std::error_code ec;
  fs::create_directories(fs::path(path).parent_path(), ec);
  if (ec) return false;
  return !WriteFileAtomically(path, content, 0644);
}

bool RemoveFile(const std::string& path) {
  std::error_code ec;
  return fs::remove(path, ec);
}

// A desktop entry string value: backslash and the control characters escaped.
std::string StringValue(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\r':
        out += "\\r";
        break;
      default:
        out += c;
    }
  }
  return out;
}

}  // namespace

std::string TDesktopFiles::MimePackageFile() const {
  return data_dir_ + "/mime/packages/" + kName + ".xml";
}
std::string TDesktopFiles::DesktopEntryFile() const {
  return data_dir_ + "/applications/" + kName + ".desktop";
}
std::string TDesktopFiles::IconFile(int size) const {
  const std::string n = std::to_string(size);
  return data_dir_ + "/icons/hicolor/" + n + "x" + n + "/apps/" + kName + ".png";
}

std::string TDesktopFiles::MimePackageText() {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
         "<mime-info xmlns=\"http://www.freedesktop.org/standards/shared-mime-info\">\n"
         "  <mime-type type=\"application/x-quiverbox-cabinet\">\n"
         "    <comment>Quiverbox File Cabinet</comment>\n"
         "    <sub-class-of type=\"application/zip\"/>\n"
         "    <icon name=\"quiverbox\"/>\n"
         "    <glob pattern=\"*.qvf\"/>\n"
         "  </mime-type>\n"
         "</mime-info>\n";
}

std::string TDesktopFiles::ExecArgument(const std::string& argument) {
  static const std::string_view kReserved = " \t\n\"'\\><~|&;$*?#()`";
  std::string arg;
  const bool quote = argument.find_first_of(kReserved) != std::string::npos;
  if (quote) arg += '"';
  for (char c : argument) {
    if (quote && (c == '"' || c == '`' || c == '$' || c == '\\')) arg += '\\';
    if (c == '%') arg += '%';
    arg += c;
  }
  if (quote) arg += '"';
  return StringValue(arg);
}

std::string TDesktopFiles::DesktopEntryText(const std::string& program) {
  return "[Desktop Entry]\n"
         "Type=Application\n"
         "Version=1.0\n"
         "Name=Quiverbox\n"
         "GenericName=Clipboard Archiver\n"
         "Comment=Keep clipboard clips in File Cabinets\n"
         "Exec=" +
         ExecArgument(program) +
         " %f\n"
         "TryExec=" +
         StringValue(program) +
         "\n"
         "Icon=quiverbox\n"
         "Terminal=false\n"
         "Categories=Utility;\n"
         "MimeType=application/x-quiverbox-cabinet;\n";
}

bool TDesktopFiles::Install(const std::string& program, const std::vector<TIconImage>& icons) {
  if (data_dir_.empty() || program.empty() || !codepage::IsValidUtf8(program)) return false;
  bool changed = WriteIfDifferent(MimePackageFile(), MimePackageText());
  for (const TIconImage& icon : icons)
    if (icon.Size > 0 && !icon.Png.empty())
      changed = WriteIfDifferent(IconFile(icon.Size), icon.Png) || changed;
  changed = WriteIfDifferent(DesktopEntryFile(), DesktopEntryText(program)) || changed;
  return changed;
}

bool TDesktopFiles::Remove() {
  if (data_dir_.empty()) return false;
  bool removed = RemoveFile(DesktopEntryFile());
  removed = RemoveFile(MimePackageFile()) || removed;
  std::error_code ec;
  for (fs::directory_iterator it(data_dir_ + "/icons/hicolor", ec), end; !ec && it != end; it.increment(ec)) {
    const fs::path icon = it->path() / "apps" / (std::string(kName) + ".png");
    removed = RemoveFile(icon.string()) || removed;
  }
  return removed;
}

void TDesktopFiles::RunUpdaters() const {
  if (data_dir_.empty()) return;
  std::error_code ec;
  if (fs::is_directory(data_dir_ + "/mime/packages", ec))
    RunProgram({"update-mime-database", data_dir_ + "/mime"}, kUpdaterTimeoutMs);
  if (fs::is_directory(data_dir_ + "/applications", ec))
    RunProgram({"update-desktop-database", data_dir_ + "/applications"}, kUpdaterTimeoutMs);
}

}  // namespace qb
