#include "platform/picture.h"

#include <algorithm>
#include <climits>
#include <cstring>

namespace qb {

namespace {

// --- bounded little-endian access ----------------------------------------------------
//
// Every read of untrusted bytes goes through Fits(): offset and count are checked
// against the size without overflow before anything is touched.

bool Fits(std::span<const uint8_t> b, uint64_t offset, uint64_t count) {
  return offset <= b.size() && count <= b.size() - offset;
}
uint16_t U16(std::span<const uint8_t> b, size_t o) {
  return static_cast<uint16_t>(b[o] | b[o + 1] << 8);
}
uint32_t U32(std::span<const uint8_t> b, size_t o) {
  return static_cast<uint32_t>(b[o]) | static_cast<uint32_t>(b[o + 1]) << 8 |
         static_cast<uint32_t>(b[o + 2]) << 16 | static_cast<uint32_t>(b[o + 3]) << 24;
}
int32_t I32(std::span<const uint8_t> b, size_t o) {
  return static_cast<int32_t>(U32(b, o));
}
uint32_t BE32(std::span<const uint8_t> b, size_t o) {
  return static_cast<uint32_t>(b[o]) << 24 | static_cast<uint32_t>(b[o + 1]) << 16 |
         static_cast<uint32_t>(b[o + 2]) << 8 | static_cast<uint32_t>(b[o + 3]);
}

void Put16(std::vector<uint8_t>& out, uint32_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}
void Put32(std::vector<uint8_t>& out, uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}
void PutTag(std::vector<uint8_t>& out, const char* tag) {
  for (int k = 0; k < 4; ++k) out.push_back(static_cast<uint8_t>(tag[k]));
}
void Set32(std::vector<uint8_t>& out, size_t o, uint32_t v) {
  for (int k = 0; k < 4; ++k) out[o + k] = static_cast<uint8_t>(v >> (8 * k));
}

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

constexpr uint32_t kEmfSignature = 0x464D4520;  // " EMF"
constexpr uint32_t kEmrHeader = 1, kEmrEof = 14, kEmrComment = 70;
constexpr uint32_t kGdiComment = 0x43494447;  // "GDIC"
constexpr uint32_t kCommentWindowsMetafile = 0x80000001;
constexpr uint32_t kPlaceableKey = 0x9AC6CDD7;

}  // namespace

// --- TDib -----------------------------------------------------------------------------

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

namespace {

// What a DIB parse found besides the image: where its bits ended in the input
// (an icon's AND mask follows there).
struct ParsedDib {
  TDib dib;
  uint64_t bits_end = 0;
};

}  // namespace

class TDibReader {
 public:
  static ParsedDib Parse(std::span<const uint8_t> d, size_t info, std::optional<uint64_t> bits_offset,
                         int height_divisor);
};

// Reads the info header at info, the masks and colour table after it, and the bits
// at bits_offset (when given and plausible) or right after the colour table.
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

// --- icons ----------------------------------------------------------------------------

int TIcon::Width() const {
  if (!Image.Empty()) return Image.Width();
  return Entries.empty() ? 0 : Entries.front().Width;
}
int TIcon::Height() const {
  if (!Image.Empty()) return Image.Height();
  return Entries.empty() ? 0 : Entries.front().Height;
}

namespace {

const uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};

bool StartsWith(std::span<const uint8_t> b, const uint8_t* sig, size_t n) {
  return b.size() >= n && std::memcmp(b.data(), sig, n) == 0;
}

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

// --- metafiles ------------------------------------------------------------------------

std::optional<TEmfHeader> ReadEmfHeader(std::span<const uint8_t> b) {
  if (b.size() < 88 || U32(b, 0) != kEmrHeader || U32(b, 40) != kEmfSignature) return std::nullopt;
  const uint32_t record_size = U32(b, 4);
  TEmfHeader h;
  h.Bytes = U32(b, 48);
  h.Records = U32(b, 52);
  if (record_size < 88 || record_size % 4 != 0 || record_size > h.Bytes || h.Bytes > b.size())
    return std::nullopt;
  h.FrameLeft = I32(b, 24);
  h.FrameTop = I32(b, 28);
  h.FrameRight = I32(b, 32);
  h.FrameBottom = I32(b, 36);
  return h;
}

bool IsWmfHeader(std::span<const uint8_t> b) {
  if (b.size() < 18) return false;
  const uint16_t type = U16(b, 0), header_words = U16(b, 2), version = U16(b, 4);
  return (type == 1 || type == 2) && header_words == 9 && (version == 0x100 || version == 0x300);
}

std::optional<TPlaceableWmfHeader> ReadPlaceableWmfHeader(std::span<const uint8_t> b) {
  if (b.size() < 22 + 18 || U32(b, 0) != kPlaceableKey) return std::nullopt;
  uint16_t sum = 0;
  for (size_t k = 0; k < 10; ++k) sum ^= U16(b, 2 * k);
  if (sum != U16(b, 20) || !IsWmfHeader(b.subspan(22))) return std::nullopt;
  TPlaceableWmfHeader h;
  h.Left = static_cast<int16_t>(U16(b, 6));
  h.Top = static_cast<int16_t>(U16(b, 8));
  h.Right = static_cast<int16_t>(U16(b, 10));
  h.Bottom = static_cast<int16_t>(U16(b, 12));
  h.Inch = U16(b, 14);
  if (h.Inch == 0) return std::nullopt;
  return h;
}

int TMetafile::Width() const {
  return static_cast<int>(static_cast<long long>(mm_width_) * 96 / 2540);
}
int TMetafile::Height() const {
  return static_cast<int>(static_cast<long long>(mm_height_) * 96 / 2540);
}

TMetafile TMetafile::FromEmf(std::span<const uint8_t> emf) {
  const std::optional<TEmfHeader> h = ReadEmfHeader(emf);
  if (!h) throw EInvalidGraphic(kInvalidMetafileText);
  // Walk the records: each at least 8 bytes, a multiple of 4, inside the file, and
  // the last one the end-of-file record.
  size_t at = 0;
  uint32_t last_type = 0;
  while (at < h->Bytes) {
    if (!Fits(emf, at, 8)) throw EInvalidGraphic(kInvalidMetafileText);
    const uint32_t type = U32(emf, at), size = U32(emf, at + 4);
    if (size < 8 || size % 4 != 0 || size > h->Bytes - at) throw EInvalidGraphic(kInvalidMetafileText);
    last_type = type;
    at += size;
  }
  if (last_type != kEmrEof) throw EInvalidGraphic(kInvalidMetafileText);
  TMetafile m;
  m.emf_.assign(emf.begin(), emf.begin() + h->Bytes);  // the block's slack stays behind
  const int64_t w = int64_t{h->FrameRight} - h->FrameLeft, ht = int64_t{h->FrameBottom} - h->FrameTop;
  m.mm_width_ = static_cast<int>(std::clamp<int64_t>(w, 0, INT_MAX));
  m.mm_height_ = static_cast<int>(std::clamp<int64_t>(ht, 0, INT_MAX));
  return m;
}

TMetafile TMetafile::FromWmf(std::span<const uint8_t> wmf, int mm_width, int mm_height) {
  if (!IsWmfHeader(wmf) || wmf.size() > 0x7FFFFF00u) throw EInvalidGraphic(kInvalidMetafileText);
  mm_width = std::max(mm_width, 0);
  mm_height = std::max(mm_height, 0);
  std::vector<uint8_t> out;
  // EMR_HEADER, 108 bytes: bounds (pixels), frame (0.01 mm), signature, version,
  // total bytes, records, handles, reserved, description, palette, reference
  // device in pixels and millimetres, pixel format, OpenGL, micrometres.
  const int px_w = static_cast<int>(static_cast<long long>(mm_width) * 96 / 2540);
  const int px_h = static_cast<int>(static_cast<long long>(mm_height) * 96 / 2540);
  Put32(out, kEmrHeader);
  Put32(out, 108);
  Put32(out, 0), Put32(out, 0), Put32(out, static_cast<uint32_t>(std::max(px_w - 1, 0))),
      Put32(out, static_cast<uint32_t>(std::max(px_h - 1, 0)));
  Put32(out, 0), Put32(out, 0), Put32(out, static_cast<uint32_t>(mm_width)),
      Put32(out, static_cast<uint32_t>(mm_height));
  Put32(out, kEmfSignature);
  Put32(out, 0x10000);
  Put32(out, 0);  // total bytes, set below
  Put32(out, 3);
  Put16(out, 1);
  Put16(out, 0);
  Put32(out, 0), Put32(out, 0), Put32(out, 0);
  Put32(out, 1920), Put32(out, 1080), Put32(out, 508), Put32(out, 286);
  Put32(out, 0), Put32(out, 0), Put32(out, 0);
  Put32(out, 508000), Put32(out, 286000);
  // EMR_COMMENT carrying the Windows metafile.
  const uint32_t data_size = 4 + 4 + 2 + 2 + 4 + 4 + 4 + static_cast<uint32_t>(wmf.size());
  const uint32_t record = (12 + data_size + 3) / 4 * 4;
  Put32(out, kEmrComment);
  Put32(out, record);
  Put32(out, data_size);
  Put32(out, kGdiComment);
  Put32(out, kCommentWindowsMetafile);
  Put16(out, U16(wmf, 4));  // the metafile's version
  Put16(out, 0);
  Put32(out, 0);  // checksum
  Put32(out, 0);  // flags
  Put32(out, static_cast<uint32_t>(wmf.size()));
  out.insert(out.end(), wmf.begin(), wmf.end());
  out.resize((out.size() + 3) / 4 * 4, 0);
  // EMR_EOF
  Put32(out, kEmrEof);
  Put32(out, 20);
  Put32(out, 0);
  Put32(out, 16);
  Put32(out, 20);
  Set32(out, 48, static_cast<uint32_t>(out.size()));
  TMetafile m;
  m.emf_ = std::move(out);
  m.mm_width_ = mm_width;
  m.mm_height_ = mm_height;
  return m;
}

std::optional<std::vector<uint8_t>> TMetafile::EmbeddedWmf() const {
  const std::span<const uint8_t> b = emf_;
  size_t at = 0;
  while (Fits(b, at, 8)) {
    const uint32_t type = U32(b, at), size = U32(b, at + 4);
    if (size < 8 || !Fits(b, at, size)) break;
    if (type == kEmrComment && size >= 36 && U32(b, at + 12) == kGdiComment &&
        U32(b, at + 16) == kCommentWindowsMetafile) {
      const uint32_t wmf_size = U32(b, at + 32);
      if (wmf_size <= size - 36)
        return std::vector<uint8_t>(b.begin() + at + 36, b.begin() + at + 36 + wmf_size);
    }
    at += size;
  }
  return std::nullopt;
}

TMetafile TMetafile::Read(std::span<const uint8_t> bytes) {
  if (ReadEmfHeader(bytes)) return FromEmf(bytes);
  const std::optional<TPlaceableWmfHeader> h = ReadPlaceableWmfHeader(bytes);
  if (!h) throw EInvalidGraphic(kInvalidMetafileText);
  std::span<const uint8_t> wmf = bytes.subspan(22);
  // The metafile header's size field (in 16-bit words) when it fits, else all.
  const uint64_t declared = uint64_t{U32(wmf, 6)} * 2;
  if (declared >= 18 && declared <= wmf.size()) wmf = wmf.first(static_cast<size_t>(declared));
  const int64_t mm_w = (int64_t{h->Right} - h->Left) * 2540 / h->Inch;
  const int64_t mm_h = (int64_t{h->Bottom} - h->Top) * 2540 / h->Inch;
  return FromWmf(wmf, static_cast<int>(mm_w < 0 ? -mm_w : mm_w), static_cast<int>(mm_h < 0 ? -mm_h : mm_h));
}

// --- palettes -------------------------------------------------------------------------

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

// --- recognition ----------------------------------------------------------------------

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
