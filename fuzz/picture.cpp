// The picture readers on any bytes: BMP files and packed DIBs (with RLE), icons,
// EMF and placeable WMF metafiles, RIFF palettes, foreign picture headers; then the
// payload roads that decode an item for the clipboard and for the viewer, and the
// editor's lines of a text item. What a reader accepts must come out of its writer
// unchanged, a decoded picture stays within the size limits, a payload put on the
// clipboard comes back the same, and a text saved from the editor unchanged keeps
// its lines (and its bytes, when they were already as the editor writes them).
#include "platform/picture.h"

#include <vector>

#include "clipboard/clip_formats.h"
#include "clipboard/payload.h"
#include "clipboard/text_payload.h"
#include "fuzz_support.h"
#include "panes/viewer_pane.h"
#include "platform/clipboard.h"
#include "platform/codepage.h"
#include "platform/memory_stream.h"

using namespace qb;

namespace {

void CheckSize(const TDib& dib) {
  QB_FUZZ_CHECK(static_cast<uint64_t>(dib.Width()) * static_cast<uint64_t>(dib.Height()) <= kMaxDibPixels);
  QB_FUZZ_CHECK(dib.Bits().size() <= kMaxDibBytes);
}

void Readers(std::span<const uint8_t> bytes) {
  RecognizePictureFile(bytes);
  ForeignPictureSize(bytes);
  try {
    const TDib dib = TDib::ReadBmp(bytes);
    CheckSize(dib);
    QB_FUZZ_CHECK(TDib::ReadBmp(dib.WriteBmp()) == dib);
  } catch (const EInvalidGraphic&) {
  }
  for (int divisor : {1, 2}) {
    try {
      CheckSize(TDib::ReadPackedDib(bytes, divisor));
    } catch (const EInvalidGraphic&) {
    }
  }
  try {
    const TIcon icon = ReadIco(bytes);
    if (!icon.Image.Empty()) CheckSize(icon.Image);
  } catch (const EInvalidGraphic&) {
  }
  try {
    const TMetafile metafile = TMetafile::Read(bytes);
    QB_FUZZ_CHECK(TMetafile::Read(metafile.EmfBits()) == metafile);
    metafile.EmbeddedWmf();
  } catch (const EInvalidGraphic&) {
  }
  try {
    const TLogPalette palette = ReadRiffPalette(bytes);
    QB_FUZZ_CHECK(ReadRiffPalette(WriteRiffPalette(palette)) == palette);
  } catch (const EInvalidGraphic&) {
  }
}

// The payload roads, with the clipboard format the bytes look like.
void Payloads(std::span<const uint8_t> bytes) {
  static const std::string temp_file = qbfuzz::ScratchFolder() + "/[@@]";
  TMemoryClipboard clipboard;
  uint32_t format = DelphiPictureFormat(clipboard);
  switch (RecognizePictureFile(bytes)) {
    case TPictureFileType::Bmp:
      format = CF_BITMAP;
      break;
    case TPictureFileType::Emf:
      format = CF_ENHMETAFILE;
      break;
    case TPictureFileType::Wmf:
      format = CF_METAFILEPICT;
      break;
    default:
      if (bytes.size() >= 4 && bytes[0] == 'R' && bytes[1] == 'I') format = CF_PALETTE;
      if (bytes.size() >= 1 && bytes[0] < 0x20) format = bytes[0] & 1 ? CF_TEXT : CF_OEMTEXT;
  }
  TMemoryStream payload(std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
  try {
    TViewerForm pane;
    DecodePayloadForView(clipboard, format, payload, temp_file, pane);
  } catch (const Exception&) {
  }
  payload.SetPosition(0);
  try {
    if (DecodePayloadToClipboard(clipboard, format, payload, temp_file) != TPayloadResult::Done) return;
  } catch (const Exception&) {
    return;
  }
  if (format != CF_BITMAP) return;
  // A bitmap saved from the clipboard again reads as the bitmap that was put there.
  TMemoryStream saved;
  QB_FUZZ_CHECK(EncodePayload(clipboard, CF_BITMAP, saved, temp_file) == TPayloadResult::Done);
  QB_FUZZ_CHECK(TDib::ReadBmp(saved.View()) == TDib::ReadBmp(bytes));
}

// The editor's lines of a text (1) or OEM text (7) payload, saved unchanged.
void TextLines(std::string_view payload, long long format) {
  const std::vector<std::string> lines = TextPayloadLines(payload, format);
  const TTextLayout layout = TextPayloadLayout(payload);
  const std::string saved = TextPayloadFromLines(lines, format, layout);
  QB_FUZZ_CHECK(TextPayloadLines(saved, format) == lines);
  if (!lines.empty()) QB_FUZZ_CHECK(TextPayloadLayout(saved) == layout);
  // A text with one kind of line break, in its own code page, comes back byte for byte.
  const std::string_view text = payload.substr(0, payload.find('\0'));
  bool crlf = false, cr = false, lf = false;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
      crlf = true;
      ++i;
    } else if (text[i] == '\r') {
      cr = true;
    } else if (text[i] == '\n') {
      lf = true;
    }
  }
  if (crlf + cr + lf <= 1 && (format == CF_OEMTEXT || codepage::IsValidUtf8(text)))
    QB_FUZZ_CHECK(saved == text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::span<const uint8_t> bytes(data, size);
  Readers(bytes);
  Payloads(bytes);
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  TextLines(text, CF_TEXT);
  TextLines(text, CF_OEMTEXT);
  return 0;
}
