#include "zip/cabinet_file_replace.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <random>
#include <thread>
#include <vector>

#include "platform/errors.h"
#include "zip/system_calls.h"
#include "zip/zip_errors.h"

namespace qb::zip {

namespace {

constexpr int kMaxLinkHops = 40;           // as the kernel allows in one path
constexpr size_t kLongestShownName = 200;  // longer names are shortened in hidden files' names

std::string FolderOf(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string NameOf(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string Hex8(uint32_t value) {
  char text[9];
  std::snprintf(text, sizeof text, "%08x", value);
  return text;
}

// The start of every hidden file's path beside target: the folder, "/." and the
// name; a name too long to take the suffixes is cut and told apart by a hash of
// the whole (FNV-1a).
std::string HiddenStem(const std::string& target) {
  std::string name = NameOf(target);
  if (name.size() > kLongestShownName) {
    uint32_t hash = 2166136261u;
    for (unsigned char c : name) hash = (hash ^ c) * 16777619u;
    name = name.substr(0, kLongestShownName) + "~" + Hex8(hash);
  }
  return FolderOf(target) + "/." + name;
}

bool IsHexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
}

std::string ErrorText(int error) {
  return std::strerror(error);
}

// The read-only checks: write permission, and for a user who may write anything
// (root), at least one write permission bit.
void CheckWritable(const std::string& cabinet, const CabinetTarget& target) {
  if (sys::Access(target.path.c_str(), W_OK) != 0) {
    const int error = errno;
    if (error == EACCES || error == EPERM) throw ECabinetRefused(cabinet, "the file is read-only");
    if (error == EROFS) throw ECabinetRefused(cabinet, ErrorText(error));
    throw EFOpenError(cabinet, ErrorText(error));
  }
  if ((target.info.st_mode & 0222) == 0) throw ECabinetRefused(cabinet, "the file is read-only");
}

// Forces the folder's entries (the rename) to the disk; empty, or what went wrong.
std::string SyncFolder(const std::string& folder) {
  int fd = sys::Open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return ErrorText(errno);
  std::string failure;
  if (sys::Fsync(fd) != 0) {
    const int error = errno;
    // Some file systems cannot sync a folder at all; their renames are as safe as
    // they get.
    if (error != EINVAL && error != ENOTSUP && error != EROFS) failure = ErrorText(error);
  }
  sys::Close(fd);
  return failure;
}

// Deletes the temporary files of target that killed writers left behind. Runs with
// the lock held, so no live writer owns one. Best effort: what cannot be removed
// now is removed by a later update.
void RemoveStaleTemporaryFiles(const std::string& target) {
  DIR* folder = sys::Opendir(FolderOf(target).c_str());
  if (!folder) return;
  std::vector<std::string> stale;
  while (dirent* entry = ::readdir(folder))
    if (IsCabinetTemporaryFile(target, entry->d_name)) stale.push_back(entry->d_name);
  ::closedir(folder);
  for (const std::string& name : stale) sys::Unlink((FolderOf(target) + "/" + name).c_str());
}

}  // namespace

std::string CabinetLockPath(const std::string& target) {
  return HiddenStem(target) + ".lock";
}

bool IsCabinetTemporaryFile(const std::string& target, const std::string& file_name) {
  const std::string stem = NameOf(HiddenStem(target)) + ".";
  if (file_name.size() != stem.size() + 8 + 4 || file_name.compare(0, stem.size(), stem) != 0) return false;
  for (size_t i = stem.size(); i < stem.size() + 8; ++i)
    if (!IsHexDigit(file_name[i])) return false;
  return file_name.compare(stem.size() + 8, 4, ".tmp") == 0;
}

CabinetTarget ResolveCabinet(const std::string& cabinet) {
  CabinetTarget target;
  target.path = cabinet;
  for (int hops = 0;; ++hops) {
    if (sys::Lstat(target.path.c_str(), &target.info) != 0) {
      const int error = errno;
      if (error == ENOENT && hops == 0) return target;  // a new cabinet
      if (error == ENOENT)
        throw ECabinetRefused(cabinet,
                              "it is a symbolic link to \"" + target.path + "\", which does not exist");
      throw EFOpenError(target.path, ErrorText(error));
    }
    if (!S_ISLNK(target.info.st_mode)) break;
    if (hops == kMaxLinkHops) throw ECabinetRefused(cabinet, ErrorText(ELOOP));
    std::string link(static_cast<size_t>(target.info.st_size > 0 ? target.info.st_size : 0) + 256, '\0');
    ssize_t length = sys::Readlink(target.path.c_str(), link.data(), link.size());
    if (length < 0) throw EFOpenError(target.path, ErrorText(errno));
    if (static_cast<size_t>(length) == link.size() || length == 0)
      throw ECabinetRefused(cabinet, "its symbolic link \"" + target.path + "\" changed while it was read");
    link.resize(static_cast<size_t>(length));
    // A relative link is read from the link's folder.
    const size_t slash = target.path.rfind('/');
    target.path =
        link[0] == '/' || slash == std::string::npos ? link : target.path.substr(0, slash + 1) + link;
  }
  if (!S_ISREG(target.info.st_mode)) {
    const std::string kind = FileKindName(target.info.st_mode) + ", not a regular file";
    throw ECabinetRefused(cabinet, target.path == cabinet
                                       ? "it is " + kind
                                       : "its link leads to \"" + target.path + "\", which is " + kind);
  }
  target.exists = true;
  return target;
}

CabinetTarget CheckCabinetForUpdate(const std::string& cabinet) {
  CabinetTarget target = ResolveCabinet(cabinet);
  if (target.exists) CheckWritable(cabinet, target);
  return target;
}

// ---------------------------------------------------------------------------------
// The lock

CabinetLock::CabinetLock(const std::string& target, std::chrono::milliseconds wait,
                         const std::function<void()>& pump)
    : target_(target) {
  const std::string lock_path = CabinetLockPath(target);
  const auto deadline = std::chrono::steady_clock::now() + wait;
  auto pause = std::chrono::milliseconds(5);
  for (;;) {
    // The lock file is never removed (removing it would let two writers lock two
    // different files); O_NOFOLLOW keeps a planted link from redirecting it.
    bool created = true;
    fd_ = sys::Open(lock_path.c_str(), O_RDONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd_ < 0 && errno == EEXIST) {
      created = false;
      fd_ = sys::Open(lock_path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
      if (fd_ < 0 && errno == ENOENT) continue;  // removed just now: make it again
    }
    // Told as the cabinet that cannot be made or changed (a missing or unwritable
    // folder), not as a hidden file the user never asked for.
    if (fd_ < 0) throw EFCreateError(target, ErrorText(errno));
    if (created) {
      // Readable by whoever may write the cabinet, and owned by the cabinet's owner.
      sys::Fchmod(fd_, 0644);
      struct stat info {};
      if (::geteuid() == 0 && sys::Stat(target.c_str(), &info) == 0)
        sys::Fchown(fd_, info.st_uid, info.st_gid);
    }
    int locked = sys::Flock(fd_, LOCK_EX | LOCK_NB);
    const int error = locked == 0 ? 0 : errno;
    if (locked == 0) {
      // Still the file at the lock path? (Someone may have removed it meanwhile.)
      struct stat held {
      }, now{};
      if (sys::Fstat(fd_, &held) == 0 && sys::Lstat(lock_path.c_str(), &now) == 0 &&
          held.st_dev == now.st_dev && held.st_ino == now.st_ino)
        return;
    }
    sys::Close(fd_);
    fd_ = -1;
    if (error != 0 && error != EWOULDBLOCK && error != EINTR)
      throw EInOutError("Cannot lock the File Cabinet \"" + target +
                        "\" against other writers: " + ErrorText(error));
    if (std::chrono::steady_clock::now() >= deadline) throw ECabinetBusy(target);
    if (pump) pump();
    std::this_thread::sleep_for(pause);
    pause = std::min(pause * 2, std::chrono::milliseconds(50));
  }
}

CabinetLock::~CabinetLock() {
  if (fd_ >= 0) sys::Close(fd_);
}

// ---------------------------------------------------------------------------------
// The replacement

CabinetReplacement::CabinetReplacement(const std::string& cabinet, const CabinetLock* held,
                                       std::chrono::milliseconds wait, const std::function<void()>& pump)
    : cabinet_(cabinet) {
  // A first look, so that a file that cannot be replaced is refused before
  // anything is created or waited for.
  target_ = CheckCabinetForUpdate(cabinet);
  if (!held || held->Target() != target_.path)
    own_lock_ = std::make_unique<CabinetLock>(target_.path, wait, pump);
  // The look that counts, with the lock held: the last writer may have changed the
  // file (a link retargeted meanwhile is taken as a change of the cabinet).
  const std::string locked_path = target_.path;
  target_ = CheckCabinetForUpdate(cabinet);
  if (target_.path != locked_path) throw ECabinetChanged(cabinet);
  RemoveStaleTemporaryFiles(target_.path);

  std::random_device random;
  const std::string stem = HiddenStem(target_.path);
  for (int attempt = 0;; ++attempt) {
    temp_path_ = stem + "." + Hex8(random()) + ".tmp";
    int fd = sys::Open(temp_path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd >= 0) {
      output_ = std::make_unique<TLFNFileStream>(fd, temp_path_);
      return;
    }
    const int error = errno;
    if (error != EEXIST || attempt > 100) {
      temp_path_.clear();
      throw EFCreateError(cabinet, ErrorText(error));
    }
  }
}

CabinetReplacement::~CabinetReplacement() {
  if (output_) output_->Close();
  if (!committed_ && !temp_path_.empty()) sys::Unlink(temp_path_.c_str());
}

void CabinetReplacement::Commit() {
  auto fail = [&](int error) {
    if (IsNoRoomError(error)) throw ENotEnoughRoom();
    throw EInOutError("Cannot write the File Cabinet \"" + cabinet_ + "\": " + ErrorText(error));
  };
  const int fd = output_->Handle();
  // Owner, group and mode first, so that the sync below covers them too.
  mode_t mode = 0600;
  if (target_.exists) {
    const struct stat& old = target_.info;
    mode = old.st_mode & 07777;
    struct stat now {};
    if (sys::Fstat(fd, &now) != 0) fail(errno);
    if (now.st_uid != old.st_uid || now.st_gid != old.st_gid) {
      if (sys::Fchown(fd, old.st_uid, old.st_gid) != 0) {
        const int error = errno;
        if (now.st_uid != old.st_uid)
          throw ECabinetRefused(cabinet_, "its owner (user " + std::to_string(old.st_uid) +
                                              ") could not be kept for the new file: " + ErrorText(error));
        // Only the group is lost: nobody of the new group may read what the old
        // group could.
        mode &= ~static_cast<mode_t>(070);
      }
    }
  }
  if (sys::Fchmod(fd, mode) != 0) fail(errno);
  if (!output_->Sync()) fail(output_->LastError());
  if (!output_->Close()) fail(output_->LastError());
  if (sys::Rename(temp_path_.c_str(), target_.path.c_str(), !target_.exists) != 0) {
    const int error = errno;
    if (error == EEXIST) throw ECabinetChanged(cabinet_);  // a file appeared where there was none
    throw EFCreateError(cabinet_, ErrorText(error));
  }
  committed_ = true;
  const std::string failure = SyncFolder(FolderOf(target_.path));
  if (!failure.empty())
    folder_warning_ = "The File Cabinet \"" + cabinet_ +
                      "\" was saved, but the system could not confirm that its folder reached the disk (" +
                      failure + "). If the computer stops now, the change may be lost.";
}

}  // namespace qb::zip
