// Shared by the fuzz targets: a reader over the fuzzer's input, a check that stops
// the run with a message (libFuzzer then keeps the input as a crash), a private
// folder for the files a target must write, and zlib's decoding of a raw Deflate
// stream to check the codecs against.
#pragma once

#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string>
#include <string_view>

#define QB_FUZZ_CHECK(condition)                                                         \
  do {                                                                                   \
    if (!(condition)) {                                                                  \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                      \
    }                                                                                    \
  } while (0)

namespace qbfuzz {

// Takes bytes from the front of the input; past its end everything reads 0.
class Input {
 public:
  Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool Empty() const { return at_ >= size_; }
  uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
  uint32_t Number(int bytes) {
    uint32_t value = 0;
    for (int k = 0; k < bytes; ++k) value |= static_cast<uint32_t>(Byte()) << (8 * k);
    return value;
  }
  // Up to count bytes.
  std::string_view Text(size_t count) {
    const size_t n = count < size_ - at_ ? count : size_ - at_;
    std::string_view text(reinterpret_cast<const char*>(data_ + at_), Empty() ? 0 : n);
    at_ += text.size();
    return text;
  }
  // The bytes up to the next byte equal to stop (which is skipped), or the rest.
  std::string_view Until(uint8_t stop) {
    size_t end = at_;
    while (end < size_ && data_[end] != stop) ++end;
    std::string_view text(reinterpret_cast<const char*>(data_ + at_), end > at_ ? end - at_ : 0);
    at_ = end < size_ ? end + 1 : size_;
    return text;
  }
  std::span<const uint8_t> Rest() const {
    return at_ < size_ ? std::span<const uint8_t>(data_ + at_, size_ - at_) : std::span<const uint8_t>();
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
};

// A folder of this process's own (mode 0700) in /dev/shm when there is one.
inline const std::string& ScratchFolder() {
  static const std::string folder = [] {
    std::string base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    std::string path = base + "/qbfuzz-XXXXXX";
    if (!mkdtemp(path.data())) std::abort();
    return path;
  }();
  return folder;
}

// zlib's decoding of the raw Deflate stream in[0, in_len) into out[0, room):
// its status (Z_STREAM_END when the stream ended) and the bytes it made and used.
struct ZlibResult {
  int status;
  size_t produced, consumed;
};
inline ZlibResult ZlibInflateRaw(const uint8_t* in, size_t in_len, uint8_t* out, size_t room) {
  z_stream z{};
  QB_FUZZ_CHECK(inflateInit2(&z, -15) == Z_OK);
  z.next_in = const_cast<Bytef*>(in);
  z.avail_in = static_cast<uInt>(in_len);
  z.next_out = out;
  z.avail_out = static_cast<uInt>(room);
  const int status = inflate(&z, Z_FINISH);
  const ZlibResult result{status, room - z.avail_out, in_len - z.avail_in};
  inflateEnd(&z);
  return result;
}

inline void WriteWholeFile(const std::string& path, const uint8_t* data, size_t size) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) std::abort();
  if (size && std::fwrite(data, 1, size, f) != size) std::abort();
  std::fclose(f);
}

}  // namespace qbfuzz
