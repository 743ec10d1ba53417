#include "clipboard/clip_formats.h"

namespace qb {

uint32_t DelphiPictureFormat(const IClipboard& clipboard) {
  return clipboard.Registry().Register(kDelphiPictureFormatName);
}
uint32_t DelphiComponentFormat(const IClipboard& clipboard) {
  return clipboard.Registry().Register(kDelphiComponentFormatName);
}
uint32_t DelphiIconFormat(const IClipboard& clipboard) {
  return clipboard.Registry().Register(kDelphiIconFormatName);
}

bool IsPictureFormat(const IClipboard& clipboard, uint32_t format) {
  if (format == CF_BITMAP || format == CF_METAFILEPICT || format == CF_ENHMETAFILE) return true;
  if (format < TClipboardFormatRegistry::kFirstNumber) return false;
  if (format == DelphiPictureFormat(clipboard)) return true;
  const std::optional<std::string> name = clipboard.Registry().NameOf(format);
  return name && PictureTypeOfMime(*name) != TPictureFileType::Unknown;
}

bool ClipboardHasPicture(const IClipboard& clipboard) {
  for (uint32_t format : clipboard.Formats())
    if (IsPictureFormat(clipboard, format)) return true;
  return false;
}

uint32_t DetectClipboardFormat(const IClipboard& clipboard) {
  const uint32_t preferred[] = {CF_TEXT,         CF_OEMTEXT,     CF_BITMAP,
                                CF_METAFILEPICT, CF_ENHMETAFILE, DelphiIconFormat(clipboard)};
  for (uint32_t format : preferred)
    if (clipboard.HasFormat(format)) return format;
  const uint32_t picture = DelphiPictureFormat(clipboard);
  if (clipboard.HasFormat(picture) || ClipboardHasPicture(clipboard)) return picture;
  const uint32_t rest[] = {DelphiComponentFormat(clipboard), CF_PALETTE, CF_WAVE};
  for (uint32_t format : rest)
    if (clipboard.HasFormat(format)) return format;
  return 0;
}

}  // namespace qb
