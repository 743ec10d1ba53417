// The picture layer: device-independent bitmaps with their BMP file form, icons,
// metafile headers, the RIFF palette file, and recognition of picture file images
// by their first bytes.
//
// One source file per format: picture_dib.cpp (TDib and BMP), picture_icon.cpp,
// picture_metafile.cpp, picture_palette.cpp, and picture.cpp (recognition).
//
// Nothing here draws. The Qt layer turns a TDib into a QImage and back; the core
// only needs to read, check, keep and write the bytes. Every reader takes bytes
// from an untrusted source (a clipboard block, a cabinet payload, a file): each
// length, offset and count is checked before use, images are limited in size
// (kMaxDibBytes, kMaxDibPixels, and for RLE by the length of the stream), and a reader that cannot make sense
// of its input throws EInvalidGraphic with the toolkit's text ("Bitmap image is not valid", "Icon image is
// not valid", "Metafile is not valid") - it never reads out of bounds.
//
// BMP layout (all little-endian):
//   file header   14 bytes  "BM", file size (u32), 2 x u16 reserved, offset of bits (u32)
//   info header   12 bytes (OS/2 core: u16 width, u16 height, u16 planes, u16 bits)
//              or 40/52/56/108/124 bytes (i32 width, i32 height, u16 planes,
//                 u16 bits, u32 compression, u32 image size, i32 x/y pixels per
//                 metre, u32 colours used, u32 colours important, then the masks
//                 of the larger headers)
//   masks         3 x u32 after a 40-byte header with BI_BITFIELDS
//   colour table  RGBQUAD (RGBTRIPLE after a core header), for 1, 4 and 8 bits
//   bits          rows padded to 4 bytes, bottom row first (top first when the
//                 height is negative)
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/errors.h"

namespace qb {

// A picture's bytes could not be read.
class EInvalidGraphic : public Exception {
 public:
  using Exception::Exception;
};

inline constexpr const char* kInvalidBitmapText = "Bitmap image is not valid";
inline constexpr const char* kInvalidIconText = "Icon image is not valid";
inline constexpr const char* kInvalidMetafileText = "Metafile is not valid";
inline constexpr const char* kInvalidPaletteText = "Palette file is not valid";
inline constexpr const char* kUnknownPictureText = "Unknown picture file format";

// The largest pixel buffer a reader will allocate, and the most pixels a picture
// may have (so that its 32-bit form, as a display converts it, stays within
// kMaxDibBytes too: 8192 x 8192, or 15360 x 4320).
inline constexpr uint64_t kMaxDibBytes = 256ull << 20;
inline constexpr uint64_t kMaxDibPixels = kMaxDibBytes / 4;
// An RLE stream skips pixels for free (end of line, delta and end of bitmap leave
// them at index 0), so a few bytes can declare any size. Beyond kRleFreePixels an
// RLE picture must have at least one byte of stream per kRlePixelsPerByte pixels:
// an encoder that writes every row (runs of at most 255 pixels per two bytes,
// then an end of line) stays far below that.
inline constexpr uint64_t kRleFreePixels = 4ull << 20;
inline constexpr uint64_t kRlePixelsPerByte = 1024;

inline constexpr uint32_t BI_RGB = 0, BI_RLE8 = 1, BI_RLE4 = 2, BI_BITFIELDS = 3;

struct TRgbQuad {
  uint8_t Blue = 0, Green = 0, Red = 0, Reserved = 0;
  friend bool operator==(const TRgbQuad&, const TRgbQuad&) = default;
};
inline TRgbQuad Rgb(uint8_t red, uint8_t green, uint8_t blue, uint8_t reserved = 0) {
  return TRgbQuad{blue, green, red, reserved};
}

// A device-independent bitmap: 1, 4, 8, 16, 24 or 32 bits per pixel, uncompressed
// (BI_RGB) or with colour masks (BI_BITFIELDS, 16 and 32 bits). RLE files are
// decoded on reading into 4- or 8-bit BI_RGB. Rows are kept bottom row first,
// padded to 4 bytes, exactly as a BMP file holds them.
class TDib {
 public:
  TDib() = default;
  // A blank (all zero) image. 1-, 4- and 8-bit images get a colour table of 2^bits
  // black entries. Throws EInvalidGraphic for a bad size or bit count.
  TDib(int width, int height, int bit_count);

  bool Empty() const { return width_ == 0; }
  int Width() const { return width_; }
  int Height() const { return height_; }
  int BitCount() const { return bit_count_; }
  uint32_t Compression() const { return compression_; }
  size_t RowStride() const { return stride_; }

  // Colour table (1, 4 and 8 bits); may hold fewer than 2^bits entries.
  const std::vector<TRgbQuad>& Palette() const { return palette_; }
  // At most 2^bits entries are kept.
  void SetPalette(std::vector<TRgbQuad> palette);

  // Colour masks of 16- and 32-bit images (for BI_RGB the implied 5-5-5 or 8-8-8).
  uint32_t RedMask() const { return masks_[0]; }
  uint32_t GreenMask() const { return masks_[1]; }
  uint32_t BlueMask() const { return masks_[2]; }
  // Switches a 16- or 32-bit image to BI_BITFIELDS with these masks (pixels kept).
  void SetBitFields(uint32_t red, uint32_t green, uint32_t blue);

  int XPelsPerMeter = 0;
  int YPelsPerMeter = 0;

  // Raw pixel value (palette index or packed value); y = 0 is the top row.
  // Coordinates outside the image read 0 and write nothing.
  uint32_t Pixel(int x, int y) const;
  void SetPixel(int x, int y, uint32_t value);
  // The colour of a pixel; for 32-bit BI_RGB images Reserved carries the fourth byte.
  TRgbQuad PixelColor(int x, int y) const;

  const std::vector<uint8_t>& Bits() const { return bits_; }

  // Reads a BMP file image (beginning "BM"). Bytes after the image are ignored.
  static TDib ReadBmp(std::span<const uint8_t> file);
  // Reads a packed DIB: info header, masks, colour table, bits (the clipboard's
  // CF_DIB form). height_divisor 2 reads an icon's colour image (whose header
  // height counts the mask too).
  static TDib ReadPackedDib(std::span<const uint8_t> packed, int height_divisor = 1);
  // The BMP file image: a 40-byte info header, masks for BI_BITFIELDS, the colour
  // table, bottom-up bits.
  std::vector<uint8_t> WriteBmp() const;

  friend bool operator==(const TDib&, const TDib&) = default;

 private:
  friend class TDibReader;  // the BMP and icon readers fill bits_ directly
  void Allocate(int width, int height, int bit_count);
  uint32_t ReadRaw(const uint8_t* row, int x) const;

  int width_ = 0, height_ = 0, bit_count_ = 0;
  uint32_t compression_ = BI_RGB;
  uint32_t masks_[3] = {0, 0, 0};
  size_t stride_ = 0;
  std::vector<TRgbQuad> palette_;
  std::vector<uint8_t> bits_;
};

// --- icons ---------------------------------------------------------------------------

struct TIconEntry {
  int Width = 0, Height = 0;  // 0 in the directory means 256
  int BitCount = 0;
  uint32_t Size = 0, Offset = 0;
  bool Png = false;  // the image is a PNG file image
  friend bool operator==(const TIconEntry&, const TIconEntry&) = default;
};

// An icon file image: the directory and the decoded best image (the largest, then
// the deepest, of the entries that are DIBs), as a 32-bit image whose fourth byte
// is the opacity (from the alpha channel or the AND mask).
struct TIcon {
  std::vector<uint8_t> FileImage;
  std::vector<TIconEntry> Entries;
  TDib Image;  // empty when every entry is a PNG
  int Width() const;
  int Height() const;
  friend bool operator==(const TIcon&, const TIcon&) = default;
};
// Throws EInvalidGraphic(kInvalidIconText) for a bad directory or no readable entry.
TIcon ReadIco(std::span<const uint8_t> file);

// --- metafiles -----------------------------------------------------------------------

// The frame of an enhanced metafile, in 0.01 mm, and its declared size.
struct TEmfHeader {
  int32_t FrameLeft = 0, FrameTop = 0, FrameRight = 0, FrameBottom = 0;
  uint32_t Bytes = 0;  // nBytes: the whole file's size
  uint32_t Records = 0;
};
// The header of an EMF file image: record type 1, signature " EMF" at offset 40,
// sizes consistent with the bytes given; nothing otherwise.
std::optional<TEmfHeader> ReadEmfHeader(std::span<const uint8_t> bytes);

struct TPlaceableWmfHeader {
  int16_t Left = 0, Top = 0, Right = 0, Bottom = 0;
  uint16_t Inch = 0;  // logical units per inch
};
// The 22-byte placeable header (key 0x9AC6CDD7, checksum over its first ten words)
// followed by a plausible metafile header; nothing otherwise.
std::optional<TPlaceableWmfHeader> ReadPlaceableWmfHeader(std::span<const uint8_t> bytes);
// True for a plain Windows metafile header (type 1 or 2, header size 9 words).
bool IsWmfHeader(std::span<const uint8_t> bytes);

// A metafile, always held in enhanced form: a Windows metafile that comes in is
// wrapped into an EMF whose comment record carries it (the form the platform uses,
// EMR_COMMENT_WINDOWS_METAFILE), so that writing gives an EMF file image whatever
// came in. Width and height are the frame in 0.01 mm.
class TMetafile {
 public:
  TMetafile() = default;
  bool Empty() const { return emf_.empty(); }
  int MMWidth() const { return mm_width_; }
  int MMHeight() const { return mm_height_; }
  // The frame in pixels at 96 dots per inch.
  int Width() const;
  int Height() const;
  const std::vector<uint8_t>& EmfBits() const { return emf_; }

  // An EMF file image, or else a placeable WMF; throws EInvalidGraphic otherwise.
  static TMetafile Read(std::span<const uint8_t> bytes);
  static TMetafile FromEmf(std::span<const uint8_t> emf);
  // Windows metafile records (no placeable header) with the frame in 0.01 mm.
  static TMetafile FromWmf(std::span<const uint8_t> wmf, int mm_width, int mm_height);
  // The Windows metafile an EMF made by FromWmf carries; nothing for other EMFs.
  std::optional<std::vector<uint8_t>> EmbeddedWmf() const;

  friend bool operator==(const TMetafile&, const TMetafile&) = default;

 private:
  std::vector<uint8_t> emf_;
  int mm_width_ = 0, mm_height_ = 0;
};

// --- palettes ------------------------------------------------------------------------

struct TPaletteEntry {
  uint8_t Red = 0, Green = 0, Blue = 0, Flags = 0;
  friend bool operator==(const TPaletteEntry&, const TPaletteEntry&) = default;
};
using TLogPalette = std::vector<TPaletteEntry>;

// The RIFF "PAL " file: "RIFF", size, "PAL ", then a "data" chunk holding a
// LOGPALETTE (u16 version 0x300, u16 count, count x {red, green, blue, flags}).
// Other chunks are skipped. Throws EInvalidGraphic(kInvalidPaletteText).
TLogPalette ReadRiffPalette(std::span<const uint8_t> file);
std::vector<uint8_t> WriteRiffPalette(const TLogPalette& palette);

// --- recognition ----------------------------------------------------------------------

enum class TPictureFileType { Unknown, Bmp, Ico, Emf, Wmf, Png, Jpeg, Gif };

// The type of a picture file image by its first bytes: "BM", 00 00 01 00, an EMF
// header, a placeable (or plain) WMF header, the PNG signature, FF D8 FF, "GIF87a"
// or "GIF89a".
TPictureFileType RecognizePictureFile(std::span<const uint8_t> bytes);
// The MIME type of a picture file type ("image/bmp", ...); empty for Unknown.
const char* PictureMimeType(TPictureFileType type);
// The file type a MIME type names; Unknown for others.
TPictureFileType PictureTypeOfMime(std::string_view mime);
// Width and height of a PNG, GIF or JPEG file image from its header; nothing when
// the header cannot be read.
std::optional<std::pair<int, int>> ForeignPictureSize(std::span<const uint8_t> bytes);

}  // namespace qb
