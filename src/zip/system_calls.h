// The file-system calls of the archive engine, in one place.
//
// Every call the engine makes on archive files, their folders and lock files goes
// through these wrappers, each of which behaves exactly like the system call of
// the same name (a result of -1, or nullptr / MAP_FAILED, with errno set, on
// failure; EINTR is not retried here). They exist so that a test can make any one
// of them fail: with a failure hook installed, every call first asks the hook,
// and a non-zero answer is the errno with which the call fails without being made.
// Close is the exception: the descriptor is always closed, and then the injected
// error is reported.
#pragma once

#include <dirent.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <functional>

namespace qb::zip::sys {

int Open(const char* path, int flags, mode_t mode = 0);
int Close(int fd);
int Fstat(int fd, struct stat* info);
int Lstat(const char* path, struct stat* info);
int Stat(const char* path, struct stat* info);
int Access(const char* path, int mode);
ssize_t Readlink(const char* path, char* buffer, size_t size);
int Fcntl(int fd, int command, int argument);
ssize_t Pread(int fd, void* buffer, size_t count, off_t offset);
ssize_t Pwrite(int fd, const void* buffer, size_t count, off_t offset);
ssize_t CopyFileRange(int in_fd, off_t* in_offset, int out_fd, off_t* out_offset, size_t count);
void* Mmap(size_t length, int protection, int flags, int fd, off_t offset = 0);
// posix_fadvise(3): returns the error number itself, 0 when it succeeded.
int Fadvise(int fd, off_t offset, off_t length, int advice);
int Fsync(int fd);
int Fchown(int fd, uid_t owner, gid_t group);
int Fchmod(int fd, mode_t mode);
int Flock(int fd, int operation);
// rename(2); with no_replace, fails with EEXIST instead of replacing a file that
// appeared at to (where the file system cannot tell, a plain rename is made).
int Rename(const char* from, const char* to, bool no_replace = false);
int Unlink(const char* path);
DIR* Opendir(const char* path);

// The test seam: hook(call name) is asked before every call; a non-zero result
// makes that call fail with that errno. An empty function removes the hook. Not
// thread-safe: install it only while no other thread uses the engine. An update
// asks it on threads of its own, two at once at times (a copy that runs while
// the old file is checked), so a hook with state must guard it.
using FailureHook = std::function<int(const char* call)>;
void SetFailureHook(FailureHook hook);

}  // namespace qb::zip::sys
