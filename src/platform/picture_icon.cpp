// Icon files (.ico): the directory and the best image.
#include <algorithm>

#include "platform/picture.h"
#include "platform/picture_bytes.h"

namespace qb {

using namespace picture_bytes;

int TIcon::Width() const {
  if (!Image.Empty()) return Image.Width();
  return Entries.empty() ? 0 : Entries.front().Width;
}
int TIcon::Height() const {
  if (!Image.Empty()) return Image.Height();
  return Entries.empty() ? 0 : Entries.front().Height;
}

namespace {

// Decodes one icon image (a DIB whose header height counts the AND mask) into a
// 32-bit image with the opacity in the fourth byte.
TDib DecodeIconImage(std::span<const uint8_t> image) {
  ParsedDib parsed = TDibReader::Parse(image, 0, std::nullopt, 2);
  const TDib& colour = parsed.dib;
  const int w = colour.Width(), h = colour.Height();
  TDib out(w, h, 32);
  bool has_alpha = false;
  if (colour.BitCount() == 32)
    for (int y = 0; y < h && !has_alpha; ++y)
      for (int x = 0; x < w && !has_alpha; ++x) has_alpha = colour.PixelColor(x, y).Reserved != 0;
  const uint64_t mask_stride = (static_cast<uint64_t>(w) + 31) / 32 * 4;
  const bool has_mask = Fits(image, parsed.bits_end, mask_stride * static_cast<uint64_t>(h));
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      TRgbQuad c = colour.PixelColor(x, y);
      uint8_t alpha = 255;
      if (has_alpha) {
        alpha = c.Reserved;
      } else if (has_mask) {
        const size_t row =
            static_cast<size_t>(parsed.bits_end + mask_stride * static_cast<uint64_t>(h - 1 - y));
        if ((image[row + static_cast<size_t>(x >> 3)] >> (7 - (x & 7))) & 1) alpha = 0;
      }
      out.SetPixel(
          x, y,
          static_cast<uint32_t>(c.Blue) | c.Green << 8 | c.Red << 16 | static_cast<uint32_t>(alpha) << 24);
    }
  }
  return out;
}

}  // namespace

TIcon ReadIco(std::span<const uint8_t> file) {
  if (file.size() < 6 || U16(file, 0) != 0 || (U16(file, 2) != 1 && U16(file, 2) != 2))
    throw EInvalidGraphic(kInvalidIconText);
  const unsigned count = U16(file, 4);
  if (count == 0 || !Fits(file, 6, uint64_t{count} * 16)) throw EInvalidGraphic(kInvalidIconText);
  TIcon icon;
  for (unsigned k = 0; k < count; ++k) {
    const size_t at = 6 + 16 * k;
    TIconEntry e;
    e.Width = file[at] ? file[at] : 256;
    e.Height = file[at + 1] ? file[at + 1] : 256;
    e.BitCount = U16(file, at + 6);
    e.Size = U32(file, at + 8);
    e.Offset = U32(file, at + 12);
    if (e.Size == 0 || !Fits(file, e.Offset, e.Size)) continue;  // an entry pointing outside the file
    e.Png = StartsWith(file.subspan(e.Offset, e.Size), kPngSignature, 8);
    icon.Entries.push_back(e);
  }
  if (icon.Entries.empty()) throw EInvalidGraphic(kInvalidIconText);
  // Best first: the largest, then the deepest.
  std::vector<TIconEntry> order = icon.Entries;
  std::stable_sort(order.begin(), order.end(), [](const TIconEntry& a, const TIconEntry& b) {
    const long long area_a = 1LL * a.Width * a.Height, area_b = 1LL * b.Width * b.Height;
    return area_a != area_b ? area_a > area_b : a.BitCount > b.BitCount;
  });
  bool any_png = false;
  for (const TIconEntry& e : order) {
    if (e.Png) {
      any_png = true;
      continue;
    }
    try {
      icon.Image = DecodeIconImage(file.subspan(e.Offset, e.Size));
      break;
    } catch (const EInvalidGraphic&) {
    }
  }
  if (icon.Image.Empty() && !any_png) throw EInvalidGraphic(kInvalidIconText);
  icon.FileImage.assign(file.begin(), file.end());
  return icon;
}

}  // namespace qb
