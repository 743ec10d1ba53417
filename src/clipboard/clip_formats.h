// Which clipboard format the program stores: the program's registered formats and
// DetectClipboardFormat, the fixed order of preference of Save To File Cabinet.
#pragma once

#include <cstdint>

#include "platform/clipboard.h"

namespace qb {

// The numbers of the program's three registered formats (registering the name when
// that has not happened yet, so the number is never 0).
uint32_t DelphiPictureFormat(const IClipboard& clipboard);
uint32_t DelphiComponentFormat(const IClipboard& clipboard);
uint32_t DelphiIconFormat(const IClipboard& clipboard);

// True when format holds a picture that the working picture can read: the bitmap,
// the two metafile formats, "Delphi Picture", and any registered format named by a
// picture MIME type ("image/png", ...).
bool IsPictureFormat(const IClipboard& clipboard, uint32_t format);
bool ClipboardHasPicture(const IClipboard& clipboard);

// The format Save To File Cabinet stores: the first available of text (1), OEM
// text (7), bitmap (2), metafile picture (3), enhanced metafile (14), "Delphi Icon",
// "Delphi Picture" (that format, or any picture format), "Delphi Component",
// palette (9) and wave (12); 0 when none is. Synthesised formats count.
uint32_t DetectClipboardFormat(const IClipboard& clipboard);

}  // namespace qb
