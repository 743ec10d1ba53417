// TMemoryStream: a growable byte buffer with a position, the program's one stream type.
//
// Every payload passes through one: the archive engine extracts into it and stores
// from it, the clipboard layer encodes into it and decodes from it. Reads past the
// end return fewer bytes; writes past the end grow the buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace qb {

class TMemoryStream {
 public:
  TMemoryStream() = default;
  explicit TMemoryStream(std::vector<uint8_t> bytes) : data_(std::move(bytes)) {}
  explicit TMemoryStream(std::string_view bytes) : data_(bytes.begin(), bytes.end()) {}
  virtual ~TMemoryStream() = default;

  size_t Size() const { return data_.size(); }
  size_t Position() const { return pos_; }
  // Positions past the end are allowed; the next write fills the gap with zeros.
  void SetPosition(size_t pos) { pos_ = pos; }
  void SetSize(size_t size);
  void Clear() {
    data_.clear();
    pos_ = 0;
  }

  // Copies up to count bytes from the position; returns how many were copied.
  size_t Read(void* buffer, size_t count);
  // Writes count bytes at the position, growing the stream; returns the bytes taken.
  // A derived stream may accept fewer (a full target), which callers must check.
  virtual size_t Write(const void* buffer, size_t count);

  const std::vector<uint8_t>& Bytes() const { return data_; }
  std::vector<uint8_t>& Bytes() { return data_; }
  std::span<const uint8_t> View() const { return data_; }
  std::string ToString() const { return std::string(data_.begin(), data_.end()); }

 private:
  std::vector<uint8_t> data_;
  size_t pos_ = 0;
};

// Empties a work stream now and on every way out of the scope, so a command leaves
// no payload behind however it ends.
class TPayloadScope {
 public:
  explicit TPayloadScope(TMemoryStream& stream) : stream_(stream) { stream_.Clear(); }
  ~TPayloadScope() { stream_.Clear(); }
  TPayloadScope(const TPayloadScope&) = delete;
  TPayloadScope& operator=(const TPayloadScope&) = delete;

 private:
  TMemoryStream& stream_;
};

}  // namespace qb
