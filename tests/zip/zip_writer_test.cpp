// The archive update: what it writes (checked by real peers), what it keeps, and
// that a failure at any moment leaves the archive as it was.
#include "zip/zip_writer.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "support/raw_zip.h"
#include "support/test_support.h"
#include "zip/zip_errors.h"
#include "zip/zip_format.h"

namespace qb::zip {
namespace {

using qbtest::RunCommand;
using qbtest::ShellQuote;
using qbtest::TempDir;

void Shell(const std::string& command) {
  auto result = RunCommand(command);
  ASSERT_EQ(result.exit_code, 0) << command << "\n" << result.output << result.errors;
}

std::string Extract(TZipReader& zip, int index, int* good = nullptr) {
  TMemoryStream out;
  int n = zip.ExtractIndexToStream(&out, index);
  if (good) *good = n;
  return out.ToString();
}

void Add(TZipWriter& zip, const std::string& name, const std::string& data, const std::string& comment = "") {
  TMemoryStream stream(data);
  if (comment.empty())
    ASSERT_EQ(zip.AddFromStream(&stream, name), 1) << name;
  else
    ASSERT_EQ(zip.AddFromStreamWithComment(&stream, name, comment), 1) << name;
}

std::unique_ptr<TZipWriter> Cabinet(const std::string& path) {
  auto zip = std::make_unique<TZipWriter>();
  zip->SetSortMode(TZipSortMode::ByName);
  zip->SetStorePaths(true);
  zip->SetReplaceReadOnly(true);
  zip->SetZipName(path);
  if (FileExists(path)) zip->ReadDirectory();
  return zip;
}

TEST(ZipWriter, PeersReadNamesCommentsAndBytesExactly) {
  TempDir dir;
  std::string path = dir / "peer.zip";
  auto text = qbtest::TextLikeBytes(200000, 1);
  auto random = qbtest::RandomBytes(70000, 2);
  for (int level : {0, 1, 6, 9}) {
    std::filesystem::remove(path);
    auto zip = Cabinet(path);
    zip->SetPackLevel(level);
    zip->SetArchiveComment("the archive comment");
    Add(*zip, "Work\\Code\\Snippet", std::string(text.begin(), text.end()),
        "\x8c"
        "1\x8c\xbf\xa5"
        "3\xa5\xbf");
    Add(*zip, "Work\\Random", std::string(random.begin(), random.end()), "second");
    Add(*zip, "caf\xC3\xA9\\\xE6\x97\xA5\xE6\x9C\xAC", "unicode name");
    Add(*zip, "Empty", "");
    Add(*zip, "Drawer Only\\", "");
    Shell("unzip -tq " + ShellQuote(path));
    Shell("7z t " + ShellQuote(path) + " >/dev/null");
    Shell("bsdtar -tf " + ShellQuote(path) + " >/dev/null");
    std::string script =
        "import zipfile,sys,zlib\n"
        "z = zipfile.ZipFile(sys.argv[1])\n"
        "assert z.testzip() is None\n"
        "print(z.comment.decode())\n"
        "for i in z.infolist(): print(i.filename, i.compress_type, i.file_size, zlib.crc32(z.read(i)) == "
        "i.CRC, "
        "i.comment.hex())\n";
    qbtest::WriteFileText(dir / "check.py", script);
    auto result = RunCommand("python3 " + ShellQuote(dir / "check.py") + " " + ShellQuote(path));
    ASSERT_EQ(result.exit_code, 0) << result.errors;
    std::string method = level == 0 ? "0" : "8";
    EXPECT_EQ(result.output,
              "the archive comment\n"
              "Work/Code/Snippet " +
                  method +
                  " 200000 True 8c318cbfa533a5bf\n"
                  "Work/Random " +
                  method +
                  " 70000 True 7365636f6e64\n"  // several blocks: no whole-entry store
                  "caf\xC3\xA9/\xE6\x97\xA5\xE6\x9C\xAC 0 12 True \n"
                  "Empty 0 0 True \n"
                  "Drawer Only/ 0 0 True \n")
        << "level " << level;
    auto piped = RunCommand("unzip -p " + ShellQuote(path) + " Work/Code/Snippet");
    EXPECT_EQ(piped.output, std::string(text.begin(), text.end()));
  }
}

TEST(ZipWriter, ReplacesInPlaceDroppingTheCommentAndTakingTheNewName) {
  TempDir dir;
  auto zip = Cabinet(dir / "c.qvf");
  Add(*zip, "NewItems\\Item0", "first", "old comment");
  Add(*zip, "Other", "other", "kept");
  Add(*zip, "newitems\\item0", "second");
  ASSERT_EQ(zip->EntryCount(), 2);
  EXPECT_EQ(zip->EntryFullName(0), "newitems\\item0");
  EXPECT_FALSE(zip->EntryHasComment(0));
  EXPECT_EQ(Extract(*zip, 0), "second");
  EXPECT_EQ(zip->EntryComment(1), "kept");
  // Still first in the file: the replacement took the old entry's place.
  EXPECT_LT(zip->Entry(0).local_header_offset, zip->Entry(1).local_header_offset);
  // And a fresh reader sees the same.
  auto again = Cabinet(dir / "c.qvf");
  EXPECT_EQ(again->EntryComment(1), "kept");
  EXPECT_EQ(Extract(*again, 0), "second");
}

TEST(ZipWriter, NormalisesNames) {
  struct Case {
    const char* in;
    const char* path;
    const char* file;
  } cases[] = {
      {"NewItems\\Item0", "NewItems\\", "Item0"},
      {"\\A\\b", "A\\", "b"},
      {"Note: x", "", "Note: x"},
      {"Work\\Meeting 10:30", "Work\\", "Meeting 10:30"},
      {"a:b:c", "", "c"},  // drive prefixes are taken off until none is left
      {"C:\\D:\\x", "", "x"},
      {"a/b\\c", "a\\b\\", "c"},
      {"x\\\\\\y", "x\\", "y"},
      {"\\\\server", "", "server"},
      {"caf\xE9", "", "caf\xC3\xA9"},  // not UTF-8: read as Windows-1252
      {"C:\\a\\b", "a\\", "b"},
      {"C:b", "", "b"},
      {"\\\\server\\share\\d\\f", "d\\", "f"},
      {"x\\\\y", "x\\", "y"},
      {"plain", "", "plain"},
      {"Drawer\\", "Drawer\\", ""},
  };
  for (const auto& c : cases) {
    std::string path, file;
    TZipWriter::NormalizeName(c.in, true, path, file);
    EXPECT_EQ(path, c.path) << c.in;
    EXPECT_EQ(file, c.file) << c.in;
  }
  std::string path, file;
  TZipWriter::NormalizeName("a\\b\\c", false, path, file);
  EXPECT_EQ(path, "");
  EXPECT_EQ(file, "c");
  TZipWriter::NormalizeName("a\\C:x", false, path, file);
  EXPECT_EQ(file, "x");
}

// A normalised name normalises to itself, with and without paths, and is the name
// a reader of the archive sees: written and read back, it comes out unchanged.
TEST(ZipWriter, NormalisingIsIdempotentAndSurvivesTheArchive) {
  const char* names[] = {"a:b:c",     "Meeting 10:30",    "C:\\D:\\x", "\\\\s\\\\t\\u\\x", "x\\\\\\y",
                         "A\\\\B\\c", "\\\\\\a:b\\c:\\d", "a/b/:c",    "\xFF\xFE/\x80",    "d\\e:"};
  qbtest::TempDir dir;
  TZipWriter zip;
  zip.SetStorePaths(true);
  zip.SetZipName(dir / "n.zip");
  for (const char* name : names) {
    for (bool store_paths : {true, false}) {
      std::string path, file, path2, file2;
      TZipWriter::NormalizeName(name, store_paths, path, file);
      TZipWriter::NormalizeName(path + file, store_paths, path2, file2);
      EXPECT_EQ(path2 + file2, path + file) << name;
      EXPECT_EQ(path2, path) << name;
    }
    TMemoryStream data(std::string("x"));
    ASSERT_EQ(zip.AddFromStream(&data, name), 1) << name;
  }
  TZipReader reader;
  reader.SetZipName(dir / "n.zip");
  reader.ReadDirectory();
  ASSERT_EQ(reader.EntryCount(), static_cast<int>(std::size(names)));
  for (int i = 0; i < reader.EntryCount(); ++i) {
    std::string path, file;
    TZipWriter::NormalizeName(names[i], true, path, file);
    EXPECT_EQ(reader.EntryFullName(i), path + file) << names[i];
    EXPECT_EQ(reader.EntryPath(i), path) << names[i];
  }
}

TEST(ZipWriter, NewFilesZeroByteFilesAndNonArchives) {
  TempDir dir;
  // A 0-byte file becomes a well-formed archive of one entry.
  qbtest::WriteFileText(dir / "zero.qvf", "");
  auto zip = Cabinet(dir / "zero.qvf");
  Add(*zip, "a", "");
  EXPECT_EQ(zip->Entry(0).method, 0);
  EXPECT_EQ(zip->Entry(0).crc, 0u);
  EXPECT_EQ(zip->Entry(0).compressed_size, 0u);
  Shell("unzip -tq " + ShellQuote(dir / "zero.qvf"));

  // Not an archive: refused, untouched.
  qbtest::WriteFileText(dir / "text.qvf", "just some text, not an archive");
  auto other = Cabinet(dir / "text.qvf");
  TMemoryStream stream("x");
  EXPECT_THROW(other->AddFromStream(&stream, "x"), EIncompleteZip);
  EXPECT_EQ(qbtest::ReadFileText(dir / "text.qvf"), "just some text, not an archive");
  // Blank names and absent streams do nothing.
  EXPECT_EQ(other->AddFromStream(&stream, " \t"), 0);
  EXPECT_EQ(other->AddFromStream(nullptr, "x"), 0);
  // No temporary file is left behind (the writers' lock files stay).
  int files = 0;
  for (auto& e : std::filesystem::directory_iterator(dir.Path()))
    files += e.is_regular_file() && e.path().extension() != ".lock";
  EXPECT_EQ(files, 2);
}

TEST(ZipWriter, CommitWritesCommentsOnceAndOnlyWhenChanged) {
  TempDir dir;
  auto zip = Cabinet(dir / "c.qvf");
  Add(*zip, "A", "a", "ca");
  Add(*zip, "B", "b", "cb");
  Add(*zip, "C", "c");
  zip->SetEntryComment(2, "cc");
  EXPECT_TRUE(zip->Modified());
  zip->CommitChanges();
  EXPECT_FALSE(zip->Modified());
  auto fresh = Cabinet(dir / "c.qvf");
  EXPECT_EQ(fresh->EntryComment(0), "ca");
  EXPECT_EQ(fresh->EntryComment(1), "cb");
  EXPECT_EQ(fresh->EntryComment(2), "cc");
  // The same text again: nothing pending, the file is not touched.
  struct stat before {};
  ::stat((dir / "c.qvf").c_str(), &before);
  fresh->SetEntryComment(1, "cb");
  EXPECT_FALSE(fresh->Modified());
  fresh->CommitChanges();
  struct stat after {};
  ::stat((dir / "c.qvf").c_str(), &after);
  EXPECT_EQ(before.st_ino, after.st_ino);
  // Removing a comment.
  fresh->SetEntryComment(0, "");
  fresh->CommitChanges();
  EXPECT_FALSE(Cabinet(dir / "c.qvf")->EntryHasComment(0));
}

TEST(ZipWriter, RenamesAndTheDuplicateNameRule) {
  TempDir dir;
  auto zip = Cabinet(dir / "c.qvf");
  Add(*zip, "Work\\A", "a", "note a");
  Add(*zip, "Work\\B", "b");
  zip->SetEntryPath(0, "Home");  // a backslash is added
  EXPECT_EQ(zip->EntryPath(0), "Home\\");
  zip->SetEntryFileName(0, "Renamed");
  zip->CommitChanges();
  ASSERT_EQ(zip->EntryCount(), 2);
  EXPECT_EQ(zip->EntryFullName(0), "Home\\Renamed");
  EXPECT_EQ(zip->EntryComment(0), "note a");
  EXPECT_EQ(Extract(*zip, 0), "a");

  // Two names equal ignoring ASCII case: the update fails and changes nothing.
  auto bytes = qbtest::ReadFileBytes(dir.Path() / "c.qvf");
  zip->SetEntryPath(1, "home");
  zip->SetEntryFileName(1, "RENAMED");
  try {
    zip->CommitChanges();
    FAIL();
  } catch (const EListError& e) {
    EXPECT_STREQ(e.what(), "Duplicate Object index");
  }
  EXPECT_EQ(qbtest::ReadFileBytes(dir.Path() / "c.qvf"), bytes);
  EXPECT_TRUE(zip->Modified());  // the pending change is still there
  EXPECT_EQ(zip->EntryFullName(1), "home\\RENAMED");
}

TEST(ZipWriter, StoredEntriesReplaceInPlaceAndABadBatchWritesNothing) {
  TempDir dir;
  auto source = Cabinet(dir / "s.qvf");
  Add(*source, "Work\\A", std::string(3000, 'a'), "new note");
  Add(*source, "B", "b");
  std::vector<TStoredEntry> batch(2);
  ASSERT_EQ(source->ReadStoredEntry("work\\a", batch[0]), "");
  ASSERT_EQ(source->ReadStoredEntry("B", batch[1]), "");
  TStoredEntry missing;
  EXPECT_EQ(source->ReadStoredEntry("C", missing), "is not in the File Cabinet");

  auto target = Cabinet(dir / "t.qvf");
  Add(*target, "X", "x");
  Add(*target, "WORK\\a", "old", "old note");
  Add(*target, "Z", "z");
  EXPECT_EQ(target->AddStoredEntries(batch), 2);
  std::vector<std::string> order;
  for (const auto& e : qbtest::ReadRawZip(dir / "t.qvf")) order.push_back(e.name);
  EXPECT_EQ(order, (std::vector<std::string>{"X", "Work/A", "Z", "B"}));
  const int a = target->FindEntry("Work\\A");
  ASSERT_LT(a, target->EntryCount());
  EXPECT_EQ(target->EntryFullName(a), "Work\\A");
  EXPECT_EQ(target->EntryComment(a), "new note");
  EXPECT_EQ(Extract(*target, a), std::string(3000, 'a'));

  // Two of one name, or data that does not match its record: nothing is written.
  const auto bytes = qbtest::ReadFileBytes(dir / "t.qvf");
  EXPECT_THROW(target->AddStoredEntries({batch[1], batch[1]}), EListError);
  std::vector<TStoredEntry> short_data{batch[0]};
  short_data[0].data.pop_back();
  EXPECT_THROW(target->AddStoredEntries(short_data), EZipError);
  EXPECT_EQ(qbtest::ReadFileBytes(dir / "t.qvf"), bytes);
  EXPECT_EQ(target->EntryCount(), 4);

  // A drawer entry whose record claims more data than the file holds is refused
  // before anything that size is allocated.
  Shell("python3 -c \"import zipfile; zipfile.ZipFile('" + (dir / "d.zip") + "', 'w').writestr('D/', b'')\"");
  auto archive = qbtest::ReadFileBytes(dir / "d.zip");
  const std::string central = "PK\x01\x02";
  auto at = std::search(archive.begin(), archive.end(), central.begin(), central.end());
  ASSERT_NE(at, archive.end());
  const uint32_t claimed = 0x7FFFFFF0;
  std::memcpy(&*(at + 20), &claimed, 4);
  qbtest::WriteFileBytes(dir / "d.zip", archive);
  // In a child whose address space is 1 GiB, so that the allocation would fail.
  pid_t pid = fork();
  if (pid == 0) {
#if !defined(__SANITIZE_ADDRESS__)  // the sanitizer's shadow memory needs the address space
    rlimit limit{1ul << 30, 1ul << 30};
    setrlimit(RLIMIT_AS, &limit);
#endif
    bool refused = false;
    try {
      TZipReader hostile;
      hostile.SetZipName(dir / "d.zip");
      TStoredEntry drawer;
      hostile.ReadStoredEntry("D\\", drawer);
    } catch (const EFatalUnzipError&) {
      refused = true;
    } catch (...) {
    }
    _exit(refused ? 0 : 1);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST(ZipWriter, RemoveEntriesBySelectionNameAndPattern) {
  TempDir dir;
  auto zip = Cabinet(dir / "c.qvf");
  for (const char* name : {"A\\b", "a\\B2", "x.bmp", "yy.bmp", "zz.bmp", "D\\qq.bmp", "keep"})
    Add(*zip, name, name, std::string("c-") + name);
  // A selection wins over names.
  zip->SetEntrySelected(zip->EntryCount() - 1, true);  // "yy.bmp"? whichever is last in name order
  std::string selected = zip->EntryFullName(zip->EntryCount() - 1);
  zip->FilesList().assign({"keep"});
  EXPECT_EQ(zip->RemoveEntries(), 1);
  EXPECT_EQ(zip->SelectedCount(), 0);
  for (int i = 0; i < zip->EntryCount(); ++i) EXPECT_NE(zip->EntryFullName(i), selected);
  // A plain name removes one entry, ignoring ASCII case.
  zip->FilesList().assign({"a\\b"});
  EXPECT_EQ(zip->RemoveEntries(), 1);
  // A pattern without a backslash matches file names, in every drawer.
  zip->FilesList().assign({"??.bmp"});
  int removed = zip->RemoveEntries();
  EXPECT_GE(removed, 2);
  for (int i = 0; i < zip->EntryCount(); ++i) {
    EXPECT_NE(zip->EntryFileName(i).size(), 6u) << zip->EntryFullName(i);
    EXPECT_EQ(zip->EntryComment(i), "c-" + zip->EntryFullName(i));
  }
  // Nothing selected, nothing named: rewritten unchanged, 0 removed.
  int before = zip->EntryCount();
  EXPECT_EQ(zip->RemoveEntries(), 0);
  EXPECT_EQ(zip->EntryCount(), before);
}

// After every kind of update the loaded directory (brought up to date in place,
// not read again) is what a fresh reading of the file gives: names in order,
// every field, comments, and the records still usable for the next update.
TEST(ZipWriter, LoadedDirectoryAfterUpdatesIsTheFileRead) {
  TempDir dir;
  const std::string path = dir / "c.qvf";
  auto zip = Cabinet(path);
  auto expect_as_read = [&](const std::string& step) {
    auto fresh = Cabinet(path);
    ASSERT_EQ(zip->EntryCount(), fresh->EntryCount()) << step;
    for (int i = 0; i < fresh->EntryCount(); ++i) {
      const TZipHeaderInfo &a = zip->Entry(i), &b = fresh->Entry(i);
      EXPECT_EQ(a.FullName(), b.FullName()) << step;
      EXPECT_EQ(a.local_header_offset, b.local_header_offset) << step << " " << b.FullName();
      EXPECT_EQ(a.central_header_offset, b.central_header_offset) << step;
      EXPECT_EQ(a.flags, b.flags) << step;
      EXPECT_EQ(a.crc, b.crc) << step;
      EXPECT_EQ(a.stored_name, b.stored_name) << step;
      EXPECT_EQ(zip->EntryComment(i), fresh->EntryComment(i)) << step;
      EXPECT_EQ(zip->FindEntry(b.FullName()), i) << step;
    }
  };
  for (const char* name : {"M\\m", "B\\b", "Z", "a\\A", "\xC3\xA9"})
    Add(*zip, name, name, std::string("c-") + name);
  expect_as_read("adds");
  Add(*zip, "b\\B", "replaced");  // in place, ignoring case
  Add(*zip, "C\\new", "between");
  expect_as_read("replace and add");
  EXPECT_EQ(Extract(*zip, zip->FindEntry("B\\b")), "replaced");
  zip->SetEntrySelected(zip->FindEntry("M\\m"), true);
  zip->SetEntrySelected(zip->FindEntry("Z"), true);
  EXPECT_EQ(zip->RemoveEntries(), 2);
  expect_as_read("removal");
  zip->SetEntryFileName(zip->FindEntry("C\\new"), "0first");
  zip->SetEntryComment(zip->FindEntry("a\\A"), "changed");
  zip->CommitChanges();
  expect_as_read("rename");
  zip->SetEntryComment(zip->FindEntry("\xC3\xA9"), "");
  zip->CommitChanges();
  expect_as_read("comment");
  for (int i = 0; i < zip->EntryCount(); ++i) EXPECT_EQ(zip->CheckEntry(i), "") << zip->EntryFullName(i);
}

TEST(ZipWriter, ZipNameChangeCommitsPendingChanges) {
  TempDir dir;
  auto zip = Cabinet(dir / "one.qvf");
  Add(*zip, "A", "a");
  zip->SetEntryComment(0, "pending");
  zip->SetZipName(dir / "two.qvf");
  EXPECT_FALSE(zip->Modified());
  EXPECT_EQ(zip->EntryCount(), 0);
  EXPECT_EQ(Cabinet(dir / "one.qvf")->EntryComment(0), "pending");
}

// Runs body in a child process and returns its exit status.
template <class F>
int InChild(F body) {
  pid_t pid = fork();
  if (pid == 0) {
    int code = 0;
    try {
      code = body();
    } catch (...) {
      code = 99;
    }
    _exit(code);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(ZipWriter, FailuresLeaveTheArchiveByteIdentical) {
  TempDir dir;
  std::string path = dir / "c.qvf";
  {
    auto zip = Cabinet(path);
    Add(*zip, "A", "a", "comment");
  }
  auto bytes = qbtest::ReadFileBytes(path);
  // A full disk: the file size limit makes the temporary file's writes fail.
  int code = InChild([&] {
    signal(SIGXFSZ, SIG_IGN);
    rlimit limit{200000, 200000};
    setrlimit(RLIMIT_FSIZE, &limit);
    auto zip = Cabinet(path);
    auto big = qbtest::RandomBytes(1000000, 5);
    TMemoryStream stream{std::vector<uint8_t>(big)};
    try {
      zip->AddFromStream(&stream, "Big");
    } catch (const ENotEnoughRoom& e) {
      return std::string(e.what()) == "Not enough room to write archive" && zip->EntryCount() == 1 ? 0 : 2;
    }
    return 1;
  });
  EXPECT_EQ(code, 0);
  EXPECT_EQ(qbtest::ReadFileBytes(path), bytes);

  // An unwritable folder: the temporary file cannot be made.
  if (geteuid() != 0) {
    chmod(dir.Path().c_str(), 0555);
    auto zip = Cabinet(path);
    TMemoryStream stream("x");
    EXPECT_THROW(zip->AddFromStream(&stream, "B"), EFCreateError);
    chmod(dir.Path().c_str(), 0755);
  } else {
    // root writes anywhere; a folder that does not exist stands in.
    TZipWriter zip;
    zip.SetZipName(dir / "no-such-folder/c.qvf");
    TMemoryStream stream("x");
    EXPECT_THROW(zip.AddFromStream(&stream, "B"), EFCreateError);
  }
  EXPECT_EQ(qbtest::ReadFileBytes(path), bytes);
}

// An archive that an update would take past 2 GiB is refused before anything is
// written: no temporary file, the archive untouched. The big entry's data is a
// hole in a sparse file, so the test costs no disk space.
TEST(ZipWriter, UpdatesBeyondTheSizeLimitAreRefusedBeforeWriting) {
  TempDir dir;
  const std::string path = dir / "big.zip";
  const uint32_t size = 0x7FF00000;
  {
    using namespace format;
    std::vector<uint8_t> bytes(kLocalHeaderSize + 3);
    LocalHeader local;
    local.version_needed = 10;
    local.compressed_size = local.uncompressed_size = size;
    local.name_length = 3;
    EncodeLocalHeader(local, bytes.data());
    std::memcpy(bytes.data() + kLocalHeaderSize, "Big", 3);
    CentralHeader central;
    central.version_made_by = kMadeByUnix20;
    central.version_needed = 10;
    central.compressed_size = central.uncompressed_size = size;
    central.name_length = 3;
    std::vector<uint8_t> tail(kCentralHeaderSize + 3 + kEndRecordSize);
    EncodeCentralHeader(central, tail.data());
    std::memcpy(tail.data() + kCentralHeaderSize, "Big", 3);
    EndRecord end;
    end.entries_this_disk = end.total_entries = 1;
    end.directory_size = kCentralHeaderSize + 3;
    end.directory_offset = static_cast<uint32_t>(bytes.size() + size);
    EncodeEndRecord(end, tail.data() + kCentralHeaderSize + 3);
    qbtest::WriteFileBytes(path, bytes);
    ASSERT_EQ(::truncate(path.c_str(), static_cast<off_t>(bytes.size() + size)), 0);
    std::FILE* f = std::fopen(path.c_str(), "ab");
    ASSERT_EQ(std::fwrite(tail.data(), 1, tail.size(), f), tail.size());
    std::fclose(f);
  }
  struct stat before {};
  ASSERT_EQ(::stat(path.c_str(), &before), 0);
  auto zip = Cabinet(path);
  ASSERT_EQ(zip->EntryCount(), 1);
  EXPECT_EQ(zip->Entry(0).uncompressed_size, size);
  auto big = qbtest::RandomBytes(2 << 20, 8);
  TMemoryStream stream{std::vector<uint8_t>(big)};
  try {
    zip->AddFromStream(&stream, "More");
    FAIL();
  } catch (const EZipError& e) {
    EXPECT_STREQ(e.what(), "The archive would grow beyond 2 GB");
  }
  struct stat after {};
  ASSERT_EQ(::stat(path.c_str(), &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino);
  EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
  EXPECT_EQ(after.st_size, before.st_size);
  int files = 0;  // the writers' lock file aside
  for (auto& e : std::filesystem::directory_iterator(dir.Path()))
    files += e.is_regular_file() && e.path().extension() != ".lock";
  EXPECT_EQ(files, 1);
}

// The hidden files in a folder other than the writers' lock files: what killed
// writers left behind.
int LeftoverFiles(const TempDir& dir) {
  int count = 0;
  for (auto& e : std::filesystem::directory_iterator(dir.Path()))
    count += e.path().filename().string()[0] == '.' && e.path().extension() != ".lock";
  return count;
}

// Kills a process that keeps adding items at random moments; each time the cabinet
// must be whole: every item present extracts with a good CRC, and the items are a
// prefix of what the process added. A killed writer's temporary file goes with the
// next update, so at most one is ever left.
TEST(ZipWriter, KilledWriterLeavesOldOrNewArchive) {
  TempDir dir;
  std::string path = dir / "crash.qvf";
  auto payload = qbtest::TextLikeBytes(400000, 11);
  std::string data(payload.begin(), payload.end());
  auto delays = qbtest::RandomBytes(64, 3);
  int added_total = 0;
  for (int round = 0; round < 12; ++round) {
    // The child reports each finished update on a pipe; the kill comes a random
    // moment after the first report, in the middle of a later update.
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    pid_t pid = fork();
    if (pid == 0) {
      close(fds[0]);
      auto zip = Cabinet(path);
      for (int n = zip->EntryCount();; ++n) {
        TMemoryStream stream(data + std::to_string(n));
        zip->AddFromStreamWithComment(&stream, "Item" + std::to_string(100000 + n), "c" + std::to_string(n));
        if (write(fds[1], "x", 1) != 1) _exit(0);
      }
    }
    close(fds[1]);
    char byte;
    ASSERT_EQ(read(fds[0], &byte, 1), 1);
    usleep(delays[round] * 60);
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    close(fds[0]);
    EXPECT_LE(LeftoverFiles(dir), 1);
    if (!FileExists(path)) continue;
    auto zip = Cabinet(path);
    ASSERT_GE(zip->EntryCount(), added_total);
    added_total = zip->EntryCount();
    for (int i = 0; i < zip->EntryCount(); ++i) {
      EXPECT_EQ(zip->EntryFullName(i), "Item" + std::to_string(100000 + i));
      int good = 0;
      EXPECT_EQ(Extract(*zip, i, &good), data + std::to_string(i));
      EXPECT_EQ(good, 1);
      EXPECT_EQ(zip->EntryComment(i), "c" + std::to_string(i));
    }
  }
  EXPECT_GT(added_total, 0);
  auto zip = Cabinet(path);
  TMemoryStream stream("last");
  zip->AddFromStream(&stream, "Last");
  EXPECT_EQ(LeftoverFiles(dir), 0);
}

}  // namespace
}  // namespace qb::zip
