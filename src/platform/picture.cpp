// Recognising picture file images by their first bytes, their MIME types and
// the size of the pictures the program keeps but does not decode.
#include "platform/picture.h"

#include <algorithm>
#include <climits>

#include "platform/picture_bytes.h"

namespace qb {

using namespace picture_bytes;

TPictureFileType RecognizePictureFile(std::span<const uint8_t> b) {
  static const uint8_t kIco[4] = {0, 0, 1, 0};
  static const uint8_t kJpeg[3] = {0xFF, 0xD8, 0xFF};
  if (b.size() >= 2 && b[0] == 'B' && b[1] == 'M') return TPictureFileType::Bmp;
  if (b.size() >= 6 && StartsWith(b, kIco, 4) && U16(b, 4) > 0) return TPictureFileType::Ico;
  if (b.size() >= 44 && U32(b, 0) == kEmrHeader && U32(b, 40) == kEmfSignature) return TPictureFileType::Emf;
  if (ReadPlaceableWmfHeader(b) || IsWmfHeader(b)) return TPictureFileType::Wmf;
  if (StartsWith(b, kPngSignature, 8)) return TPictureFileType::Png;
  if (StartsWith(b, kJpeg, 3)) return TPictureFileType::Jpeg;
  if (b.size() >= 6 && (std::memcmp(b.data(), "GIF87a", 6) == 0 || std::memcmp(b.data(), "GIF89a", 6) == 0))
    return TPictureFileType::Gif;
  return TPictureFileType::Unknown;
}

const char* PictureMimeType(TPictureFileType type) {
  switch (type) {
    case TPictureFileType::Bmp:
      return "image/bmp";
    case TPictureFileType::Ico:
      return "image/x-icon";
    case TPictureFileType::Emf:
      return "image/emf";
    case TPictureFileType::Wmf:
      return "image/wmf";
    case TPictureFileType::Png:
      return "image/png";
    case TPictureFileType::Jpeg:
      return "image/jpeg";
    case TPictureFileType::Gif:
      return "image/gif";
    case TPictureFileType::Unknown:
      break;
  }
  return "";
}

TPictureFileType PictureTypeOfMime(std::string_view mime) {
  struct Alias {
    const char* name;
    TPictureFileType type;
  };
  static const Alias kAliases[] = {
      {"image/bmp", TPictureFileType::Bmp},    {"image/x-bmp", TPictureFileType::Bmp},
      {"image/x-icon", TPictureFileType::Ico}, {"image/vnd.microsoft.icon", TPictureFileType::Ico},
      {"image/emf", TPictureFileType::Emf},    {"image/x-emf", TPictureFileType::Emf},
      {"image/wmf", TPictureFileType::Wmf},    {"image/x-wmf", TPictureFileType::Wmf},
      {"image/png", TPictureFileType::Png},    {"image/jpeg", TPictureFileType::Jpeg},
      {"image/gif", TPictureFileType::Gif},
  };
  for (const Alias& a : kAliases)
    if (mime.size() == std::strlen(a.name) &&
        std::equal(mime.begin(), mime.end(), a.name,
                   [](char x, char y) { return (x >= 'A' && x <= 'Z' ? x + 32 : x) == y; }))
      return a.type;
  return TPictureFileType::Unknown;
}

std::optional<std::pair<int, int>> ForeignPictureSize(std::span<const uint8_t> b) {
  switch (RecognizePictureFile(b)) {
    case TPictureFileType::Png:
      if (b.size() >= 24 && std::memcmp(b.data() + 12, "IHDR", 4) == 0) {
        const uint32_t w = BE32(b, 16), h = BE32(b, 20);
        if (w > 0 && h > 0 && w <= INT_MAX && h <= INT_MAX) return std::pair<int, int>(w, h);
      }
      return std::nullopt;
    case TPictureFileType::Gif:
      if (b.size() >= 10) return std::pair<int, int>(U16(b, 6), U16(b, 8));
      return std::nullopt;
    case TPictureFileType::Jpeg: {
      // Walk the marker segments to the first start-of-frame.
      size_t at = 2;
      while (at + 4 <= b.size()) {
        if (b[at] != 0xFF) return std::nullopt;
        const uint8_t marker = b[at + 1];
        if (marker == 0xFF) {
          ++at;
          continue;
        }
        const size_t length = static_cast<size_t>(b[at + 2]) << 8 | b[at + 3];
        if (length < 2) return std::nullopt;
        const bool sof =
            marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
        if (sof) {
          if (at + 9 > b.size()) return std::nullopt;
          return std::pair<int, int>(b[at + 7] << 8 | b[at + 8], b[at + 5] << 8 | b[at + 6]);
        }
        at += 2 + length;
      }
      return std::nullopt;
    }
    default:
      return std::nullopt;
  }
}

}  // namespace qb
