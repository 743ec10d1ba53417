// Device-independent bitmaps: TDib, the DIB parser and the BMP file form.
#include <algorithm>
#include <climits>

#include "platform/picture.h"
#include "platform/picture_bytes.h"

namespace qb {

using namespace picture_bytes;

namespace {

[[noreturn]] void BadBitmap() {
  throw EInvalidGraphic(kInvalidBitmapText);
}

bool ValidBitCount(int bits) {
  return bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
}

// A colour component from a packed pixel: the bits under mask, scaled to 0..255.
uint8_t MaskedComponent(uint32_t value, uint32_t mask) {
  if (mask == 0) return 0;
  int shift = 0;
  while (((mask >> shift) & 1) == 0) ++shift;
  int width = 0;
  while (shift + width < 32 && ((mask >> (shift + width)) & 1)) ++width;
  const uint32_t field = (value & mask) >> shift;
  const uint32_t max = width >= 32 ? 0xFFFFFFFFu : (1u << width) - 1;
  const uint32_t v = field & max;
  if (width >= 8) return static_cast<uint8_t>(v >> (width - 8));
  return static_cast<uint8_t>(v * 255 / max);
}

}  // namespace

TDib::TDib(int width, int height, int bit_count) {
  Allocate(width, height, bit_count);
}

void TDib::Allocate(int width, int height, int bit_count) {
  if (width <= 0 || height <= 0 || !ValidBitCount(bit_count)) BadBitmap();
  const uint64_t stride = (static_cast<uint64_t>(width) * bit_count + 31) / 32 * 4;
  if (stride * static_cast<uint64_t>(height) > kMaxDibBytes ||
      static_cast<uint64_t>(width) * static_cast<uint64_t>(height) > kMaxDibPixels)
    BadBitmap();
  width_ = width;
  height_ = height;
  bit_count_ = bit_count;
  compression_ = BI_RGB;
  stride_ = static_cast<size_t>(stride);
  bits_.assign(stride_ * static_cast<size_t>(height), 0);
  palette_.clear();
  if (bit_count <= 8) palette_.assign(size_t{1} << bit_count, TRgbQuad{});
  masks_[0] = masks_[1] = masks_[2] = 0;
  if (bit_count == 16) {
    masks_[0] = 0x7C00, masks_[1] = 0x03E0, masks_[2] = 0x001F;
  } else if (bit_count == 24 || bit_count == 32) {
    masks_[0] = 0xFF0000, masks_[1] = 0x00FF00, masks_[2] = 0x0000FF;
  }
}

void TDib::SetPalette(std::vector<TRgbQuad> palette) {
  if (bit_count_ > 8 || bit_count_ == 0) {
    palette_.clear();
    return;
  }
  if (palette.size() > (size_t{1} << bit_count_)) palette.resize(size_t{1} << bit_count_);
  palette_ = std::move(palette);
}

void TDib::SetBitFields(uint32_t red, uint32_t green, uint32_t blue) {
  if (bit_count_ != 16 && bit_count_ != 32) return;
  compression_ = BI_BITFIELDS;
  masks_[0] = red, masks_[1] = green, masks_[2] = blue;
}

uint32_t TDib::ReadRaw(const uint8_t* row, int x) const {
  switch (bit_count_) {
    case 1:
      return (row[x >> 3] >> (7 - (x & 7))) & 1;
    case 4:
      return (row[x >> 1] >> ((x & 1) ? 0 : 4)) & 0x0F;
    case 8:
      return row[x];
    case 16:
      return static_cast<uint32_t>(row[2 * x] | row[2 * x + 1] << 8);
    case 24:
      return static_cast<uint32_t>(row[3 * x] | row[3 * x + 1] << 8 | row[3 * x + 2] << 16);
    case 32:
      return static_cast<uint32_t>(row[4 * x]) | static_cast<uint32_t>(row[4 * x + 1]) << 8 |
             static_cast<uint32_t>(row[4 * x + 2]) << 16 | static_cast<uint32_t>(row[4 * x + 3]) << 24;
  }
  return 0;
}

uint32_t TDib::Pixel(int x, int y) const {
  if (x < 0 || y < 0 || x >= width_ || y >= height_) return 0;
  return ReadRaw(bits_.data() + static_cast<size_t>(height_ - 1 - y) * stride_, x);
}

void TDib::SetPixel(int x, int y, uint32_t v) {
  if (x < 0 || y < 0 || x >= width_ || y >= height_) return;
  uint8_t* row = bits_.data() + static_cast<size_t>(height_ - 1 - y) * stride_;
  switch (bit_count_) {
    case 1: {
      const uint8_t bit = static_cast<uint8_t>(0x80 >> (x & 7));
      row[x >> 3] = static_cast<uint8_t>((v & 1) ? row[x >> 3] | bit : row[x >> 3] & ~bit);
      break;
    }
    case 4: {
      uint8_t& b = row[x >> 1];
      b = (x & 1) ? static_cast<uint8_t>((b & 0xF0) | (v & 0x0F))
                  : static_cast<uint8_t>((b & 0x0F) | (v & 0x0F) << 4);
      break;
    }
    case 8:
      row[x] = static_cast<uint8_t>(v);
      break;
    default:
      for (int k = 0; k < bit_count_ / 8; ++k)
        row[static_cast<size_t>(x) * (bit_count_ / 8) + k] = static_cast<uint8_t>(v >> (8 * k));
  }
}

TRgbQuad TDib::PixelColor(int x, int y) const {
  const uint32_t v = Pixel(x, y);
  if (bit_count_ <= 8) return v < palette_.size() ? palette_[v] : TRgbQuad{};
  if (bit_count_ == 24 || (bit_count_ == 32 && compression_ == BI_RGB))
    return TRgbQuad{static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
                    static_cast<uint8_t>(bit_count_ == 32 ? v >> 24 : 0)};
  return TRgbQuad{MaskedComponent(v, masks_[2]), MaskedComponent(v, masks_[1]), MaskedComponent(v, masks_[0]),
                  0};
}

ParsedDib TDibReader::Parse(std::span<const uint8_t> d, size_t info, std::optional<uint64_t> bits_offset,
                            int height_divisor) {
  if (!Fits(d, info, 4)) BadBitmap();
  const uint32_t header_size = U32(d, info);
  int64_t width = 0, height = 0;
  int bits = 0;
  uint32_t compression = BI_RGB, colours_used = 0;
  int xppm = 0, yppm = 0;
  size_t entry_size = 4;
  if (header_size == 12) {
    if (!Fits(d, info, 12)) BadBitmap();
    width = U16(d, info + 4);
    height = U16(d, info + 6);
    bits = U16(d, info + 10);
    entry_size = 3;
  } else if (header_size >= 40 && header_size <= 4096) {
    if (!Fits(d, info, header_size)) BadBitmap();
    width = I32(d, info + 4);
    height = I32(d, info + 8);
    bits = U16(d, info + 14);
    compression = U32(d, info + 16);
    xppm = I32(d, info + 24);
    yppm = I32(d, info + 28);
    colours_used = U32(d, info + 32);
  } else {
    BadBitmap();
  }
  const bool top_down = height < 0;
  if (top_down) height = -height;
  height /= height_divisor;
  if (width <= 0 || height <= 0 || width > INT_MAX || height > INT_MAX || !ValidBitCount(bits)) BadBitmap();
  if (compression == BI_RLE8 && (bits != 8 || top_down)) BadBitmap();
  if (compression == BI_RLE4 && (bits != 4 || top_down)) BadBitmap();
  if (compression == BI_BITFIELDS && bits != 16 && bits != 32) BadBitmap();
  if (compression > BI_BITFIELDS) BadBitmap();

  uint64_t pos = uint64_t{info} + header_size;
  uint32_t masks[3] = {0, 0, 0};
  if (compression == BI_BITFIELDS) {
    const uint64_t at = header_size >= 52 ? uint64_t{info} + 40 : pos;
    if (!Fits(d, at, 12)) BadBitmap();
    for (int k = 0; k < 3; ++k) masks[k] = U32(d, static_cast<size_t>(at) + 4 * k);
    if (header_size < 52) pos += 12;
  }
  // The colour table: colours_used entries physically, of which at most 2^bits count.
  const uint64_t table_entries = colours_used != 0 ? colours_used : bits <= 8 ? (uint64_t{1} << bits) : 0;
  const uint64_t kept_entries = bits <= 8 ? std::min<uint64_t>(table_entries, uint64_t{1} << bits) : 0;
  if (!Fits(d, pos, kept_entries * entry_size)) BadBitmap();
  std::vector<TRgbQuad> palette(static_cast<size_t>(kept_entries));
  for (size_t k = 0; k < palette.size(); ++k) {
    const size_t at = static_cast<size_t>(pos) + k * entry_size;
    palette[k] = TRgbQuad{d[at], d[at + 1], d[at + 2], 0};
  }
  const uint64_t table_end = pos + table_entries * entry_size;
  uint64_t start = table_end;
  if (bits_offset && *bits_offset >= uint64_t{info} + header_size && *bits_offset < d.size())
    start = *bits_offset;
  if (start > d.size()) BadBitmap();

  ParsedDib out;
  TDib& dib = out.dib;
  const uint64_t stride = (static_cast<uint64_t>(width) * bits + 31) / 32 * 4;
  const uint64_t pixels = static_cast<uint64_t>(width) * static_cast<uint64_t>(height);
  if (stride * static_cast<uint64_t>(height) > kMaxDibBytes || pixels > kMaxDibPixels) BadBitmap();
  const size_t w = static_cast<size_t>(width), h = static_cast<size_t>(height);
  const size_t available = d.size() - static_cast<size_t>(start);
  if ((compression == BI_RLE8 || compression == BI_RLE4) &&
      pixels > std::max<uint64_t>(kRleFreePixels, kRlePixelsPerByte * available))
    BadBitmap();  // a short stream that declares a huge, nearly all skipped, picture
  if (compression == BI_RGB || compression == BI_BITFIELDS) {
    // The last row's padding may be missing; its pixels may not.
    const uint64_t needed = stride * (h - 1) + (static_cast<uint64_t>(width) * bits + 7) / 8;
    if (available < needed) BadBitmap();
  }
  // Checked above: the dimensions fit an int and the buffer fits kMaxDibBytes.
  dib = TDib(static_cast<int>(width), static_cast<int>(height), bits);
  dib.SetPalette(std::move(palette));
  if (compression == BI_BITFIELDS) dib.SetBitFields(masks[0], masks[1], masks[2]);
  dib.XPelsPerMeter = xppm;
  dib.YPelsPerMeter = yppm;
  std::vector<uint8_t>& storage = dib.bits_;
  const uint8_t* src = d.data() + start;

  if (compression == BI_RGB || compression == BI_BITFIELDS) {
    for (size_t row = 0; row < h; ++row) {
      const size_t from = row * static_cast<size_t>(stride);
      const size_t count = std::min<size_t>(static_cast<size_t>(stride), available - from);
      const size_t to_row = top_down ? h - 1 - row : row;
      std::memcpy(storage.data() + to_row * static_cast<size_t>(stride), src + from, count);
    }
    out.bits_end = start + std::min<uint64_t>(available, stride * h);
    return out;
  }

  // RLE: pairs (count, value) and escapes 00 00 end of line, 00 01 end of bitmap,
  // 00 02 dx dy move, 00 n absolute run of n pixels padded to a word. Rows count
  // from the bottom. Pixels that fall outside the image are dropped, and input that
  // ends early leaves the rest of the image at index 0.
  const bool rle4 = compression == BI_RLE4;
  size_t p = 0;
  size_t x = 0, y = 0;
  auto put = [&](uint32_t v) {
    if (x < w && y < h) dib.SetPixel(static_cast<int>(x), static_cast<int>(h - 1 - y), v);
    if (x < w) ++x;
  };
  while (p + 1 < available && y < h) {
    const uint8_t n = src[p], c = src[p + 1];
    p += 2;
    if (n != 0) {
      for (unsigned k = 0; k < n && x < w; ++k) put(rle4 ? ((k & 1) ? c & 0x0F : c >> 4) : c);
      continue;
    }
    if (c == 0) {
      x = 0;
      ++y;
    } else if (c == 1) {
      break;
    } else if (c == 2) {
      if (p + 1 >= available) break;
      x = std::min(x + src[p], w);
      y += src[p + 1];
      p += 2;
    } else {
      const size_t bytes = rle4 ? (c + 1u) / 2 : c;
      const size_t padded = bytes + (bytes & 1);
      for (unsigned k = 0; k < c; ++k) {
        const size_t at = p + (rle4 ? k / 2 : k);
        if (at >= available) break;
        put(rle4 ? ((k & 1) ? src[at] & 0x0F : src[at] >> 4) : src[at]);
      }
      p = std::min(p + padded, available);
    }
  }
  out.bits_end = start + p;
  return out;
}

TDib TDib::ReadBmp(std::span<const uint8_t> file) {
  if (file.size() < 14 + 12 || file[0] != 'B' || file[1] != 'M') BadBitmap();
  return TDibReader::Parse(file, 14, U32(file, 10), 1).dib;
}

TDib TDib::ReadPackedDib(std::span<const uint8_t> packed, int height_divisor) {
  if (height_divisor < 1) height_divisor = 1;
  return TDibReader::Parse(packed, 0, std::nullopt, height_divisor).dib;
}

std::vector<uint8_t> TDib::WriteBmp() const {
  if (Empty()) BadBitmap();
  std::vector<TRgbQuad> table = palette_;
  if (bit_count_ <= 8 && table.empty()) table.assign(size_t{1} << bit_count_, TRgbQuad{});
  const bool fields = compression_ == BI_BITFIELDS;
  const uint32_t offset = 14 + 40 + (fields ? 12 : 0) + static_cast<uint32_t>(table.size() * 4);
  std::vector<uint8_t> out;
  out.reserve(offset + bits_.size());
  out.push_back('B');
  out.push_back('M');
  Put32(out, static_cast<uint32_t>(std::min<uint64_t>(uint64_t{offset} + bits_.size(), 0xFFFFFFFFu)));
  Put32(out, 0);
  Put32(out, offset);
  Put32(out, 40);
  Put32(out, static_cast<uint32_t>(width_));
  Put32(out, static_cast<uint32_t>(height_));
  Put16(out, 1);
  Put16(out, static_cast<uint32_t>(bit_count_));
  Put32(out, compression_);
  Put32(out, static_cast<uint32_t>(bits_.size()));
  Put32(out, static_cast<uint32_t>(XPelsPerMeter));
  Put32(out, static_cast<uint32_t>(YPelsPerMeter));
  Put32(out, static_cast<uint32_t>(table.size()));
  Put32(out, 0);
  if (fields)
    for (uint32_t m : masks_) Put32(out, m);
  for (const TRgbQuad& q : table) {
    out.push_back(q.Blue);
    out.push_back(q.Green);
    out.push_back(q.Red);
    out.push_back(0);
  }
  out.insert(out.end(), bits_.begin(), bits_.end());
  return out;
}

}  // namespace qb
