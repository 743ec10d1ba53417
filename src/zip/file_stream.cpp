#include "zip/file_stream.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/errors.h"

namespace qb::zip {

TLFNFileStream::TLFNFileStream(const std::string& path, Mode mode) : path_(path), mode_(mode) {
  if (mode == Mode::Read) {
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) throw EFOpenError(path, std::strerror(errno));
    struct stat st {};
    if (::fstat(fd_, &st) != 0 || S_ISDIR(st.st_mode)) {
      int err = S_ISDIR(st.st_mode) ? EISDIR : errno;
      ::close(fd_);
      fd_ = -1;
      throw EFOpenError(path, std::strerror(err));
    }
    size_ = static_cast<uint64_t>(st.st_size);
  } else {
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd_ < 0) throw EFCreateError(path, std::strerror(errno));
  }
}

TLFNFileStream::~TLFNFileStream() {
  Close();
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
      ssize_t got = ::pread(fd_, dst + done, want, static_cast<off_t>(position_));
      if (got < 0) {
        if (errno == EINTR) continue;
        throw EInOutError("Read error on \"" + path_ + "\": " + std::strerror(errno));
      }
      if (got == 0) break;
      done += static_cast<size_t>(got);
      position_ += static_cast<uint64_t>(got);
      continue;
    }
    buffer_.resize(kBufferSize);
    ssize_t got = ::pread(fd_, buffer_.data(), kBufferSize, static_cast<off_t>(position_));
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

bool TLFNFileStream::MapForReading() {
  if (map_) return true;
  if (mode_ != Mode::Read || size_ == 0 || size_ > SIZE_MAX) return false;
  void* view = ::mmap(nullptr, static_cast<size_t>(size_), PROT_READ, MAP_SHARED | MAP_POPULATE, fd_, 0);
  if (view == MAP_FAILED) return false;
  map_ = static_cast<const uint8_t*>(view);
  map_size_ = static_cast<size_t>(size_);
  return true;
}

size_t TLFNFileStream::ReadAt(uint64_t position, void* out, size_t count) {
  auto* dst = static_cast<uint8_t*>(out);
  if (map_) {
    // The file may have shrunk since it was mapped; the size seen at open bounds it.
    if (position >= map_size_) return 0;
    size_t n = std::min<uint64_t>(count, map_size_ - position);
    std::memcpy(dst, map_ + position, n);
    return n;
  }
  size_t done = 0;
  while (done < count) {
    ssize_t got = ::pread(fd_, dst + done, count - done, static_cast<off_t>(position + done));
    if (got < 0) {
      if (errno == EINTR) continue;
      throw EInOutError("Read error on \"" + path_ + "\": " + std::strerror(errno));
    }
    if (got == 0) break;
    done += static_cast<size_t>(got);
  }
  return done;
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
      ssize_t n = ::pwrite(fd_, src + done, count - done, static_cast<off_t>(position_ + done));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        write_failed_ = true;
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
    ssize_t n = ::pwrite(fd_, pending_.data() + done, pending_.size() - done,
                         static_cast<off_t>(pending_start_ + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      write_failed_ = true;
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
    ssize_t n = ::copy_file_range(source.fd_, &in_off, fd_, &out_off, static_cast<size_t>(count - done), 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<uint64_t>(n);
    position_ += static_cast<uint64_t>(n);
  }
  // Where the kernel cannot (another file system, an old kernel), copy through a buffer.
  std::vector<uint8_t> buffer;
  while (done < count) {
    buffer.resize(static_cast<size_t>(std::min<uint64_t>(count - done, 1 << 20)));
    source.Seek(source_position + done);
    size_t got = source.Read(buffer.data(), buffer.size());
    if (got == 0) break;
    size_t put = Write(buffer.data(), got);
    done += put;
    if (put != got) break;
  }
  pending_start_ = position_;
  size_ = std::max(size_, position_);
  return done;
}

bool TLFNFileStream::Flush() {
  return mode_ == Mode::Read || FlushWrites();
}

bool TLFNFileStream::Sync() {
  return Flush() && ::fdatasync(fd_) == 0;
}

void TLFNFileStream::Close() {
  if (map_) {
    ::munmap(const_cast<uint8_t*>(map_), map_size_);
    map_ = nullptr;
  }
  if (fd_ < 0) return;
  if (mode_ == Mode::Create) FlushWrites();
  ::close(fd_);
  fd_ = -1;
}

FileStamp StampOf(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return {};
  return {static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec,
          static_cast<int64_t>(st.st_size)};
}

bool FileExists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

}  // namespace qb::zip
