// Replacing a cabinet file without ever losing it.
//
// An archive update never writes into the cabinet file. It
//   1. follows a symbolic link to the file it leads to, which is the file replaced
//      (a link that leads nowhere is refused, not turned into a new cabinet), and
//      refuses anything but a regular file, and a file that is read-only;
//   2. takes the cabinet's writer lock: an advisory lock (flock) on a hidden file
//      beside it, ".<name>.lock", held until the update ends, so that one writer at
//      a time reads, changes and replaces the cabinet; a writer that cannot get it
//      within the wait fails with ECabinetBusy, having changed nothing;
//   3. removes the temporary files that earlier writers of this cabinet left
//      behind when they were killed (with the lock held, no writer owns them);
//   4. writes the new archive to a hidden temporary file in the same folder,
//      ".<name>.XXXXXXXX.tmp", created 0600;
//   5. gives it the old file's owner, group and mode (a new cabinet gets 0600),
//      forces it to the disk and renames it over the cabinet, then forces the
//      folder to the disk.
// Until the rename the old file is untouched; after it the new one is complete. A
// failure before the rename deletes the temporary file and leaves everything as it
// was. Owner: when the file's owner cannot be given to the new file (a user
// writing another user's file), the update is refused; when only the group cannot
// be kept, the new file gets no group permissions.
//
// Because the file is replaced, other hard links to it keep the old content.
// Symbolic links are kept: the file they lead to is replaced.
#pragma once

#include <sys/stat.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "zip/buffered_file.h"

namespace qb::zip {

// Where a cabinet path leads.
struct CabinetTarget {
  std::string path;     // the cabinet path with its symbolic links followed
  bool exists = false;  // false: nothing there yet (a new cabinet)
  struct stat info {};  // the file's status, when it exists
};

// Follows symbolic links from cabinet. Throws ECabinetRefused for a link that leads
// nowhere or in a loop and for anything but a regular file, EFOpenError when the
// path cannot be examined (any error but "does not exist").
CabinetTarget ResolveCabinet(const std::string& cabinet);
// ResolveCabinet, and for a file that exists the read-only check: ECabinetRefused
// when it may not be written, or has no write permission at all (which even a user
// who may write anything respects).
CabinetTarget CheckCabinetForUpdate(const std::string& cabinet);

// The writer lock of one cabinet file, held for the object's life.
class CabinetLock {
 public:
  // Takes the lock of target (a path from ResolveCabinet), waiting up to wait for
  // another writer to let it go; pump runs while it waits. Throws ECabinetBusy when
  // the wait runs out, EFCreateError when the lock file cannot be made and
  // EInOutError when the file system cannot lock it.
  CabinetLock(const std::string& target, std::chrono::milliseconds wait, const std::function<void()>& pump);
  ~CabinetLock();
  CabinetLock(const CabinetLock&) = delete;
  CabinetLock& operator=(const CabinetLock&) = delete;
  // The file the lock is for.
  const std::string& Target() const { return target_; }

 private:
  std::string target_;
  int fd_ = -1;
};

// One replacement of a cabinet file, from the checks to the rename.
class CabinetReplacement {
 public:
  // Resolves and checks the cabinet, takes its lock (or uses held when it is this
  // cabinet's), removes stale temporary files and creates the temporary file.
  CabinetReplacement(const std::string& cabinet, const CabinetLock* held, std::chrono::milliseconds wait,
                     const std::function<void()>& pump);
  // Deletes the temporary file unless Commit put it in place.
  ~CabinetReplacement();
  CabinetReplacement(const CabinetReplacement&) = delete;
  CabinetReplacement& operator=(const CabinetReplacement&) = delete;

  // Whether a cabinet file existed (else the update makes a new one).
  bool Existing() const { return target_.exists; }
  // Where the new archive is written.
  TLFNFileStream& Output() { return *output_; }
  // Puts the written archive in the cabinet's place: owner, group and mode, to the
  // disk, renamed over the cabinet. Throws, with the cabinet untouched, when any
  // step before the rename fails: ENotEnoughRoom for a full disk or quota,
  // EInOutError for other errors, ECabinetRefused when the owner cannot be kept.
  void Commit();
  // After Commit: empty, or a warning that the folder could not be forced to the
  // disk (the new cabinet is in place, but a crash now could lose the change).
  const std::string& FolderSyncWarning() const { return folder_warning_; }

 private:
  std::string cabinet_;
  CabinetTarget target_;
  std::unique_ptr<CabinetLock> own_lock_;
  std::string temp_path_;
  std::unique_ptr<TLFNFileStream> output_;
  bool committed_ = false;
  std::string folder_warning_;
};

// The hidden files beside a cabinet file: its lock file, and the pattern of its
// temporary files (the stem, then "." and 8 hexadecimal digits, then ".tmp").
std::string CabinetLockPath(const std::string& target);
bool IsCabinetTemporaryFile(const std::string& target, const std::string& file_name);

}  // namespace qb::zip
