// The entry comment: reading each field by search, composing it in each order the
// commands write, and the note encoding that keeps every character of a note.
#include "store/item_metadata.h"

#include <gtest/gtest.h>

#include "platform/codepage.h"
#include "platform/errors.h"

namespace qb::store {
namespace {

// Comment bytes from a readable spelling: F = 0x8C, G = 0xA5, N = 0xA7, C = 0xBF.
std::string Bytes(std::string_view spelled) {
  std::string out;
  for (char c : spelled) {
    switch (c) {
      case 'F':
        out += '\x8C';
        break;
      case 'G':
        out += '\xA5';
        break;
      case 'N':
        out += '\xA7';
        break;
      case 'C':
        out += '\xBF';
        break;
      default:
        out += c;
    }
  }
  return out;
}

TEST(ItemMetadataRead, FieldsAreFoundBySearchInAnyOrder) {
  ItemMetadata glyph_first = ReadItemMetadata(Bytes("G14GCF2FC"));
  EXPECT_EQ(glyph_first.format, 2);
  EXPECT_EQ(glyph_first.glyph, 14);
  EXPECT_FALSE(glyph_first.has_note);

  ItemMetadata note_first = ReadItemMetadata(Bytes("Nabc\r\ndefNCG7GCF1FC"));
  EXPECT_EQ(note_first.format, 1);
  EXPECT_EQ(note_first.glyph, 7);
  EXPECT_TRUE(note_first.has_note);
  EXPECT_EQ(note_first.note, "abc\r\ndef");

  ItemMetadata only_format = ReadItemMetadata(Bytes("F9FC"));
  EXPECT_EQ(only_format.format, 9);
  EXPECT_FALSE(only_format.glyph.has_value());
  EXPECT_FALSE(only_format.has_note);

  ItemMetadata none = ReadItemMetadata("");
  EXPECT_FALSE(none.format || none.glyph || none.has_note);
}

TEST(ItemMetadataRead, MissingEmptyOrUnclosedFieldsMeanNothing) {
  EXPECT_FALSE(ReadFormatNumber(Bytes("FFC")).has_value());     // empty content
  EXPECT_FALSE(ReadFormatNumber(Bytes("F12")).has_value());     // no closing pair
  EXPECT_FALSE(ReadFormatNumber(Bytes("F12F")).has_value());    // opener again, no 0xBF
  EXPECT_FALSE(ReadGlyphIndex(Bytes("F1FCN3NC")).has_value());  // no glyph field at all
  EXPECT_EQ(ReadGlyphIndex(Bytes("G-1GC")), -1);
  // The content ends at the first closing pair after the opener.
  EXPECT_EQ(ReadGlyphIndex(Bytes("G5GCG6GC")), 5);
}

TEST(ItemMetadataRead, NonNumericContentIsAConversionError) {
  try {
    ReadFormatNumber(Bytes("Fx1FC"));
    FAIL() << "no exception";
  } catch (const EConvertError& e) {
    EXPECT_STREQ(e.what(), "'x1' is not a valid integer value");
  }
  EXPECT_THROW(ReadGlyphIndex(Bytes("G 3GC")), EConvertError);
  EXPECT_THROW(ReadGlyphIndex(Bytes("G99999999999999999999GC")), EConvertError);
  // The other fields read on regardless.
  EXPECT_EQ(ReadFormatNumber(Bytes("GxGCF1FC")), 1);
  EXPECT_TRUE(CommentHasNote(Bytes("GxGCNnNC")));
}

TEST(ItemMetadataRead, NoteRules) {
  EXPECT_TRUE(CommentHasNote(Bytes("F1FCN")));  // the byte alone marks a note
  EXPECT_EQ(ReadNoteText(Bytes("NNC")), "");
  EXPECT_EQ(ReadNoteText(Bytes("Nfirst\r\nsecondNCNtailNC")), "first\r\nsecond");
  EXPECT_EQ(ReadNoteText(Bytes("F1FCNunclosed")), "unclosed");
  // Not UTF-8: written elsewhere, read as Windows-1252 (0x80 is the euro sign).
  EXPECT_EQ(ReadNoteText(std::string("\xA7") + "caf\xE9 \x80" + "\xA7\xBF"), "caf\xC3\xA9 \xE2\x82\xAC");
}

TEST(ItemMetadataCompose, TheOrdersTheCommandsWrite) {
  EXPECT_EQ(ComposeNewTextItemComment(), Bytes("F1FCG3GC"));
  EXPECT_EQ(ComposeNewTextItemComment().size(), 8u);
  EXPECT_EQ(ComposeAddNoteComment(ComposeNewTextItemComment(), "abc"), Bytes("F1FCG3GCNabcNC"));
  // A note is replaced; the fields before it stay.
  EXPECT_EQ(ComposeAddNoteComment(Bytes("F1FCG3GCNoldNC"), "new"), Bytes("F1FCG3GCNnewNC"));
  // Fields that stood after the old note are kept, in front of the new one.
  EXPECT_EQ(ComposeAddNoteComment(Bytes("NoldNCF2FCG4GC"), "new"), Bytes("F2FCG4GCNnewNC"));
  // A second note field (another program's, or damage), closed or not, goes too, so
  // that the note read back is the one just set.
  for (const char* old : {"NoldNCF2FCNstrayNC", "NoldNCF2FCNstray", "F2FCNNC"}) {
    const std::string comment = ComposeAddNoteComment(Bytes(old), "new");
    EXPECT_EQ(comment, Bytes("F2FCNnewNC")) << old;
    EXPECT_EQ(ReadNoteText(comment), "new") << old;
  }
  EXPECT_EQ(ComposeDeleteNoteComment(Bytes("F1FCG3GCNabcNC")), Bytes("G3GCF1FC"));
  EXPECT_EQ(ComposeDeleteNoteComment(Bytes("F1FC")), Bytes("F1FC"));
  EXPECT_EQ(ComposeGlyphComment(Bytes("F1FCG3GCNa\r\nbNC"), 15), Bytes("G15GCF1FCNa\r\nbNC"));
  EXPECT_EQ(ComposeGlyphComment(Bytes("F1FCG23GC"), -1), Bytes("G-1GCF1FC"));
  // A damaged old glyph does not stop a new one from being set.
  EXPECT_EQ(ComposeGlyphComment(Bytes("F1FCGzzGC"), 4), Bytes("G4GCF1FC"));
}

TEST(ItemMetadataCompose, OverwriteCarriesGlyphAndNote) {
  // Text saved over a bitmap item that had glyph 15 and the note "x".
  EXPECT_EQ(ComposeOverwriteComment(1, Bytes("F2FCG15GCNxNC")), Bytes("F1FCG15GCNxNC"));
  // A new item, and an old comment without a glyph field: the format's own glyph.
  EXPECT_EQ(ComposeOverwriteComment(2, ""), Bytes("F2FCG4GC"));
  EXPECT_EQ(ComposeOverwriteComment(2, Bytes("F1FCNkeptNC")), Bytes("F2FCG4GCNkeptNC"));
  // An unclosed old note is carried closed, so nothing after it is misread.
  CarriedMetadata carried = CarryOverMetadata(Bytes("F1FCG3GCNopen"));
  EXPECT_EQ(carried.note_field, Bytes("NopenNC"));
  EXPECT_THROW(CarryOverMetadata(Bytes("GbadGC")), EConvertError);
}

TEST(ItemMetadataGlyphs, GlyphForFormatFollowsTheTable) {
  TClipboardFormatRegistry registry;
  const uint32_t unrelated = registry.Register("HTML Format");
  RegisterProgramFormats(registry);
  const std::pair<long long, int> fixed[] = {{1, 3},   {2, 4},   {3, 5}, {9, 6}, {7, 7},
                                             {14, 11}, {12, 12}, {8, 2}, {0, 2}};
  for (auto [format, glyph] : fixed) EXPECT_EQ(GlyphForFormat(format, registry), glyph) << format;
  EXPECT_EQ(GlyphForFormat(*registry.Find("delphi picture"), registry), 8);
  EXPECT_EQ(GlyphForFormat(*registry.Find("Delphi Component"), registry), 9);
  EXPECT_EQ(GlyphForFormat(*registry.Find("DELPHI ICON"), registry), 10);
  EXPECT_EQ(GlyphForFormat(unrelated, registry), 2);
  // Without the registration the numbers mean nothing special.
  TClipboardFormatRegistry empty;
  EXPECT_EQ(GlyphForFormat(0xC000, empty), 2);
}

TEST(FormatRegistry, SameNameSameNumberIgnoringCase) {
  TClipboardFormatRegistry registry;
  EXPECT_EQ(registry.Register(""), 0u);
  const uint32_t first = registry.Register("Delphi Picture");
  EXPECT_EQ(first, 0xC000u);
  EXPECT_EQ(registry.Register("DELPHI picture"), first);
  EXPECT_EQ(registry.Register("Delphi Icon"), 0xC001u);
  EXPECT_EQ(registry.NameOf(first), "Delphi Picture");
  EXPECT_FALSE(registry.NameOf(0xC002).has_value());
  EXPECT_FALSE(registry.Find("other").has_value());
  RegisterProgramFormats(registry);
  RegisterProgramFormats(registry);
  EXPECT_EQ(registry.Count(), 3u);
}

TEST(FormatRegistry, RunsOutOfNumbersCleanly) {
  TClipboardFormatRegistry registry;
  for (uint32_t k = 0; k <= 0x3FFF; ++k) ASSERT_EQ(registry.Register("f" + std::to_string(k)), 0xC000 + k);
  EXPECT_EQ(registry.Register("one too many"), 0u);
  EXPECT_EQ(registry.Register("F0"), 0xC000u);
}

// --- the note encoding -------------------------------------------------------------

bool HasClosingPair(std::string_view bytes) {
  return bytes.find("\xA7\xBF") != std::string_view::npos;
}

TEST(NoteEncoding, EveryUnicodeCharacterSurvivesAndNoneClosesTheNote) {
  std::string all;
  for (char32_t cp = 0; cp <= 0x10FFFF; ++cp) {
    if (cp >= 0xD800 && cp <= 0xDFFF) continue;
    codepage::AppendUtf8(all, cp);
  }
  for (bool guard : {false, true}) {
    const std::string encoded = EncodeNote(all, guard, guard);
    EXPECT_FALSE(HasClosingPair(encoded));
    EXPECT_TRUE(codepage::IsValidUtf8(encoded));
    if (guard) {
      EXPECT_EQ(encoded.find('\x8C'), std::string::npos);
      EXPECT_EQ(encoded.find('\xA5'), std::string::npos);
    }
    EXPECT_TRUE(DecodeNote(encoded) == all);
  }
}

TEST(NoteEncoding, EscapeCharactersAndTheirNeighboursRoundTrip) {
  const std::string samples[] = {"&#",
                                 "&#38;",
                                 "&#65;",
                                 "&&##;;",
                                 "&#9999999999;",
                                 "&#x41;",
                                 "a&",
                                 "&#1114111;",
                                 "&#55296;",
                                 "\xE0\xA7\xBF",      // U+09FF, whose bytes hold the closing pair
                                 "\xF0\xA7\xBF\xBF",  // U+27FFF
                                 "\xC2\xA7",
                                 "\xC2\xA7\xC2\xBF",  // section sign, then inverted question mark
                                 "line one\r\nline two",
                                 std::string("nul\0byte", 8),
                                 "\xEF\xBB\xBF"
                                 "bom"};
  for (const std::string& note : samples) {
    const std::string comment = ComposeAddNoteComment(ComposeNewTextItemComment(), note);
    EXPECT_EQ(ReadNoteText(comment), note);
    EXPECT_EQ(NoteBytes(comment).find("\xA7\xBF"), std::string_view::npos) << note;
    EXPECT_EQ(ReadFormatNumber(comment), 1);
    EXPECT_EQ(ReadGlyphIndex(comment), 3);
  }
  // Only what must be escaped is: readers of other programs see plain text.
  EXPECT_EQ(EncodeNote("plain \xC2\xA7 text"), "plain \xC2\xA7 text");
  EXPECT_EQ(EncodeNote("\xE0\xA7\xBF"), "&#2559;");
  EXPECT_EQ(EncodeNote("&#"), "&#38;#");
}

TEST(NoteEncoding, NotesWithoutFieldsInFrontCannotFakeThem) {
  // A comment with no fields gets a note holding 0x8C ... 0x8C 0xBF and 0xA5 bytes:
  // U+0165 is C5 A5, U+030C is CC 8C, U+133F is E1 8C BF.
  const std::string note =
      "\xC5\xA5\xCC\x8C"
      "7"
      "\xE1\x8C\xBF";
  const std::string comment = ComposeAddNoteComment("", note);
  EXPECT_FALSE(ReadFormatNumber(comment).has_value());
  EXPECT_FALSE(ReadGlyphIndex(comment).has_value());
  EXPECT_EQ(ReadNoteText(comment), note);
  // With the fields in front, the note is written as it is.
  EXPECT_EQ(NoteBytes(ComposeAddNoteComment(ComposeNewTextItemComment(), note)), note);
}

TEST(NoteEncoding, InvalidUtf8IsTakenAsWindows1252) {
  EXPECT_EQ(DecodeNote(EncodeNote("\xE9t\xE9")), "\xC3\xA9t\xC3\xA9");
}

TEST(NoteEncoding, LineBreaksBecomeCrLf) {
  EXPECT_EQ(NoteLineBreaks("a\nb\r\nc\rd\n\n"), "a\r\nb\r\nc\r\nd\r\n\r\n");
  EXPECT_EQ(NoteLineBreaks("\r\r\n"), "\r\n\r\n");
}

}  // namespace
}  // namespace qb::store
