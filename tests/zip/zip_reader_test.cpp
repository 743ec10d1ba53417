// The reader against archives written by real peers, and against damaged files.
#include "zip/zip_reader.h"

#include <gtest/gtest.h>

#include <fstream>

#include "platform/codepage.h"
#include "support/test_support.h"
#include "zip/crc32.h"
#include "zip/system_calls.h"
#include "zip/zip_errors.h"
#include "zip/zip_writer.h"

namespace qb::zip {
namespace {

using qbtest::RunCommand;
using qbtest::ShellQuote;
using qbtest::TempDir;

std::string Extract(TZipReader& zip, const std::string& name, int* count = nullptr) {
  TMemoryStream stream;
  int n = zip.ExtractToStream(&stream, name);
  if (count) *count = n;
  return stream.ToString();
}

void Shell(const std::string& command) {
  auto result = RunCommand(command);
  ASSERT_EQ(result.exit_code, 0) << command << "\n" << result.output << result.errors;
}

TEST(ZipReader, ReadsInfoZipArchiveWithCommentsInNameOrder) {
  TempDir dir;
  qbtest::WriteFileText(dir / "b.txt", "bravo bravo bravo bravo");
  qbtest::WriteFileText(dir / "A.txt", std::string(100000, 'a'));
  std::filesystem::create_directory(dir.Path() / "sub");
  qbtest::WriteFileText(dir / "sub/c.bin", "charlie");
  Shell("cd " + ShellQuote(dir.Path().string()) + " && zip -q -D z.zip b.txt A.txt sub/c.bin");
  // Entry comments through zipnote's edit format, and an archive comment.
  Shell("cd " + ShellQuote(dir.Path().string()) +
        " && printf '@ b.txt\\nnote for b\\n@ (comment above this line)\\n@ sub/c.bin\\nfor c\\n@ (comment "
        "above this "
        "line)\\n@ (zip file comment below this line)\\narchive words\\n' | zipnote -w z.zip");

  TZipReader zip;
  zip.SetSortMode(TZipSortMode::ByName);
  zip.SetZipName(dir / "z.zip");
  zip.ReadDirectory();
  ASSERT_EQ(zip.EntryCount(), 3);
  EXPECT_EQ(zip.EntryFullName(0), "A.txt");
  EXPECT_EQ(zip.EntryFullName(1), "b.txt");
  EXPECT_EQ(zip.EntryFullName(2), "sub\\c.bin");
  EXPECT_EQ(zip.EntryPath(2), "sub\\");
  EXPECT_EQ(zip.EntryFileName(2), "c.bin");
  EXPECT_FALSE(zip.EntryHasComment(0));
  EXPECT_TRUE(zip.EntryHasComment(1));
  EXPECT_EQ(zip.EntryComment(1), "note for b");
  EXPECT_EQ(zip.EntryComment(2), "for c");
  EXPECT_EQ(zip.ArchiveComment(), "archive words");
  int count = 0;
  EXPECT_EQ(Extract(zip, "A.txt", &count), std::string(100000, 'a'));
  EXPECT_EQ(count, 1);
  EXPECT_EQ(Extract(zip, "SUB\\C.BIN", &count), "charlie");  // ASCII case folded
  EXPECT_EQ(count, 1);
  EXPECT_EQ(Extract(zip, "nothing", &count), "");
  EXPECT_EQ(count, 0);
  // A pattern matches several entries, appended one after another; the second is cut
  // because its size counts from the stream's start.
  TMemoryStream both;
  EXPECT_EQ(zip.ExtractToStream(&both, "?.txt"), 1);
  EXPECT_EQ(both.Size(), 100000u);
}

TEST(ZipReader, ReadsPythonZipfileArchivesWithUtf8NamesAndDataDescriptors) {
  TempDir dir;
  std::string script =
      "import zipfile,sys\n"
      "with zipfile.ZipFile(sys.argv[1],'w') as z:\n"
      "  z.writestr('plain/stored.txt', b'stored bytes', compress_type=zipfile.ZIP_STORED)\n"
      "  i = zipfile.ZipInfo('deflated.txt'); i.compress_type = zipfile.ZIP_DEFLATED; i.comment = "
      "b'\\x8c1\\x8c\\xbf'\n"
      "  z.writestr(i, b'hello ' * 5000)\n"
      "  z.writestr('caf\\u00e9/\\u65e5\\u672c.txt', 'unicode'.encode())\n"
      "  with z.open('streamed.bin', 'w') as f: f.write(bytes(range(256)) * 100)\n"
      "  z.comment = b'py comment'\n";
  qbtest::WriteFileText(dir / "make.py", script);
  Shell("python3 " + ShellQuote(dir / "make.py") + " " + ShellQuote(dir / "p.zip"));
  TZipReader zip;
  zip.SetSortMode(TZipSortMode::ByName);
  zip.SetZipName(dir / "p.zip");
  zip.ReadDirectory();
  ASSERT_EQ(zip.EntryCount(), 4);
  EXPECT_EQ(zip.EntryFullName(0), "caf\xC3\xA9\\\xE6\x97\xA5\xE6\x9C\xAC.txt");
  EXPECT_EQ(zip.EntryFullName(1), "deflated.txt");
  EXPECT_EQ(zip.EntryComment(1),
            "\x8c"
            "1\x8c\xbf");
  EXPECT_EQ(zip.ArchiveComment(), "py comment");
  std::string expected_stream;
  for (int i = 0; i < 100; ++i)
    for (int b = 0; b < 256; ++b) expected_stream += static_cast<char>(b);
  int count = 0;
  EXPECT_EQ(Extract(zip, "streamed.bin", &count), expected_stream);
  EXPECT_EQ(count, 1);
  std::string hello;
  for (int i = 0; i < 5000; ++i) hello += "hello ";
  EXPECT_EQ(Extract(zip, "deflated.txt"), hello);
  EXPECT_EQ(Extract(zip, zip.EntryFullName(0)), "unicode");
  EXPECT_EQ(Extract(zip, "plain\\stored.txt"), "stored bytes");
}

// Local headers that hold more than their central records suggest, and data
// larger than what is read with the header: each entry reads whole on its own and
// in the pass over all entries, and damage past that first part is still found.
TEST(ZipReader, EntriesReadWholeWhateverTheirLocalHeadersHold) {
  struct Planned {
    std::string name;
    size_t local_extra;
    std::vector<uint8_t> data;
  };
  const std::vector<Planned> planned = {{"Long", 300, qbtest::RandomBytes(10000, 7)},
                                        {"Far", 5000, {'f', 'a', 'r'}},
                                        {"Small", 0, {'s'}},
                                        {"Empty", 40, {}}};
  std::vector<uint8_t> bytes, central;
  std::vector<size_t> data_at;
  for (const Planned& e : planned) {
    const uint32_t crc = Crc32(0, e.data.data(), e.data.size());
    const auto size = static_cast<uint32_t>(e.data.size());
    format::LocalHeader local;
    local.version_needed = 10;
    local.crc = crc;
    local.compressed_size = local.uncompressed_size = size;
    local.name_length = static_cast<uint16_t>(e.name.size());
    local.extra_length = static_cast<uint16_t>(e.local_extra);
    format::CentralHeader record;
    record.version_made_by = format::kMadeByUnix20;
    record.version_needed = 10;
    record.crc = crc;
    record.compressed_size = record.uncompressed_size = size;
    record.name_length = local.name_length;
    record.local_header_offset = static_cast<uint32_t>(bytes.size());
    uint8_t fixed[format::kCentralHeaderSize];
    format::EncodeLocalHeader(local, fixed);
    bytes.insert(bytes.end(), fixed, fixed + format::kLocalHeaderSize);
    bytes.insert(bytes.end(), e.name.begin(), e.name.end());
    // An extra field of one unknown block, its data zeros.
    std::vector<uint8_t> extra(e.local_extra, 0);
    if (extra.size() >= 4) {
      format::Put16(&extra[0], 0xCAFE);
      format::Put16(&extra[2], static_cast<uint16_t>(extra.size() - 4));
    }
    bytes.insert(bytes.end(), extra.begin(), extra.end());
    data_at.push_back(bytes.size());
    bytes.insert(bytes.end(), e.data.begin(), e.data.end());
    format::EncodeCentralHeader(record, fixed);
    central.insert(central.end(), fixed, fixed + format::kCentralHeaderSize);
    central.insert(central.end(), e.name.begin(), e.name.end());
  }
  format::EndRecord end;
  end.entries_this_disk = end.total_entries = static_cast<uint16_t>(planned.size());
  end.directory_size = static_cast<uint32_t>(central.size());
  end.directory_offset = static_cast<uint32_t>(bytes.size());
  bytes.insert(bytes.end(), central.begin(), central.end());
  uint8_t tail[format::kEndRecordSize];
  format::EncodeEndRecord(end, tail);
  bytes.insert(bytes.end(), tail, tail + sizeof tail);

  TempDir dir;
  const std::string path = dir / "a.zip";
  // Every entry's problem, checked one by one and in one pass: the two must agree.
  auto problems = [&] {
    TZipReader zip;
    zip.SetZipName(path);
    zip.ReadDirectory();
    std::vector<std::string> each, all;
    for (int i = 0; i < zip.EntryCount(); ++i) each.push_back(zip.EntryFullName(i) + ":" + zip.CheckEntry(i));
    zip.CheckAllEntries(
        [&](int i, const std::string& problem) { all.push_back(zip.EntryFullName(i) + ":" + problem); });
    EXPECT_EQ(all, each);
    return all;
  };
  qbtest::WriteFileBytes(path, bytes);
  EXPECT_EQ(problems(), (std::vector<std::string>{"Long:", "Far:", "Small:", "Empty:"}));
  TZipReader zip;
  zip.SetZipName(path);
  zip.ReadDirectory();
  for (const Planned& e : planned)
    EXPECT_EQ(Extract(zip, e.name), std::string(e.data.begin(), e.data.end())) << e.name;

  // The pass's read of the whole file fails: each entry is read on its own.
  {
    int reads = 0;
    sys::SetFailureHook(
        [&](const char* call) { return std::string_view(call) == "pread" && reads++ == 0 ? EIO : 0; });
    std::vector<std::string> all;
    EXPECT_NO_THROW(zip.CheckAllEntries([&](int, const std::string& problem) { all.push_back(problem); }));
    sys::SetFailureHook({});
    EXPECT_EQ(all, std::vector<std::string>(planned.size()));
    EXPECT_GE(reads, 5);
  }

  bytes[data_at[0] + 9000] ^= 0x40;  // far past the first part of Long read with its header
  qbtest::WriteFileBytes(path, bytes);
  EXPECT_EQ(problems(), (std::vector<std::string>{"Long:has a bad CRC: the data is damaged",
                                                  "Far:", "Small:", "Empty:"}));
}

TEST(ZipReader, Reads7zAndBsdtarArchives) {
  TempDir dir;
  std::filesystem::create_directory(dir.Path() / "in");
  std::filesystem::create_directory(dir.Path() / "in/d");
  auto text = qbtest::TextLikeBytes(70000, 7);
  qbtest::WriteFileBytes(dir.Path() / "in/d/t.txt", text);
  qbtest::WriteFileText(dir / "in/e.txt", "");
  Shell("cd " + ShellQuote(dir / "in") + " && 7z a -tzip -bd ../s.zip d/t.txt e.txt >/dev/null");
  Shell("cd " + ShellQuote(dir / "in") + " && bsdtar --format zip -cf ../b.zip d/t.txt e.txt");
  for (const char* name : {"s.zip", "b.zip"}) {
    TZipReader zip;
    zip.SetSortMode(TZipSortMode::ByName);
    zip.SetZipName(dir / name);
    zip.ReadDirectory();
    ASSERT_EQ(zip.EntryCount(), 2) << name;
    EXPECT_EQ(zip.EntryFullName(0), "d\\t.txt");
    int count = 0;
    EXPECT_EQ(Extract(zip, "d\\t.txt", &count), std::string(text.begin(), text.end())) << name;
    EXPECT_EQ(count, 1);
    EXPECT_EQ(Extract(zip, "e.txt", &count), "");
    EXPECT_EQ(count, 1) << name;
  }
}

// A directory that lists the entries in another order than the file holds them
// is read in file order; a second record for one local header is refused.
// Look-ups by name agree with a pass over the names, ASCII case folded, with or
// without the view sorted by name, and see a rename made in memory.
// Sorting by rate takes the sizes of a damaged directory as they come: a packed
// size near the largest number sorts as a huge growth, with no overflow.
TEST(ZipReader, RateOrderSurvivesAbsurdSizes) {
  TSortedZip list(true, TDuplicates::dupAccept, TZipSortMode::ByRate);
  auto add = [&](const char* name, uint64_t packed, uint64_t original) {
    auto* e = new TZipHeaderInfo;
    e->file_name = name;
    e->compressed_size = packed;
    e->uncompressed_size = original;
    list.Add(e);
  };
  add("half", 50, 100);
  add("huge growth", UINT64_MAX, 1);
  add("empty", 0, 0);
  add("growth", 3'000'000'000'000'000'000ull, 1'000'000'000'000'000'000ull);
  add("tiny", 1, UINT64_MAX);
  std::vector<std::string> order;
  for (int i = 0; i < list.Count(); ++i) order.push_back(list[i]->file_name);
  EXPECT_EQ(order, (std::vector<std::string>{"huge growth", "growth", "empty", "half", "tiny"}));
}

TEST(ZipReader, DirectoryOrderAndLookUpsByName) {
  TempDir dir;
  qbtest::WriteFileText(dir / "make.py",
                        "import sys, zipfile\n"
                        "z = zipfile.ZipFile(sys.argv[1], 'w')\n"
                        "for n in ['b/Two', 'a/one', 'A/ONE', 'c', 'b/two/x', '\\u00e9t\\u00e9']:\n"
                        "    z.writestr(n, n * 3)\n"
                        "z.filelist.reverse()\n"
                        "if sys.argv[2] == 'ascii': z.filelist.pop(0)\n"
                        "if sys.argv[2] != 'once': z.filelist.append(z.filelist[0])\n"
                        "z.close()\n");
  Shell("python3 " + ShellQuote(dir / "make.py") + " " + ShellQuote(dir / "r.zip") + " once");
  Shell("python3 " + ShellQuote(dir / "make.py") + " " + ShellQuote(dir / "d.zip") + " twice");
  Shell("python3 " + ShellQuote(dir / "make.py") + " " + ShellQuote(dir / "e.zip") + " ascii");

  for (TZipSortMode mode : {TZipSortMode::ByNone, TZipSortMode::ByName, TZipSortMode::ByDate}) {
    TZipReader zip;
    zip.SetSortMode(mode);
    zip.SetZipName(dir / "r.zip");
    zip.ReadDirectory();
    ASSERT_EQ(zip.EntryCount(), 6);
    if (mode == TZipSortMode::ByNone) {
      for (int i = 1; i < 6; ++i)
        EXPECT_LT(zip.Entry(i - 1).local_header_offset, zip.Entry(i).local_header_offset);
    }
    for (const char* name : {"a\\one", "A\\One", "b\\TWO", "B\\two\\X", "C", "\xC3\xA9t\xC3\xA9",
                             "\xC3\x89t\xC3\xA9", "a\\on", "a\\onee", "", "b\\"}) {
      int expected = zip.EntryCount();
      for (int i = 0; i < zip.EntryCount() && expected == zip.EntryCount(); ++i)
        if (codepage::SameTextAscii(zip.EntryFullName(i), name)) expected = i;
      EXPECT_EQ(zip.FindEntry(name), expected) << name;
      // Reading only the entries of that name finds the same one.
      TZipReader only;
      only.SetSortMode(mode);
      only.SetNameFilter({name, "no such name"});
      only.SetZipName(dir / "r.zip");
      only.ReadDirectory();
      int named = 0;
      for (int i = 0; i < zip.EntryCount(); ++i) named += codepage::SameTextAscii(zip.EntryFullName(i), name);
      ASSERT_EQ(only.EntryCount(), named) << name;
      const int found = only.FindEntry(name);
      ASSERT_EQ(found == only.EntryCount(), expected == zip.EntryCount()) << name;
      if (found < only.EntryCount()) {
        EXPECT_EQ(only.Entry(found).local_header_offset, zip.Entry(expected).local_header_offset) << name;
      }
    }
    EXPECT_EQ(Extract(zip, "b\\two\\x"), "b/two/xb/two/xb/two/x");
  }
  {
    TZipWriter zip;  // a rename in memory is found before it is written
    zip.SetSortMode(TZipSortMode::ByName);
    zip.SetZipName(dir / "r.zip");
    zip.ReadDirectory();
    const int c = zip.FindEntry("c");
    zip.SetEntryPath(c, "zz\\");
    EXPECT_EQ(zip.FindEntry("ZZ\\C"), c);
    EXPECT_EQ(zip.FindEntry("c"), zip.EntryCount());
  }
  // Two records of one local header, out of file order: refused by every read,
  // a read of another name too, with or without the facts for an update.
  for (const char* file : {"d.zip", "e.zip"}) {
    for (int filter : {0, 1, 2}) {
      TZipReader twice;
      if (filter) twice.SetNameFilter({"c"}, filter == 1);
      twice.SetZipName(dir / file);
      try {
        twice.ReadDirectory();
        ADD_FAILURE() << file << " " << filter;
      } catch (const EListError& e) {
        EXPECT_STREQ(e.what(), "Duplicate Object index");
      }
    }
  }
}

}  // namespace
}  // namespace qb::zip
