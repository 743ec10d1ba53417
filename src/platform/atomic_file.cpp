#include "platform/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "platform/errors.h"

namespace qb {

namespace {

// Makes a rename in the folder of path durable; failures are ignored (see the header).
void SyncFolderOf(const std::string& path) {
  std::string folder = std::filesystem::path(path).parent_path().string();
  if (folder.empty()) folder = ".";
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  (void)::fsync(fd);
  ::close(fd);
}

}  // namespace

std::error_code WriteFileAtomically(const std::string& path, std::string_view content, unsigned mode) {
  if (path.empty() || path.find('\0') != std::string::npos)
    return std::make_error_code(std::errc::invalid_argument);
  std::string temp = path + ".XXXXXX";
  const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
  if (fd < 0) return {errno, std::generic_category()};
  int error = 0;
  if (::fchmod(fd, static_cast<mode_t>(mode)) != 0) error = errno;
  size_t done = 0;
  while (error == 0 && done < content.size()) {
    const ssize_t n = ::write(fd, content.data() + done, content.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0)
      error = errno;
    else if (n == 0)
      error = EIO;
    else
      done += static_cast<size_t>(n);
  }
  if (error == 0 && ::fsync(fd) != 0) error = errno;
  if (::close(fd) != 0 && error == 0) error = errno;
  if (error == 0 && ::rename(temp.c_str(), path.c_str()) != 0) error = errno;
  if (error != 0) {
    ::unlink(temp.c_str());
    return {error, std::generic_category()};
  }
  SyncFolderOf(path);
  return {};
}

void WriteFileAtomicallyOrThrow(const std::string& path, std::string_view content, std::string_view what,
                                unsigned mode) {
  if (const std::error_code ec = WriteFileAtomically(path, content, mode))
    throw EInOutError("Could not write the " + std::string(what) + " \"" + path + "\": " + ec.message());
}

}  // namespace qb
