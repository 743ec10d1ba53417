// Metafiles: the EMF and WMF headers, and TMetafile.
#include <algorithm>
#include <climits>

#include "platform/picture.h"
#include "platform/picture_bytes.h"

namespace qb {

using namespace picture_bytes;

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

}  // namespace qb
