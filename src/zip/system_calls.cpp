#include "zip/system_calls.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>

namespace qb::zip::sys {

namespace {

FailureHook& Hook() {
  static FailureHook hook;
  return hook;
}

// True (with errno set) when the hook makes this call fail.
bool Injected(const char* call) {
  FailureHook& hook = Hook();
  if (!hook) return false;
  int error = hook(call);
  if (error == 0) return false;
  errno = error;
  return true;
}

}  // namespace

void SetFailureHook(FailureHook hook) {
  Hook() = std::move(hook);
}

int Open(const char* path, int flags, mode_t mode) {
  return Injected("open") ? -1 : ::open(path, flags, mode);
}

int Close(int fd) {
  int result = ::close(fd);
  return Injected("close") ? -1 : result;
}

int Fstat(int fd, struct stat* info) {
  return Injected("fstat") ? -1 : ::fstat(fd, info);
}

int Lstat(const char* path, struct stat* info) {
  return Injected("lstat") ? -1 : ::lstat(path, info);
}

int Stat(const char* path, struct stat* info) {
  return Injected("stat") ? -1 : ::stat(path, info);
}

int Access(const char* path, int mode) {
  return Injected("access") ? -1 : ::access(path, mode);
}

ssize_t Readlink(const char* path, char* buffer, size_t size) {
  return Injected("readlink") ? -1 : ::readlink(path, buffer, size);
}

int Fcntl(int fd, int command, int argument) {
  return Injected("fcntl") ? -1 : ::fcntl(fd, command, argument);
}

ssize_t Pread(int fd, void* buffer, size_t count, off_t offset) {
  return Injected("pread") ? -1 : ::pread(fd, buffer, count, offset);
}

ssize_t Pwrite(int fd, const void* buffer, size_t count, off_t offset) {
  return Injected("pwrite") ? -1 : ::pwrite(fd, buffer, count, offset);
}

ssize_t CopyFileRange(int in_fd, off_t* in_offset, int out_fd, off_t* out_offset, size_t count) {
  return Injected("copy_file_range") ? -1 : ::copy_file_range(in_fd, in_offset, out_fd, out_offset, count, 0);
}

void* Mmap(size_t length, int protection, int flags, int fd, off_t offset) {
  return Injected("mmap") ? MAP_FAILED : ::mmap(nullptr, length, protection, flags, fd, offset);
}

int Fadvise(int fd, off_t offset, off_t length, int advice) {
  return Injected("posix_fadvise") ? errno : ::posix_fadvise(fd, offset, length, advice);
}

int Fsync(int fd) {
  return Injected("fsync") ? -1 : ::fsync(fd);
}

int Fchown(int fd, uid_t owner, gid_t group) {
  return Injected("fchown") ? -1 : ::fchown(fd, owner, group);
}

int Fchmod(int fd, mode_t mode) {
  return Injected("fchmod") ? -1 : ::fchmod(fd, mode);
}

int Flock(int fd, int operation) {
  return Injected("flock") ? -1 : ::flock(fd, operation);
}

int Rename(const char* from, const char* to, bool no_replace) {
  if (Injected("rename")) return -1;
  if (no_replace) {
    int result = ::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE);
    if (result == 0 || (errno != EINVAL && errno != ENOSYS)) return result;
  }
  return ::rename(from, to);
}

int Unlink(const char* path) {
  return Injected("unlink") ? -1 : ::unlink(path);
}

DIR* Opendir(const char* path) {
  return Injected("opendir") ? nullptr : ::opendir(path);
}

}  // namespace qb::zip::sys
