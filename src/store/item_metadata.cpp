#include "store/item_metadata.h"

#include <string>

#include "platform/codepage.h"
#include "platform/errors.h"

namespace qb::store {

namespace {

constexpr std::string_view kEscapeStart = "&#";
constexpr std::string_view kNoteCloser("\xA7\xBF", 2);

// Length of the UTF-8 sequence that lead starts (the text is known to be valid).
size_t SequenceLength(unsigned char lead) {
  if (lead < 0x80) return 1;
  if (lead < 0xE0) return 2;
  if (lead < 0xF0) return 3;
  return 4;
}

char32_t DecodeSequence(std::string_view s) {
  auto b = [&](size_t k) { return static_cast<char32_t>(static_cast<unsigned char>(s[k])); };
  switch (s.size()) {
    case 1:
      return b(0);
    case 2:
      return ((b(0) & 0x1F) << 6) | (b(1) & 0x3F);
    case 3:
      return ((b(0) & 0x0F) << 12) | ((b(1) & 0x3F) << 6) | (b(2) & 0x3F);
    default:
      return ((b(0) & 0x07) << 18) | ((b(1) & 0x3F) << 12) | ((b(2) & 0x3F) << 6) | (b(3) & 0x3F);
  }
}

bool ContainsByte(std::string_view s, char byte) {
  return s.find(byte) != std::string_view::npos;
}

bool NeedsEscape(std::string_view sequence, bool guard_format, bool guard_glyph) {
  if (sequence.size() < 2) return false;
  if (sequence.find(kNoteCloser) != std::string_view::npos) return true;
  if (guard_format && ContainsByte(sequence, kFormatOpener)) return true;
  if (guard_glyph && ContainsByte(sequence, kGlyphOpener)) return true;
  return false;
}

// Parses "&#<digits>;" at text[pos]; the code point and the escape's length, or
// nothing when it is not a well-formed escape of a Unicode scalar value.
std::optional<std::pair<char32_t, size_t>> ParseEscape(std::string_view text, size_t pos) {
  size_t k = pos + kEscapeStart.size();
  char32_t value = 0;
  size_t digits = 0;
  while (k < text.size() && text[k] >= '0' && text[k] <= '9') {
    if (++digits > 8) return std::nullopt;
    value = value * 10 + static_cast<char32_t>(text[k] - '0');
    ++k;
  }
  if (digits == 0 || k >= text.size() || text[k] != ';') return std::nullopt;
  if (value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return std::nullopt;
  return std::make_pair(value, k + 1 - pos);
}

std::optional<long long> ReadNumberField(std::string_view comment, char opener) {
  auto content = FieldContent(comment, opener);
  if (!content || content->empty()) return std::nullopt;
  return StrToInt(std::string(*content));
}

// Where the note field of comment ends (one past its closing pair, or the end of
// the comment when it is unclosed); npos when there is no note.
size_t NoteFieldEnd(std::string_view comment) {
  size_t p = comment.find(kNoteOpener);
  if (p == std::string_view::npos) return p;
  size_t q = comment.find(kNoteCloser, p + 1);
  return q == std::string_view::npos ? comment.size() : q + 2;
}

// The note field, from its first 0xA7 through the closing pair after it; an
// unclosed field is closed, so that nothing written after it is read as note.
std::string ClosedNoteField(std::string_view comment) {
  size_t p = comment.find(kNoteOpener);
  if (p == std::string_view::npos) return {};
  size_t q = comment.find(kNoteCloser, p + 1);
  if (q == std::string_view::npos) return std::string(comment.substr(p)) + std::string(kNoteCloser);
  return std::string(comment.substr(p, q + 2 - p));
}

}  // namespace

int GlyphForFormat(long long format, const TClipboardFormatRegistry& registry) {
  switch (format) {
    case kFormatText:
      return 3;
    case kFormatBitmap:
      return 4;
    case kFormatMetafilePicture:
      return 5;
    case kFormatPalette:
      return 6;
    case kFormatOemText:
      return 7;
    case kFormatEnhancedMetafile:
      return 11;
    case kFormatWave:
      return 12;
    default:
      break;
  }
  auto is = [&](const char* name) {
    auto number = registry.Find(name);
    return number && static_cast<long long>(*number) == format;
  };
  if (is(kDelphiPictureFormatName)) return 8;
  if (is(kDelphiComponentFormatName)) return 9;
  if (is(kDelphiIconFormatName)) return 10;
  return kDefaultGlyph;
}

std::optional<std::string_view> FieldContent(std::string_view comment, char opener) {
  size_t p = comment.find(opener);
  if (p == std::string_view::npos) return std::nullopt;
  const char pair[2] = {opener, kFieldCloser};
  size_t q = comment.find(std::string_view(pair, 2), p + 1);
  if (q == std::string_view::npos) return std::nullopt;
  return comment.substr(p + 1, q - p - 1);
}

std::string_view FieldSpan(std::string_view comment, char opener) {
  auto content = FieldContent(comment, opener);
  if (!content) return {};
  size_t p = static_cast<size_t>(content->data() - comment.data()) - 1;
  return comment.substr(p, content->size() + 3);
}

std::optional<long long> ReadFormatNumber(std::string_view comment) {
  return ReadNumberField(comment, kFormatOpener);
}

std::optional<long long> ReadGlyphIndex(std::string_view comment) {
  return ReadNumberField(comment, kGlyphOpener);
}

bool CommentHasNote(std::string_view comment) {
  return ContainsByte(comment, kNoteOpener);
}

std::string_view NoteBytes(std::string_view comment) {
  size_t p = comment.find(kNoteOpener);
  if (p == std::string_view::npos) return {};
  size_t q = comment.find(kNoteCloser, p + 1);
  if (q == std::string_view::npos) return comment.substr(p + 1);
  return comment.substr(p + 1, q - p - 1);
}

std::string ReadNoteText(std::string_view comment) {
  return DecodeNote(NoteBytes(comment));
}

ItemMetadata ReadItemMetadata(std::string_view comment) {
  ItemMetadata meta;
  meta.format = ReadFormatNumber(comment);
  meta.glyph = ReadGlyphIndex(comment);
  meta.has_note = CommentHasNote(comment);
  if (meta.has_note) meta.note = ReadNoteText(comment);
  return meta;
}

std::string EncodeNote(std::string_view note, bool guard_format, bool guard_glyph) {
  std::string converted;
  if (!codepage::IsValidUtf8(note)) {
    converted = codepage::BytesToUtf8(note);
    note = converted;
  }
  std::string out;
  out.reserve(note.size());
  size_t i = 0;
  while (i < note.size()) {
    if (note.compare(i, kEscapeStart.size(), kEscapeStart) == 0) {
      out += "&#38;#";
      i += kEscapeStart.size();
      continue;
    }
    size_t len = SequenceLength(static_cast<unsigned char>(note[i]));
    std::string_view sequence = note.substr(i, len);
    if (NeedsEscape(sequence, guard_format, guard_glyph)) {
      out += "&#" + std::to_string(static_cast<unsigned long>(DecodeSequence(sequence))) + ";";
    } else {
      out += sequence;
    }
    i += len;
  }
  return out;
}

std::string DecodeNote(std::string_view bytes) {
  if (!codepage::IsValidUtf8(bytes)) return codepage::Cp1252ToUtf8(bytes);
  std::string out;
  out.reserve(bytes.size());
  size_t i = 0;
  while (i < bytes.size()) {
    if (bytes.compare(i, kEscapeStart.size(), kEscapeStart) == 0) {
      if (auto escape = ParseEscape(bytes, i)) {
        codepage::AppendUtf8(out, escape->first);
        i += escape->second;
        continue;
      }
    }
    out += bytes[i++];
  }
  return out;
}

std::string NoteLineBreaks(std::string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 16);
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '\r') {
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
      out += "\r\n";
    } else if (c == '\n') {
      out += "\r\n";
    } else {
      out += c;
    }
  }
  return out;
}

std::string FormatField(long long format) {
  return std::string(1, kFormatOpener) + std::to_string(format) + kFormatOpener + kFieldCloser;
}

std::string GlyphField(long long glyph) {
  return std::string(1, kGlyphOpener) + std::to_string(glyph) + kGlyphOpener + kFieldCloser;
}

std::string NoteField(std::string_view prefix, std::string_view note) {
  bool guard_format = FieldSpan(prefix, kFormatOpener).empty();
  bool guard_glyph = FieldSpan(prefix, kGlyphOpener).empty();
  return std::string(1, kNoteOpener) + EncodeNote(note, guard_format, guard_glyph) + kNoteOpener +
         kFieldCloser;
}

CarriedMetadata CarryOverMetadata(std::string_view old_comment) {
  CarriedMetadata carried;
  carried.glyph = ReadGlyphIndex(old_comment);
  carried.note_field = ClosedNoteField(old_comment);
  return carried;
}

std::string ComposeSavedComment(long long format, long long glyph, std::string_view carried_note_field) {
  return FormatField(format) + GlyphField(glyph) + std::string(carried_note_field);
}

std::string ComposeOverwriteComment(long long format, std::string_view old_comment,
                                    const TClipboardFormatRegistry& registry) {
  CarriedMetadata carried = CarryOverMetadata(old_comment);
  long long glyph = carried.glyph ? *carried.glyph : GlyphForFormat(format, registry);
  return ComposeSavedComment(format, glyph, carried.note_field);
}

std::string ComposeNewTextItemComment() {
  return FormatField(kFormatText) + GlyphField(kTextGlyph);
}

std::string ComposeAddNoteComment(std::string_view old_comment, std::string_view note) {
  // Every note field goes, a second (foreign or damaged) one too: a 0xA7 left in
  // front of the new field would make the note read back as something else.
  std::string prefix;
  std::string_view rest = old_comment;
  for (size_t p; (p = rest.find(kNoteOpener)) != std::string_view::npos;) {
    prefix += rest.substr(0, p);
    rest = rest.substr(NoteFieldEnd(rest));
  }
  prefix += rest;
  return prefix + NoteField(prefix, note);
}

std::string ComposeDeleteNoteComment(std::string_view old_comment) {
  return std::string(FieldSpan(old_comment, kGlyphOpener)) +
         std::string(FieldSpan(old_comment, kFormatOpener));
}

std::string ComposeGlyphComment(std::string_view old_comment, long long glyph) {
  std::string comment = GlyphField(glyph) + std::string(FieldSpan(old_comment, kFormatOpener));
  return comment + ClosedNoteField(old_comment);
}

}  // namespace qb::store
