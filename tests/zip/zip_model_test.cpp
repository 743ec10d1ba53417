// The engine's small building blocks: lists, names, dates and patterns.
#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <string>

#include "support/test_support.h"
#include "zip/crc32.h"
#include "zip/sorted_list.h"
#include "zip/wildcard.h"
#include "zip/zip_header.h"
#include "zip/zip_reader.h"

namespace qb::zip {
namespace {

TZipHeaderInfo* Record(const std::string& full_name, uint32_t offset) {
  auto* r = new TZipHeaderInfo;
  SplitEntryName(full_name, r->path, r->file_name);
  r->local_header_offset = offset;
  return r;
}

TEST(SortedZip, ByNameFoldsAsciiOnlyAndPutsLaterEntriesFirstAmongEquals) {
  TSortedZip owner(true, TDuplicates::dupError, TZipSortMode::ByNone);
  TSortedZip view(false, TDuplicates::dupAccept, TZipSortMode::ByName);
  // In file order: the second "work\a" comes later in the file.
  for (auto* r : {Record("Work\\a", 0), Record("b", 10), Record("WORK\\A", 20), Record("\xC3\xA9", 30),
                  Record("_x", 40)}) {
    owner.Add(r);
  }
  for (auto* r : owner) view.Add(r);
  std::vector<std::string> names;
  for (auto* r : view) names.push_back(r->FullName() + "@" + std::to_string(r->local_header_offset));
  // Letters compare folded to upper case, so '_' (0x5F) sorts after every letter;
  // bytes above 0x7F compare by value.
  EXPECT_EQ(names, (std::vector<std::string>{"b@10", "WORK\\A@20", "Work\\a@0", "_x@40", "\xC3\xA9@30"}));
  std::unique_ptr<TZipHeaderInfo> dup(Record("dup", 10));
  EXPECT_THROW(owner.Add(dup.get()), EListError);  // same local header offset
}

// The one-sort build of a view gives the order, and the duplicate handling, of
// inserting the records one by one: names around the 16 bytes the sort compares
// first, equal but for case or trailing zero bytes, and bytes above 0x7F.
TEST(SortedZip, SortingAllAtOnceMatchesInsertingEachInTurn) {
  auto random = qbtest::RandomBytes(20000, 5);
  size_t next = 0;
  auto byte = [&] { return random[next++ % random.size()]; };
  const std::string alphabet = std::string("aAbB\\_z") + '\0' + "\xC3\xA9";
  std::vector<std::string> names;
  for (int i = 0; i < 400; ++i) {
    std::string name = i % 3 == 0 ? "DRAWER\\ITEMS\\" : i % 3 == 1 ? "drawer\\items\\" : "";
    const size_t length = byte() % 8;
    for (size_t k = 0; k < length; ++k) name += alphabet[byte() % alphabet.size()];
    names.push_back(name);
  }
  for (TDuplicates mode : {TDuplicates::dupAccept, TDuplicates::dupIgnore, TDuplicates::dupError}) {
    std::vector<std::unique_ptr<TZipHeaderInfo>> records;
    std::vector<TZipHeaderInfo*> items;
    for (size_t i = 0; i < names.size(); ++i) {
      records.emplace_back(Record(names[i], static_cast<uint32_t>(i)));
      items.push_back(records.back().get());
    }
    TSortedZip one_by_one(false, mode, TZipSortMode::ByName), at_once(false, mode, TZipSortMode::ByName);
    std::string refused_one, refused_all;
    try {
      for (auto* r : items) one_by_one.Add(r);
    } catch (const EListError& e) {
      refused_one = e.what();
    }
    try {
      at_once.AssignInOrder(items);
    } catch (const EListError& e) {
      refused_all = e.what();
    }
    EXPECT_EQ(refused_all, refused_one);
    if (!refused_one.empty()) continue;
    ASSERT_EQ(at_once.Count(), one_by_one.Count());
    for (int i = 0; i < at_once.Count(); ++i) EXPECT_EQ(at_once[i], one_by_one[i]) << i;
  }
}

TEST(SortedZip, DuplicateModesPutRefusalAndCapacity) {
  TSortedZip ignore(true, TDuplicates::dupIgnore, TZipSortMode::ByName);
  auto* a = Record("a", 0);
  ignore.Add(a);
  auto* again = Record("A", 1);
  EXPECT_EQ(ignore.Add(again), -1);
  delete again;
  EXPECT_EQ(ignore.Count(), 1);
  try {
    ignore.Put(0, a);
    FAIL();
  } catch (const EListError& e) {
    EXPECT_STREQ(e.what(), "Cannot <Put> an Object in a sorted list!");
  }
  try {
    TSortedZip error(false, TDuplicates::dupError, TZipSortMode::ByName);
    error.Add(a);
    error.Add(a);
    FAIL();
  } catch (const EListError& e) {
    EXPECT_STREQ(e.what(), "Duplicate Object index");
  }
  TObjectList<int> list(true);
  std::vector<int> capacities;
  for (int i = 0; i < 30; ++i) {
    list.AppendItem(new int(i));
    if (capacities.empty() || capacities.back() != list.Capacity()) capacities.push_back(list.Capacity());
  }
  EXPECT_EQ(capacities, (std::vector<int>{4, 8, 16, 32}));
  EXPECT_THROW(list.Get(30), EListError);
  try {
    list.Get(-1);
  } catch (const EListError& e) {
    EXPECT_STREQ(e.what(), "Index -1 is out of range");
  }
}

TEST(SortedZip, RefusesToGrowPast65534) {
  TObjectList<int> list(false);
  static int item = 0;
  for (int i = 0; i < kMaxListSize; ++i) list.AppendItem(&item);
  EXPECT_THROW(list.AppendItem(&item), EListError);
  EXPECT_EQ(list.Count(), kMaxListSize);
}

TEST(ZipNames, SplitAndCodePages) {
  std::string path, file;
  SplitEntryName("Work\\Note: x", path, file);  // a colon is part of the name
  EXPECT_EQ(path, "Work\\");
  EXPECT_EQ(file, "Note: x");
  SplitEntryName("a\\b\\c", path, file);
  EXPECT_EQ(path, "a\\b\\");
  EXPECT_EQ(file, "c");
}

// The name hash behind the duplicate checks: names equal once a-z are folded (and,
// in the stored form, "/" read as "\\") hash alike wherever they are cut; names
// that differ in any other byte, at any place of a word, hash apart.
TEST(ZipNames, FoldedHashKeepsApartOnlyWhatTheFoldKeepsApart) {
  auto fold = [](std::string s, bool stored_form) {
    for (char& c : s) {
      if (stored_form && c == '/') c = '\\';
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    }
    return s;
  };
  for (bool stored_form : {false, true}) {
    for (size_t length = 1; length <= 19; ++length) {
      for (size_t at = 0; at < length; ++at) {
        std::string name(length, 'k');
        std::set<uint64_t> hashes;
        std::set<std::string> folded;
        for (int b = 0; b < 256; ++b) {
          name[at] = static_cast<char>(b);
          const uint64_t h = FoldedNameHash(name, {}, stored_form);
          EXPECT_EQ(h, FoldedNameHash(fold(name, stored_form), {}, stored_form))
              << length << " " << at << " " << b;
          bool ascii = true;
          EXPECT_EQ(FoldedNameHashAscii(name, stored_form, ascii), h);
          EXPECT_EQ(ascii, b < 0x80) << length << " " << at << " " << b;
          hashes.insert(h);
          folded.insert(fold(name, stored_form));
        }
        ASSERT_EQ(hashes.size(), folded.size()) << length << " " << at;
      }
    }
    const std::string long_name = "Drawer/Sub drawer\\" + std::string(300, 'x') + "/Item 1";
    for (const std::string& name : {std::string("Drawer/Item00042"), long_name})
      for (size_t cut = 0; cut <= name.size(); ++cut)
        ASSERT_EQ(FoldedNameHash(name.substr(0, cut), name.substr(cut), stored_form),
                  FoldedNameHash(name, {}, stored_form))
            << cut;
  }
  EXPECT_EQ(FoldedNameHash("drawer/item"), FoldedNameHash("DRAWER/Item"));
  EXPECT_NE(FoldedNameHash("drawer/item"), FoldedNameHash("drawer\\item"));
  EXPECT_EQ(FoldedNameHash("drawer/item", {}, true), FoldedNameHash("Drawer\\", "ITEM"));
  EXPECT_NE(FoldedNameHash("a"), FoldedNameHash(std::string("a\0", 2)));  // the length counts
  // Names as cabinets hold them: no two of 65,000 hash alike.
  std::set<uint64_t> hashes;
  for (int i = 0; i < 65000; ++i)
    hashes.insert(FoldedNameHash("Drawer" + std::to_string(i % 17) + "\\", "Item" + std::to_string(i)));
  EXPECT_EQ(hashes.size(), 65000u);
}

// The look-up of a wanted name among stored ones, word by word, against the same
// rule byte by byte: every pair of bytes at every place of a word.
TEST(ZipNames, StoredNameIsFoldsAsTheByteRule) {
  auto same = [](std::string_view stored, std::string_view wanted) {
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    if (stored.size() != wanted.size()) return false;
    for (size_t i = 0; i < stored.size(); ++i)
      if (lower(stored[i] == '/' ? '\\' : stored[i]) != lower(wanted[i])) return false;
    return true;
  };
  for (size_t length : {1, 5, 8, 9, 16, 19}) {
    for (size_t at = 0; at < length; ++at) {
      std::string stored(length, 'k'), wanted(length, 'K');
      for (int a = 0; a < 256; ++a) {
        stored[at] = static_cast<char>(a);
        for (int b = 0; b < 256; ++b) {
          wanted[at] = static_cast<char>(b);
          ASSERT_EQ(StoredNameIs(stored, wanted), same(stored, wanted))
              << length << " " << at << " " << a << " " << b;
        }
      }
    }
  }
  EXPECT_TRUE(StoredNameIs("", ""));
  EXPECT_FALSE(StoredNameIs("Drawer\\Item1", "Drawer\\Item10"));
  EXPECT_TRUE(StoredNameIs("drawer/ITEM1", "Drawer\\Item1"));
  EXPECT_FALSE(StoredNameIs("Drawer\\Item1", "Drawer/Item1"));  // only the stored form reads "/" as "\\"
}

// The rule other tools follow: the flag, then a Unicode path field whose CRC
// matches, then valid UTF-8 from a Unix host, else code page 437.
TEST(ZipNames, ReadingRule) {
  using namespace format;
  // Code page 437 names keep their letters; "/" becomes "\".
  EXPECT_EQ(NameFromArchive("caf\x82/\x81"
                            "ber",
                            0),
            "caf\xC3\xA9\\\xC3\xBC"
            "ber");
  // Flag bit 11: UTF-8; a flagged name that is not UTF-8 is read as Windows-1252.
  EXPECT_EQ(NameFromArchive("caf\xC3\xA9", kFlagUtf8Names), "caf\xC3\xA9");
  EXPECT_EQ(NameFromArchive("\x80uro", kFlagUtf8Names), "\xE2\x82\xACuro");
  // No flag, host Unix, valid UTF-8 (zip under a UTF-8 locale): UTF-8. The same
  // bytes from a FAT host, or invalid UTF-8 from Unix, stay code page 437.
  EXPECT_EQ(NameFromArchive("caf\xC3\xA9", 0, kHostUnix), "caf\xC3\xA9");
  EXPECT_EQ(NameFromArchive("caf\xC3\xA9", 0, kHostFat), "caf\xE2\x94\x9C\xE2\x8C\x90");
  EXPECT_EQ(NameFromArchive("caf\x82", 0, kHostUnix), "caf\xC3\xA9");
  // A Unicode path field counts while its CRC matches the stored bytes.
  auto unicode_field = [](std::string_view stored, std::string_view name) {
    std::string field = "\x75\x70", data = "\x01";
    uint8_t crc[4];
    Put32(crc, Crc32(0, stored.data(), stored.size()));
    data.append(reinterpret_cast<char*>(crc), 4);
    data.append(name);
    field += static_cast<char>(data.size());
    field += '\0';
    return field + data;
  };
  const std::string unicode = "caf\xC3\xA9 \xE6\x97\xA5";
  const std::string extra = std::string("\x55\x54\x01\x00\x03", 5) + unicode_field("caf\x82", unicode);
  EXPECT_EQ(NameFromArchive("caf\x82", 0, kHostFat, extra), unicode);
  EXPECT_EQ(NameFromArchive("cafe", 0, kHostFat, extra), "cafe");  // renamed since: the CRC differs
  // A field cut short is ignored.
  EXPECT_EQ(NameFromArchive("caf\x82", 0, kHostFat, extra.substr(0, extra.size() - 1)), "caf\xC3\xA9");
}

TEST(ZipNames, WritingRule) {
  bool utf8 = true;
  EXPECT_EQ(NameToArchive("Work\\Item 1", utf8), "Work/Item 1");
  EXPECT_FALSE(utf8);
  // Anything beyond ASCII is UTF-8 with the flag, even what code page 437 could hold.
  EXPECT_EQ(NameToArchive("caf\xC3\xA9\\x", utf8), "caf\xC3\xA9/x");
  EXPECT_TRUE(utf8);
  EXPECT_EQ(NameToArchive("\xE6\x97\xA5\\x", utf8), "\xE6\x97\xA5/x");
  EXPECT_TRUE(utf8);
}

TEST(ZipDates, SanitisedFieldByField) {
  auto pack = [](uint32_t y, uint32_t mo, uint32_t d, uint32_t h, uint32_t mi, uint32_t s2) {
    return (((y - 1980) << 9 | mo << 5 | d) << 16) | (h << 11 | mi << 5 | s2);
  };
  EXPECT_EQ(SanitizeDosDateTime(pack(2024, 13, 0, 24, 61, 31)), pack(2024, 12, 1, 23, 59, 29));
  EXPECT_EQ(SanitizeDosDateTime(pack(2107, 0, 5, 1, 2, 3)), pack(2099, 1, 5, 1, 2, 3));
  uint32_t valid = pack(2001, 2, 28, 13, 14, 15);
  EXPECT_EQ(SanitizeDosDateTime(valid), valid);
}

TEST(ZipPatterns, StarsQuestionMarksAndSets) {
  EXPECT_TRUE(WildcardMatch("*.bmp", "a.bmp"));
  EXPECT_TRUE(WildcardMatch("??.bmp", "ab.bmp"));
  EXPECT_FALSE(WildcardMatch("??.bmp", "abc.bmp"));
  EXPECT_TRUE(WildcardMatch("<a-c>x", "bx"));
  EXPECT_FALSE(WildcardMatch("<!a-c>x", "bx"));
  EXPECT_TRUE(WildcardMatch("<^a-c>x", "dx"));
  EXPECT_TRUE(WildcardMatch("a*b*c", "aXbYbZc"));
  EXPECT_FALSE(WildcardMatch("a*b*c", "aXbYbZ"));
  EXPECT_TRUE(WildcardMatch("work\\*", "work\\a\\b"));
  EXPECT_TRUE(WildcardMatch("plain", "plain"));
  EXPECT_FALSE(WildcardMatch("plain", "plainer"));
  // Many stars against a long text finish at once (no exponential backtracking).
  EXPECT_FALSE(WildcardMatch(std::string(40, '*') + "x", std::string(5000, 'a')));
  EXPECT_TRUE(HasPatternChars("a|b"));
  EXPECT_FALSE(HasPatternChars("Work\\Item0"));
}

}  // namespace
}  // namespace qb::zip

namespace qb::zip {
namespace {

// Sorting a whole list at once gives the order of adding its items one by one.
TEST(SortedZip, BulkOrderEqualsOneByOneInsertion) {
  const char* names[] = {"b", "A\\x", "a\\X", "_", "B", "a\\x", "\xC3\xA9", "c\\d", "C\\D", "b"};
  std::vector<std::unique_ptr<TZipHeaderInfo>> owned;
  std::vector<TZipHeaderInfo*> items;
  for (size_t i = 0; i < std::size(names); ++i) {
    owned.emplace_back(Record(names[i], static_cast<uint32_t>(i)));
    items.push_back(owned.back().get());
  }
  for (TDuplicates mode : {TDuplicates::dupAccept, TDuplicates::dupIgnore}) {
    for (TZipSortMode sort : {TZipSortMode::ByName, TZipSortMode::ByFileName}) {
      TSortedZip one_by_one(false, mode, sort), bulk(false, mode, sort);
      for (TZipHeaderInfo* r : items) one_by_one.Add(r);
      bulk.AssignInOrder(items);
      ASSERT_EQ(bulk.Count(), one_by_one.Count());
      for (int i = 0; i < bulk.Count(); ++i) EXPECT_EQ(bulk.Get(i), one_by_one.Get(i)) << i;
    }
  }
  TSortedZip error(false, TDuplicates::dupError, TZipSortMode::ByName);
  EXPECT_THROW(error.AssignInOrder(items), EListError);
}

}  // namespace
}  // namespace qb::zip
