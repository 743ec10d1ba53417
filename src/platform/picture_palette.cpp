// The RIFF palette file (.pal).
#include <algorithm>

#include "platform/picture.h"
#include "platform/picture_bytes.h"

namespace qb {

using namespace picture_bytes;

TLogPalette ReadRiffPalette(std::span<const uint8_t> file) {
  if (file.size() < 12 || std::memcmp(file.data(), "RIFF", 4) != 0 ||
      std::memcmp(file.data() + 8, "PAL ", 4) != 0)
    throw EInvalidGraphic(kInvalidPaletteText);
  const uint64_t end = std::min<uint64_t>(uint64_t{U32(file, 4)} + 8, file.size());
  uint64_t at = 12;
  while (at + 8 <= end) {
    const uint32_t size = U32(file, static_cast<size_t>(at) + 4);
    const uint64_t data = at + 8;
    if (size > end - data) break;
    if (std::memcmp(file.data() + at, "data", 4) == 0) {
      if (size < 4) break;
      const unsigned count = U16(file, static_cast<size_t>(data) + 2);
      if (uint64_t{count} * 4 > size - 4) break;
      TLogPalette palette(count);
      for (unsigned k = 0; k < count; ++k) {
        const size_t e = static_cast<size_t>(data) + 4 + 4 * k;
        palette[k] = TPaletteEntry{file[e], file[e + 1], file[e + 2], file[e + 3]};
      }
      return palette;
    }
    at = data + size + (size & 1);
  }
  throw EInvalidGraphic(kInvalidPaletteText);
}

std::vector<uint8_t> WriteRiffPalette(const TLogPalette& palette) {
  const size_t count = std::min<size_t>(palette.size(), 0xFFFF);
  const uint32_t data_size = static_cast<uint32_t>(4 + 4 * count);
  std::vector<uint8_t> out;
  PutTag(out, "RIFF");
  Put32(out, 4 + 8 + data_size);
  PutTag(out, "PAL ");
  PutTag(out, "data");
  Put32(out, data_size);
  Put16(out, 0x300);
  Put16(out, static_cast<uint32_t>(count));
  for (size_t k = 0; k < count; ++k) {
    out.push_back(palette[k].Red);
    out.push_back(palette[k].Green);
    out.push_back(palette[k].Blue);
    out.push_back(palette[k].Flags);
  }
  return out;
}

}  // namespace qb
