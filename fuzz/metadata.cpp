// The comment and path parsers. Input: an entry comment, a zero byte, then a text
// used as a note, as a typed item path and as a name pattern. Comments are read by
// every field reader; notes and glyphs written into a comment read back as written,
// and a glyph written, or shifted after a deletion of user glyphs, leaves the
// format and the note as they were; typed names normalise to a fixed point that
// survives the archive's name coding.
#include <limits>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "glyphs/user_glyph_library.h"
#include "platform/codepage.h"
#include "platform/errors.h"
#include "store/item_metadata.h"
#include "store/item_paths.h"
#include "zip/wildcard.h"
#include "zip/zip_header.h"
#include "zip/zip_reader.h"
#include "zip/zip_writer.h"

using namespace qb;

namespace {

// A comment from another program may hold the note's opening byte inside its
// format field, where a reader sees the note start. Writing a glyph moves the
// format field behind the new glyph field, so such a note cannot read the same.
bool NoteOpensInFormatField(std::string_view comment) {
  return store::FieldSpan(comment, store::kFormatOpener).find(store::kNoteOpener) != std::string_view::npos;
}

void Comments(std::string_view comment, std::string_view text) {
  try {
    store::ReadItemMetadata(comment);
  } catch (const EConvertError&) {
  }
  try {
    store::CarryOverMetadata(comment);
  } catch (const EConvertError&) {
  }
  store::FieldSpan(comment, store::kNoteOpener);

  const std::string note = codepage::BytesToUtf8(text);
  const std::string encoded = store::EncodeNote(note, true, true);
  QB_FUZZ_CHECK(store::DecodeNote(encoded) == note);
  QB_FUZZ_CHECK(encoded.find("\xA7\xBF") == std::string::npos);
  QB_FUZZ_CHECK(codepage::IsValidUtf8(encoded));

  const std::string with_note = store::ComposeAddNoteComment(comment, note);
  QB_FUZZ_CHECK(store::CommentHasNote(with_note));
  QB_FUZZ_CHECK(store::ReadNoteText(with_note) == note);

  const long long glyph = static_cast<long long>(text.size());
  const std::string with_glyph = store::ComposeGlyphComment(comment, glyph);
  QB_FUZZ_CHECK(store::ReadGlyphIndex(with_glyph) == glyph);
  QB_FUZZ_CHECK(store::FieldSpan(with_glyph, store::kFormatOpener) ==
                store::FieldSpan(comment, store::kFormatOpener));
  QB_FUZZ_CHECK(NoteOpensInFormatField(comment) ||
                store::ReadNoteText(with_glyph) == store::ReadNoteText(comment));
}

// Deleting user glyphs: the map against a plain count of the glyphs kept, and a
// comment's glyph field shifted by it with its format and note untouched.
void Reindexing(std::string_view comment, std::string_view text) {
  // Up to 8 user glyphs before the deletion, from few names so that some repeat;
  // a byte's top bit deletes its name.
  std::vector<std::string> names, deleted;
  for (size_t k = 0; k < text.size() && k < 8; ++k) {
    names.push_back(std::string(1, static_cast<char>('A' + (text[k] & 3))));
    if (text[k] & 0x80) deleted.push_back(names.back());
  }
  const glyphs::TReindexMap map(names, deleted);
  auto gone = [&](const std::string& name) {
    for (const std::string& d : deleted)
      if (d == name) return true;
    return false;
  };
  const long long first = glyphs::kFixedGlyphCount;
  const long long last = first + static_cast<long long>(names.size());
  auto plain = [&](long long n) -> long long {
    if (n < first || n >= last) return n;
    const size_t at = static_cast<size_t>(n - first);
    if (gone(names[at])) return -1;
    long long kept = 0;
    for (size_t k = 0; k < at; ++k) kept += gone(names[k]) ? 0 : 1;
    return first + kept;
  };
  for (long long n = -1; n <= last + 1; ++n)
    QB_FUZZ_CHECK(map.MapGlyphIndex(static_cast<int>(n)) == plain(n));

  const std::optional<std::string> shifted = glyphs::ReindexComment(comment, map);
  std::optional<long long> old;
  bool number = true;
  try {
    old = store::ReadGlyphIndex(comment);
  } catch (const EConvertError&) {
    number = false;
  }
  const bool moves =
      number && old && *old >= first && *old <= std::numeric_limits<int>::max() && plain(*old) != *old;
  QB_FUZZ_CHECK(shifted.has_value() == moves);
  if (!shifted) return;
  QB_FUZZ_CHECK(store::ReadGlyphIndex(*shifted) == plain(*old));
  QB_FUZZ_CHECK(store::FieldSpan(*shifted, store::kFormatOpener) ==
                store::FieldSpan(comment, store::kFormatOpener));
  QB_FUZZ_CHECK(NoteOpensInFormatField(comment) ||
                store::ReadNoteText(*shifted) == store::ReadNoteText(comment));
}

void Paths(std::string_view text) {
  const std::string typed(text);
  for (bool store_paths : {true, false}) {
    std::string path, file, path2, file2;
    zip::TZipWriter::NormalizeName(typed, store_paths, path, file);
    zip::TZipWriter::NormalizeName(path + file, store_paths, path2, file2);
    QB_FUZZ_CHECK(path2 == path && file2 == file);
    QB_FUZZ_CHECK(path.empty() || path.back() == '\\');
    QB_FUZZ_CHECK(codepage::IsValidUtf8(path + file));
    // Written into an archive and read back, the name is the same.
    bool utf8 = false;
    std::string read_path, read_file;
    zip::SplitEntryName(
        zip::NameFromArchive(zip::NameToArchive(path + file, utf8), utf8 ? zip::format::kFlagUtf8Names : 0),
        read_path, read_file);
    QB_FUZZ_CHECK(read_path == path && read_file == file);
  }
  try {
    const std::string item = store::NormalizeItemPath(typed);
    QB_FUZZ_CHECK(store::NormalizeItemPath(item) == item);
    QB_FUZZ_CHECK(std::string(store::DrawerPathOf(item)) + std::string(store::ItemNameOf(item)) == item);
  } catch (const Exception&) {
  }
  zip::WildcardMatch(text, typed);
  zip::WildcardMatch(typed, "NewItems\\Item0");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  qbfuzz::Input input(data, size);
  const std::string_view comment = input.Until(0);
  const std::string_view text = input.Text(size);
  Comments(comment, text);
  Reindexing(comment, text);
  Paths(text);
  return 0;
}
