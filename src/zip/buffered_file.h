// TLFNFileStream: the archive engine's buffered file stream.
//
// Opened either for reading (read-only) or created anew for writing. Reads and
// writes go through an 8192-byte buffer; large transfers bypass it. Errors of the
// operating system become the platform's exceptions. A write that the file system
// does not take whole for want of room (a full disk, a quota, the file size limit)
// is reported by Write returning fewer bytes; any other write error (EIO, say) is an
// EInOutError naming the file and the error. Only regular files are opened for
// reading: a named pipe, a device or a folder is refused without blocking.
#pragma once

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qb::zip {

class TLFNFileStream {
 public:
  enum class Mode { Read, Create };
  static constexpr size_t kBufferSize = 8192;

  // Throws EFOpenError (Read) or EFCreateError (Create).
  TLFNFileStream(const std::string& path, Mode mode);
  // Takes over fd, a file just created for writing (at position 0).
  TLFNFileStream(int fd, const std::string& path);
  ~TLFNFileStream();
  TLFNFileStream(const TLFNFileStream&) = delete;
  TLFNFileStream& operator=(const TLFNFileStream&) = delete;

  const std::string& Path() const { return path_; }
  uint64_t Size() const;
  // The file's size as it is now (another program may have changed it since it
  // was opened); none when it cannot be taken.
  std::optional<uint64_t> SizeOnDisk() const;
  uint64_t Position() const { return position_; }
  void Seek(uint64_t position);

  // Reads up to count bytes; fewer only at the end of the file. Throws EInOutError.
  size_t Read(void* buffer, size_t count);
  // How many bytes Read takes into its buffer at a time (kBufferSize at least):
  // more for a long run of small reads in file order.
  void SetReadAhead(size_t bytes) { read_ahead_ = std::max(bytes, kBufferSize); }
  // Reads up to count bytes at position, bypassing the buffer (for scattered small
  // reads); does not move the stream's position.
  size_t ReadAt(uint64_t position, void* buffer, size_t count);
  // ReadAt without throwing, for passes that must not (see RunGuarded): -1 with
  // errno set where ReadAt throws.
  ssize_t TryReadAt(uint64_t position, void* buffer, size_t count);
  // Tells the system that count bytes at position will be read soon, so that
  // those not in the cache are read in ahead, together; a hint, nothing more.
  void AdviseWillRead(uint64_t position, uint64_t count);
  // Tells the system that count bytes at position will not be read again, so that
  // their pages may leave the cache now; a hint, nothing more.
  void AdviseDoneWith(uint64_t position, uint64_t count);
  // Writes count bytes; returns fewer when the file system had no room for more.
  // Throws EInOutError on any other failure.
  size_t Write(const void* buffer, size_t count);
  // Copies count bytes of source, from source_position, to this stream's position;
  // returns the bytes copied (fewer when the source ends early or there is no room).
  // Only reads the source at positions, like ReadAt: other threads may read it too.
  uint64_t CopyFrom(TLFNFileStream& source, uint64_t source_position, uint64_t count);
  // Writes the buffer out; false when there was no room for all of it.
  bool Flush();
  // Flushes and forces the data and the file's status (owner, mode) to the disk;
  // false when there was no room. Throws EInOutError on any other failure.
  bool Sync();
  // Sends what was written so far on its way to the disk, once it is at least
  // kWritebackPiece more than the previous call sent, without waiting for it.
  // Called between pieces of a long write, it spreads the disk work over the
  // write, so that Sync at its end has less left to wait for.
  static constexpr uint64_t kWritebackPiece = uint64_t{4} << 20;
  void StartWriteback();
  // Empties a file being written, back to its start, as if nothing had been
  // written (a failed write forgotten too). Throws EInOutError when the system
  // cannot cut the file.
  void Restart();
  // Closes the file; false when closing reported an error (a write that failed
  // late, on a network file system), whose errno is then LastError().
  bool Close();
  bool IsOpen() const { return fd_ >= 0; }
  int Handle() const { return fd_; }
  // The errno of the last failed write, sync or close; 0 when none failed.
  int LastError() const { return last_error_; }

 private:
  void Advise(uint64_t position, uint64_t count, int advice);
  bool FlushWrites();
  // Records a failed write's errno; throws EInOutError unless it means "no room".
  void WriteFailed(int error);

  std::string path_;
  Mode mode_;
  int fd_ = -1;
  uint64_t writeback_started_ = 0;  // bytes StartWriteback has sent on their way
  uint64_t position_ = 0;           // logical position of the stream
  uint64_t size_ = 0;               // file size (reading) or bytes written so far
  // Read buffer: bytes [buffer_start_, buffer_start_ + buffer_.size()) of the file.
  std::vector<uint8_t> buffer_;
  uint64_t buffer_start_ = 0;
  size_t read_ahead_ = kBufferSize;
  std::vector<uint8_t> pending_;  // write buffer, to go at pending_start_
  uint64_t pending_start_ = 0;
  bool write_failed_ = false;
  int last_error_ = 0;
};

// What tells that an archive changed on disk since it was read: its modification
// time (nanoseconds), size and identity (device and inode; every update replaces
// the file, so the inode changes even when the clock is too coarse to show it).
// All zero, size -1, when the file cannot be examined.
struct FileStamp {
  int64_t modified_ns = 0;
  int64_t size = -1;
  uint64_t device = 0;
  uint64_t inode = 0;
  bool operator==(const FileStamp&) const = default;
};
FileStamp StampOf(const std::string& path);
bool FileExists(const std::string& path);
// True for the errno values that mean the file system had no room for a write.
bool IsNoRoomError(int error);
// "a named pipe", "a folder", ... for a file that is not a regular file.
std::string FileKindName(unsigned mode);

}  // namespace qb::zip
