// TPicture: the working picture - one graphic of any kind the program handles,
// with its file form and its road to and from the clipboard.
//
// A picture is a bitmap (TDib), a metafile (TMetafile, always enhanced), an icon
// (TIcon), or the file image of a picture the core cannot decode (PNG, JPEG, GIF),
// kept byte for byte so that it survives a round trip. It plays the part of the main
// window's hidden picture control during save and load, and of the viewer pane's
// picture when an item is viewed.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "platform/clipboard.h"
#include "platform/picture.h"

namespace qb {

inline constexpr const char* kInvalidClipboardFormatText = "Invalid clipboard format";

enum class TPictureKind { None, Bitmap, Metafile, Icon, FileImage };

class TPicture {
 public:
  TPictureKind Kind() const { return kind_; }
  bool Empty() const { return kind_ == TPictureKind::None; }
  // The graphic; valid only for the matching kind.
  const TDib& Bitmap() const { return bitmap_; }
  const TMetafile& Metafile() const { return metafile_; }
  const TIcon& Icon() const { return icon_; }
  // The type of the picture's file form (Bmp, Emf, Ico, or the file image's type).
  TPictureFileType FileType() const;
  // Pixels; a metafile's frame at 96 dots per inch; 0 when unknown.
  int Width() const;
  int Height() const;

  void Clear();
  void SetBitmap(TDib bitmap);
  void SetMetafile(TMetafile metafile);
  void SetIcon(TIcon icon);
  // Loads a picture file image, its type recognised by its first bytes (a file
  // image has no other mark of its type). Throws EInvalidGraphic for bytes that are
  // no picture or a broken one; the picture is unchanged then.
  void LoadFromFileImage(std::span<const uint8_t> bytes);
  // The picture in its graphic type's own file form: BMP, EMF, ICO, or the file
  // image as it came. Empty for an empty picture.
  std::vector<uint8_t> SaveToFileImage() const;

  friend bool operator==(const TPicture&, const TPicture&) = default;

 private:
  TPictureKind kind_ = TPictureKind::None;
  TDib bitmap_;
  TMetafile metafile_;
  TIcon icon_;
  TPictureFileType file_type_ = TPictureFileType::Unknown;
  std::vector<uint8_t> file_image_;
};

// The rest need the clipboard open.

// The clipboard's bitmap; a palettised bitmap without a colour table takes the
// clipboard's palette. Throws EClipboardError(kInvalidClipboardFormatText) when
// there is no bitmap.
TDib BitmapFromClipboard(IClipboard& clipboard);
// Whether a bitmap is uncompressed 24- or 32-bit and of at least a million pixels:
// a photograph or a screenshot, worth handling off the UI thread.
bool IsLargeDirectBitmap(const TDib& bitmap);
// The same rules for a bitmap already taken from the clipboard, with the palette
// that was there beside it (nothing when none was).
TDib BitmapWithPalette(std::optional<TDib> bitmap, const std::optional<TLogPalette>& palette);
// The clipboard's metafile in enhanced form (from 14, or 3 when only that is there).
TMetafile MetafileFromClipboard(IClipboard& clipboard);
// The picture of the first format, in clipboard order, that holds one (see
// IsPictureFormat); formats whose data cannot be read are passed over. Throws
// EClipboardError(kInvalidClipboardFormatText) when none can be read.
TPicture PictureFromClipboard(IClipboard& clipboard);
// Empties the clipboard and puts the picture on it: a bitmap (with its colour table
// as palette when it has one), an enhanced metafile, an icon under "Delphi Icon"
// (and its image as bitmap), or a file image under "Delphi Picture" and under its
// MIME type.
void PictureToClipboard(const TPicture& picture, IClipboard& clipboard);

}  // namespace qb
