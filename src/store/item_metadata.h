// Item metadata: the entry comment that carries an item's clipboard format, glyph
// and note.
//
// A comment is a byte string of up to three fields, each an opening byte, the
// content, the opening byte again and 0xBF:
//
//   format field   0x8C <decimal format number> 0x8C 0xBF
//   glyph field    0xA5 <decimal glyph index>   0xA5 0xBF
//   note field     0xA7 <note bytes>            0xA7 0xBF
//
// There is no separator and no terminator; the fields may stand in any order and
// are found by searching: a field's content is the text after the first opening
// byte of the comment and before the first closing pair that follows it. Every
// reader below is independent of the others. A new text item's comment is
//   8C '1' 8C BF A5 '3' A5 BF.
//
// Note text. In memory a note is UTF-8 with CR LF between its lines. The marker
// bytes are all UTF-8 continuation bytes, so a note's UTF-8 form could contain
// them; the one that matters is the closing pair A7 BF, which would end the note
// early. EncodeNote therefore writes every character whose UTF-8 form contains
// the pair A7 BF (U+09FF, U+19FF, ..., U+27FFF and the like) as "&#<decimal>;",
// and every literal "&#" of the note as "&#38;#"; DecodeNote turns each
// "&#<digits>;" naming a Unicode scalar value back into its character. The encoded
// form is valid UTF-8 and never contains A7 BF, and decoding gives back exactly the
// note that was encoded, for every Unicode character.
// When the fields in front of a note lack a complete format (or glyph) field, a
// 0x8C (or 0xA5) inside the note would be taken for that field's opening byte, so
// characters containing that byte are escaped the same way in that case.
// Note bytes that are not valid UTF-8 (written by other programs) are read as
// Windows-1252 and taken literally.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/format_registry.h"

namespace qb::store {

inline constexpr char kFormatOpener = '\x8C';
inline constexpr char kGlyphOpener = '\xA5';
inline constexpr char kNoteOpener = '\xA7';
inline constexpr char kFieldCloser = '\xBF';

// Glyph indexes with a fixed meaning.
inline constexpr int kNoteGlyph = 0;
inline constexpr int kDrawerGlyph = 1;
inline constexpr int kDefaultGlyph = 2;
inline constexpr int kTextGlyph = 3;
inline constexpr int kCabinetGlyph = 13;
inline constexpr int kFirstUserGlyph = 22;

// Clipboard format numbers of the storable standard formats.
inline constexpr long long kFormatText = 1;
inline constexpr long long kFormatBitmap = 2;
inline constexpr long long kFormatMetafilePicture = 3;
inline constexpr long long kFormatOemText = 7;
inline constexpr long long kFormatPalette = 9;
inline constexpr long long kFormatWave = 12;
inline constexpr long long kFormatEnhancedMetafile = 14;

// The glyph an item of a clipboard format gets when it is saved; the registered
// formats' numbers are looked up by name in registry.
int GlyphForFormat(long long format, const TClipboardFormatRegistry& registry = ClipboardFormats());

// --- reading ---------------------------------------------------------------------

// The content of the field that opener starts, or nothing when the comment has no
// opener or no closing pair after it.
std::optional<std::string_view> FieldContent(std::string_view comment, char opener);
// The whole field, from its opening byte through its closing pair; empty when the
// field is missing or unclosed.
std::string_view FieldSpan(std::string_view comment, char opener);

// The format number, or nothing when the field is missing or empty. Throws
// EConvertError "'...' is not a valid integer value" when the content is not a
// decimal number.
std::optional<long long> ReadFormatNumber(std::string_view comment);
// The glyph index, with the same rules as ReadFormatNumber.
std::optional<long long> ReadGlyphIndex(std::string_view comment);
// True when the comment contains the byte 0xA7 anywhere.
bool CommentHasNote(std::string_view comment);
// The raw bytes of the note: after the first 0xA7 and before the first closing pair
// 0xA7 0xBF after it; a note field left unclosed runs to the end of the comment.
// Empty when there is no note.
std::string_view NoteBytes(std::string_view comment);
// The note as UTF-8 text (NoteBytes decoded).
std::string ReadNoteText(std::string_view comment);

// Everything at once; throws as the single readers do.
struct ItemMetadata {
  std::optional<long long> format;
  std::optional<long long> glyph;
  bool has_note = false;
  std::string note;  // UTF-8
};
ItemMetadata ReadItemMetadata(std::string_view comment);

// --- the note encoding -----------------------------------------------------------

// note is UTF-8 (bytes that are not are first read as Windows-1252). guard_format
// and guard_glyph also escape characters containing 0x8C and 0xA5 (see above).
std::string EncodeNote(std::string_view note, bool guard_format = false, bool guard_glyph = false);
std::string DecodeNote(std::string_view bytes);
// Line breaks of any kind (LF, CR, CR LF) as CR LF, the form notes are kept in.
std::string NoteLineBreaks(std::string_view text);

// --- composing -------------------------------------------------------------------

std::string FormatField(long long format);
std::string GlyphField(long long glyph);
// A note field to stand after prefix (the fields written before it).
std::string NoteField(std::string_view prefix, std::string_view note);

// What an overwritten item hands on to the item saved in its place: the glyph from
// its glyph field and its whole note field (from the first 0xA7 through the closing
// pair after it; an unclosed note field is closed). Throws EConvertError for a glyph
// field that is not a number.
struct CarriedMetadata {
  std::optional<long long> glyph;
  std::string note_field;  // raw bytes, empty when the old item had no note
};
CarriedMetadata CarryOverMetadata(std::string_view old_comment);

// The comment of a saved item: format field, glyph field, then the carried note
// field (if any).
std::string ComposeSavedComment(long long format, long long glyph, std::string_view carried_note_field = {});
// Saving over an item whose comment was old_comment (empty for a new item): the
// old glyph is kept, or the format's own glyph when the old comment has no glyph
// field; the old note is carried.
std::string ComposeOverwriteComment(long long format, std::string_view old_comment,
                                    const TClipboardFormatRegistry& registry = ClipboardFormats());
// A new text item: format 1, glyph 3, no note.
std::string ComposeNewTextItemComment();
// Adds or replaces the note: the comment without its note fields (any fields that
// stood after them kept), then the new note field.
std::string ComposeAddNoteComment(std::string_view old_comment, std::string_view note);
// Removes the note: the glyph field, then the format field.
std::string ComposeDeleteNoteComment(std::string_view old_comment);
// A new glyph: the glyph field with glyph, then the old format field and the old
// note field, each copied whole when present. Used by Change Glyph and by the
// re-indexing after user glyphs were deleted.
std::string ComposeGlyphComment(std::string_view old_comment, long long glyph);

}  // namespace qb::store
