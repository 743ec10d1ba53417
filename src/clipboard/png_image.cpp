#include "clipboard/png_image.h"

#include <algorithm>
#include <cstring>

#include "zip/crc32.h"
#include "zip/deflate.h"

namespace qb {

namespace {

void PutU32(std::vector<uint8_t>& out, uint32_t v) {
  out.push_back(static_cast<uint8_t>(v >> 24));
  out.push_back(static_cast<uint8_t>(v >> 16));
  out.push_back(static_cast<uint8_t>(v >> 8));
  out.push_back(static_cast<uint8_t>(v));
}

void PutChunk(std::vector<uint8_t>& out, const char (&type)[5], const uint8_t* data, size_t size) {
  PutU32(out, static_cast<uint32_t>(size));
  const size_t at = out.size();
  out.insert(out.end(), type, type + 4);
  if (size) out.insert(out.end(), data, data + size);
  PutU32(out, zip::Crc32(0, out.data() + at, size + 4));
}

// Row y (0 = top) of the bitmap as RGB bytes.
void RgbRow(const TDib& dib, int y, uint8_t* out) {
  const int w = dib.Width();
  const uint8_t* row = dib.Bits().data() + static_cast<size_t>(dib.Height() - 1 - y) * dib.RowStride();
  if (dib.BitCount() == 24) {
    for (int x = 0; x < w; ++x, row += 3, out += 3) out[0] = row[2], out[1] = row[1], out[2] = row[0];
  } else if (dib.BitCount() == 32 && dib.Compression() == BI_RGB) {
    for (int x = 0; x < w; ++x, row += 4, out += 3) out[0] = row[2], out[1] = row[1], out[2] = row[0];
  } else {
    for (int x = 0; x < w; ++x, out += 3) {
      const TRgbQuad c = dib.PixelColor(x, y);
      out[0] = c.Red, out[1] = c.Green, out[2] = c.Blue;
    }
  }
}

}  // namespace

uint32_t Adler32(uint32_t adler, const uint8_t* data, size_t len) {
  constexpr uint32_t kBase = 65521;
  constexpr size_t kMaxRun = 5552;  // the longest run whose sums cannot overflow 32 bits
  uint32_t a = adler & 0xFFFF, b = adler >> 16;
  while (len > 0) {
    const size_t run = std::min(len, kMaxRun);
    for (size_t i = 0; i < run; ++i) {
      a += data[i];
      b += a;
    }
    a %= kBase;
    b %= kBase;
    data += run;
    len -= run;
  }
  return (b << 16) | a;
}

std::vector<uint8_t> EncodePng(const TDib& dib, int level) {
  if (dib.Empty()) return {};
  const auto w = static_cast<size_t>(dib.Width());
  const auto h = static_cast<size_t>(dib.Height());
  const size_t row_bytes = 3 * w;
  // The filtered rows: a filter type byte (2, "Up") before each row.
  std::vector<uint8_t> filtered((row_bytes + 1) * h);
  std::vector<uint8_t> above(row_bytes, 0), current(row_bytes);
  for (size_t y = 0; y < h; ++y) {
    RgbRow(dib, static_cast<int>(y), current.data());
    uint8_t* out = filtered.data() + y * (row_bytes + 1);
    out[0] = 2;
    for (size_t i = 0; i < row_bytes; ++i) out[1 + i] = static_cast<uint8_t>(current[i] - above[i]);
    above.swap(current);
  }

  std::vector<uint8_t> stream{0x78, 0x01};  // zlib header: Deflate, 32 KB window, fastest
  zip::DeflateOutput deflated = zip::Deflate(filtered.data(), filtered.size(), level);
  if (deflated.stored_whole) {
    // Stored blocks of at most 65 535 bytes, the last one final.
    size_t done = 0;
    do {
      const size_t piece = std::min<size_t>(65535, filtered.size() - done);
      const bool last = done + piece == filtered.size();
      stream.push_back(last ? 1 : 0);
      stream.push_back(static_cast<uint8_t>(piece));
      stream.push_back(static_cast<uint8_t>(piece >> 8));
      stream.push_back(static_cast<uint8_t>(~piece));
      stream.push_back(static_cast<uint8_t>(~piece >> 8));
      stream.insert(stream.end(), filtered.begin() + static_cast<std::ptrdiff_t>(done),
                    filtered.begin() + static_cast<std::ptrdiff_t>(done + piece));
      done += piece;
    } while (done < filtered.size());
  } else {
    stream.insert(stream.end(), deflated.data.begin(), deflated.data.end());
  }
  PutU32(stream, Adler32(1, filtered.data(), filtered.size()));

  std::vector<uint8_t> png{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  png.reserve(png.size() + stream.size() + stream.size() / kPngIdatChunk * 12 + 64);
  std::vector<uint8_t> header;
  PutU32(header, static_cast<uint32_t>(w));
  PutU32(header, static_cast<uint32_t>(h));
  header.insert(header.end(), {8, 2, 0, 0, 0});  // depth 8, truecolour, deflate, filter 0, no interlace
  PutChunk(png, "IHDR", header.data(), header.size());
  for (size_t at = 0; at < stream.size(); at += kPngIdatChunk)
    PutChunk(png, "IDAT", stream.data() + at, std::min(kPngIdatChunk, stream.size() - at));
  PutChunk(png, "IEND", nullptr, 0);
  return png;
}

}  // namespace qb
