#include "platform/memory_stream.h"

#include <algorithm>
#include <cstring>

namespace qb {

void TMemoryStream::SetSize(size_t size) {
  data_.resize(size);
  pos_ = std::min(pos_, size);
}

size_t TMemoryStream::Read(void* buffer, size_t count) {
  if (pos_ >= data_.size()) return 0;
  size_t n = std::min(count, data_.size() - pos_);
  if (n) std::memcpy(buffer, data_.data() + pos_, n);
  pos_ += n;
  return n;
}

size_t TMemoryStream::Write(const void* buffer, size_t count) {
  if (count == 0) return 0;
  if (pos_ + count > data_.size()) data_.resize(pos_ + count);
  std::memcpy(data_.data() + pos_, buffer, count);
  pos_ += count;
  return count;
}

}  // namespace qb
