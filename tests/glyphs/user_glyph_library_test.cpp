// The user glyph library: reading it in archive order, titles, pictures, the
// re-index map and the rewriting of cabinet comments.
#include "glyphs/user_glyph_library.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "platform/memory_stream.h"
#include "platform/picture.h"
#include "store/cabinet_store.h"
#include "support/test_support.h"

namespace {

using qb::glyphs::TReindexMap;

// 'F' 'G' 'N' 'C' spell the marker bytes 8C A5 A7 BF.
std::string Bytes(std::string_view spelled) {
  std::string out;
  for (char c : spelled)
    out += c == 'F' ? '\x8C' : c == 'G' ? '\xA5' : c == 'N' ? '\xA7' : c == 'C' ? '\xBF' : c;
  return out;
}

std::vector<uint8_t> SmallBmp(int width, int height) {
  qb::TDib dib(width, height, 24);
  dib.SetPixel(0, 0, 0x123456);
  return dib.WriteBmp();
}

void AddEntry(qb::zip::TZipWriter& zip, const std::string& name, const std::vector<uint8_t>& data,
              const std::string& comment = {}) {
  qb::TMemoryStream stream(std::string(data.begin(), data.end()));
  ASSERT_EQ(comment.empty() ? zip.AddFromStream(&stream, name)
                            : zip.AddFromStreamWithComment(&stream, name, comment),
            1);
}

// A deletion of the glyphs at indexes 23 and 25 from a library of five.
TReindexMap FiveMinusTwo() {
  return TReindexMap({"a", "b", "c", "d", "e"}, {"b", "d"});
}

TEST(ReindexMap, ShiftsTheGlyphsBehindDeletedOnes) {
  const TReindexMap map = FiveMinusTwo();
  EXPECT_EQ(map.MapGlyphIndex(22), 22);
  EXPECT_EQ(map.MapGlyphIndex(23), -1);
  EXPECT_EQ(map.MapGlyphIndex(24), 23);
  EXPECT_EQ(map.MapGlyphIndex(25), -1);
  EXPECT_EQ(map.MapGlyphIndex(26), 24);
  EXPECT_EQ(map.MapGlyphIndex(-1), -1);
  // Beyond the last glyph before the deletion: no place in the map, kept.
  EXPECT_EQ(map.MapGlyphIndex(27), 27);
  EXPECT_EQ(map.MapGlyphIndex(2147483647), 2147483647);
  // Nothing deleted: every index stays.
  const TReindexMap none({"a", "b"}, {});
  for (int n : {-1, 0, 21, 22, 23, 24}) EXPECT_EQ(none.MapGlyphIndex(n), n);
}

TEST(ReindexComment, RewritesOnlyShiftedUserGlyphsKeepingFormatAndNote) {
  const TReindexMap map = FiveMinusTwo();
  // Field order of the rewrite: glyph, format, note; without a note it ends with
  // the format field.
  EXPECT_EQ(qb::glyphs::ReindexComment(Bytes("F1FCG24GC"), map), Bytes("G23GCF1FC"));
  EXPECT_EQ(qb::glyphs::ReindexComment(Bytes("F2FCG25GC"), map), Bytes("G-1GCF2FC"));
  // The note is copied byte for byte, bytes that look like markers included.
  const std::string note = Bytes("N\xC3\xA9t\x8C\xBF line\r\nNC");
  EXPECT_EQ(qb::glyphs::ReindexComment(Bytes("F1FCG26GC") + note, map), Bytes("G24GCF1FC") + note);
  // Unchanged: fixed glyphs, -1, the kept first glyph, no or empty glyph field, a
  // field that is no number, an index beyond the library.
  for (std::string_view kept : {"F1FCG21GC", "F1FCG0GC", "F1FCG-1GC", "F1FCG22GC", "F1FC", "F1FCGGC",
                                "F1FCGxGC", "F1FCG27GC", "G23", ""})
    EXPECT_EQ(qb::glyphs::ReindexComment(Bytes(kept), map), std::nullopt) << kept;
}

TEST(GlyphTitles, ProposalSkipsTakenNumbersWithCaseFolded) {
  using qb::glyphs::ProposeGlyphTitle;
  EXPECT_EQ(ProposeGlyphTitle({}), "UserGlyph0");
  EXPECT_EQ(ProposeGlyphTitle({"UserGlyph0", "usERglyph1", "UserGlyph3"}), "UserGlyph2");
  EXPECT_EQ(ProposeGlyphTitle({"UserGlyph1", "Other"}), "UserGlyph0");
}

TEST(GlyphTitles, TakenAndBlankTitlesAreJudgedAsTheEngineStoresThem) {
  using qb::glyphs::TitleBlank;
  using qb::glyphs::TitleTaken;
  const std::vector<std::string> titles = {"UserGlyph0", "Dir\\Star"};
  EXPECT_TRUE(TitleTaken(titles, "USERGLYPH0"));
  // Stored without the prefix, so they would replace the existing glyph.
  EXPECT_TRUE(TitleTaken(titles, "\\UserGlyph0"));
  EXPECT_TRUE(TitleTaken(titles, "C:UserGlyph0"));
  EXPECT_TRUE(TitleTaken(titles, "dir/star"));
  EXPECT_FALSE(TitleTaken(titles, "UserGlyph1"));
  EXPECT_FALSE(TitleTaken(titles, "Star"));
  for (const char* blank : {"", "   ", "\t", "\\", "C:", "C:\\  "}) EXPECT_TRUE(TitleBlank(blank)) << blank;
  for (const char* title : {"a", " a ", "x\\y"}) EXPECT_FALSE(TitleBlank(title)) << title;
}

TEST(GlyphPictures, TransparentPixelsBecomeFuchsia) {
  // 2 x 1: an opaque red pixel and a transparent one.
  const auto picture = qb::glyphs::PictureFromArgb(2, 1, {0xFFFF0000u, 0x00123456u});
  EXPECT_EQ(picture.Width, 2);
  EXPECT_EQ(picture.Height, 1);
  const qb::TDib dib = qb::TDib::ReadBmp(picture.Bitmap);
  EXPECT_EQ(dib.PixelColor(0, 0), qb::Rgb(255, 0, 0));
  EXPECT_EQ(dib.PixelColor(1, 0), qb::Rgb(255, 0, 255));
  EXPECT_THROW(qb::glyphs::PictureFromArgb(2, 2, {0, 0, 0}), qb::EInvalidGraphic);

  // A BMP keeps its depth and palette.
  qb::TDib four(3, 2, 4);
  four.SetPalette({qb::Rgb(1, 2, 3), qb::Rgb(255, 0, 255)});
  four.SetPixel(2, 1, 1);
  const auto read = qb::glyphs::ReadBmpPicture(four.WriteBmp());
  EXPECT_EQ(qb::TDib::ReadBmp(read.Bitmap), four);
  EXPECT_THROW(qb::glyphs::ReadBmpPicture({'P', 'K', 3, 4}), qb::EInvalidGraphic);
}

class LibraryFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    library_ = dir_ / "UserGlyphs.dll";
    zip_.SetSortMode(qb::zip::TZipSortMode::ByNone);
    qb::store::ConfigureCabinetArchive(zip_);
    zip_.SetSortMode(qb::zip::TZipSortMode::ByNone);
  }
  qbtest::TempDir dir_;
  std::string library_;
  qb::zip::TZipWriter zip_;
};

TEST_F(LibraryFileTest, ReadsEntriesInArchiveOrderAndKeepsUnreadableOnesInPlace) {
  zip_.SetZipName(library_);
  EXPECT_TRUE(qb::glyphs::ReadLibrary(zip_).Glyphs.empty());  // no file yet
  AddEntry(zip_, "Zebra", SmallBmp(16, 16));
  AddEntry(zip_, "Broken", {'n', 'o', 't', ' ', 'a', ' ', 'b', 'm', 'p'});
  AddEntry(zip_, "apple", SmallBmp(5, 7));

  qb::zip::TZipWriter fresh;
  fresh.SetSortMode(qb::zip::TZipSortMode::ByNone);
  fresh.SetZipName(library_);
  const qb::glyphs::TLibraryContents contents = qb::glyphs::ReadLibrary(fresh);
  EXPECT_EQ(contents.Problem, "");
  ASSERT_EQ(contents.Glyphs.size(), 3u);
  EXPECT_EQ(contents.Glyphs[0].Title, "Zebra");
  EXPECT_EQ(contents.Glyphs[1].Title, "Broken");
  EXPECT_EQ(contents.Glyphs[2].Title, "apple");
  EXPECT_EQ(contents.Glyphs[0].Bitmap, SmallBmp(16, 16));
  EXPECT_TRUE(contents.Glyphs[1].Bitmap.empty());
  ASSERT_EQ(contents.BadEntries.size(), 1u);
  EXPECT_EQ(contents.BadEntries[0].rfind("Broken: ", 0), 0u);
  EXPECT_EQ(qb::glyphs::LibraryTitles(fresh), (std::vector<std::string>{"Zebra", "Broken", "apple"}));
}

TEST_F(LibraryFileTest, AFileThatIsNoArchiveIsAProblemNotAnEmptyLibrary) {
  for (const std::string& content : {std::string("just some text, no archive at all"),
                                     std::string("PK\x05\x06", 4) + std::string(30, '\xFF')}) {
    {
      std::ofstream out(library_, std::ios::binary | std::ios::trunc);
      out << content;
    }
    zip_.SetZipName("");
    zip_.SetZipName(library_);
    const qb::glyphs::TLibraryContents contents = qb::glyphs::ReadLibrary(zip_);
    EXPECT_NE(contents.Problem, "");
    EXPECT_TRUE(contents.Glyphs.empty());
    zip_.SetZipName("");
    zip_.SetZipName(library_);
    EXPECT_THROW(qb::glyphs::LibraryTitles(zip_), std::exception);
    EXPECT_EQ(qbtest::ReadFileText(library_), content);
  }
}

TEST_F(LibraryFileTest, ReindexRewritesACabinetOnceAndOnlyWhenACommentChanges) {
  const std::string cabinet = dir_ / "Work.qvf";
  qb::zip::TZipWriter zip;
  qb::store::ConfigureCabinetArchive(zip);
  zip.SetZipName(cabinet);
  AddEntry(zip, "A", {'a'}, Bytes("F1FCG24GC"));
  AddEntry(zip, "B", {'b'}, Bytes("F1FCG3GC"));
  AddEntry(zip, "C", {'c'}, Bytes("F1FCG23GCNnoteNC"));
  AddEntry(zip, "D", {'d'});

  struct stat before {};
  ASSERT_EQ(::stat(cabinet.c_str(), &before), 0);
  // Nothing to change: the file is not replaced, even when it may not be written.
  ::chmod(cabinet.c_str(), 0444);
  const TReindexMap keep({"a", "b", "c", "d", "e"}, {"e"});
  EXPECT_EQ(qb::glyphs::ReindexCabinet(zip, keep), 0);
  struct stat after {};
  ASSERT_EQ(::stat(cabinet.c_str(), &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino);

  // No write permission with something to change: refused, nothing left pending
  // in memory.
  EXPECT_THROW(qb::glyphs::ReindexCabinet(zip, FiveMinusTwo()), std::exception);
  EXPECT_FALSE(zip.Modified());
  EXPECT_EQ(zip.ZipName(), cabinet);
  ::chmod(cabinet.c_str(), 0644);
  EXPECT_EQ(qb::glyphs::ReindexCabinet(zip, FiveMinusTwo()), 2);

  qb::zip::TZipWriter fresh;
  qb::store::ConfigureCabinetArchive(fresh);
  fresh.SetZipName(cabinet);
  fresh.ReadDirectory();
  ASSERT_EQ(fresh.EntryCount(), 4);
  EXPECT_EQ(fresh.EntryComment(0), Bytes("G23GCF1FC"));
  EXPECT_EQ(fresh.EntryComment(1), Bytes("F1FCG3GC"));
  EXPECT_EQ(fresh.EntryComment(2), Bytes("G-1GCF1FCNnoteNC"));
  EXPECT_FALSE(fresh.EntryHasComment(3));

  EXPECT_EQ(qb::glyphs::ReindexCabinet(zip, TReindexMap()), 0);
  zip.SetZipName(dir_ / "missing.qvf");
  EXPECT_EQ(qb::glyphs::ReindexCabinet(zip, FiveMinusTwo()), 0);
}

TEST_F(LibraryFileTest, BorrowingPointsBackAtTheCabinetAndDropsWhatAFailedUpdateLeft) {
  const std::string cabinet = dir_ / "Work.qvf";
  qb::zip::TZipWriter zip;
  qb::store::ConfigureCabinetArchive(zip);
  zip.SetZipName(cabinet);
  AddEntry(zip, "B", {'b'});
  AddEntry(zip, "A", {'a'});
  {
    qb::glyphs::TBorrowedArchive borrowed(zip, library_, qb::zip::TZipSortMode::ByNone);
    EXPECT_EQ(zip.ZipName(), library_);
    EXPECT_EQ(zip.SortMode(), qb::zip::TZipSortMode::ByNone);
    AddEntry(zip, "glyph", SmallBmp(2, 2));
    // A change in memory that was never written stays unwritten.
    zip.SetEntryComment(0, "pending");
  }
  EXPECT_EQ(zip.ZipName(), cabinet);
  EXPECT_EQ(zip.SortMode(), qb::zip::TZipSortMode::ByName);
  ASSERT_EQ(zip.EntryCount(), 2);
  EXPECT_EQ(zip.EntryFullName(0), "A");  // sorted again
  qb::zip::TZipWriter fresh;
  fresh.SetZipName(library_);
  fresh.ReadDirectory();
  ASSERT_EQ(fresh.EntryCount(), 1);
  EXPECT_FALSE(fresh.EntryHasComment(0));
}

}  // namespace
