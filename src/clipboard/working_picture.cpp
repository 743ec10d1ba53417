#include "clipboard/working_picture.h"

#include "clipboard/clip_formats.h"

namespace qb {

TPictureFileType TPicture::FileType() const {
  switch (kind_) {
    case TPictureKind::Bitmap:
      return TPictureFileType::Bmp;
    case TPictureKind::Metafile:
      return TPictureFileType::Emf;
    case TPictureKind::Icon:
      return TPictureFileType::Ico;
    case TPictureKind::FileImage:
      return file_type_;
    case TPictureKind::None:
      break;
  }
  return TPictureFileType::Unknown;
}

int TPicture::Width() const {
  switch (kind_) {
    case TPictureKind::Bitmap:
      return bitmap_.Width();
    case TPictureKind::Metafile:
      return metafile_.Width();
    case TPictureKind::Icon:
      return icon_.Width();
    case TPictureKind::FileImage: {
      const auto size = ForeignPictureSize(file_image_);
      return size ? size->first : 0;
    }
    case TPictureKind::None:
      break;
  }
  return 0;
}

int TPicture::Height() const {
  switch (kind_) {
    case TPictureKind::Bitmap:
      return bitmap_.Height();
    case TPictureKind::Metafile:
      return metafile_.Height();
    case TPictureKind::Icon:
      return icon_.Height();
    case TPictureKind::FileImage: {
      const auto size = ForeignPictureSize(file_image_);
      return size ? size->second : 0;
    }
    case TPictureKind::None:
      break;
  }
  return 0;
}

void TPicture::Clear() {
  *this = TPicture();
}

void TPicture::SetBitmap(TDib bitmap) {
  Clear();
  kind_ = TPictureKind::Bitmap;
  bitmap_ = std::move(bitmap);
}

void TPicture::SetMetafile(TMetafile metafile) {
  Clear();
  kind_ = TPictureKind::Metafile;
  metafile_ = std::move(metafile);
}

void TPicture::SetIcon(TIcon icon) {
  Clear();
  kind_ = TPictureKind::Icon;
  icon_ = std::move(icon);
}

void TPicture::LoadFromFileImage(std::span<const uint8_t> bytes) {
  const TPictureFileType type = RecognizePictureFile(bytes);
  switch (type) {
    case TPictureFileType::Bmp:
      SetBitmap(TDib::ReadBmp(bytes));
      return;
    case TPictureFileType::Ico:
      SetIcon(ReadIco(bytes));
      return;
    case TPictureFileType::Emf:
    case TPictureFileType::Wmf:
      SetMetafile(TMetafile::Read(bytes));
      return;
    case TPictureFileType::Png:
    case TPictureFileType::Jpeg:
    case TPictureFileType::Gif: {
      TPicture loaded;
      loaded.kind_ = TPictureKind::FileImage;
      loaded.file_type_ = type;
      loaded.file_image_.assign(bytes.begin(), bytes.end());
      *this = std::move(loaded);
      return;
    }
    case TPictureFileType::Unknown:
      break;
  }
  throw EInvalidGraphic(kUnknownPictureText);
}

std::vector<uint8_t> TPicture::SaveToFileImage() const {
  switch (kind_) {
    case TPictureKind::Bitmap:
      return bitmap_.WriteBmp();
    case TPictureKind::Metafile:
      return metafile_.EmfBits();
    case TPictureKind::Icon:
      return icon_.FileImage;
    case TPictureKind::FileImage:
      return file_image_;
    case TPictureKind::None:
      break;
  }
  return {};
}

// --- the clipboard road ----------------------------------------------------------------

TDib BitmapFromClipboard(IClipboard& clipboard) {
  std::optional<TDib> bitmap = clipboard.GetBitmap();
  const bool needs_palette = bitmap && bitmap->BitCount() <= 8 && bitmap->Palette().empty();
  return BitmapWithPalette(std::move(bitmap), needs_palette ? clipboard.GetPalette() : std::nullopt);
}

bool IsLargeDirectBitmap(const TDib& bitmap) {
  return bitmap.Compression() == BI_RGB && (bitmap.BitCount() == 24 || bitmap.BitCount() == 32) &&
         int64_t{bitmap.Width()} * bitmap.Height() >= (int64_t{1} << 20);
}

TDib BitmapWithPalette(std::optional<TDib> bitmap, const std::optional<TLogPalette>& palette) {
  if (!bitmap || bitmap->Empty()) throw EClipboardError(kInvalidClipboardFormatText);
  if (bitmap->BitCount() <= 8 && bitmap->Palette().empty() && palette) {
    std::vector<TRgbQuad> table;
    for (const TPaletteEntry& e : *palette) table.push_back(Rgb(e.Red, e.Green, e.Blue));
    bitmap->SetPalette(std::move(table));
  }
  return std::move(*bitmap);
}

TMetafile MetafileFromClipboard(IClipboard& clipboard) {
  std::optional<TMetafile> metafile = clipboard.GetMetafile(CF_ENHMETAFILE);
  if (!metafile || metafile->Empty()) throw EClipboardError(kInvalidClipboardFormatText);
  return std::move(*metafile);
}

TPicture PictureFromClipboard(IClipboard& clipboard) {
  TPicture picture;
  for (uint32_t format : clipboard.Formats()) {
    if (!IsPictureFormat(clipboard, format)) continue;
    try {
      if (format == CF_BITMAP) {
        picture.SetBitmap(BitmapFromClipboard(clipboard));
      } else if (format == CF_METAFILEPICT || format == CF_ENHMETAFILE) {
        picture.SetMetafile(MetafileFromClipboard(clipboard));
      } else {
        const std::optional<std::vector<uint8_t>> block = clipboard.GetBlock(format);
        if (!block) continue;
        picture.LoadFromFileImage(*block);
      }
      return picture;
    } catch (const EInvalidGraphic&) {
    } catch (const EClipboardError&) {
    }
  }
  throw EClipboardError(kInvalidClipboardFormatText);
}

void PictureToClipboard(const TPicture& picture, IClipboard& clipboard) {
  if (picture.Empty()) throw EClipboardError(kInvalidClipboardFormatText);
  clipboard.Empty();
  switch (picture.Kind()) {
    case TPictureKind::Bitmap: {
      const TDib& dib = picture.Bitmap();
      clipboard.SetBitmap(dib);
      if (dib.BitCount() <= 8 && !dib.Palette().empty()) {
        TLogPalette palette;
        for (const TRgbQuad& q : dib.Palette()) palette.push_back(TPaletteEntry{q.Red, q.Green, q.Blue, 0});
        clipboard.SetPalette(std::move(palette));
      }
      break;
    }
    case TPictureKind::Metafile:
      clipboard.SetMetafile(CF_ENHMETAFILE, picture.Metafile());
      break;
    case TPictureKind::Icon:
      clipboard.SetBlock(DelphiIconFormat(clipboard), picture.Icon().FileImage);
      if (!picture.Icon().Image.Empty()) clipboard.SetBitmap(picture.Icon().Image);
      break;
    case TPictureKind::FileImage: {
      const std::vector<uint8_t> bytes = picture.SaveToFileImage();
      clipboard.SetBlock(DelphiPictureFormat(clipboard), bytes);
      clipboard.SetBlock(clipboard.Registry().Register(PictureMimeType(picture.FileType())), bytes);
      break;
    }
    case TPictureKind::None:
      break;
  }
}

}  // namespace qb
