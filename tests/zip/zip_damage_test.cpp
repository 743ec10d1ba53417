// The reader on broken and hostile files: every outcome is one of the engine's
// errors or a short result, never a crash or a hang.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <map>

#include "support/test_support.h"
#include "zip/crc32.h"
#include "zip/zip_crypto.h"
#include "zip/zip_errors.h"
#include "zip/zip_format.h"
#include "zip/zip_writer.h"

namespace qb::zip {
namespace {

using qbtest::TempDir;

class RecordingInteraction : public IUserInteraction {
 public:
  MsgAnswer MessageBox(MsgKind, const std::string& caption, const std::string& text, MsgButtons) override {
    boxes.push_back(caption + ": " + text);
    return MsgAnswer::Ok;
  }
  std::vector<std::string> boxes;
};

// A small archive of three entries with comments, written by our writer.
std::vector<uint8_t> MakeArchive(const TempDir& dir) {
  TZipWriter zip;
  zip.SetStorePaths(true);
  zip.SetZipName(dir / "src.zip");
  TMemoryStream text(std::string(3000, 'x') + "tail");
  zip.AddFromStreamWithComment(&text, "Drawer\\Text", "comment one");
  auto random = qbtest::RandomBytes(5000, 3);
  TMemoryStream bin{std::vector<uint8_t>(random)};
  zip.AddFromStreamWithComment(&bin, "Drawer\\Bin", "comment two");
  TMemoryStream small("small");
  zip.AddFromStream(&small, "Top");
  return qbtest::ReadFileBytes(dir.Path() / "src.zip");
}

// Reads everything a file offers; returns a summary, or the exception text.
std::string ReadAll(const std::string& path) {
  try {
    TZipReader zip;
    RecordingInteraction ui;
    zip.SetInteraction(&ui);
    zip.SetSortMode(TZipSortMode::ByName);
    zip.SetZipName(path);
    zip.ReadDirectory();
    std::string summary = std::to_string(zip.EntryCount()) + ":";
    for (int i = 0; i < zip.EntryCount(); ++i) {
      TMemoryStream out;
      int good = zip.ExtractIndexToStream(&out, i);
      summary += zip.EntryFullName(i) + "=" + std::to_string(good) + "/" + std::to_string(out.Size()) + ",";
      zip.EntryComment(i);
    }
    // The check of all entries in one pass gives what checking each one gives.
    std::vector<std::string> each, all;
    for (int i = 0; i < zip.EntryCount(); ++i) {
      try {
        each.push_back(zip.CheckEntry(i));
      } catch (const Exception& e) {
        each.push_back(e.what());
      }
    }
    zip.CheckAllEntries([&](int i, const std::string& problem) {
      EXPECT_EQ(static_cast<size_t>(i), all.size());
      all.push_back(problem);
    });
    EXPECT_EQ(all, each) << path;
    return summary;
  } catch (const Exception& e) {
    return std::string("error: ") + e.what();
  }
}

TEST(ZipDamage, EmptyAndNonZipFiles) {
  TempDir dir;
  qbtest::WriteFileText(dir / "empty.zip", "");
  TZipReader zip;
  zip.SetZipName(dir / "empty.zip");
  zip.ReadDirectory();
  EXPECT_EQ(zip.EntryCount(), 0);
  EXPECT_EQ(zip.ArchiveComment(), "");

  // Not an archive: the directory read says nothing, extraction says why.
  qbtest::WriteFileText(dir / "text.zip", std::string(500, 't'));
  zip.SetZipName(dir / "text.zip");
  zip.ReadDirectory();
  EXPECT_EQ(zip.EntryCount(), 0);
  EXPECT_EQ(zip.ZipName(), dir / "text.zip");
  TMemoryStream out;
  EXPECT_THROW(zip.ExtractToStream(&out, "x"), EIncompleteZip);
  try {
    zip.ExtractToStream(&out, "x");
  } catch (const EIncompleteZip& e) {
    EXPECT_STREQ(e.what(), "Incomplete Zip File");
  }
  zip.SetIncompleteZipMode(TIncompleteZipMode::izAssumeNotAZip);
  EXPECT_THROW(zip.ReadDirectory(), ENotAZipFile);
  EXPECT_EQ(zip.ZipName(), "");  // a failed read clears the component

  // Missing file: the platform's open error, and the name is dropped.
  zip.SetZipName(dir / "missing.zip");
  try {
    zip.ReadDirectory();
    FAIL();
  } catch (const EFOpenError& e) {
    EXPECT_NE(std::string(e.what()).find("Cannot open file"), std::string::npos);
  }
  EXPECT_EQ(zip.ZipName(), "");
}

// What a damaged file may give: the engine's error, or entries of the original
// archive where every extraction reported good has the original's size (damage is
// never passed off as data). summary and original are ReadAll's results.
void ExpectHonestOutcome(const std::string& summary, const std::string& original, const std::string& what) {
  if (summary.rfind("error: ", 0) == 0) {
    EXPECT_GT(summary.size(), 7u) << what;  // the engine says why
    return;
  }
  auto entries = [](const std::string& text) {
    std::map<std::string, std::pair<int, size_t>> out;  // name -> (good, size)
    size_t at = text.find(':');
    if (at == std::string::npos) return out;
    for (size_t start = at + 1; start < text.size();) {
      const size_t end = text.find(',', start);
      const std::string one = text.substr(start, end - start);
      const size_t eq = one.find('='), slash = one.find('/');
      out[one.substr(0, eq)] = {std::stoi(one.substr(eq + 1, slash - eq - 1)),
                                std::stoul(one.substr(slash + 1))};
      start = end == std::string::npos ? text.size() : end + 1;
    }
    return out;
  };
  const auto intact = entries(original);
  ASSERT_NE(summary.find(':'), std::string::npos) << what << ": " << summary;
  for (const auto& [name, result] : entries(summary)) {
    const auto it = intact.find(name);
    if (it == intact.end()) {
      // A flipped byte in a name gives an entry of another name; what it extracts
      // as good is still one of the original entries' data.
      if (result.first == 1) {
        bool known_size = false;
        for (const auto& [other, good_size] : intact) known_size |= good_size.second == result.second;
        EXPECT_TRUE(known_size) << what << ": " << name << " " << result.second;
      }
      continue;
    }
    if (result.first == 1) {
      EXPECT_EQ(result.second, it->second.second) << what << ": " << name;
    }
  }
}

TEST(ZipDamage, TruncationAtEveryOffsetGivesAnErrorOrTheOriginalsEntries) {
  TempDir dir;
  auto bytes = MakeArchive(dir);
  const std::string original = ReadAll(dir / "src.zip");
  ASSERT_EQ(original.substr(0, 2), "3:");
  std::string path = dir / "cut.zip";
  for (size_t cut = 0; cut < bytes.size(); cut += (cut < 200 || cut > bytes.size() - 300) ? 1 : 37) {
    qbtest::WriteFileBytes(path, std::vector<uint8_t>(bytes.begin(), bytes.begin() + static_cast<long>(cut)));
    ExpectHonestOutcome(ReadAll(path), original, "cut at " + std::to_string(cut));
  }
}

// A writer over the file at path, as the cabinet sets one up.
std::unique_ptr<TZipWriter> Writer(const std::string& path) {
  auto zip = std::make_unique<TZipWriter>();
  zip->SetSortMode(TZipSortMode::ByName);
  zip->SetStorePaths(true);
  zip->SetZipName(path);
  zip->ReadDirectory();
  return zip;
}

// An update over a damaged directory is refused and leaves the file as it was.
void ExpectUpdateRefused(const std::string& path) {
  const auto bytes = qbtest::ReadFileBytes(path);
  auto zip = Writer(path);
  TMemoryStream stream("new");
  EXPECT_THROW(zip->AddFromStream(&stream, "New"), EDamagedZip) << path;
  zip->SetEntryComment(0, "changed");
  EXPECT_THROW(zip->CommitChanges(), EDamagedZip);
  EXPECT_EQ(qbtest::ReadFileBytes(path), bytes);
}

TEST(ZipDamage, CountOrSizeDisagreeingWithTheDirectoryIsReportedAndNeverRewritten) {
  TempDir dir;
  const auto good = MakeArchive(dir);
  const size_t end = good.size() - format::kEndRecordSize;
  // One flipped bit in the count (3 -> 1): every record is still read, as damage.
  auto counted = good;
  format::Put16(&counted[end + 8], 1);
  format::Put16(&counted[end + 10], 1);
  qbtest::WriteFileBytes(dir.Path() / "count.zip", counted);
  {
    auto zip = Writer(dir / "count.zip");
    EXPECT_EQ(zip->EntryCount(), 3);
    EXPECT_EQ(zip->DirectoryDamage(), "the end record counts 1 entries, the central directory holds 3");
    EXPECT_FALSE(zip->DirectoryRecovered());
  }
  ExpectUpdateRefused(dir / "count.zip");
  // A directory size that the records do not fill.
  auto sized = good;
  format::Put32(&sized[end + 12], format::Get32(&sized[end + 12]) + 10);
  qbtest::WriteFileBytes(dir.Path() / "size.zip", sized);
  EXPECT_NE(Writer(dir / "size.zip")->DirectoryDamage().find("the end record says"), std::string::npos);
  ExpectUpdateRefused(dir / "size.zip");
  // An end record that refers to a ZIP64 record that is not there.
  auto masked = good;
  format::Put32(&masked[end + 16], 0xFFFFFFFF);
  qbtest::WriteFileBytes(dir.Path() / "masked.zip", masked);
  EXPECT_FALSE(Writer(dir / "masked.zip")->DirectoryDamage().empty());
  ExpectUpdateRefused(dir / "masked.zip");
  // The sound archive reports nothing.
  qbtest::WriteFileBytes(dir.Path() / "good.zip", good);
  EXPECT_EQ(Writer(dir / "good.zip")->DirectoryDamage(), "");
}

// Past a count too small, the records are read up to the directory's end; one
// that runs beyond it is not taken. A read of one name (as qvf add and cat
// read) tells the same damage as the whole read, even where that record points
// at another entry's local header.
TEST(ZipDamage, ARecordRunningPastTheDirectoryIsLeftOutByEveryRead) {
  TempDir dir;
  auto bytes = MakeArchive(dir);
  const size_t end = bytes.size() - format::kEndRecordSize;
  format::Put16(&bytes[end + 8], 1);
  format::Put16(&bytes[end + 10], 1);
  size_t third = format::Get32(&bytes[end + 16]);
  for (int k = 0; k < 2; ++k)
    third += format::kCentralHeaderSize + format::Get16(&bytes[third + 28]) +
             format::Get16(&bytes[third + 30]) + format::Get16(&bytes[third + 32]);
  format::Put32(&bytes[third + 42], 0);                                  // the first entry's header
  format::Put32(&bytes[end + 12], format::Get32(&bytes[end + 12]) - 2);  // the third record runs past
  const std::string path = dir / "past.zip";
  qbtest::WriteFileBytes(path, bytes);
  const std::string damage = "the end record counts 1 entries, the central directory holds 2";
  EXPECT_EQ(Writer(path)->DirectoryDamage(), damage);
  for (bool for_update : {true, false}) {
    TZipWriter one;
    one.SetNameFilter({"Drawer\\Bin"}, for_update);
    one.SetZipName(path);
    ASSERT_NO_THROW(one.ReadDirectory()) << for_update;
    EXPECT_EQ(one.DirectoryDamage(), damage);
    EXPECT_EQ(one.FindEntry("Drawer\\Bin"), 0);
  }
  ExpectUpdateRefused(path);
}

TEST(ZipDamage, RepairKeepsACopyAndWritesEveryEntryRead) {
  TempDir dir;
  auto bytes = MakeArchive(dir);
  const size_t end = bytes.size() - format::kEndRecordSize;
  format::Put16(&bytes[end + 8], 2);
  format::Put16(&bytes[end + 10], 2);
  const std::string path = dir / "c.zip";
  qbtest::WriteFileBytes(path, bytes);
  auto zip = Writer(path);
  {
    // Another writer holds the cabinet: the repair waits, then gives up before
    // copying anything.
    auto other = Writer(path);
    TCabinetLockHold hold(*other);
    zip->SetLockWait(std::chrono::milliseconds(50));
    EXPECT_THROW(zip->Repair(), ECabinetBusy);
    EXPECT_FALSE(std::filesystem::exists(path + ".damaged"));
    EXPECT_EQ(qbtest::ReadFileBytes(path), bytes);
  }
  const std::string backup = zip->Repair();
  EXPECT_EQ(backup, path + ".damaged");
  EXPECT_EQ(qbtest::ReadFileBytes(backup), bytes);
  EXPECT_EQ(zip->DirectoryDamage(), "");
  auto repaired = Writer(path);
  EXPECT_EQ(repaired->DirectoryDamage(), "");
  EXPECT_EQ(ReadAll(path), "3:Drawer\\Bin=1/5000,Drawer\\Text=1/3004,Top=1/5,");
  EXPECT_EQ(repaired->EntryComment(0), "comment two");
  // A second repair of another damaged copy does not overwrite the first copy.
  qbtest::WriteFileBytes(path, bytes);
  EXPECT_EQ(Writer(path)->Repair(), path + ".damaged-2");
  EXPECT_EQ(qbtest::ReadFileBytes(backup), bytes);
  // A sound archive needs no repair: nothing is written.
  EXPECT_EQ(Writer(path)->Repair(), "");
  EXPECT_FALSE(std::filesystem::exists(path + ".damaged-3"));
}

TEST(ZipDamage, RepairNeverWritesAMaskedValueItCannotGive) {
  TempDir dir;
  const auto good = MakeArchive(dir);
  const size_t directory = format::Get32(&good[good.size() - format::kEndRecordSize + 16]);
  // The first record's disk number masked, with no ZIP64 field to give it: the
  // repaired archive is one file, on disk 0, and reads back sound.
  auto disk = good;
  format::Put16(&disk[directory + 34], 0xFFFF);
  const std::string path = dir / "disk.zip";
  qbtest::WriteFileBytes(path, disk);
  auto zip = Writer(path);
  EXPECT_NE(zip->DirectoryDamage(), "");
  EXPECT_EQ(zip->Repair(), path + ".damaged");
  EXPECT_EQ(Writer(path)->DirectoryDamage(), "");
  EXPECT_EQ(ReadAll(path), "3:Drawer\\Bin=1/5000,Drawer\\Text=1/3004,Top=1/5,");
  // A size masked the same way is not known: the repair is refused rather than
  // writing a file as damaged as before.
  auto size = good;
  format::Put32(&size[directory + 24], 0xFFFFFFFF);
  const std::string sized = dir / "size.zip";
  qbtest::WriteFileBytes(sized, size);
  EXPECT_THROW(Writer(sized)->Repair(), EZipError);
  EXPECT_EQ(qbtest::ReadFileBytes(sized), size);
}

TEST(ZipDamage, FlippedCentralDirectoryByteFallsBackToLocalHeaders) {
  TempDir dir;
  auto bytes = MakeArchive(dir);
  size_t end = bytes.size() - format::kEndRecordSize;
  uint32_t directory = format::Get32(&bytes[end + 16]);
  size_t second = directory + format::kCentralHeaderSize + format::Get16(&bytes[directory + 28]) +
                  format::Get16(&bytes[directory + 32]);
  bytes[second] ^= 0xFF;  // the second central signature
  qbtest::WriteFileBytes(dir.Path() / "bad.zip", bytes);
  TZipReader zip;
  zip.SetSortMode(TZipSortMode::ByName);
  zip.SetZipName(dir / "bad.zip");
  zip.ReadDirectory();
  ASSERT_EQ(zip.EntryCount(), 3);
  EXPECT_EQ(zip.EntryFullName(2), "Top");
  TMemoryStream out;
  EXPECT_EQ(zip.ExtractToStream(&out, "Drawer\\Text"), 1);
  EXPECT_EQ(out.ToString(), std::string(3000, 'x') + "tail");
  // Central records before the damage still supply their fields; after it, none.
  EXPECT_EQ(zip.EntryComment(1), "comment one");
  EXPECT_FALSE(zip.EntryHasComment(0));
  // Recovered, so reported, and never written over without a repair.
  EXPECT_TRUE(zip.DirectoryRecovered());
  EXPECT_NE(zip.DirectoryDamage().find("3 entries were recovered"), std::string::npos)
      << zip.DirectoryDamage();
  ExpectUpdateRefused(dir / "bad.zip");
}

TEST(ZipDamage, JunkBeforeAndAfterTheArchive) {
  TempDir dir;
  auto bytes = MakeArchive(dir);
  std::vector<uint8_t> junk(1234, 'J');
  std::vector<uint8_t> before = junk;
  before.insert(before.end(), bytes.begin(), bytes.end());
  qbtest::WriteFileBytes(dir.Path() / "before.zip", before);
  EXPECT_EQ(ReadAll(dir / "before.zip"), "3:Drawer\\Bin=1/5000,Drawer\\Text=1/3004,Top=1/5,");
  TZipReader zip;
  zip.SetSortMode(TZipSortMode::ByName);
  zip.SetZipName(dir / "before.zip");
  zip.ReadDirectory();
  EXPECT_EQ(zip.EntryComment(1), "comment one");

  // Junk after the end record reads as part of the archive comment.
  std::vector<uint8_t> after = bytes;
  after.insert(after.end(), junk.begin(), junk.begin() + 10);
  qbtest::WriteFileBytes(dir.Path() / "after.zip", after);
  EXPECT_EQ(ReadAll(dir / "after.zip"), "3:Drawer\\Bin=1/5000,Drawer\\Text=1/3004,Top=1/5,");
}

TEST(ZipDamage, BadCrcIsNotCountedButKeepsTheBytes) {
  TempDir dir;
  auto bytes = MakeArchive(dir);
  // "small" is stored: flip its last data byte.
  auto at = std::search(bytes.begin(), bytes.end(), std::begin("small"), std::end("small") - 1);
  ASSERT_NE(at, bytes.end());
  *at = 'S';
  qbtest::WriteFileBytes(dir.Path() / "crc.zip", bytes);
  TZipReader zip;
  zip.SetZipName(dir / "crc.zip");
  TMemoryStream out;
  EXPECT_EQ(zip.ExtractToStream(&out, "Top"), 0);
  EXPECT_EQ(out.ToString(), "Small");
}

TEST(ZipDamage, DeclaredHugeEntryDoesNotAllocateItsSizeNorPass) {
  TempDir dir;
  auto bytes = MakeArchive(dir);
  // Declare almost 2 GB, compressed and not, for the deflated "Drawer\Text" entry.
  for (size_t i = 0; i + 4 <= bytes.size(); ++i) {
    uint32_t sig = format::Get32(&bytes[i]);
    if (sig == format::kCentralHeaderSignature && bytes[i + 46 + 7] == 'T') {
      format::Put32(&bytes[i + 20], 0x7FFFFFF0);
      format::Put32(&bytes[i + 24], 0x7FFFFFF0);
    }
  }
  qbtest::WriteFileBytes(dir.Path() / "huge.zip", bytes);
  TZipReader zip;
  zip.SetZipName(dir / "huge.zip");
  TMemoryStream out;
  // Only what the file holds is read, and the output buffer is bounded by what that
  // data can expand to; the data ends before its declared size, so the entry does
  // not pass, though its bytes stay in the stream.
  EXPECT_EQ(zip.ExtractToStream(&out, "Drawer\\Text"), 0);
  EXPECT_EQ(out.ToString(), std::string(3000, 'x') + "tail");
}

// Under the address sanitizer its own memory dwarfs what is measured.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kPeakMemoryMeasured = false;
#else
constexpr bool kPeakMemoryMeasured = true;
#endif

// Runs body in a child process whose address space is limited to 1 GiB (so an
// allocation for a claimed size fails even where its pages would never be
// touched); returns its peak resident size in KiB, or -1 when body failed.
template <class Body>
long PeakKibOfChild(Body body) {
  pid_t pid = fork();
  if (pid == 0) {
#if !defined(__SANITIZE_ADDRESS__)  // the sanitizer's shadow memory needs the address space
    rlimit limit{1ul << 30, 1ul << 30};
    setrlimit(RLIMIT_AS, &limit);
#endif
    bool ok = false;
    try {
      ok = body();
    } catch (...) {
    }
    _exit(ok ? 0 : 1);
  }
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? usage.ru_maxrss : -1;
}

// Zip bombs: an entry whose sizes claim 1.8 GB, whose data makes 1 MB and is
// followed by 2 MB of junk that the compressed size counts. Neither extraction
// into memory nor a check allocates for the claim: memory follows what the data
// really makes, and the entry does not pass.
TEST(ZipDamage, ClaimedSizesDoNotDecideTheMemoryTaken) {
  TempDir dir;
  const auto text = qbtest::TextLikeBytes(1 << 20, 41);
  std::vector<uint8_t> data(text.size() + 1024);
  z_stream zs{};
  deflateInit2(&zs, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
  zs.next_in = const_cast<Bytef*>(text.data());
  zs.avail_in = static_cast<uInt>(text.size());
  zs.next_out = data.data();
  zs.avail_out = static_cast<uInt>(data.size());
  ASSERT_EQ(deflate(&zs, Z_FINISH), Z_STREAM_END);
  data.resize(zs.total_out);
  deflateEnd(&zs);
  const auto junk = qbtest::RandomBytes(2 << 20, 42);
  data.insert(data.end(), junk.begin(), junk.end());
  const uint32_t claimed = 0x70000000;
  using namespace format;
  std::vector<uint8_t> bytes(kLocalHeaderSize);
  LocalHeader local;
  local.version_needed = 20;
  local.method = kMethodDeflated;
  local.crc = Crc32(0, text.data(), text.size());
  local.compressed_size = static_cast<uint32_t>(data.size());
  local.uncompressed_size = claimed;
  local.name_length = 4;
  EncodeLocalHeader(local, bytes.data());
  bytes.insert(bytes.end(), {'B', 'o', 'm', 'b'});
  bytes.insert(bytes.end(), data.begin(), data.end());
  CentralHeader central;
  central.version_made_by = kMadeByUnix20;
  central.version_needed = 20;
  central.method = kMethodDeflated;
  central.crc = local.crc;
  central.compressed_size = local.compressed_size;
  central.uncompressed_size = claimed;
  central.name_length = 4;
  const size_t directory = bytes.size();
  bytes.resize(directory + kCentralHeaderSize);
  EncodeCentralHeader(central, bytes.data() + directory);
  bytes.insert(bytes.end(), {'B', 'o', 'm', 'b'});
  EndRecord end;
  end.entries_this_disk = end.total_entries = 1;
  end.directory_size = static_cast<uint32_t>(bytes.size() - directory);
  end.directory_offset = static_cast<uint32_t>(directory);
  bytes.resize(bytes.size() + kEndRecordSize);
  EncodeEndRecord(end, bytes.data() + bytes.size() - kEndRecordSize);
  const std::string path = dir / "bomb.zip";
  qbtest::WriteFileBytes(path, bytes);

  const long extract = PeakKibOfChild([&] {
    TZipReader zip;
    zip.SetZipName(path);
    TMemoryStream out;
    return zip.ExtractToStream(&out, "Bomb") == 0 && out.Size() == text.size();
  });
  const long check = PeakKibOfChild([&] {
    TZipReader zip;
    zip.SetZipName(path);
    zip.ReadDirectory();
    return zip.CheckEntry(0) == "is damaged: its data ends before its size";
  });
  EXPECT_GT(extract, 0);
  EXPECT_GT(check, 0);
  if (kPeakMemoryMeasured) {
    EXPECT_LT(extract, 64 * 1024);
  }
  if (kPeakMemoryMeasured) {
    EXPECT_LT(check, 64 * 1024);
  }
}

TEST(ZipDamage, RandomByteFlipsGiveAnErrorOrTheOriginalsEntries) {
  TempDir dir;
  auto bytes = MakeArchive(dir);
  const std::string original = ReadAll(dir / "src.zip");
  auto noise = qbtest::RandomBytes(4000, 99);
  std::string path = dir / "flip.zip";
  for (size_t round = 0; round < 300; ++round) {
    auto damaged = bytes;
    for (int k = 0; k < 3; ++k) {
      size_t at = (noise[(round * 3 + k) % noise.size()] * 257u + round * 7919u) % damaged.size();
      damaged[at] ^= static_cast<uint8_t>(1u << (round % 8));
    }
    qbtest::WriteFileBytes(path, damaged);
    ExpectHonestOutcome(ReadAll(path), original, "round " + std::to_string(round));
  }
}

// The last byte of the first entry's encryption header, decrypted with password:
// the byte the reader compares with the top of the CRC.
uint8_t CheckByteWith(const std::vector<uint8_t>& archive, const std::string& password) {
  const size_t start = format::kLocalHeaderSize + format::Get16(&archive[26]) + format::Get16(&archive[28]);
  uint8_t header[format::kEncryptionHeaderSize];
  if (start + sizeof header > archive.size()) throw std::out_of_range("no encryption header");
  std::memcpy(header, &archive[start], sizeof header);
  ZipCrypto(password).Decrypt(header, sizeof header);
  return header[format::kEncryptionHeaderSize - 1];
}

// The header's ten random bytes make a wrong password pass the one-byte check one
// time in 256; both kinds of wrong password are picked from the file on purpose.
TEST(ZipDamage, WrongPasswordSkipsTheEntry) {
  TempDir dir;
  TZipWriter writer;
  writer.SetZipName(dir / "enc.zip");
  writer.SetPassword("secret");
  TMemoryStream data(std::string(2000, 'p'));
  writer.AddFromStream(&data, "p.txt");
  auto check = qbtest::RunCommand("unzip -P secret -p " + qbtest::ShellQuote(dir / "enc.zip"));
  EXPECT_EQ(check.output, std::string(2000, 'p'));

  const std::vector<uint8_t> archive = qbtest::ReadFileBytes(dir.Path() / "enc.zip");
  const uint8_t right = CheckByteWith(archive, "secret");
  std::string refused, passing;
  for (int i = 0; refused.empty() || passing.empty(); ++i) {
    ASSERT_LT(i, 100000);
    const std::string password = "wrong" + std::to_string(i);
    (CheckByteWith(archive, password) == right ? passing : refused) = password;
  }

  TZipReader zip;
  zip.SetZipName(dir / "enc.zip");
  // Refused by the check: skipped, nothing written, no error.
  TMemoryStream out;
  zip.SetPassword(refused);
  EXPECT_EQ(zip.ExtractToStream(&out, "p.txt"), 0);
  EXPECT_EQ(out.Size(), 0u);
  // Past the check, the data decrypts to noise: never counted, whether the noise
  // fails its CRC or runs past the entry's end ("Premature end of file reached").
  TMemoryStream noise;
  zip.SetPassword(passing);
  int extracted = -1;
  try {
    extracted = zip.ExtractToStream(&noise, "p.txt");
  } catch (const EFatalUnzipError&) {
    extracted = 0;
  }
  EXPECT_EQ(extracted, 0);
  zip.SetPassword("secret");
  EXPECT_EQ(zip.ExtractToStream(&out, "p.txt"), 1);
  EXPECT_EQ(out.ToString(), std::string(2000, 'p'));
}

TEST(ZipDamage, UnknownMethodShowsTheZipErrorBox) {
  TempDir dir;
  auto bytes = MakeArchive(dir);
  for (size_t i = 0; i + 4 <= bytes.size(); ++i) {
    uint32_t sig = format::Get32(&bytes[i]);
    if (sig == format::kLocalHeaderSignature) format::Put16(&bytes[i + 8], 99);
    if (sig == format::kCentralHeaderSignature) format::Put16(&bytes[i + 10], 99);
  }
  qbtest::WriteFileBytes(dir.Path() / "m.zip", bytes);
  TZipReader zip;
  RecordingInteraction ui;
  zip.SetInteraction(&ui);
  zip.SetZipName(dir / "m.zip");
  TMemoryStream out;
  EXPECT_EQ(zip.ExtractToStream(&out, "Top"), 0);
  EXPECT_EQ(out.Size(), 0u);
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_EQ(ui.boxes[0], "Zip Error: Unknown Compression Method");
}

// A record that claims far more data than the file holds (of a legacy method, or
// deflated with a size to match) reads as data cut short, without memory for
// what it claims.
TEST(ZipDamage, ADataSizeBeyondTheFileTakesNoMemoryForTheClaim) {
  TempDir dir;
  {
    TZipWriter zip;
    zip.SetZipName(dir / "src.zip");
    TMemoryStream small("small data");
    zip.AddFromStream(&small, "Top");
  }
  const std::vector<uint8_t> original = qbtest::ReadFileBytes(dir.Path() / "src.zip");
  const uint8_t central_signature[] = {'P', 'K', 1, 2};
  const size_t central =
      static_cast<size_t>(std::search(original.begin(), original.end(), std::begin(central_signature),
                                      std::end(central_signature)) -
                          original.begin());
  ASSERT_LT(central, original.size());
  for (const int method : {1, 6, 8}) {
    std::vector<uint8_t> bytes = original;
    const uint32_t claim = 0x7FFFFF00;
    for (const size_t at : {size_t{8}, central + 10})
      format::Put16(bytes.data() + at, static_cast<uint16_t>(method));
    for (const size_t at : {size_t{18}, size_t{22}, central + 20, central + 24})
      format::Put32(bytes.data() + at, claim);
    const std::string path = dir / "claim.zip";
    qbtest::WriteFileBytes(path, bytes);
    rusage before{}, after{};
    getrusage(RUSAGE_SELF, &before);
    const std::string read = ReadAll(path);
    getrusage(RUSAGE_SELF, &after);
    EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 256 * 1024) << method;  // KiB
    EXPECT_NE(read.find(EFatalUnzipError().what()), std::string::npos) << method << ": " << read;
  }
}

}  // namespace
}  // namespace qb::zip
