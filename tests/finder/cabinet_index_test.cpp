// The finder's index over real cabinets (written by Python's zipfile, with the
// program's entry comments): what a search finds in paths, notes and text, in any
// letter case of any script; the history's order; the previews of every kind of
// item; damaged items and cancelled reads.
#include "finder/cabinet_index.h"

#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <string>
#include <vector>

#include "finder/item_preview.h"
#include "store/cabinet_store.h"
#include "support/test_support.h"
#include "zip/zip_writer.h"

namespace {

using qb::finder::kSearchAll;
using qb::finder::kSearchContent;
using qb::finder::kSearchNotes;
using qb::finder::kSearchPaths;
using qb::finder::TCabinetIndex;
using qbtest::TempDir;

// Comments as Python bytes: F = 0x8C, G = 0xA5, N = 0xA7, C = 0xBF.
const char* const kMakeCabinet = R"(
import struct, sys, zipfile
def c(fmt, glyph, note=None):
    s = b'\x8c%d\x8c\xbf\xa5%d\xa5\xbf' % (fmt, glyph)
    return s + (b'\xa7' + note.encode() + b'\xa7\xbf' if note is not None else b'')
def bmp(w, h):
    return b'BM' + struct.pack('<IHHI', 54, 0, 0, 54) + struct.pack('<IiiHHIIiiII', 40, w, h, 1, 24, 0, 0, 0, 0, 0, 0)
def wav(rate, seconds):
    data = bytes(int(rate * seconds))
    fmt = struct.pack('<HHIIHH', 1, 1, rate, rate, 1, 8)
    return b'RIFF' + struct.pack('<I', 4 + 8 + 16 + 8 + len(data)) + b'WAVE' + b'fmt ' + struct.pack('<I', 16) + fmt + b'data' + struct.pack('<I', len(data)) + data
items = [
    ('NewItems/Item0', (2024, 5, 1, 10, 0, 0), c(1, 3), b'Hello World, see you at the Stra\xc3\x9fe\x00slack'),
    ('NewItems/Item1', (2024, 5, 1, 10, 0, 0), c(7, 7), b'Caf\x82 au lait\x00'),
    ('NewItems/Item2', (2023, 1, 1, 0, 0, 0), c(1, 3), b'\xc4rger ' * 40),
    ('Notes/Greek', (2024, 6, 1, 0, 0, 0), c(1, 3, '\u03a3\u038a\u03a3\u03a5\u03a6\u039f\u03a3 rolled it'), b'plain'),
    ('Pics/Logo', (2024, 4, 1, 0, 0, 0), c(2, 4, 'Firmenlogo GROSS'), bmp(1920, 1080)),
    ('Pics/Needle in picture', (2024, 3, 1, 0, 0, 0), c(2, 4), bmp(2, 2) + b'needle hay'),
    ('Sounds/Beep', (2024, 5, 1, 10, 0, 0), c(12, 12), wav(8000, 3.2)),
    ('Damaged', (2024, 2, 1, 0, 0, 0), c(1, 3), b'broken text'),
    ('Empty/', (2024, 1, 1, 0, 0, 0), b'', b''),
]
with zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_DEFLATED) as z:
    for name, date, comment, data in items:
        info = zipfile.ZipInfo(name, date)
        info.compress_type = zipfile.ZIP_DEFLATED
        info.comment = comment
        z.writestr(info, data)
# Damage the stored CRC of "Damaged" in both headers.
raw = bytearray(open(sys.argv[1], 'rb').read())
with zipfile.ZipFile(sys.argv[1]) as z:
    info = z.getinfo('Damaged')
crc = struct.pack('<I', info.CRC)
bad = struct.pack('<I', info.CRC ^ 0xFFFF)
raw = raw.replace(crc, bad)
open(sys.argv[1], 'wb').write(raw)
)";

// One cabinet for every test of the suite (Python takes a while to start).
class CabinetIndexTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new TempDir;
    path_ = *dir_ / "c.qvf";
    qbtest::WriteFileText(*dir_ / "make.py", kMakeCabinet);
    const auto made = qbtest::RunCommand("python3 " + qbtest::ShellQuote(*dir_ / "make.py") + " " +
                                         qbtest::ShellQuote(path_));
    ASSERT_EQ(made.exit_code, 0) << made.errors;
  }
  static void TearDownTestSuite() {
    delete dir_;
    dir_ = nullptr;
  }
  void SetUp() override {
    qb::store::ConfigureCabinetArchive(zip_);
    zip_.SetZipName(path_);
    index_ = TCabinetIndex::Read(zip_);
  }

  std::vector<std::string> Found(const std::string& query, unsigned fields = kSearchAll) const {
    std::vector<std::string> paths;
    for (int k : index_.Search(query, fields)) paths.push_back(index_.Items()[static_cast<size_t>(k)].path);
    return paths;
  }
  const qb::finder::TIndexedItem& Item(const std::string& path) const {
    for (const auto& item : index_.Items())
      if (item.path == path) return item;
    throw std::runtime_error("no item " + path);
  }

  static inline TempDir* dir_ = nullptr;
  static inline std::string path_;
  qb::zip::TZipWriter zip_;
  TCabinetIndex index_;
};

using Paths = std::vector<std::string>;

TEST_F(CabinetIndexTest, ListsItemsButNotDrawerEntries) {
  ASSERT_EQ(index_.Count(), 8);
  EXPECT_EQ(index_.Items()[0].path, "Damaged");
  EXPECT_EQ(Item("Notes\\Greek").entry + 1, Item("Pics\\Logo").entry);
  EXPECT_TRUE(Item("Pics\\Logo").has_note);
  EXPECT_EQ(Item("Pics\\Logo").format, 2);
}

TEST_F(CabinetIndexTest, FindsPathsNotesAndTextInAnyCase) {
  EXPECT_EQ(Found("newitems\\ITEM1"), Paths{"NewItems\\Item1"});
  EXPECT_EQ(Found("pics"), (Paths{"Pics\\Logo", "Pics\\Needle in picture"}));
  // Text, across the zero byte's slack: only what comes before it counts.
  EXPECT_EQ(Found("HELLO world"), Paths{"NewItems\\Item0"});
  EXPECT_EQ(Found("slack"), Paths{});
  // Unicode letter case: German sharp s both ways, umlauts, Greek with its final
  // sigma, code page 437 of OEM text read as the letters it stands for.
  EXPECT_EQ(Found("STRASSE"), Paths{"NewItems\\Item0"});
  EXPECT_EQ(Found("gro\xC3\x9F"), Paths{"Pics\\Logo"});
  EXPECT_EQ(Found("\xC3\xA4RGER \xC3\x84rger"), Paths{"NewItems\\Item2"});
  EXPECT_EQ(Found("\xCF\x83\xCE\xAF\xCF\x83\xCF\x85\xCF\x86\xCE\xBF\xCF\x82"), Paths{"Notes\\Greek"});
  EXPECT_EQ(Found("CAF\xC3\x89 AU"), Paths{"NewItems\\Item1"});
}

TEST_F(CabinetIndexTest, PicturesMatchByPathAndNoteOnlyAndFieldsNarrow) {
  EXPECT_EQ(Found("hay"), Paths{});  // the bytes of a picture are no text
  EXPECT_EQ(Found("needle"), Paths{"Pics\\Needle in picture"});
  EXPECT_EQ(Found("needle", kSearchContent | kSearchNotes), Paths{});
  EXPECT_EQ(Found("firmenlogo", kSearchPaths | kSearchContent), Paths{});
  EXPECT_EQ(Found("firmenlogo", kSearchNotes), Paths{"Pics\\Logo"});
  EXPECT_EQ(Found("item", kSearchContent), Paths{});
  EXPECT_EQ(Found("plain", kSearchContent), Paths{"Notes\\Greek"});
  // A query never spans two items: the end of one text and the start of the next.
  EXPECT_EQ(Found("picturepics", kSearchPaths), Paths{});
  EXPECT_EQ(Found(std::string("e\0p", 3)), Paths{});
}

TEST_F(CabinetIndexTest, EmptyQueryFindsAllAndNarrowingAgreesWithAFreshSearch) {
  EXPECT_EQ(index_.Search("").size(), 8u);
  for (const char* typed : {"e", "em", "ems", "ems\\", "ems\\i", "ems\\it"}) {
    const std::vector<int> wide = index_.Search(std::string(typed).substr(0, 1));
    EXPECT_EQ(index_.Search(typed, kSearchAll, &wide), index_.Search(typed)) << typed;
  }
}

TEST_F(CabinetIndexTest, HistoryIsNewestFirstAndEqualDatesKeepTheCabinetOrder) {
  std::vector<std::string> order;
  for (int k : index_.History()) order.push_back(index_.Items()[static_cast<size_t>(k)].path);
  EXPECT_EQ(order, (Paths{"Notes\\Greek", "NewItems\\Item0", "NewItems\\Item1", "Sounds\\Beep", "Pics\\Logo",
                          "Pics\\Needle in picture", "Damaged", "NewItems\\Item2"}));
  EXPECT_EQ(qb::finder::DosDateTimeText(Item("Pics\\Logo").dos_date_time), "2024-04-01 00:00:00");
}

TEST_F(CabinetIndexTest, PreviewsSayWhatEachItemHolds) {
  EXPECT_EQ(Item("Pics\\Logo").preview, "Picture 1920 x 1080");
  EXPECT_EQ(Item("Sounds\\Beep").preview, "Wave 3.2 s");
  EXPECT_EQ(Item("NewItems\\Item0").preview,
            "Hello World, see you at the Stra\xC3\x9F"
            "e");
  EXPECT_EQ(Item("NewItems\\Item1").preview, "Caf\xC3\xA9 au lait");
  EXPECT_TRUE(Item("NewItems\\Item2").preview.ends_with("..."));
  EXPECT_EQ(Item("Damaged").preview, "Cannot be read: it has a bad CRC: the data is damaged");
  EXPECT_FALSE(Item("Damaged").text);
  EXPECT_EQ(Found("broken"), Paths{});
}

TEST_F(CabinetIndexTest, ACancelledReadStopsEarly) {
  std::atomic<bool> cancel{true};
  qb::finder::TIndexOptions options;
  options.cancel = &cancel;
  const TCabinetIndex index = TCabinetIndex::Read(zip_, options);
  EXPECT_TRUE(index.Cancelled());
  EXPECT_EQ(index.Count(), 0);
}

TEST(CabinetIndex, ALongTextColumnScannedInPartsFindsEveryItem) {
  // 2,400 texts of 8 KiB (19 MB, long enough to be scanned in two parts), the
  // word in the first and last items, around the middle of the column, and
  // split across two neighbouring items (where no match may be).
  TCabinetIndex index;
  const std::string filler(8192, 'a');
  const std::set<int> with = {0, 1198, 1199, 1200, 1201, 2399};
  for (int k = 0; k < 2400; ++k) {
    std::string text = filler;
    if (with.count(k)) text.replace(static_cast<size_t>(k * 3 % 8000), 6, "NEEDLE");
    if (k == 600) text.replace(text.size() - 3, 3, "NEE");
    if (k == 601) text.replace(0, 3, "DLE");
    qb::finder::TIndexedItem item;
    item.path = "I" + std::to_string(k);
    index.Add(std::move(item), "", text);
  }
  const std::vector<int> found = index.Search("needle");
  EXPECT_EQ(std::set<int>(found.begin(), found.end()), with);
  EXPECT_EQ(found.size(), with.size());
  EXPECT_EQ(index.Search("needle", kSearchAll, &found), found);
}

TEST(ItemPreview, TextOnOneLineCutAtACharacter) {
  using qb::finder::TextPreview;
  EXPECT_EQ(TextPreview("  first line\r\n\tsecond\x1B[31m  "), "first line second [31m");
  EXPECT_EQ(TextPreview("\xE2\x80\xAE"
                        "abc"),
            "abc");  // a right-to-left override is dropped
  EXPECT_EQ(TextPreview("\xC3\xA4\xC3\xB6\xC3\xBC\xC3\x9F", 3), "\xC3\xA4\xC3\xB6\xC3\xBC...");
  EXPECT_EQ(TextPreview("abc", 3), "abc");
  EXPECT_EQ(TextPreview("ab\xFF", 10), "ab\xEF\xBF\xBD");
}

TEST(ItemPreview, OpeningKeepsTheFirstLines) {
  using qb::finder::TextOpening;
  EXPECT_EQ(TextOpening("\r\n\r\nfirst\r\n\r\nthird\tline\x07\r\n\r\n"), "first\n\nthird line");
  EXPECT_EQ(TextOpening("a\nb\nc\nd", 3), "a\nb\nc...");
  EXPECT_EQ(TextOpening("abcdef", 8, 4), "abcd...");
}

TEST(ItemPreview, OddPayloadsStillGetAnAnswer) {
  using qb::finder::ItemPreview;
  EXPECT_EQ(ItemPreview(2, "BM", 2), "Picture");
  EXPECT_EQ(ItemPreview(12, "RIFF\0\0\0\0WAVEdata\x10\0\0\0", 20), "Wave");  // no format chunk
  EXPECT_EQ(ItemPreview(std::nullopt, "xyz", 3), "No format, 3 bytes");
  EXPECT_EQ(ItemPreview(1, std::string("\0", 1), 1), "Empty text");
  EXPECT_EQ(ItemPreview(40000, "abc", 3), "Format 40000, 3 bytes");
}

}  // namespace
