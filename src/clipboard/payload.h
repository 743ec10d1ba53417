// Item payloads: the bytes an item holds for each clipboard format, how they are
// taken from the clipboard, and how they go back onto it or into the viewer pane.
//
//   format                payload
//   2 bitmap              a BMP file image ("BM", info header, colour table, bits)
//   3 metafile picture    an EMF file image, whatever metafile form the clipboard had
//   14 enhanced metafile  an EMF file image
//   9 palette             a RIFF "PAL " file image
//   "Delphi Picture"      the picture's file image in its own form (BMP, EMF, ICO,
//                         PNG, JPEG, GIF), through the temporary picture file
//   anything else         the clipboard's memory block, its whole allocated size
//                         (text: UTF-8, its zero byte and the block's slack)
//
// The payload carries no mark of its format; the item's format field says which
// road decodes it. A "Delphi Picture" file image is recognised by its first bytes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "clipboard/working_picture.h"
#include "panes/viewer_pane.h"
#include "platform/clipboard.h"
#include "platform/memory_stream.h"

namespace qb {

inline constexpr const char* kTmpFileStreamErrorText = "Unable to save to File Cabinet, tmpFileStream Error";
inline constexpr const char* kNoFormatLoadText =
    "The selected item has no clipboard format, Unable to load it to the clipboard";

// Writes the clipboard's block of format at the stream's position: the whole
// allocated block. Nothing is written when the clipboard has no block of that
// format. Opens and closes the clipboard.
void ClipboardFormatToStream(IClipboard& clipboard, uint32_t format, TMemoryStream& stream);
// Puts at most size bytes from the stream's position on the clipboard under format,
// replacing that format only (other formats stay). Returns false when the
// clipboard refuses the format (0, or a format that holds an object). Opens and
// closes the clipboard.
bool StreamToClipboardFormat(IClipboard& clipboard, uint32_t format, TMemoryStream& stream, size_t size);

// How a payload road ended.
enum class TPayloadResult {
  Done,
  TempFileError,  // the temporary picture file could not be opened or created
  Refused,        // the clipboard refused the format (format 0)
};

// Fills stream (from its position) with the payload of format from the clipboard.
// temp_picture_file is the temporary picture file's path; it is deleted again.
TPayloadResult EncodePayload(IClipboard& clipboard, uint32_t format, TMemoryStream& stream,
                             const std::string& temp_picture_file);

// Puts the payload (the whole stream) on the clipboard. Bitmaps, metafiles and
// pictures empty the clipboard first; a block format replaces that format only,
// unless empty_first. A payload that cannot be read throws EInvalidGraphic with the
// clipboard left as it was.
TPayloadResult DecodePayloadToClipboard(IClipboard& clipboard, uint32_t format, TMemoryStream& stream,
                                        const std::string& temp_picture_file, bool empty_first = false);

// Fills the viewer pane with the payload: a picture shows the picture control
// (holding the picture's file image); text (1 and 7) shows its lines up to the
// first zero byte; anything else an empty text control. The temporary picture file
// of a "Delphi Picture" is left in place. A payload that cannot be read throws
// EInvalidGraphic with the pane unchanged.
TPayloadResult DecodePayloadForView(const IClipboard& clipboard, uint32_t format, TMemoryStream& stream,
                                    const std::string& temp_picture_file, TViewerForm& pane);

}  // namespace qb
