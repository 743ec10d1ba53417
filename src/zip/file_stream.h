// TLFNFileStream: the archive engine's buffered file stream.
//
// Opened either for reading (read-only) or created anew for writing. Reads and
// writes go through an 8192-byte buffer; large transfers bypass it. Errors of the
// operating system become the platform's exceptions; a write that the file system
// does not take whole (a full disk) is reported by Write returning fewer bytes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qb::zip {

class TLFNFileStream {
 public:
  enum class Mode { Read, Create };
  static constexpr size_t kBufferSize = 8192;

  // Throws EFOpenError (Read) or EFCreateError (Create).
  TLFNFileStream(const std::string& path, Mode mode);
  ~TLFNFileStream();
  TLFNFileStream(const TLFNFileStream&) = delete;
  TLFNFileStream& operator=(const TLFNFileStream&) = delete;

  const std::string& Path() const { return path_; }
  uint64_t Size() const;
  uint64_t Position() const { return position_; }
  void Seek(uint64_t position);

  // Reads up to count bytes; fewer only at the end of the file. Throws EInOutError.
  size_t Read(void* buffer, size_t count);
  // Reads up to count bytes at position, bypassing the buffer (for scattered small
  // reads); does not move the stream's position.
  size_t ReadAt(uint64_t position, void* buffer, size_t count);
  // Maps a file opened for reading into memory, so that many scattered ReadAt calls
  // cost no system call each; false (and nothing changes) when it cannot.
  bool MapForReading();
  // Writes count bytes; returns fewer when the file system took fewer.
  size_t Write(const void* buffer, size_t count);
  // Copies count bytes of source, from source_position, to this stream's position;
  // returns the bytes copied (fewer on a read or write failure).
  uint64_t CopyFrom(TLFNFileStream& source, uint64_t source_position, uint64_t count);
  // Writes the buffer out; false when the file system took less than all of it.
  bool Flush();
  // Flushes and forces the data to the disk; false on failure.
  bool Sync();
  void Close();
  bool IsOpen() const { return fd_ >= 0; }

 private:
  bool FlushWrites();

  std::string path_;
  Mode mode_;
  int fd_ = -1;
  uint64_t position_ = 0;  // logical position of the stream
  uint64_t size_ = 0;      // file size (reading) or bytes written so far
  // Read buffer: bytes [buffer_start_, buffer_start_ + buffer_.size()) of the file.
  std::vector<uint8_t> buffer_;
  uint64_t buffer_start_ = 0;
  std::vector<uint8_t> pending_;  // write buffer, to go at pending_start_
  uint64_t pending_start_ = 0;
  bool write_failed_ = false;
  const uint8_t* map_ = nullptr;  // the whole file, when mapped
  size_t map_size_ = 0;
};

// The file's modification stamp (nanoseconds) and size, used to see that an archive
// changed on disk since it was read; 0 when the file does not exist.
struct FileStamp {
  int64_t modified_ns = 0;
  int64_t size = -1;
  bool operator==(const FileStamp&) const = default;
};
FileStamp StampOf(const std::string& path);
bool FileExists(const std::string& path);

}  // namespace qb::zip
