// Item paths and the store routines, against real cabinet files: lookups, proposed
// names, typed paths, and that every write leaves the right comment on the right
// entry - or, when refused, leaves the file exactly as it was.
#include "store/cabinet_store.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/errors.h"
#include "store/item_metadata.h"
#include "store/item_paths.h"
#include "store/store_errors.h"
#include "support/test_support.h"

namespace qb::store {
namespace {

using qbtest::ReadFileBytes;
using qbtest::TempDir;

std::string Bytes(std::string_view spelled) {
  std::string out;
  for (char c : spelled)
    out += c == 'F' ? '\x8C' : c == 'G' ? '\xA5' : c == 'N' ? '\xA7' : c == 'C' ? '\xBF' : c;
  return out;
}

class CabinetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = dir_ / "cabinet.qvf";
    ConfigureCabinetArchive(zip_);
    zip_.SetZipName(path_);
  }
  // Stores an entry with exactly this comment, straight through the engine.
  void Put(const std::string& name, const std::string& data, const std::string& comment) {
    TMemoryStream stream(data);
    ASSERT_EQ(zip_.AddFromStreamWithComment(&stream, name, comment), 1);
  }
  std::string CommentOf(const std::string& path) {
    // A fresh reader: what is on disk, not what is in memory.
    zip::TZipWriter other;
    ConfigureCabinetArchive(other);
    other.SetZipName(path_);
    other.ReadDirectory();
    int i = FindItemEntry(other, path);
    EXPECT_LT(i, other.EntryCount()) << path;
    return i < other.EntryCount() && other.EntryHasComment(i) ? other.EntryComment(i) : "";
  }
  std::vector<std::string> Names() {
    RefreshDirectory(zip_);
    std::vector<std::string> names;
    for (int i = 0; i < zip_.EntryCount(); ++i) names.push_back(zip_.EntryFullName(i));
    return names;
  }
  std::string Payload(const std::string& path) {
    TMemoryStream out;
    EXPECT_EQ(zip_.ExtractIndexToStream(&out, LocateItem(zip_, path)), 1);
    return out.ToString();
  }

  TempDir dir_;
  std::string path_;
  zip::TZipWriter zip_;
};

TEST_F(CabinetTest, FindItemEntryFoldsAsciiOnly) {
  Put("Work\\A", "1", "");
  Put("Work\\\xC3\xA4", "2", "");  // a-umlaut
  RefreshDirectory(zip_);
  EXPECT_EQ(zip_.EntryFullName(FindItemEntry(zip_, "WORK\\a")), "Work\\A");
  EXPECT_EQ(FindItemEntry(zip_, "work\\\xC3\xA4"), FindItemEntry(zip_, "Work\\\xC3\xA4"));
  EXPECT_EQ(FindItemEntry(zip_, "Work\\\xC3\x84"), zip_.EntryCount());  // A-umlaut is not folded
  EXPECT_EQ(FindItemEntry(zip_, "Work"), zip_.EntryCount());
}

TEST_F(CabinetTest, NextFreeItemName) {
  EXPECT_EQ(NextFreeItemName(zip_, kNewItemsPrefix), "NewItems\\Item0");  // no file yet
  EXPECT_EQ(NextFreeItemName(zip_, DrawerItemPrefix("Work\\Code\\Snippet")), "Work\\Code\\Item0");
  Put("NewItems\\Item0", "", "");
  Put("NewItems\\item1", "", "");
  Put("NewItems\\Item3", "", "");
  EXPECT_EQ(NextFreeItemName(zip_, kNewItemsPrefix), "NewItems\\Item2");
  EXPECT_EQ(NextFreeItemName(zip_, "newitems\\ITEM"), "newitems\\ITEM2");
  Put("NewItems\\Item2", "", "");
  EXPECT_EQ(NextFreeItemName(zip_, kNewItemsPrefix), "NewItems\\Item4");
  EXPECT_EQ(NextFreeItemName(zip_, DrawerItemPrefix("item1")), "Item0");
  EXPECT_EQ(DrawerItemPrefix("item1"), "Item");
}

TEST(ItemPaths, TypedPathsAreNormalisedOrRefused) {
  EXPECT_EQ(NormalizeItemPath("Work\\Code\\Snippet"), "Work\\Code\\Snippet");
  EXPECT_EQ(NormalizeItemPath("\\A\\b"), "A\\b");
  EXPECT_EQ(NormalizeItemPath("C:\\a\\b"), "a\\b");
  EXPECT_EQ(NormalizeItemPath("Note: x"), "Note: x");
  EXPECT_EQ(NormalizeItemPath("Work/Meeting 10:30"), "Work\\Meeting 10:30");
  EXPECT_EQ(NormalizeItemPath("a:b:c"), "c");
  EXPECT_EQ(NormalizeItemPath(NormalizeItemPath("a:b:c")), "c");
  for (const char* bad : {"", "   ", "Drawer\\", "A\\\\\\", "C:", "A\\ ", "A\\\\B\\c"})
    EXPECT_THROW(NormalizeItemPath(bad), EItemPathError) << bad;
  EXPECT_EQ(ItemNameOf("Work\\Code\\Snippet"), "Snippet");
  EXPECT_EQ(DrawerPathOf("Work\\Code\\Snippet"), "Work\\Code\\");
  EXPECT_EQ(DrawerPathOf("item1"), "");
}

// Blank: nothing but bytes up to the space. A byte above 0x7F (any UTF-8 letter's)
// is text, whatever the sign of char.
TEST(ItemPaths, BlankNamesAreSpacesAndControlsOnly) {
  for (std::string_view blank :
       {std::string_view(""), std::string_view(" \t\r\n"), std::string_view("\0\x1F", 2)})
    EXPECT_TRUE(qb::store::IsBlankName(blank));
  for (std::string_view text : {"x", "  .", "\x80", " \xC3\xA9 ", "\x7F"})
    EXPECT_FALSE(qb::store::IsBlankName(text)) << text;
}

TEST_F(CabinetTest, SaveWritesPayloadAndCommentTogether) {
  TMemoryStream payload(std::string("hello\0", 6));
  StoredItem item = SaveItem(zip_, payload, "\\Clips\\First", kFormatText);
  EXPECT_EQ(item.path, "Clips\\First");  // the comment went to the entry that was stored
  EXPECT_FALSE(item.replaced);
  EXPECT_EQ(item.glyph, 3);
  EXPECT_EQ(CommentOf("Clips\\First"), Bytes("F1FCG3GC"));
  EXPECT_EQ(Payload("CLIPS\\FIRST"), std::string("hello\0", 6));
  EXPECT_EQ(Names(), std::vector<std::string>{"Clips\\First"});
}

TEST_F(CabinetTest, SavingOverAnItemKeepsItsGlyphAndNote) {
  Put("Pics\\Shot", "bitmap", Bytes("F2FCG15GCNxNC"));
  Put("Other", "o", Bytes("F1FCG3GCNkeepNC"));
  TMemoryStream payload(std::string("text"));
  StoredItem item = SaveItem(zip_, payload, "pics\\shot", kFormatText);
  EXPECT_TRUE(item.replaced);
  EXPECT_TRUE(item.has_note);
  EXPECT_EQ(CommentOf("pics\\shot"), Bytes("F1FCG15GCNxNC"));
  EXPECT_EQ(CommentOf("Other"), Bytes("F1FCG3GCNkeepNC"));
  EXPECT_EQ(Payload("Pics\\Shot"), "text");
  EXPECT_EQ(Names().size(), 2u);

  // A chosen glyph wins over the carried one; the note still comes along.
  TMemoryStream again(std::string("more"));
  SaveItem(zip_, again, "Pics\\Shot", kFormatBitmap, 9);
  EXPECT_EQ(CommentOf("Pics\\Shot"), Bytes("F2FCG9GCNxNC"));
}

TEST_F(CabinetTest, RefusedWritesLeaveTheFileAsItWas) {
  Put("Damaged", "old", Bytes("F1FCGxxGC"));
  Put("Fine", "fine", Bytes("F1FCG3GC"));
  const auto before = ReadFileBytes(path_);
  TMemoryStream payload(std::string("new"));
  EXPECT_THROW(SaveItem(zip_, payload, "Damaged", kFormatText), EConvertError);
  EXPECT_THROW(SaveItem(zip_, payload, "Drawer\\", kFormatText), EItemPathError);
  EXPECT_THROW(SetItemNote(zip_, "Fine", std::string(70000, 'n')), Exception);
  EXPECT_THROW(SetItemNote(zip_, "Missing", "n"), EItemNotFound);
  EXPECT_THROW(DeleteItem(zip_, "Missing"), EItemNotFound);
  EXPECT_EQ(ReadFileBytes(path_), before);
  // Nothing refused stays pending to be written by the next update.
  TMemoryStream next(std::string("next"));
  SaveItem(zip_, next, "Next", kFormatText);
  EXPECT_EQ(CommentOf("Fine"), Bytes("F1FCG3GC"));
  EXPECT_EQ(Payload("Damaged"), "old");
}

TEST_F(CabinetTest, NoteAndGlyphChanges) {
  Put("A", "a", ComposeNewTextItemComment());
  Put("B", "b", Bytes("F7FCG7GCNbNC"));
  SetItemNote(zip_, "a", "first\nsecond");
  EXPECT_EQ(CommentOf("A"), Bytes("F1FCG3GCNfirst\r\nsecondNC"));
  SetItemNote(zip_, "A", "\xE0\xA7\xBF & &#");  // a character holding the closing pair
  EXPECT_EQ(ReadNoteText(CommentOf("A")), "\xE0\xA7\xBF & &#");
  SetItemGlyph(zip_, "A", 17);
  EXPECT_EQ(ReadItemMetadata(CommentOf("A")).glyph, 17);
  EXPECT_EQ(ReadNoteText(CommentOf("A")), "\xE0\xA7\xBF & &#");
  DeleteItemNote(zip_, "A");
  EXPECT_EQ(CommentOf("A"), Bytes("G17GCF1FC"));
  EXPECT_EQ(CommentOf("B"), Bytes("F7FCG7GCNbNC"));
  // A note on an entry that had no comment at all.
  Put("Bare", "x", "");
  SetItemNote(zip_, "Bare", "n");
  ItemMetadata bare = ReadItemMetadata(CommentOf("Bare"));
  EXPECT_FALSE(bare.format.has_value());
  EXPECT_EQ(bare.note, "n");
}

TEST_F(CabinetTest, MoveRenamesAndRefusesToOverwriteUnlessAsked) {
  Put("NewItems\\Item0", "zero", Bytes("F1FCG3GCNzNC"));
  Put("Code\\A", "a", Bytes("F1FCG14GC"));
  EXPECT_EQ(MoveItem(zip_, "newitems\\item0", "NewItems\\Code\\A", false), "NewItems\\Code\\A");
  EXPECT_EQ(Names(), (std::vector<std::string>{"Code\\A", "NewItems\\Code\\A"}));
  EXPECT_EQ(CommentOf("NewItems\\Code\\A"), Bytes("F1FCG3GCNzNC"));

  const auto before = ReadFileBytes(path_);
  EXPECT_THROW(MoveItem(zip_, "NewItems\\Code\\A", "CODE\\a", false), EItemExists);
  EXPECT_EQ(ReadFileBytes(path_), before);
  // A rename in letter case only is no clash.
  EXPECT_EQ(MoveItem(zip_, "Code\\A", "code\\a", false), "code\\a");

  EXPECT_EQ(MoveItem(zip_, "NewItems\\Code\\A", "Code\\A", true), "Code\\A");
  EXPECT_EQ(Names(), std::vector<std::string>{"Code\\A"});
  EXPECT_EQ(Payload("Code\\A"), "zero");
  EXPECT_EQ(CommentOf("Code\\A"), Bytes("F1FCG3GCNzNC"));
  // The same path again changes nothing.
  const auto settled = ReadFileBytes(path_);
  MoveItem(zip_, "Code\\A", "Code\\A", false);
  EXPECT_EQ(ReadFileBytes(path_), settled);
}

TEST_F(CabinetTest, DeleteRemovesExactlyOneItem) {
  Put("A\\b", "1", "");
  Put("A\\c", "2", Bytes("F1FCG3GC"));
  Put("D", "3", "");
  DeleteItem(zip_, "a\\B");
  EXPECT_EQ(Names(), (std::vector<std::string>{"A\\c", "D"}));
  EXPECT_EQ(CommentOf("A\\c"), Bytes("F1FCG3GC"));
  // A later extraction by index takes only the entry asked for.
  EXPECT_EQ(Payload("D"), "3");
}

}  // namespace
}  // namespace qb::store
