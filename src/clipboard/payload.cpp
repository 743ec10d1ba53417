#include "clipboard/payload.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "clipboard/clip_formats.h"
#include "clipboard/text_payload.h"
#include "platform/codepage.h"

namespace qb {

namespace fs = std::filesystem;

namespace {

// --- the temporary picture file ------------------------------------------------------

bool WriteTempFile(const std::string& path, std::span<const uint8_t> bytes) {
  std::error_code ec;
  const fs::path parent = fs::path(path).parent_path();
  if (!parent.empty()) fs::create_directories(parent, ec);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) return false;
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  out.close();
  return static_cast<bool>(out);
}

std::optional<std::vector<uint8_t>> ReadTempFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) return std::nullopt;
  return bytes;
}

void DeleteTempFile(const std::string& path) {
  std::error_code ec;
  fs::remove(path, ec);
}

// Deletes the temporary file on every way out of a save or load.
class TTempFileGuard {
 public:
  explicit TTempFileGuard(const std::string& path) : path_(path) {}
  ~TTempFileGuard() { DeleteTempFile(path_); }
  TTempFileGuard(const TTempFileGuard&) = delete;
  TTempFileGuard& operator=(const TTempFileGuard&) = delete;

 private:
  const std::string& path_;
};

void Append(TMemoryStream& stream, std::span<const uint8_t> bytes) {
  if (!bytes.empty() && stream.Write(bytes.data(), bytes.size()) != bytes.size())
    throw Exception("The payload could not be written to memory");
}

}  // namespace

void ClipboardFormatToStream(IClipboard& clipboard, uint32_t format, TMemoryStream& stream) {
  std::optional<std::vector<uint8_t>> block;
  {
    TClipboardLock lock(clipboard);
    block = clipboard.GetBlock(format);
  }
  if (block) Append(stream, *block);
}

bool StreamToClipboardFormat(IClipboard& clipboard, uint32_t format, TMemoryStream& stream, size_t size) {
  const size_t left = stream.Position() < stream.Size() ? stream.Size() - stream.Position() : 0;
  std::vector<uint8_t> block(std::min(size, left));
  if (!block.empty()) block.resize(stream.Read(block.data(), block.size()));
  TClipboardLock lock(clipboard);
  return clipboard.SetBlock(format, std::move(block));
}

TPayloadResult EncodePayload(IClipboard& clipboard, uint32_t format, TMemoryStream& stream,
                             const std::string& temp_picture_file) {
  if (format == CF_BITMAP || format == CF_METAFILEPICT || format == CF_ENHMETAFILE || format == CF_PALETTE) {
    std::vector<uint8_t> bytes;
    {
      TClipboardLock lock(clipboard);
      if (format == CF_BITMAP) {
        bytes = BitmapFromClipboard(clipboard).WriteBmp();
      } else if (format == CF_PALETTE) {
        std::optional<TLogPalette> palette = clipboard.GetPalette();
        if (!palette) throw EClipboardError(kInvalidClipboardFormatText);
        bytes = WriteRiffPalette(*palette);
      } else {
        bytes = MetafileFromClipboard(clipboard).EmfBits();
      }
    }
    Append(stream, bytes);
    return TPayloadResult::Done;
  }
  if (format == DelphiPictureFormat(clipboard)) {
    TPicture picture;
    {
      TClipboardLock lock(clipboard);
      picture = PictureFromClipboard(clipboard);
    }
    TTempFileGuard guard(temp_picture_file);
    if (!WriteTempFile(temp_picture_file, picture.SaveToFileImage())) return TPayloadResult::TempFileError;
    const std::optional<std::vector<uint8_t>> bytes = ReadTempFile(temp_picture_file);
    if (!bytes) return TPayloadResult::TempFileError;
    Append(stream, *bytes);
    return TPayloadResult::Done;
  }
  ClipboardFormatToStream(clipboard, format, stream);
  return TPayloadResult::Done;
}

TPayloadResult DecodePayloadToClipboard(IClipboard& clipboard, uint32_t format, TMemoryStream& stream,
                                        const std::string& temp_picture_file, bool empty_first) {
  const std::span<const uint8_t> payload = stream.View();
  TPicture picture;
  if (format == CF_BITMAP) {
    picture.SetBitmap(TDib::ReadBmp(payload));
  } else if (format == CF_METAFILEPICT || format == CF_ENHMETAFILE) {
    picture.SetMetafile(TMetafile::Read(payload));
  } else if (format == DelphiPictureFormat(clipboard)) {
    TTempFileGuard guard(temp_picture_file);
    if (!WriteTempFile(temp_picture_file, payload)) return TPayloadResult::TempFileError;
    const std::optional<std::vector<uint8_t>> bytes = ReadTempFile(temp_picture_file);
    if (!bytes) return TPayloadResult::TempFileError;
    picture.LoadFromFileImage(*bytes);
  } else if (format == CF_PALETTE) {
    TLogPalette palette = ReadRiffPalette(payload);
    TClipboardLock lock(clipboard);
    if (empty_first) clipboard.Empty();
    clipboard.SetPalette(std::move(palette));
    return TPayloadResult::Done;
  } else {
    if (format == 0) return TPayloadResult::Refused;
    stream.SetPosition(0);
    if (empty_first) {
      TClipboardLock lock(clipboard);
      std::vector<uint8_t> block(payload.begin(), payload.end());
      clipboard.Empty();
      return clipboard.SetBlock(format, std::move(block)) ? TPayloadResult::Done : TPayloadResult::Refused;
    }
    return StreamToClipboardFormat(clipboard, format, stream, stream.Size()) ? TPayloadResult::Done
                                                                             : TPayloadResult::Refused;
  }
  TClipboardLock lock(clipboard);
  PictureToClipboard(picture, clipboard);
  return TPayloadResult::Done;
}

TPayloadResult DecodePayloadForView(const IClipboard& clipboard, uint32_t format, TMemoryStream& stream,
                                    const std::string& temp_picture_file, TViewerForm& pane) {
  const std::span<const uint8_t> payload = stream.View();
  TPicture picture;
  if (format == CF_BITMAP) {
    picture.SetBitmap(TDib::ReadBmp(payload));
  } else if (format == CF_METAFILEPICT || format == CF_ENHMETAFILE) {
    picture.SetMetafile(TMetafile::Read(payload));
  } else if (format == DelphiPictureFormat(clipboard)) {
    // The file stays behind for the pane; the next save or load replaces it.
    if (!WriteTempFile(temp_picture_file, payload)) return TPayloadResult::TempFileError;
    const std::optional<std::vector<uint8_t>> bytes = ReadTempFile(temp_picture_file);
    if (!bytes) return TPayloadResult::TempFileError;
    picture.LoadFromFileImage(*bytes);
  } else if (format == CF_TEXT || format == CF_OEMTEXT) {
    const std::string_view bytes(reinterpret_cast<const char*>(payload.data()), payload.size());
    std::string text;
    const std::vector<std::string> lines = TextPayloadLines(bytes, format);
    for (size_t k = 0; k < lines.size(); ++k) {
      if (k > 0) text += "\r\n";
      text += lines[k];
    }
    pane.ShowEmpty();
    pane.ShowText(std::move(text));
    return TPayloadResult::Done;
  } else {
    pane.ShowEmpty();
    return TPayloadResult::Done;
  }
  const std::vector<uint8_t> image = picture.SaveToFileImage();
  pane.ShowPicture(std::string(image.begin(), image.end()));
  return TPayloadResult::Done;
}

}  // namespace qb
