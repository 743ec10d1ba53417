#include "platform/picture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "support/test_support.h"

namespace qb {
namespace {

using Bytes = std::vector<uint8_t>;

void Put16(Bytes& b, uint32_t v) {
  b.push_back(static_cast<uint8_t>(v));
  b.push_back(static_cast<uint8_t>(v >> 8));
}
void Put32(Bytes& b, uint32_t v) {
  Put16(b, v & 0xFFFF);
  Put16(b, v >> 16);
}
void Set32(Bytes& b, size_t at, uint32_t v) {
  for (int k = 0; k < 4; ++k) b[at + k] = static_cast<uint8_t>(v >> (8 * k));
}

// A BMP file image with a 40-byte header; bits as given.
Bytes MakeBmp(int32_t width, int32_t height, int bits, uint32_t compression,
              const std::vector<TRgbQuad>& palette, const Bytes& pixels, uint32_t colours_used = 0) {
  Bytes b = {'B', 'M'};
  const uint32_t offset = 14 + 40 + static_cast<uint32_t>(palette.size()) * 4;
  Put32(b, offset + static_cast<uint32_t>(pixels.size()));
  Put32(b, 0);
  Put32(b, offset);
  Put32(b, 40);
  Put32(b, static_cast<uint32_t>(width));
  Put32(b, static_cast<uint32_t>(height));
  Put16(b, 1);
  Put16(b, static_cast<uint32_t>(bits));
  Put32(b, compression);
  Put32(b, static_cast<uint32_t>(pixels.size()));
  Put32(b, 0), Put32(b, 0);
  Put32(b, colours_used ? colours_used : static_cast<uint32_t>(palette.size()));
  Put32(b, 0);
  for (const TRgbQuad& q : palette) b.insert(b.end(), {q.Blue, q.Green, q.Red, 0});
  b.insert(b.end(), pixels.begin(), pixels.end());
  return b;
}

// Every way a reader may end on damaged input: a good image or EInvalidGraphic.
template <typename Reader>
void ExpectNoCrash(const Bytes& bytes, Reader read) {
  try {
    read(std::span<const uint8_t>(bytes));
  } catch (const EInvalidGraphic&) {
  }
}

TEST(Dib, EveryBitDepthRoundTripsThroughBmp) {
  for (int bits : {1, 4, 8, 16, 24, 32}) {
    TDib dib(7, 3, bits);  // an odd width exercises the row padding
    if (bits <= 8) {
      std::vector<TRgbQuad> palette;
      for (int k = 0; k < (1 << bits); ++k)
        palette.push_back(Rgb(static_cast<uint8_t>(k), 0, static_cast<uint8_t>(255 - k)));
      dib.SetPalette(palette);
    }
    const uint32_t max = bits >= 32 ? 0xFFFFFFFFu : (1u << bits) - 1;
    for (int y = 0; y < 3; ++y)
      for (int x = 0; x < 7; ++x) dib.SetPixel(x, y, static_cast<uint32_t>(x * 37 + y * 101 + 5) & max);
    const Bytes file = dib.WriteBmp();
    ASSERT_EQ(file[0], 'B');
    ASSERT_EQ(file[1], 'M');
    const TDib back = TDib::ReadBmp(file);
    EXPECT_EQ(back, dib) << bits << " bits";
  }
}

TEST(Dib, ColoursComeFromPaletteMasksOrBytes) {
  TDib rgb16(1, 1, 16);
  rgb16.SetPixel(0, 0, 0x7C00);  // 5-5-5: full red
  EXPECT_EQ(rgb16.PixelColor(0, 0), Rgb(255, 0, 0));
  TDib fields(1, 1, 16);
  fields.SetBitFields(0xF800, 0x07E0, 0x001F);  // 5-6-5
  fields.SetPixel(0, 0, 0x07E0);
  EXPECT_EQ(fields.PixelColor(0, 0), Rgb(0, 255, 0));
  const TDib back = TDib::ReadBmp(fields.WriteBmp());
  EXPECT_EQ(back.Compression(), BI_BITFIELDS);
  EXPECT_EQ(back.PixelColor(0, 0), Rgb(0, 255, 0));
  TDib indexed(2, 1, 8);
  indexed.SetPalette({Rgb(1, 2, 3)});
  indexed.SetPixel(1, 0, 200);  // an index beyond the colour table reads black
  EXPECT_EQ(indexed.PixelColor(0, 0), Rgb(1, 2, 3));
  EXPECT_EQ(indexed.PixelColor(1, 0), TRgbQuad{});
}

TEST(Dib, TopDownAndCoreHeadersRead) {
  // Two rows top-down: the first row in the file is the top row.
  const Bytes top_down = MakeBmp(1, -2, 24, BI_RGB, {}, {1, 2, 3, 0, 4, 5, 6, 0});
  const TDib dib = TDib::ReadBmp(top_down);
  EXPECT_EQ(dib.Height(), 2);
  EXPECT_EQ(dib.PixelColor(0, 0), Rgb(3, 2, 1));
  EXPECT_EQ(dib.PixelColor(0, 1), Rgb(6, 5, 4));

  // OS/2 core header: 16-bit sizes, RGBTRIPLE colour table.
  Bytes core = {'B', 'M'};
  Put32(core, 0), Put32(core, 0), Put32(core, 14 + 12 + 6);
  Put32(core, 12), Put16(core, 2), Put16(core, 1), Put16(core, 1), Put16(core, 1);
  core.insert(core.end(), {0, 0, 0, 10, 20, 30});  // black, then blue 10 green 20 red 30
  core.insert(core.end(), {0x40, 0, 0, 0});        // pixels 0 1
  const TDib os2 = TDib::ReadBmp(core);
  EXPECT_EQ(os2.PixelColor(1, 0), Rgb(30, 20, 10));
}

TEST(Dib, RleDecodesRunsAbsoluteRunsDeltasAndLineEnds) {
  // 4 x 3, 8 bits: bottom row "run of 3 x 7, then 9", next row an absolute run of
  // 3 bytes (padded), then the top row: a move two columns right, then value 5.
  const Bytes rle8 = {3, 7, 1, 9, 0, 0, 0, 3, 1, 2, 3, 0, 0, 0, 0, 2, 2, 0, 1, 5, 0, 1};
  std::vector<TRgbQuad> grey;
  for (int k = 0; k < 16; ++k)
    grey.push_back(Rgb(static_cast<uint8_t>(k), static_cast<uint8_t>(k), static_cast<uint8_t>(k)));
  const TDib dib = TDib::ReadBmp(MakeBmp(4, 3, 8, BI_RLE8, grey, rle8));
  EXPECT_EQ(dib.Compression(), BI_RGB);
  const int bottom = 2, middle = 1, top = 0;
  EXPECT_EQ(dib.Pixel(0, bottom), 7u);
  EXPECT_EQ(dib.Pixel(2, bottom), 7u);
  EXPECT_EQ(dib.Pixel(3, bottom), 9u);
  EXPECT_EQ(dib.Pixel(0, middle), 1u);
  EXPECT_EQ(dib.Pixel(2, middle), 3u);
  EXPECT_EQ(dib.Pixel(3, middle), 0u);
  EXPECT_EQ(dib.Pixel(2, top), 5u);
  EXPECT_EQ(dib.Pixel(1, top), 0u);

  // RLE4: a run alternates the two nibbles; an absolute run reads nibbles.
  const Bytes rle4 = {5, 0x12, 0, 3, 0xAB, 0xC0, 0, 1};
  const TDib four = TDib::ReadBmp(MakeBmp(8, 1, 4, BI_RLE4, grey, rle4));
  const uint32_t expected[8] = {1, 2, 1, 2, 1, 0xA, 0xB, 0xC};
  for (int x = 0; x < 8; ++x) EXPECT_EQ(four.Pixel(x, 0), expected[x]) << x;
}

TEST(Dib, RleThatRunsOutsideTheImageIsClipped) {
  // Long runs, huge deltas and a missing end: pixels outside are dropped.
  const Bytes rle8 = {255, 1, 255, 2, 0, 2, 255, 255, 200, 3, 0, 200, 1, 2};
  const TDib dib = TDib::ReadBmp(MakeBmp(2, 2, 8, BI_RLE8, {Rgb(0, 0, 0)}, rle8));
  EXPECT_EQ(dib.Pixel(0, 1), 1u);
  EXPECT_EQ(dib.Pixel(1, 1), 1u);
  EXPECT_EQ(dib.Pixel(0, 0), 0u);
}

// A picture's size is bounded by what its bytes can make: an RLE stream skips
// pixels for free, so a few bytes declaring a huge picture are refused, while a
// stream that really encodes every row of a big one is read. And no picture may
// have more pixels than a display can take in 32-bit colour.
TEST(Dib, PictureSizeIsBoundedByItsBytes) {
  // 60 bytes declaring 16384 x 16383 pixels (256 MiB of 8-bit bits): end of bitmap.
  const Bytes bomb8 = MakeBmp(16384, 16383, 8, BI_RLE8, {Rgb(0, 0, 0)}, {0, 1});
  EXPECT_LE(bomb8.size(), 60u);
  EXPECT_THROW(TDib::ReadBmp(bomb8), EInvalidGraphic);
  EXPECT_THROW(TDib::ReadBmp(MakeBmp(16384, 16383, 4, BI_RLE4, {Rgb(0, 0, 0)}, {0, 0, 0, 2, 255, 255})),
               EInvalidGraphic);
  // Small pictures may be skipped over as the stream likes.
  EXPECT_EQ(TDib::ReadBmp(MakeBmp(2048, 2048, 8, BI_RLE8, {Rgb(0, 0, 0)}, {0, 1})).Width(), 2048);

  // 2048 x 4096 in RLE8 as an encoder writes it: each row as runs, then an end of line.
  Bytes rows;
  for (int y = 0; y < 4096; ++y) {
    for (int x = 0; x < 2048; x += 255)
      rows.insert(rows.end(), {static_cast<uint8_t>(std::min(255, 2048 - x)), 7});
    rows.insert(rows.end(), {0, 0});
  }
  const TDib big = TDib::ReadBmp(MakeBmp(2048, 4096, 8, BI_RLE8, {Rgb(0, 0, 0)}, rows));
  EXPECT_EQ(big.Pixel(2047, 0), 7u);
  EXPECT_EQ(big.Pixel(0, 4095), 7u);

  // Uncompressed bits are all in the file, but 16384 x 8192 pixels are too many
  // even at 1 bit each (16 MiB of bits, 512 MiB in 32-bit colour).
  Bytes header = MakeBmp(16384, 8192, 1, BI_RGB, {Rgb(0, 0, 0), Rgb(255, 255, 255)}, {});
  header.resize(header.size() + 16384 / 8 * 8192);
  EXPECT_THROW(TDib::ReadBmp(header), EInvalidGraphic);
  EXPECT_THROW(TDib(16384, 8192, 1), EInvalidGraphic);
  EXPECT_EQ(TDib(8192, 8192, 1).Height(), 8192);
}

TEST(Dib, DamagedHeadersAreRefused) {
  const Bytes good = TDib(3, 2, 24).WriteBmp();
  auto refused = [](Bytes b) { EXPECT_THROW(TDib::ReadBmp(b), EInvalidGraphic); };
  Bytes b = good;
  Set32(b, 18, 0);  // width 0
  refused(b);
  b = good;
  Set32(b, 22, 0x80000000u);  // height INT_MIN
  refused(b);
  b = good;
  Set32(b, 18, 100000), Set32(b, 22, 100000);  // 30 GB of pixels claimed by 36 bytes
  refused(b);
  b = good;
  Set32(b, 14, 2000000000);  // header size far beyond the file
  refused(b);
  b = good;
  b[28] = 12;  // 12 bits per pixel
  refused(b);
  b = good;
  Set32(b, 30, BI_RLE8);  // RLE8 with 24 bits
  refused(b);
  b = good;
  b.resize(b.size() - 4);  // the pixels cut short
  refused(b);
  // A colour count of four billion: the table cannot be in the file.
  refused(MakeBmp(1, 1, 8, BI_RGB, {Rgb(1, 1, 1)}, {0, 0, 0, 0}, 0xFFFFFFFFu));
  EXPECT_THROW(TDib(0, 1, 8), EInvalidGraphic);
  EXPECT_THROW(TDib(1, 1, 7), EInvalidGraphic);
}

TEST(Dib, AnOffsetOutsideTheFileFallsBackToTheColourTable) {
  Bytes b = TDib(2, 2, 8).WriteBmp();
  Set32(b, 10, 0xFFFFFFF0u);
  EXPECT_NO_THROW(TDib::ReadBmp(b));
}

TEST(Dib, EveryTruncationAndRandomDamageEndsCleanly) {
  TDib dib(5, 4, 8);
  dib.SetPixel(2, 2, 3);
  const Bytes good = dib.WriteBmp();
  for (size_t n = 0; n <= good.size(); ++n)
    ExpectNoCrash(Bytes(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(n)),
                  [](std::span<const uint8_t> s) { TDib::ReadBmp(s); });
  const Bytes rle = MakeBmp(16, 16, 8, BI_RLE8, {Rgb(0, 0, 0)}, {});
  for (uint64_t seed = 1; seed <= 300; ++seed) {
    Bytes b = seed % 2 ? good : rle;
    const Bytes noise = qbtest::RandomBytes(64, seed);
    // Damage the header and bits, or append random RLE codes.
    for (size_t k = 0; k < 6; ++k) b[14 + (noise[k] % (b.size() - 14))] = noise[k + 6];
    if (!(seed % 2)) b.insert(b.end(), noise.begin(), noise.end());
    ExpectNoCrash(b, [](std::span<const uint8_t> s) { TDib::ReadBmp(s); });
  }
}

// --- icons --------------------------------------------------------------------------

// An icon entry image: 32-bit or 4-bit colour bits and a 1-bit AND mask.
Bytes IconImage(int size, int bits, bool with_alpha) {
  Bytes b;
  Put32(b, 40), Put32(b, static_cast<uint32_t>(size)), Put32(b, static_cast<uint32_t>(size * 2));
  Put16(b, 1), Put16(b, static_cast<uint32_t>(bits));
  for (int k = 0; k < 6; ++k) Put32(b, 0);
  if (bits == 4)
    for (int k = 0; k < 16; ++k) b.insert(b.end(), {static_cast<uint8_t>(k * 16), 0, 0, 0});
  const size_t stride = (static_cast<size_t>(size) * bits + 31) / 32 * 4;
  for (int y = 0; y < size; ++y)
    for (size_t x = 0; x < stride; ++x)
      b.push_back(bits == 32 ? (x % 4 == 3 ? (with_alpha ? 0x80 : 0) : 0x40) : 0x11);
  const size_t mask_stride = (static_cast<size_t>(size) + 31) / 32 * 4;
  for (int y = 0; y < size; ++y)
    for (size_t x = 0; x < mask_stride; ++x)
      b.push_back(y == 0 && x == 0 ? 0x80 : 0);  // bottom-left transparent
  return b;
}

Bytes MakeIco(const std::vector<std::pair<int, Bytes>>& images) {
  Bytes b;
  Put16(b, 0), Put16(b, 1), Put16(b, static_cast<uint32_t>(images.size()));
  uint32_t offset = 6 + 16 * static_cast<uint32_t>(images.size());
  for (const auto& [size, image] : images) {
    b.push_back(static_cast<uint8_t>(size)), b.push_back(static_cast<uint8_t>(size)), b.push_back(0),
        b.push_back(0);
    Put16(b, 1), Put16(b, 32), Put32(b, static_cast<uint32_t>(image.size())), Put32(b, offset);
    offset += static_cast<uint32_t>(image.size());
  }
  for (const auto& entry : images) b.insert(b.end(), entry.second.begin(), entry.second.end());
  return b;
}

TEST(Icon, TheLargestImageIsDecodedWithItsMask) {
  const Bytes ico = MakeIco({{16, IconImage(16, 4, false)}, {32, IconImage(32, 32, false)}});
  const TIcon icon = ReadIco(ico);
  ASSERT_EQ(icon.Entries.size(), 2u);
  EXPECT_EQ(icon.Width(), 32);
  EXPECT_EQ(icon.Image.PixelColor(0, 31).Reserved, 0);    // masked: transparent
  EXPECT_EQ(icon.Image.PixelColor(1, 31).Reserved, 255);  // opaque
  EXPECT_EQ(icon.Image.PixelColor(1, 31).Red, 0x40);
  // With an alpha channel the alpha wins over the mask.
  const TIcon alpha = ReadIco(MakeIco({{8, IconImage(8, 32, true)}}));
  EXPECT_EQ(alpha.Image.PixelColor(0, 7).Reserved, 0x80);
  EXPECT_EQ(icon.FileImage, ico);
}

// An icon whose only image is a short RLE stream declaring a huge picture.
TEST(Icon, AnRleImageDeclaringAHugePictureIsRefused) {
  Bytes image;
  Put32(image, 40), Put32(image, 8192), Put32(image, 2 * 8192);  // 64 MiB, and 256 MiB in 32 bits
  Put16(image, 1), Put16(image, 8), Put32(image, BI_RLE8);
  for (int k = 0; k < 5; ++k) Put32(image, 0);
  image.insert(image.end(), 4 * 256, 0);
  image.insert(image.end(), {0, 1});
  EXPECT_THROW(ReadIco(MakeIco({{0, image}})), EInvalidGraphic);
}

TEST(Icon, EntriesOutsideTheFileArePassedOverAndBadFilesRefused) {
  Bytes ico = MakeIco({{16, IconImage(16, 4, false)}, {32, IconImage(32, 32, false)}});
  Set32(ico, 6 + 16 + 12, 0xFFFFFF00u);  // the 32 x 32 entry points far away
  EXPECT_EQ(ReadIco(ico).Width(), 16);
  Set32(ico, 6 + 12, 0xFFFFFF00u);
  EXPECT_THROW(ReadIco(ico), EInvalidGraphic);
  EXPECT_THROW(ReadIco(Bytes{0, 0, 1, 0, 0, 0}), EInvalidGraphic);  // no entries
  Bytes many = {0, 0, 1, 0, 0xFF, 0xFF};                            // 65535 entries claimed
  EXPECT_THROW(ReadIco(many), EInvalidGraphic);
  const Bytes good = MakeIco({{16, IconImage(16, 4, false)}});
  for (size_t n = 0; n <= good.size(); ++n)
    ExpectNoCrash(Bytes(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(n)),
                  [](std::span<const uint8_t> s) { ReadIco(s); });
}

// --- metafiles -------------------------------------------------------------------------

Bytes MakeEmf(int32_t frame_right, int32_t frame_bottom) {
  Bytes b;
  Put32(b, 1), Put32(b, 88);
  for (int k = 0; k < 4; ++k) Put32(b, 0);  // bounds
  Put32(b, 0), Put32(b, 0), Put32(b, static_cast<uint32_t>(frame_right)),
      Put32(b, static_cast<uint32_t>(frame_bottom));
  Put32(b, 0x464D4520), Put32(b, 0x10000), Put32(b, 0), Put32(b, 2);  // signature, version, bytes, records
  while (b.size() < 88) b.push_back(0);
  Put32(b, 14), Put32(b, 20), Put32(b, 0), Put32(b, 16), Put32(b, 20);  // EMR_EOF
  Set32(b, 48, static_cast<uint32_t>(b.size()));
  return b;
}

Bytes MakePlaceableWmf(int16_t right, int16_t bottom, uint16_t inch) {
  Bytes b;
  Put32(b, 0x9AC6CDD7), Put16(b, 0), Put16(b, 0), Put16(b, 0);
  Put16(b, static_cast<uint16_t>(right)), Put16(b, static_cast<uint16_t>(bottom)), Put16(b, inch),
      Put32(b, 0);
  uint16_t sum = 0;
  for (size_t k = 0; k < 10; ++k) sum ^= static_cast<uint16_t>(b[2 * k] | b[2 * k + 1] << 8);
  Put16(b, sum);
  // Metafile header (9 words) and the end record (3 words).
  Put16(b, 1), Put16(b, 9), Put16(b, 0x300), Put32(b, 12), Put16(b, 0), Put32(b, 3), Put16(b, 0);
  Put32(b, 3), Put16(b, 0);
  return b;
}

TEST(Metafile, EmfHeaderGivesTheFrameAndSlackIsDropped) {
  Bytes emf = MakeEmf(2540, 1270);  // 2.54 cm x 1.27 cm: 96 x 48 pixels
  const size_t size = emf.size();
  emf.resize(size + 13, 0xEE);  // a clipboard block's slack
  const TMetafile m = TMetafile::Read(emf);
  EXPECT_EQ(m.MMWidth(), 2540);
  EXPECT_EQ(m.Width(), 96);
  EXPECT_EQ(m.Height(), 48);
  EXPECT_EQ(m.EmfBits().size(), size);
  EXPECT_EQ(RecognizePictureFile(emf), TPictureFileType::Emf);
}

TEST(Metafile, BrokenEmfsAreRefused) {
  const Bytes good = MakeEmf(100, 100);
  Bytes b = good;
  Set32(b, 48, 1000);  // claims more bytes than there are
  EXPECT_THROW(TMetafile::Read(b), EInvalidGraphic);
  b = good;
  Set32(b, 92, 0);  // a record of size 0 would never end the walk
  EXPECT_THROW(TMetafile::Read(b), EInvalidGraphic);
  b = good;
  Set32(b, 88, 70);  // the last record is no end-of-file record
  EXPECT_THROW(TMetafile::Read(b), EInvalidGraphic);
  for (size_t n = 0; n < good.size(); ++n)
    EXPECT_THROW(TMetafile::Read(std::span<const uint8_t>(good.data(), n)), EInvalidGraphic) << n;
}

TEST(Metafile, PlaceableWmfIsHeldAsAnEmfThatCarriesIt) {
  const Bytes wmf = MakePlaceableWmf(1440, 720, 1440);  // one inch by half an inch
  ASSERT_TRUE(ReadPlaceableWmfHeader(wmf).has_value());
  EXPECT_EQ(RecognizePictureFile(wmf), TPictureFileType::Wmf);
  const TMetafile m = TMetafile::Read(wmf);
  EXPECT_EQ(m.MMWidth(), 2540);
  EXPECT_EQ(m.MMHeight(), 1270);
  ASSERT_TRUE(ReadEmfHeader(m.EmfBits()).has_value());
  const auto embedded = m.EmbeddedWmf();
  ASSERT_TRUE(embedded.has_value());
  EXPECT_EQ(*embedded, Bytes(wmf.begin() + 22, wmf.end()));
  // The EMF it became reads back as itself.
  EXPECT_EQ(TMetafile::Read(m.EmfBits()), m);

  Bytes bad = wmf;
  bad[20] ^= 1;  // checksum
  EXPECT_FALSE(ReadPlaceableWmfHeader(bad).has_value());
  EXPECT_THROW(TMetafile::Read(bad), EInvalidGraphic);
  bad = wmf;
  bad[14] = bad[15] = 0;  // zero units per inch (checksum fixed below)
  uint16_t sum = 0;
  for (size_t k = 0; k < 10; ++k) sum ^= static_cast<uint16_t>(bad[2 * k] | bad[2 * k + 1] << 8);
  bad[20] = static_cast<uint8_t>(sum), bad[21] = static_cast<uint8_t>(sum >> 8);
  EXPECT_THROW(TMetafile::Read(bad), EInvalidGraphic);
}

// --- palettes and recognition -------------------------------------------------------------

TEST(Palette, RiffPaletteRoundTripsAndDamageIsRefused) {
  const TLogPalette palette = {{1, 2, 3, 0}, {255, 128, 0, 4}};
  const Bytes file = WriteRiffPalette(palette);
  EXPECT_EQ(std::string(file.begin(), file.begin() + 4), "RIFF");
  EXPECT_EQ(std::string(file.begin() + 8, file.begin() + 12), "PAL ");
  EXPECT_EQ(ReadRiffPalette(file), palette);
  EXPECT_TRUE(ReadRiffPalette(WriteRiffPalette({})).empty());
  Bytes b = file;
  b[22] = 0xFF;  // count 255 in a chunk of two entries
  EXPECT_THROW(ReadRiffPalette(b), EInvalidGraphic);
  b = file;
  Set32(b, 16, 0xFFFFFFF0u);  // chunk size beyond the file
  EXPECT_THROW(ReadRiffPalette(b), EInvalidGraphic);
  for (size_t n = 0; n < file.size(); ++n)
    EXPECT_THROW(ReadRiffPalette(std::span<const uint8_t>(file.data(), n)), EInvalidGraphic) << n;
}

TEST(Recognition, SignaturesNameTheirTypes) {
  auto type = [](std::initializer_list<uint8_t> b) { return RecognizePictureFile(Bytes(b)); };
  EXPECT_EQ(RecognizePictureFile(TDib(1, 1, 24).WriteBmp()), TPictureFileType::Bmp);
  EXPECT_EQ(type({0, 0, 1, 0, 1, 0}), TPictureFileType::Ico);
  EXPECT_EQ(type({0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A}), TPictureFileType::Png);
  EXPECT_EQ(type({0xFF, 0xD8, 0xFF, 0xE0}), TPictureFileType::Jpeg);
  EXPECT_EQ(type({'G', 'I', 'F', '8', '9', 'a'}), TPictureFileType::Gif);
  EXPECT_EQ(type({'G', 'I', 'F', '8', '8', 'a'}), TPictureFileType::Unknown);
  EXPECT_EQ(type({}), TPictureFileType::Unknown);
  EXPECT_EQ(type({0x89, 'P', 'N'}), TPictureFileType::Unknown);
  EXPECT_EQ(PictureTypeOfMime("IMAGE/PNG"), TPictureFileType::Png);
  EXPECT_EQ(PictureTypeOfMime("text/plain"), TPictureFileType::Unknown);
}

TEST(Recognition, ForeignPictureSizesComeFromTheirHeaders) {
  Bytes png = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 0, 0, 0, 13,
               'I',  'H', 'D', 'R', 0,    0,    1,    0,    0, 0, 0, 200};
  EXPECT_EQ(ForeignPictureSize(png), (std::pair<int, int>(256, 200)));
  const Bytes gif = {'G', 'I', 'F', '8', '9', 'a', 10, 0, 20, 0};
  EXPECT_EQ(ForeignPictureSize(gif), (std::pair<int, int>(10, 20)));
  // JPEG: an APP0 segment, then a baseline frame of 48 x 32.
  const Bytes jpeg = {0xFF, 0xD8, 0xFF, 0xE0, 0, 4, 0, 0, 0xFF, 0xC0, 0, 11, 8, 0, 32, 0, 48, 1, 1, 0x11, 0};
  EXPECT_EQ(ForeignPictureSize(jpeg), (std::pair<int, int>(48, 32)));
  // A segment length that points past the end, and a zero length, end the walk.
  const Bytes jpeg_bad = {0xFF, 0xD8, 0xFF, 0xE0, 0xFF, 0xFF, 0, 0};
  EXPECT_FALSE(ForeignPictureSize(jpeg_bad).has_value());
  const Bytes jpeg_zero = {0xFF, 0xD8, 0xFF, 0xE0, 0, 0, 0, 0};
  EXPECT_FALSE(ForeignPictureSize(jpeg_zero).has_value());
}

}  // namespace
}  // namespace qb
