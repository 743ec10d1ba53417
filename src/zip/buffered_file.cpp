#include "zip/buffered_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>

#include "platform/errors.h"
#include "zip/system_calls.h"

namespace qb::zip {

std::optional<uint64_t> TLFNFileStream::SizeOnDisk() const {
  struct stat now {};
  if (sys::Fstat(fd_, &now) != 0) return std::nullopt;
  return static_cast<uint64_t>(now.st_size);
}

TLFNFileStream::TLFNFileStream(const std::string& path, Mode mode) : path_(path), mode_(mode) {
  if (mode == Mode::Read) {
    // Without blocking: opening a named pipe would wait for a writer.
    fd_ = sys::Open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd_ < 0) throw EFOpenError(path, std::strerror(errno));
    struct stat st {};
    std::string refusal;
    if (sys::Fstat(fd_, &st) != 0)
      refusal = std::strerror(errno);
    else if (!S_ISREG(st.st_mode))
      refusal = "It is " + FileKindName(st.st_mode) + ", not a regular file";
    else if (sys::Fcntl(fd_, F_SETFL, 0) != 0)
      refusal = std::strerror(errno);
    if (!refusal.empty()) {
      sys::Close(fd_);
      fd_ = -1;
      throw EFOpenError(path, refusal);
    }
    size_ = static_cast<uint64_t>(st.st_size);
  } else {
    fd_ = sys::Open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd_ < 0) throw EFCreateError(path, std::strerror(errno));
  }
}

TLFNFileStream::TLFNFileStream(int fd, const std::string& path) : path_(path), mode_(Mode::Create), fd_(fd) {}

TLFNFileStream::~TLFNFileStream() {
  Close();
}

void TLFNFileStream::WriteFailed(int error) {
  write_failed_ = true;
  last_error_ = error;
  if (!IsNoRoomError(error)) throw EInOutError("Write error on \"" + path_ + "\": " + std::strerror(error));
}

uint64_t TLFNFileStream::Size() const {
  if (mode_ == Mode::Read) return size_;
  return std::max(size_, pending_start_ + pending_.size());
}

void TLFNFileStream::Seek(uint64_t position) {
  if (mode_ == Mode::Create && position != pending_start_ + pending_.size()) FlushWrites();
  position_ = position;
}

size_t TLFNFileStream::Read(void* out, size_t count) {
  auto* dst = static_cast<uint8_t*>(out);
  size_t done = 0;
  while (done < count && position_ < size_) {
    // Served from the buffer?
    if (position_ >= buffer_start_ && position_ < buffer_start_ + buffer_.size()) {
      size_t offset = static_cast<size_t>(position_ - buffer_start_);
      size_t n = std::min(count - done, buffer_.size() - offset);
      std::memcpy(dst + done, buffer_.data() + offset, n);
      done += n;
      position_ += n;
      continue;
    }
    size_t want = count - done;
    if (want >= kBufferSize) {  // large transfer: straight into the caller's memory
      ssize_t got = sys::Pread(fd_, dst + done, want, static_cast<off_t>(position_));
      if (got < 0) {
        if (errno == EINTR) continue;
        throw EInOutError("Read error on \"" + path_ + "\": " + std::strerror(errno));
      }
      if (got == 0) break;
      done += static_cast<size_t>(got);
      position_ += static_cast<uint64_t>(got);
      continue;
    }
    buffer_.resize(read_ahead_);
    ssize_t got = sys::Pread(fd_, buffer_.data(), read_ahead_, static_cast<off_t>(position_));
    if (got < 0) {
      buffer_.clear();
      if (errno == EINTR) continue;
      throw EInOutError("Read error on \"" + path_ + "\": " + std::strerror(errno));
    }
    buffer_.resize(static_cast<size_t>(got));
    buffer_start_ = position_;
    if (got == 0) break;
  }
  return done;
}

void TLFNFileStream::Advise(uint64_t position, uint64_t count, int advice) {
  constexpr uint64_t kMax = static_cast<uint64_t>(std::numeric_limits<off_t>::max());
  if (fd_ < 0 || count == 0 || position > kMax) return;
  sys::Fadvise(fd_, static_cast<off_t>(position), static_cast<off_t>(std::min(count, kMax - position)),
               advice);
}

void TLFNFileStream::AdviseWillRead(uint64_t position, uint64_t count) {
  Advise(position, count, POSIX_FADV_WILLNEED);
}

void TLFNFileStream::AdviseDoneWith(uint64_t position, uint64_t count) {
  Advise(position, count, POSIX_FADV_DONTNEED);
}

size_t TLFNFileStream::ReadAt(uint64_t position, void* out, size_t count) {
  const ssize_t n = TryReadAt(position, out, count);
  if (n < 0) throw EInOutError("Read error on \"" + path_ + "\": " + std::strerror(errno));
  return static_cast<size_t>(n);
}

ssize_t TLFNFileStream::TryReadAt(uint64_t position, void* out, size_t count) {
  auto* dst = static_cast<uint8_t*>(out);
  size_t done = 0;
  while (done < count) {
    ssize_t got = sys::Pread(fd_, dst + done, count - done, static_cast<off_t>(position + done));
    if (got < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (got == 0) break;
    done += static_cast<size_t>(got);
  }
  return static_cast<ssize_t>(done);
}

size_t TLFNFileStream::Write(const void* data, size_t count) {
  if (write_failed_) return 0;
  if (position_ != pending_start_ + pending_.size()) {
    if (!FlushWrites()) return 0;
    pending_start_ = position_;
  }
  if (pending_.empty()) pending_start_ = position_;
  const auto* src = static_cast<const uint8_t*>(data);
  if (count >= kBufferSize) {  // large transfer: straight to the file
    if (!FlushWrites()) return 0;
    size_t done = 0;
    while (done < count) {
      ssize_t n = sys::Pwrite(fd_, src + done, count - done, static_cast<off_t>(position_ + done));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        WriteFailed(n < 0 ? errno : ENOSPC);
        break;
      }
      done += static_cast<size_t>(n);
    }
    position_ += done;
    pending_start_ = position_;
    size_ = std::max(size_, position_);
    return done;
  }
  pending_.insert(pending_.end(), src, src + count);
  position_ += count;
  if (pending_.size() >= kBufferSize && !FlushWrites()) return 0;
  return count;
}

bool TLFNFileStream::FlushWrites() {
  if (write_failed_) return false;
  size_t done = 0;
  while (done < pending_.size()) {
    ssize_t n = sys::Pwrite(fd_, pending_.data() + done, pending_.size() - done,
                            static_cast<off_t>(pending_start_ + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      WriteFailed(n < 0 ? errno : ENOSPC);
      return false;
    }
    done += static_cast<size_t>(n);
  }
  size_ = std::max(size_, pending_start_ + pending_.size());
  pending_start_ += pending_.size();
  pending_.clear();
  return true;
}

uint64_t TLFNFileStream::CopyFrom(TLFNFileStream& source, uint64_t source_position, uint64_t count) {
  if (count == 0) return 0;
  if (!FlushWrites()) return 0;
  uint64_t done = 0;
  // The kernel copies between the two files without a trip through our memory.
  while (done < count) {
    loff_t in_off = static_cast<loff_t>(source_position + done);
    loff_t out_off = static_cast<loff_t>(position_);
    ssize_t n = sys::CopyFileRange(source.fd_, &in_off, fd_, &out_off, static_cast<size_t>(count - done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<uint64_t>(n);
    position_ += static_cast<uint64_t>(n);
  }
  // What the kernel wrote lies before the (empty) write buffer.
  pending_start_ = position_;
  size_ = std::max(size_, position_);
  // Where the kernel cannot (another file system, an old kernel, or an error the
  // plain reads and writes below then meet and report), copy through a buffer;
  // Write keeps the buffer's bookkeeping from here on.
  // The source is read at its positions, its own position and buffer untouched:
  // another thread may read it meanwhile.
  std::vector<uint8_t> buffer;
  while (done < count) {
    buffer.resize(static_cast<size_t>(std::min<uint64_t>(count - done, 1 << 20)));
    size_t got = source.ReadAt(source_position + done, buffer.data(), buffer.size());
    if (got == 0) break;
    size_t put = Write(buffer.data(), got);
    done += put;
    if (put != got) break;
  }
  return done;
}

bool TLFNFileStream::Flush() {
  return mode_ == Mode::Read || FlushWrites();
}

bool TLFNFileStream::Sync() {
  if (!Flush()) return false;
  if (mode_ == Mode::Read) return true;
  while (sys::Fsync(fd_) != 0) {
    if (errno == EINTR) continue;
    WriteFailed(errno);
    return false;
  }
  return true;
}

void TLFNFileStream::StartWriteback() {
  if (mode_ == Mode::Read || fd_ < 0 || !FlushWrites()) return;
  // Starts the rest without waiting for what earlier calls started: the disk takes
  // the pieces as fast as it can while the copy goes on (waiting for each piece
  // before the next made an add of 100 MB a tenth slower), and Sync waits for them
  // all. Failures are left to Sync, which reports them. Less than a piece waits
  // for Sync: a small file goes to the disk in one go.
  const uint64_t end = Size();
  if (end < writeback_started_ + kWritebackPiece) return;
  if (end > writeback_started_)
    ::sync_file_range(fd_, static_cast<off64_t>(writeback_started_),
                      static_cast<off64_t>(end - writeback_started_), SYNC_FILE_RANGE_WRITE);
  writeback_started_ = end;
}

void TLFNFileStream::Restart() {
  if (mode_ == Mode::Read || fd_ < 0) return;
  pending_.clear();
  while (::ftruncate(fd_, 0) != 0) {
    if (errno == EINTR) continue;
    throw EInOutError("Write error on \"" + path_ + "\": " + std::strerror(errno));
  }
  position_ = size_ = pending_start_ = writeback_started_ = 0;
  write_failed_ = false;
  last_error_ = 0;
}

bool TLFNFileStream::Close() {
  if (fd_ < 0) return true;
  bool ok = true;
  if (mode_ == Mode::Create) {
    try {
      ok = FlushWrites();
    } catch (const EInOutError&) {
      ok = false;  // recorded in last_error_
    }
  }
  if (sys::Close(fd_) != 0 && mode_ == Mode::Create) {
    last_error_ = errno;
    ok = false;
  }
  fd_ = -1;
  return ok;
}

FileStamp StampOf(const std::string& path) {
  struct stat st {};
  if (sys::Stat(path.c_str(), &st) != 0) return {};
  return {static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec,
          static_cast<int64_t>(st.st_size), static_cast<uint64_t>(st.st_dev),
          static_cast<uint64_t>(st.st_ino)};
}

bool FileExists(const std::string& path) {
  struct stat st {};
  return sys::Stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool IsNoRoomError(int error) {
  return error == ENOSPC || error == EDQUOT || error == EFBIG;
}

std::string FileKindName(unsigned mode) {
  switch (mode & S_IFMT) {
    case S_IFREG:
      return "a regular file";
    case S_IFDIR:
      return "a folder";
    case S_IFIFO:
      return "a named pipe";
    case S_IFCHR:
      return "a character device";
    case S_IFBLK:
      return "a block device";
    case S_IFSOCK:
      return "a socket";
    case S_IFLNK:
      return "a symbolic link";
    default:
      return "a special file";
  }
}

}  // namespace qb::zip
