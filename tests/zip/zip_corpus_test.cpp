// Every archive of the third-party corpus through the reader, as the cabinet reads
// them: names, comments, sizes and CRCs as the origin projects state them.
#include <gtest/gtest.h>

#include <map>

#include "support/test_support.h"
#include "zip/crc32.h"
#include "zip/zip_errors.h"
#include "zip/zip_reader.h"

namespace qb::zip {
namespace {

struct Expected {
  uint32_t size;
  uint32_t crc;
};

// Extracts every entry; returns name -> (good, size, crc of the bytes).
std::map<std::string, std::tuple<int, size_t, uint32_t>> ExtractAll(const std::string& file,
                                                                    const std::string& password = "") {
  TZipReader zip;
  zip.SetSortMode(TZipSortMode::ByName);
  zip.SetPassword(password);
  zip.SetZipName((qbtest::CorpusDir() / file).string());
  zip.ReadDirectory();
  std::map<std::string, std::tuple<int, size_t, uint32_t>> result;
  for (int i = 0; i < zip.EntryCount(); ++i) {
    TMemoryStream out;
    int good = zip.ExtractIndexToStream(&out, i);
    result[zip.EntryFullName(i)] = {good, out.Size(), Crc32(0, out.Bytes().data(), out.Size())};
  }
  return result;
}

void ExpectGood(const std::string& file, const std::map<std::string, Expected>& expected,
                const std::string& password = "") {
  auto got = ExtractAll(file, password);
  for (const auto& [name, e] : expected) {
    ASSERT_TRUE(got.count(name)) << file << ": no entry " << name;
    auto [good, size, crc] = got[name];
    EXPECT_EQ(good, 1) << file << ": " << name;
    EXPECT_EQ(size, e.size) << file << ": " << name;
    EXPECT_EQ(crc, e.crc) << file << ": " << name;
  }
}

TEST(ZipCorpus, LegacyMethodsExtractWithGoodCrcs) {
  const Expected first{1092, 0x22957a6e}, exe{45056, 0xcfb109c8}, jpg{40372, 0x088814e3},
      tect{15498, 0x9bd160fa};
  ExpectGood("commons-compress__SHRUNK.ZIP",
             {{"TEST1.XML", {76, 0x393a497a}}, {"TEST2.XML", {81, 0xd19abf92}}});
  ExpectGood("commons-compress__imploding-4Kdict-2trees.zip", {{"HEADER.TXT", {818, 0x3222d8c7}}});
  ExpectGood("commons-compress__imploding-8Kdict-3trees.zip", {{"LICENSE.TXT", {11560, 0x495fc599}}});
  ExpectGood("commons-compress__lorem-ipsum-implode.zip", {{"LOREM.TXT", {144060, 0xb9034f7e}}});
  ExpectGood("zip2__shrink.zip", {{"FIRST.TXT", first}});
  ExpectGood("zip2__reduce.zip", {{"first.txt", first}});
  ExpectGood("zip2__implode.zip", {{"first.txt", first}});
  ExpectGood("sharpcompress__Zip.shrink.zip", {{"TEST.EXE", exe}, {"TEST.JPG", jpg}, {"TECT.TXT", tect}});
  for (int factor = 1; factor <= 4; ++factor)
    ExpectGood("sharpcompress__Zip.reduce" + std::to_string(factor) + ".zip",
               {{"TEST.EXE", exe}, {"TEST.JPG", jpg}, {"TECT.TXT", tect}});
  // The Cyrillic name is code page 866 bytes without the UTF-8 flag: read as code page 437.
  ExpectGood(
      "sharpcompress__Zip.implode.zip",
      {{"EXE\\TEST.EXE", exe}, {"JPG\\TEST.JPG", jpg}, {"\xCE\x93\xC3\x91\xC3\x9F\xCE\x93.txt", tect}});
  ExpectGood("libarchive__test_compat_zip_implode.zip", {{"EDIT.ZIP", {23303, 0x79b66e25}},
                                                         {"4MAP.DOC", {16100, 0xc5ac76b6}},
                                                         {"4MAP.EXE", {2752, 0x6c29d4a9}},
                                                         {"PUTMAP.EXE", {18551, 0x3cc85a72}},
                                                         {"MAPDEF", {2028, 0x5fa4c7ac}}});
  ExpectGood("libarchive__test_compat_zip_implode_realloc.zip", {{"VALIDATE.TXT", {2904, 0xcc881138}},
                                                                 {"VALIDATE.C", {7513, 0x75f2f92a}},
                                                                 {"MAKEFILE", {603, 0x5bd51ac6}}});
}

TEST(ZipCorpus, TraditionalEncryptionWithAndWithoutDescriptors) {
  auto got = ExtractAll("libarchive__test_read_format_zip_traditional_encryption_data.zip", "12345678");
  EXPECT_EQ(std::get<0>(got["bar.txt"]), 1);
  EXPECT_EQ(std::get<1>(got["bar.txt"]), 495u);
  EXPECT_EQ(std::get<0>(got["foo.txt"]), 1);
  auto plain = ExtractAll("sharpcompress__zipcrypto.zip", "test");
  ASSERT_EQ(plain.size(), 8u);
  for (const auto& [name, result] : plain) EXPECT_EQ(std::get<0>(result), 1) << name;
  EXPECT_EQ(std::get<1>(plain["over.txt"]), 0u);
  EXPECT_EQ(std::get<1>(plain["quick.txt"]), 6u);
  // The wrong password: every entry skipped, nothing extracted.
  for (const auto& [name, result] : ExtractAll("sharpcompress__zipcrypto.zip", "nope"))
    EXPECT_EQ(std::get<0>(result), 0) << name;
}

TEST(ZipCorpus, CommentsDescriptorsJunkAndOddDates) {
  TZipReader zip;
  zip.SetSortMode(TZipSortMode::ByName);
  zip.SetZipName((qbtest::CorpusDir() / "libzip__testcomment.zip").string());
  zip.ReadDirectory();
  ASSERT_EQ(zip.EntryCount(), 4);
  EXPECT_EQ(zip.ArchiveComment(),
            "This is the archive comment for the file.\r\n\r\nLong.\r\n\r\nLonger.\r\n");
  EXPECT_FALSE(zip.EntryHasComment(0));
  EXPECT_EQ(zip.EntryComment(1), "First one had no comment.");
  EXPECT_EQ(zip.EntryComment(3), "Last.");
  TMemoryStream out;
  EXPECT_EQ(zip.ExtractToStream(&out, "file3"), 1);
  EXPECT_EQ(out.ToString(), "Contents of third file.\n");

  ExpectGood("go__dd.zip", {{"filename", {25, Crc32(0, "This is a test textfile.\n", 25)}}});
  ExpectGood("go__go-no-datadesc-sig.zip",
             {{"foo.txt", {4, Crc32(0, "foo\n", 4)}}, {"bar.txt", {4, Crc32(0, "bar\n", 4)}}});
  ExpectGood("go__go-with-datadesc-sig.zip", {{"foo.txt", {4, Crc32(0, "foo\n", 4)}}});
  ExpectGood("go__test-trailing-junk.zip", {{"test.txt", {26, Crc32(0, "This is a test text file.\n", 26)}},
                                            {"gophercolor16x16.png", {785, 0x54d531fe}}});
  // Data in front of the archive, offsets not adjusted for it.
  ExpectGood("libarchive__test_read_format_zip_sfx",
             {{"build.sh", {23, Crc32(0, "#!/bin/sh\necho \"test.\"\n", 23)}}, {"file0", {0, 0}}});
  ExpectGood("libarchive__test_read_format_zip_padded3.zip",
             {{"file0", {6, Crc32(0, "file0\n", 6)}}, {"file1", {6, Crc32(0, "file1\n", 6)}}});
  ExpectGood("dotnet-runtime-assets__invaliddate.zip", {{"text.txt", {1277, 0x9fd79ea8}}});
  zip.SetZipName((qbtest::CorpusDir() / "dotnet-runtime-assets__invaliddate.zip").string());
  zip.ReadDirectory();
  uint32_t stamp = zip.Entry(0).dos_date_time;
  EXPECT_EQ((stamp >> 11) & 0x1F, 23u);  // hour 27 clamped
  EXPECT_EQ((stamp >> 16) & 0x1F, 30u);  // day 30 of February is kept: only day 0 is mended
}

TEST(ZipCorpus, BrokenArchivesReportWithoutCrashing) {
  auto broken = ExtractAll("libzip__broken.zip", "crypt");
  EXPECT_EQ(std::get<0>(broken["storedok"]), 1);
  EXPECT_EQ(std::get<0>(broken["deflateok"]), 1);
  EXPECT_EQ(std::get<1>(broken["deflateok"]), 43133u);
  EXPECT_EQ(std::get<0>(broken["cryptok"]), 1);
  EXPECT_EQ(std::get<0>(broken["storedcrcerror"]), 0);
  EXPECT_EQ(std::get<0>(broken["deflatecrcerror"]), 0);
  EXPECT_EQ(std::get<0>(broken["deflatezliberror"]), 0);

  // No end record: the directory read reports nothing; extraction says why.
  TZipReader zip;
  zip.SetZipName((qbtest::CorpusDir() / "libzip__testfile-truncated.zip").string());
  zip.ReadDirectory();
  EXPECT_EQ(zip.EntryCount(), 0);
  TMemoryStream out;
  EXPECT_THROW(zip.ExtractToStream(&out, "*"), EIncompleteZip);

  // A comment length running past the end: whatever it lists, it reads safely.
  auto truncated = ExtractAll("go__comment-truncated.zip");
  for (const auto& [name, result] : truncated) EXPECT_LE(std::get<1>(result), 1000u) << name;
}

}  // namespace
}  // namespace qb::zip
