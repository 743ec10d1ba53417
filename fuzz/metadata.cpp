// The comment and path parsers. Input: an entry comment, a zero byte, then a text
// used as a note, as a typed item path and as a name pattern. Comments are read by
// every field reader; notes and glyphs written into a comment read back as written;
// typed names normalise to a fixed point that survives the archive's name coding.
#include <string>

#include "fuzz_support.h"
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
  Paths(text);
  return 0;
}
