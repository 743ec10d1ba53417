// Adding an item of a new name carries the old entries and directory over as the
// file holds them. What comes out must be what a whole rewrite writes (byte for
// byte where the rewrite keeps every byte), and every archive the rewrite refuses
// is refused alike, with the file untouched.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <fstream>
#include <set>
#include <thread>

#include "platform/codepage.h"
#include "support/raw_zip.h"
#include "support/test_support.h"
#include "zip/crc32.h"
#include "zip/file_window.h"
#include "zip/system_calls.h"
#include "zip/zip_errors.h"
#include "zip/zip_format.h"
#include "zip/zip_writer.h"

namespace qb::zip {
namespace {

using qbtest::ReadFileBytes;
using qbtest::ShellQuote;
using qbtest::TempDir;
using Bytes = std::vector<uint8_t>;

std::string Checked(const std::string& command) {
  auto result = qbtest::RunCommand(command);
  EXPECT_EQ(result.exit_code, 0) << command << "\n" << result.output << result.errors;
  return result.output;
}

// How the writer over the copy is set up: as qvf add does (only the entries of
// the new name read), over the whole directory (as the program holds it), or with
// a filter that leaves the new name out, which makes the update read the whole
// directory and rewrite it.
enum class Reading { OnlyTheName, Whole, Rewrite };

std::unique_ptr<TZipWriter> Writer(const std::string& path, Reading reading, const std::string& name) {
  auto zip = std::make_unique<TZipWriter>();
  zip->SetSortMode(TZipSortMode::ByName);
  zip->SetStorePaths(true);
  zip->SetLockWait(std::chrono::milliseconds(0));
  if (reading == Reading::OnlyTheName) zip->SetNameFilter({name});
  if (reading == Reading::Rewrite) zip->SetNameFilter({"not " + name});
  zip->SetZipName(path);
  if (FileExists(path)) zip->ReadDirectory();
  return zip;
}

// Adds "New" through zip with a message pump (none when pump is empty), every
// system call of the update (on whichever thread) passed to hook first; returns
// how many entries were added.
int AddNewWatched(
    TZipWriter& zip, sys::FailureHook hook, std::function<void()> pump = [] {}) {
  struct Unhook {
    ~Unhook() { sys::SetFailureHook({}); }
  } unhook;
  sys::SetFailureHook(std::move(hook));
  zip.SetMessagePump(std::move(pump));
  TMemoryStream stream(std::string("data of New"));
  return zip.AddFromStreamWithComment(&stream, "New", "");
}

// The file after adding name (data, comment) to a copy of original, read as told;
// the new entry's time in *time.
Bytes AddTo(const std::string& original, const std::string& copy, Reading reading, const std::string& name,
            uint32_t* time) {
  std::filesystem::copy_file(original, copy, std::filesystem::copy_options::overwrite_existing);
  auto zip = Writer(copy, reading, name);
  TMemoryStream stream(std::string("data of ") + name);
  EXPECT_EQ(zip->AddFromStreamWithComment(&stream, name, "note of " + name), 1);
  *time = zip->Entry(zip->FindEntry(name)).dos_date_time;
  return ReadFileBytes(copy);
}

// While it lives, with refuse set, the engine cannot map files: the directory is
// read through reads. With a path given, the first call named
// cut_at cuts that file short to cut bytes first (another program truncating the
// file during an update).
struct MappingsRefused {
  explicit MappingsRefused(bool refuse = true, std::string path = {}, uint64_t cut = 0,
                           std::string cut_at = "mmap") {
    // Only the calls named cut_at touch done: the hook may be asked on two
    // threads at once.
    sys::SetFailureHook([=, done = false](const char* call) mutable {
      if (cut_at == call && !path.empty() && !done) {
        EXPECT_EQ(truncate(path.c_str(), static_cast<off_t>(cut)), 0);
        done = true;
      }
      return refuse && std::string_view(call) == "mmap" ? ENOMEM : 0;
    });
  }
  ~MappingsRefused() { sys::SetFailureHook({}); }
};

// Adds name in each way; returns the appended file (read only for the name), after
// checking that reading the whole directory gives the same file and that the
// rewrite does too when the old bytes are all kept.
Bytes ExpectAddLikeRewrite(const TempDir& dir, const std::string& original, const std::string& name,
                           bool rewrite_keeps_every_byte = true) {
  for (int attempt = 0;; ++attempt) {
    uint32_t t1 = 0, t2 = 0, t3 = 0;
    const Bytes appended = AddTo(original, dir / "a.zip", Reading::OnlyTheName, name, &t1);
    const Bytes whole = AddTo(original, dir / "b.zip", Reading::Whole, name, &t2);
    const Bytes rewritten = AddTo(original, dir / "c.zip", Reading::Rewrite, name, &t3);
    uint32_t t4 = 0;
    Bytes read_through = [&] {
      MappingsRefused refused;
      return AddTo(original, dir / "d.zip", Reading::OnlyTheName, name, &t4);
    }();
    if ((t1 != t2 || t2 != t3 || t3 != t4) && attempt < 3) continue;  // the clock moved on in between
    EXPECT_EQ(appended, whole) << original;
    EXPECT_EQ(appended, read_through) << original;
    if (rewrite_keeps_every_byte)
      EXPECT_EQ(appended, rewritten) << original;
    else
      EXPECT_NE(appended, rewritten) << original;  // the rewrite drops or mends something
    return appended;
  }
}

// A fresh read of the file agrees with the raw walker and with peers: every old
// entry's bytes kept, the new one there, the archive comment as before.
void ExpectSoundArchive(const std::string& path, const std::string& original, const std::string& added,
                        size_t entries) {
  const auto before = qbtest::ReadRawZip(original);
  const auto after = qbtest::ReadRawZip(path);
  ASSERT_EQ(after.size(), entries) << path;
  for (const auto& old : before) {
    bool kept = false;
    for (const auto& now : after)
      kept |= now.name == old.name && now.data == old.data && now.comment == old.comment;
    EXPECT_TRUE(kept) << path << ": " << old.name;
  }
  TZipReader zip;
  zip.SetZipName(path);
  zip.ReadDirectory();
  EXPECT_EQ(zip.DirectoryDamage(), "");
  ASSERT_EQ(zip.EntryCount(), static_cast<int>(entries));
  for (int i = 0; i < zip.EntryCount(); ++i) EXPECT_EQ(zip.CheckEntry(i), "") << zip.EntryFullName(i);
  TMemoryStream out;
  EXPECT_EQ(zip.ExtractIndexToStream(&out, zip.FindEntry(added)), 1);
  EXPECT_EQ(out.ToString(), "data of " + added);
  Checked("unzip -tq " + ShellQuote(path));
  TZipReader old;
  old.SetZipName(original);
  EXPECT_EQ(zip.ArchiveComment(), old.ArchiveComment());
}

// An archive of stored entries built byte by byte, for shapes no writer makes.
struct RawEntry {
  std::string name, data, comment;
  uint32_t dos_time;
  std::string central_extra;
};
RawEntry Raw(std::string name, std::string data, std::string comment = {}, uint32_t dos_time = 0x5A210000,
             std::string central_extra = {}) {
  return {std::move(name), std::move(data), std::move(comment), dos_time, std::move(central_extra)};
}
Bytes BuildRaw(const std::vector<RawEntry>& entries, const std::string& archive_comment = {}) {
  Bytes out, central;
  auto put16 = [](Bytes& b, uint32_t v) {
    b.push_back(static_cast<uint8_t>(v));
    b.push_back(static_cast<uint8_t>(v >> 8));
  };
  auto put32 = [&](Bytes& b, uint32_t v) {
    put16(b, v & 0xFFFF);
    put16(b, v >> 16);
  };
  auto append = [](Bytes& b, const std::string& s) { b.insert(b.end(), s.begin(), s.end()); };
  for (const RawEntry& e : entries) {
    const uint32_t crc = Crc32(0, e.data.data(), e.data.size());
    const auto offset = static_cast<uint32_t>(out.size());
    put32(out, format::kLocalHeaderSignature);
    for (uint32_t v : {10u, 0u, 0u}) put16(out, v);
    put32(out, e.dos_time);
    put32(out, crc);
    put32(out, static_cast<uint32_t>(e.data.size()));
    put32(out, static_cast<uint32_t>(e.data.size()));
    put16(out, static_cast<uint32_t>(e.name.size()));
    put16(out, 0);
    append(out, e.name);
    append(out, e.data);
    put32(central, format::kCentralHeaderSignature);
    for (uint32_t v : {0x031Eu, 10u, 0u, 0u}) put16(central, v);
    put32(central, e.dos_time);
    put32(central, crc);
    put32(central, static_cast<uint32_t>(e.data.size()));
    put32(central, static_cast<uint32_t>(e.data.size()));
    put16(central, static_cast<uint32_t>(e.name.size()));
    put16(central, static_cast<uint32_t>(e.central_extra.size()));
    put16(central, static_cast<uint32_t>(e.comment.size()));
    for (uint32_t v : {0u, 0u}) put16(central, v);
    put32(central, 0100644u << 16);
    put32(central, offset);
    append(central, e.name);
    append(central, e.central_extra);
    append(central, e.comment);
  }
  const auto directory_offset = static_cast<uint32_t>(out.size());
  out.insert(out.end(), central.begin(), central.end());
  put32(out, format::kEndRecordSignature);
  put16(out, 0);
  put16(out, 0);
  put16(out, static_cast<uint32_t>(entries.size()));
  put16(out, static_cast<uint32_t>(entries.size()));
  put32(out, static_cast<uint32_t>(central.size()));
  put32(out, directory_offset);
  put16(out, static_cast<uint32_t>(archive_comment.size()));
  append(out, archive_comment);
  return out;
}

TEST(ZipAppend, AddingANewNameWritesWhatTheRewriteWrites) {
  TempDir dir;
  std::filesystem::create_directories(dir.Path() / "in");
  qbtest::WriteFileText(dir / "in/plain.txt", std::string(3000, 'p'));
  qbtest::WriteFileText(dir / "in/caf\xC3\xA9.txt", "caf\xC3\xA9\n");
  const std::string in = ShellQuote(dir / "in");

  // Ours: drawers, notes, a non-ASCII name, an archive comment.
  const std::string ours = dir / "ours.zip";
  {
    auto zip = Writer(ours, Reading::Whole, "");
    for (const char* name : {"Work\\b", "Work\\A", "caf\xC3\xA9", "Top"}) {
      TMemoryStream stream(std::string(500, name[0]));
      zip->AddFromStreamWithComment(&stream, name, std::string("c ") + name);
    }
    zip->SetArchiveComment("the cabinet's comment");
    zip->CommitChanges();
  }
  // Info-ZIP: time and owner extra fields, a UTF-8 name without the flag, an
  // archive comment.
  const std::string info_zip = dir / "info.zip";
  Checked("cd " + in + " && zip -q " + ShellQuote(info_zip) + " plain.txt caf\xC3\xA9.txt");
  Checked("echo 'archive comment' | zip -qz " + ShellQuote(info_zip));

  for (const std::string& original : {ours, info_zip}) {
    const size_t count = qbtest::ReadRawZip(original).size();
    for (const std::string& name : {std::string("New\\Item"), std::string("Work\\Caf\xC3\xA9 2")}) {
      ExpectAddLikeRewrite(dir, original, name);
      ExpectSoundArchive(dir / "a.zip", original, name, count + 1);
    }
    // The appended record lies after the old ones, the old records' bytes as they were.
    const Bytes old_bytes = ReadFileBytes(original);
    const Bytes appended = ExpectAddLikeRewrite(dir, original, "Z");
    TZipReader old_zip;
    old_zip.SetZipName(original);
    const size_t directory = old_bytes.size() - 22 - old_zip.ArchiveComment().size();
    const size_t central = format::Get32(&old_bytes[directory + 16]);
    std::vector<uint8_t> old_records(old_bytes.begin() + static_cast<long>(central),
                                     old_bytes.begin() + static_cast<long>(directory));
    EXPECT_NE(std::search(appended.begin(), appended.end(), old_records.begin(), old_records.end()),
              appended.end());
    EXPECT_TRUE(
        std::equal(old_bytes.begin(), old_bytes.begin() + static_cast<long>(central), appended.begin()));
  }
}

TEST(ZipAppend, WhatARewriteChangesIsChangedAlike) {
  TempDir dir;
  std::filesystem::create_directories(dir.Path() / "in");
  qbtest::WriteFileText(dir / "in/one.txt", std::string(2000, '1'));
  qbtest::WriteFileText(dir / "in/two.txt", "two\n");
  const std::string in = ShellQuote(dir / "in");
  // ZIP64 end records and extra fields: the rewrite puts the real values in the
  // headers and writes a plain end record.
  const std::string z64 = dir / "z64.zip";
  Checked("cd " + in + " && zip -q -fz " + ShellQuote(z64) + " one.txt two.txt");
  Checked("echo 'kept comment' | zip -qz " + ShellQuote(z64));
  // Data descriptors with ZIP64 local fields (a writer to a pipe).
  const std::string piped = dir / "piped.zip";
  Checked("python3 -c " + ShellQuote(R"(
import sys, zipfile
with zipfile.ZipFile(sys.stdout.buffer, 'w', zipfile.ZIP_DEFLATED) as z:
    with z.open('a.bin', 'w', force_zip64=True) as f:
        f.write(b'a' * 5000)
    z.writestr('b.txt', b'bee')
    z.comment = b'piped'
)") + " > " +
          ShellQuote(piped));
  // A date the reader mends, an extra field with bytes after its last field, and
  // a directory that lists the entries out of file order.
  const std::string odd_date = dir / "date.zip";
  qbtest::WriteFileBytes(odd_date, BuildRaw({Raw("a", "x", "", 0), Raw("b", "y", "c")}));
  const std::string odd_extra = dir / "extra.zip";
  qbtest::WriteFileBytes(odd_extra,
                         BuildRaw({Raw("a", "x", "", 0x5A210000, std::string("\x0A\x0B\x00\x00\x01", 5))}));
  const std::string unordered = dir / "unordered.zip";
  {
    Bytes bytes = BuildRaw({Raw("a", "xx", "n1"), Raw("b", "yy", "n2")});
    // Swap the two central records (equal sizes: 46 + 1 + 2 bytes each).
    const size_t at = bytes.size() - 22 - 2 * 49;
    std::rotate(bytes.begin() + static_cast<long>(at), bytes.begin() + static_cast<long>(at + 49),
                bytes.begin() + static_cast<long>(at + 98));
    qbtest::WriteFileBytes(unordered, bytes);
  }
  // The last entry's data said to run into the directory: the rewrite copies those
  // bytes with it, so they stay its own.
  const std::string overlong = dir / "overlong.zip";
  {
    Bytes bytes = BuildRaw({Raw("a", "x"), Raw("b", "yy")});
    const size_t second_record = bytes.size() - 22 - 47;
    bytes[second_record + 20] = bytes[second_record + 24] = 12;
    qbtest::WriteFileBytes(overlong, bytes);
    ExpectAddLikeRewrite(dir, overlong, "Added");
    const auto before = qbtest::ReadRawZip(overlong), after = qbtest::ReadRawZip(dir / "a.zip");
    ASSERT_EQ(after.size(), 3u);
    EXPECT_EQ(after[1].data, before[1].data);
  }
  // Entries far apart (their headers read one by one) and close together.
  const std::string spread = dir / "spread.zip";
  qbtest::WriteFileBytes(spread, BuildRaw({Raw("a", std::string(100000, 'a')), Raw("b", "b"), Raw("c", "c"),
                                           Raw("d", std::string(9000, 'd')), Raw("e", "e")}));
  for (const std::string& original : {spread, z64, piped, odd_date, odd_extra, unordered}) {
    const size_t count = qbtest::ReadRawZip(original).size();
    ExpectAddLikeRewrite(dir, original, "Added");
    ExpectSoundArchive(dir / "a.zip", original, "Added", count + 1);
  }
  TZipReader zip;
  zip.SetZipName(dir / "a.zip");  // the last one: the directory back in file order
  zip.ReadDirectory();
  EXPECT_LT(zip.Entry(zip.FindEntry("a")).central_header_offset,
            zip.Entry(zip.FindEntry("b")).central_header_offset);

  // Data in front of the archive, counted by the offsets: appending keeps it, where
  // the rewrite starts the file with the first entry.
  const std::string stub = dir / "stub.zip";
  {
    Bytes bytes(100, '#');
    const Bytes archive = BuildRaw({Raw("a", "x", "n")});
    bytes.insert(bytes.end(), archive.begin(), archive.end());
    qbtest::WriteFileBytes(stub, bytes);
    Checked("zip -qA " + ShellQuote(stub));
  }
  const Bytes appended = ExpectAddLikeRewrite(dir, stub, "Added", false);
  EXPECT_EQ(Bytes(appended.begin(), appended.begin() + 100), Bytes(100, '#'));
  ExpectSoundArchive(dir / "a.zip", stub, "Added", 2);
}

// Adds name to a copy of original read each way; each must fail as the rewrite
// fails, with the copy as it was.
template <class Error>
void ExpectRefusedAlike(const TempDir& dir, const std::string& original, const std::string& message) {
  const Bytes original_bytes = ReadFileBytes(original);
  for (int way = 0; way < 4; ++way) {
    const Reading reading = way == 3 ? Reading::OnlyTheName : static_cast<Reading>(way);
    const std::string copy = dir / "refused.zip";
    std::filesystem::copy_file(original, copy, std::filesystem::copy_options::overwrite_existing);
    MappingsRefused refused(way == 3);
    try {
      auto zip = Writer(copy, reading, "Added");
      TMemoryStream stream("new");
      zip->AddFromStream(&stream, "Added");
      ADD_FAILURE() << original << " was not refused (" << way << ")";
    } catch (const Error& e) {
      EXPECT_EQ(std::string(e.what()), message) << original << " " << way;
    }
    EXPECT_EQ(ReadFileBytes(copy), original_bytes);
  }
}

TEST(ZipAppend, ArchivesTheRewriteRefusesAreRefusedAlike) {
  TempDir dir;
  const Bytes good = BuildRaw({Raw("One", "first", "n"), Raw("Two", "second", "n"), Raw("Three", "third")});
  // A damaged local header in the middle.
  Bytes bad_header = good;
  const size_t second = 30 + 3 + 5;
  bad_header[second + 1] = 'X';
  qbtest::WriteFileBytes(dir / "header.zip", bad_header);
  ExpectRefusedAlike<EBadZipFile>(dir, dir / "header.zip", EBadZipFile().what());
  // The same among entries far apart, whose headers are read one by one.
  Bytes spread = BuildRaw({Raw("One", std::string(80000, '1')), Raw("Two", std::string(90000, '2')),
                           Raw("Three", std::string(80000, '3'))});
  spread[30 + 3 + 80000 + 2] = 'X';
  qbtest::WriteFileBytes(dir / "spread.zip", spread);
  ExpectRefusedAlike<EBadZipFile>(dir, dir / "spread.zip", EBadZipFile().what());
  // A local header whose name runs past the end of the file, and data that does.
  qbtest::WriteFileBytes(dir / "short.zip", BuildRaw({Raw("a", "x")}));
  {
    Bytes bytes = ReadFileBytes(dir / "short.zip");
    bytes[26] = 0xFF;  // the local name length
    bytes[27] = 0xFF;
    qbtest::WriteFileBytes(dir / "name.zip", bytes);
    ExpectRefusedAlike<EFatalUnzipError>(dir, dir / "name.zip", EFatalUnzipError().what());
    bytes = ReadFileBytes(dir / "short.zip");
    const size_t central = 30 + 1 + 1;
    bytes[central + 20] = 0x00;  // the compressed size in the central record: 16 MiB
    bytes[central + 21] = 0x00;
    bytes[central + 22] = 0x00;
    bytes[central + 23] = 0x01;
    qbtest::WriteFileBytes(dir / "data.zip", bytes);
    ExpectRefusedAlike<EFatalUnzipError>(dir, dir / "data.zip", EFatalUnzipError().what());
  }
  // Two entries of one name (ASCII case folded) already in the file.
  qbtest::WriteFileBytes(dir / "twice.zip",
                         BuildRaw({Raw("Name", "1"), Raw("Other", "2"), Raw("NAME", "3")}));
  ExpectRefusedAlike<EListError>(dir, dir / "twice.zip", "Duplicate Object index");
  // A full directory: one more entry would be more than a reader takes.
  std::vector<RawEntry> many(static_cast<size_t>(kMaxListSize));
  for (size_t i = 0; i < many.size(); ++i) many[i] = Raw(std::to_string(i), "");
  qbtest::WriteFileBytes(dir / "full.zip", BuildRaw(many));
  ExpectRefusedAlike<EListError>(dir, dir / "full.zip",
                                 "List capacity out of bounds (" + std::to_string(kMaxListSize + 1) + ")");
}

// Another program cuts the file short as the old local headers are checked: the
// add is refused as a read of the shorter file refuses it, whether the headers
// are looked at in a mapping or read; nothing is written. Where only data was cut
// off, or the file is cut while the old bytes are copied, the file is said to
// end early (not a full disk).
TEST(ZipAppend, AFileCutShortDuringTheUpdateIsRefusedAsReadsRefuseIt) {
  TempDir dir;
  // Entries far apart: each header is read alone.
  std::vector<RawEntry> entries;
  for (int i = 0; i < 40; ++i)
    entries.push_back(Raw("Item" + std::to_string(i), std::string(150000, static_cast<char>('a' + i % 26))));
  const Bytes original = BuildRaw(entries);
  const uint64_t part = 30 + 6 + 150000;  // the local part of Item10-Item39
  const uint64_t item10 = 10 * (part - 1);
  struct Cut {
    uint64_t size;
    const char* at;
    std::set<std::string> messages;  // any of them
  };
  const std::string bad = EBadZipFile().what(), short_file = EFatalUnzipError().what();
  // Within a header, within data, far on, within the last header; within the
  // last entry's data, where the headers are whole (the copy finds the file
  // shorter); while copying, which goes on while the headers are checked (the
  // check may come to the cut first).
  const Cut cuts[] = {{item10 + 12, "posix_fadvise", {bad}},
                      {3 * (part - 1) + 1000, "posix_fadvise", {bad}},
                      {item10 + 20 * part + 40, "posix_fadvise", {bad}},
                      {item10 + 29 * part + 12, "posix_fadvise", {bad}},
                      {item10 + 29 * part + 5000, "posix_fadvise", {short_file}},
                      {item10 + 20 * part, "copy_file_range", {short_file, bad}}};
  for (const Cut& cut : cuts) {
    for (bool mapped : {true, false}) {
      SCOPED_TRACE(std::to_string(cut.size) + " at " + cut.at + (mapped ? ", mapped" : ", read"));
      const std::string copy = dir / "cut.zip";
      qbtest::WriteFileBytes(copy, original);
      auto zip = Writer(copy, Reading::OnlyTheName, "Added");
      {
        MappingsRefused refused(!mapped, copy, cut.size, cut.at);
        try {
          TMemoryStream stream("new");
          zip->AddFromStream(&stream, "Added");
          ADD_FAILURE() << "not refused";
        } catch (const EZipError& e) {
          EXPECT_EQ(cut.messages.count(e.what()), 1u) << e.what();
        }
      }
      EXPECT_EQ(std::filesystem::file_size(copy), cut.size);  // as cut: nothing written
    }
  }
}

// The share of the file's pages in the cache; -1 when it cannot be seen.
double CachedShare(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY);
  const off_t size = fd < 0 ? 0 : ::lseek(fd, 0, SEEK_END);
  void* view =
      size > 0 ? ::mmap(nullptr, static_cast<size_t>(size), PROT_READ, MAP_SHARED, fd, 0) : MAP_FAILED;
  double share = -1;
  if (view != MAP_FAILED) {
    const size_t page = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
    std::vector<unsigned char> in((static_cast<size_t>(size) + page - 1) / page);
    if (::mincore(view, static_cast<size_t>(size), in.data()) == 0)
      share =
          static_cast<double>(std::count_if(in.begin(), in.end(), [](unsigned char c) { return c & 1; })) /
          static_cast<double>(in.size());
    ::munmap(view, static_cast<size_t>(size));
  }
  if (fd >= 0) ::close(fd);
  return share;
}

// Puts the file on the disk (dirty pages cannot leave the cache) and reads it
// whole, bringing it into the cache; then, with let_go, lets it go again.
void SyncAndRead(const std::string& path, bool let_go = false) {
  const int fd = ::open(path.c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::fdatasync(fd), 0);
  (void)ReadFileBytes(path);
  if (let_go) ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
  ::close(fd);
}

// The old file is let go from the cache as it is copied, by an append and by a
// rewrite alike, and the new file is whole.
// Entries of 400,000 bytes that do not compress: their headers lie further
// apart than one read-ahead block.
std::vector<RawEntry> FarApartEntries() {
  std::vector<RawEntry> entries;
  for (int i = 0; i < 24; ++i) {
    std::string data(400000, '\0');
    for (size_t j = 0; j < data.size(); ++j) data[j] = static_cast<char>((j * 2654435761u + i) >> 13);
    entries.push_back(Raw("Item" + std::to_string(i), data));
  }
  return entries;
}

// The bytes this process has read so far, through any call; -1 when the
// system does not say.
int64_t BytesReadSoFar() {
  std::ifstream io("/proc/self/io");
  std::string key;
  int64_t value = 0;
  while (io >> key >> value)
    if (key == "rchar:") return value;
  return -1;
}

// Old local headers that lie far apart are read alone, not each with a block of
// the data after it: an update reads the old file about once, by an append and
// by a rewrite alike.
TEST(ZipAppend, FarApartHeadersAreReadWithoutTheDataAfterThem) {
  TempDir dir;
  const Bytes original = BuildRaw(FarApartEntries());
  if (BytesReadSoFar() < 0) GTEST_SKIP() << "the system does not count the bytes read";
  for (Reading reading : {Reading::OnlyTheName, Reading::Rewrite}) {
    SCOPED_TRACE(reading == Reading::OnlyTheName ? "append" : "rewrite");
    const std::string path = dir / "a.zip";
    qbtest::WriteFileBytes(path, original);
    auto zip = Writer(path, reading, "New");
    TMemoryStream stream(std::string("data of New"));
    const int64_t before = BytesReadSoFar();
    ASSERT_EQ(zip->AddFromStreamWithComment(&stream, "New", ""), 1);
    const int64_t read = BytesReadSoFar() - before;
    EXPECT_GE(read, static_cast<int64_t>(original.size()) * 9 / 10);  // the copy is seen
    EXPECT_LT(read, static_cast<int64_t>(original.size()) * 11 / 10);
  }
}

// In a large cabinet the pass over the old local headers reads nearly the whole
// file before anything is written: the window's messages are dispatched during it
// too, by an append and by a rewrite alike.
TEST(ZipAppend, TheWindowsMessagesAreDispatchedWhileTheOldHeadersAreRead) {
  TempDir dir;
  const Bytes original = BuildRaw(FarApartEntries());  // each header read alone
  for (Reading reading : {Reading::OnlyTheName, Reading::Rewrite}) {
    SCOPED_TRACE(reading == Reading::OnlyTheName ? "append" : "rewrite");
    const std::string path = dir / "a.zip";
    qbtest::WriteFileBytes(path, original);
    auto zip = Writer(path, reading, "New");
    // Every read before the first write takes 5 ms, as from a slow disk.
    std::atomic<bool> writing = false;
    int pumps_before_writing = 0;
    const int added = AddNewWatched(
        *zip,
        [&](const char* call) {
          const std::string_view name(call);
          // The first write of the calling thread: the old local parts may be
          // copied (copy_file_range) while the headers are read.
          if (name == "pwrite") writing = true;
          if (name == "pread" && !writing) std::this_thread::sleep_for(std::chrono::milliseconds(5));
          return 0;
        },
        [&] { pumps_before_writing += writing ? 0 : 1; });
    ASSERT_EQ(added, 1);
    EXPECT_GE(pumps_before_writing, 5);  // 24 headers read in 120 ms or more
    EXPECT_EQ(qbtest::ReadRawZip(path).size(), 25u);
  }
}

// The old local parts are copied while their headers are checked, on a thread of
// the update's own: a check that waits for a slow disk runs beside the copy,
// not before it. Under a message pump (the window) the copy follows the check,
// as a second busy thread there could keep the window thread from its CPU.
TEST(ZipAppend, TheOldLocalPartsAreCopiedWhileTheHeadersAreChecked) {
  TempDir dir;
  for (bool pump : {false, true}) {
    SCOPED_TRACE(pump ? "with a message pump" : "without");
    const std::string path = dir / "a.zip";
    qbtest::WriteFileBytes(path, BuildRaw(FarApartEntries()));
    auto zip = Writer(path, Reading::OnlyTheName, "New");
    std::atomic<bool> copying = false, writing = false;
    std::atomic<int> reads = 0, reads_while_copying = 0;
    const int added = AddNewWatched(
        *zip,
        [&](const char* call) {
          const std::string_view name(call);
          if (name == "copy_file_range") copying = true;
          if (name == "pwrite") writing = true;  // the new entry, once the check is over
          if (name == "pread" && !writing) {
            ++reads;
            reads_while_copying += copying ? 1 : 0;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
          }
          return 0;
        },
        pump ? std::function<void()>([] {}) : nullptr);
    ASSERT_EQ(added, 1);
    EXPECT_GE(reads, 24);  // each old header
    if (pump) {
      EXPECT_EQ(reads_while_copying, 0);
    } else {
      EXPECT_GE(reads_while_copying, 12);  // none when the copy waits for the check
    }
    EXPECT_EQ(qbtest::ReadRawZip(path).size(), 25u);
  }
}

// An add found to need a rewrite while the old local parts are being copied
// leaves nothing of that copy. Here the first local header has a ZIP64 field,
// which the rewrite writes anew, and the rewrite leaves out the 300 KB between
// the two entries: it writes less than the copy had. The check waits until the
// copy has had its time.
TEST(ZipAppend, AnAppendRefusedWhileItsCopyRunsLeavesNothingOfIt) {
  TempDir dir;
  Bytes bytes = BuildRaw({Raw("A", "alpha"), Raw("B", std::string(1000, 'b'))});
  const uint8_t zip64[20] = {0x01, 0x00, 16, 0, 5, 0, 0, 0, 0, 0, 0, 0, 5, 0, 0, 0, 0, 0, 0, 0};
  const uint32_t gap = 300000, shift = sizeof zip64 + gap;
  bytes[28] = sizeof zip64;  // A's extra field length
  bytes.insert(bytes.begin() + 30 + 1 + 5, gap, 'x');
  bytes.insert(bytes.begin() + 30 + 1, std::begin(zip64), std::end(zip64));
  const size_t end_record = bytes.size() - 22, directory = format::Get32(&bytes[end_record + 16]) + shift;
  format::Put32(&bytes[end_record + 16], static_cast<uint32_t>(directory));
  const size_t b_offset = directory + 46 + 1 + 42;  // in B's central record, after A's
  format::Put32(&bytes[b_offset], format::Get32(&bytes[b_offset]) + shift);
  const std::string copied = dir / "a.zip", rewritten = dir / "b.zip";
  qbtest::WriteFileBytes(copied, bytes);
  qbtest::WriteFileBytes(rewritten, bytes);

  std::atomic<bool> copy_began = false;
  auto zip = Writer(copied, Reading::OnlyTheName, "New");
  ASSERT_EQ(AddNewWatched(
                *zip,
                [&](const char* call) {
                  const std::string_view name(call);
                  if (name == "copy_file_range") copy_began = true;
                  if ((name == "pread" || name == "mmap") && !copy_began) {
                    for (int i = 0; i < 200 && !copy_began; ++i)
                      std::this_thread::sleep_for(std::chrono::milliseconds(10));
                    std::this_thread::sleep_for(std::chrono::milliseconds(50));
                  }
                  return 0;
                },
                nullptr),
            1);
  EXPECT_TRUE(copy_began);
  auto other = Writer(rewritten, Reading::Rewrite, "New");
  ASSERT_EQ(AddNewWatched(*other, [](const char*) { return 0; }), 1);
  // The same entries, the gap left out, and not a byte more.
  const auto entries = qbtest::ReadRawZip(copied);
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[2].name, "New");
  EXPECT_EQ(std::filesystem::file_size(copied), std::filesystem::file_size(rewritten));
  EXPECT_LT(std::filesystem::file_size(copied), 10000u);
}

// With a message pump, the reads of an append's check of the old headers, and the
// writes of a rewrite's directory, are made off the calling (window) thread: one
// of them may wait for a busy disk for tens of ms.
TEST(ZipAppend, TheHeaderCheckAndTheDirectoryAreOffTheWindowThread) {
  TempDir dir;
  std::vector<RawEntry> many;  // a directory of about 60 KB
  for (int i = 0; i < 1500; ++i) many.push_back(Raw("Drawer\\Item" + std::to_string(i), "data"));
  const std::vector<std::pair<Reading, Bytes>> cases = {{Reading::OnlyTheName, BuildRaw(FarApartEntries())},
                                                        {Reading::Rewrite, BuildRaw(many)}};
  const std::thread::id window = std::this_thread::get_id();
  for (const auto& [reading, original] : cases) {
    SCOPED_TRACE(reading == Reading::OnlyTheName ? "append" : "rewrite");
    const std::string path = dir / "a.zip";
    qbtest::WriteFileBytes(path, original);
    auto zip = Writer(path, reading, "New");
    std::atomic<int> reads_elsewhere = 0, writes_here = 0;
    const int added = AddNewWatched(*zip, [&](const char* call) {
      const bool here = std::this_thread::get_id() == window;
      if (std::string_view(call) == "pread" && !here) ++reads_elsewhere;
      if (std::string_view(call) == "pwrite" && here) ++writes_here;
      return 0;
    });
    ASSERT_EQ(added, 1);
    if (reading == Reading::OnlyTheName)
      EXPECT_GE(reads_elsewhere, 24);  // each old header
    else
      EXPECT_EQ(writes_here, 0);
  }
}

// Many small entries: their headers lie close together, in blocks of a mapping
// window and more.
std::vector<RawEntry> CloseTogetherEntries() {
  std::vector<RawEntry> entries;
  for (int i = 0; i < 6000; ++i) entries.push_back(Raw("Item" + std::to_string(i), std::string(700, 'c')));
  return entries;
}

// The reads and mappings of the old file while an append to path checks its old
// local headers.
struct HeaderCheckCalls {
  int reads = 0;
  int mappings = 0;
};
HeaderCheckCalls CallsOfTheHeaderCheck(const std::string& path, size_t entries) {
  auto zip = Writer(path, Reading::OnlyTheName, "New");
  std::atomic<bool> checking = false, writing = false;
  std::atomic<int> reads = 0, mappings = 0;
  const int added = AddNewWatched(*zip, [&](const char* call) {
    const std::string_view name(call);
    // The check asks for the old file first; the new entry is written once it is
    // over. The copy of the old local parts, which may run meanwhile, neither
    // maps nor reads.
    if (name == "posix_fadvise" && !writing) checking = true;
    if (name == "pwrite") checking = false, writing = true;
    if (checking && name == "pread") ++reads;
    if (checking && name == "mmap") ++mappings;
    return 0;
  });
  EXPECT_EQ(added, 1);
  EXPECT_TRUE(writing);
  EXPECT_EQ(qbtest::ReadRawZip(path).size(), entries + 1);
  return {reads, mappings};
}

// Headers close together are looked at through a file window: where they lie in
// the file's mapping, or read a whole window at a time, not in blocks (the 4 MB of
// them took 17 reads), with the window's messages dispatched meanwhile as for reads.
TEST(ZipAppend, HeadersCloseTogetherAreCheckedInWindows) {
  TempDir dir;
  const Bytes original = BuildRaw(CloseTogetherEntries());
  const std::string path = dir / "a.zip", other = dir / "b.zip";
  qbtest::WriteFileBytes(path, original);
  qbtest::WriteFileBytes(other, original);
  {
    const HeaderCheckCalls calls = CallsOfTheHeaderCheck(path, 6000);
    EXPECT_LE(calls.reads, 1);  // the last few headers, less than a block, may be read
    EXPECT_GE(calls.mappings, 2);
  }
  const TFileWindow::TWayUsed read(TFileWindow::Way::Read);
  const HeaderCheckCalls calls = CallsOfTheHeaderCheck(other, 6000);
  EXPECT_LE(calls.reads, 4);  // three windows of 2 MiB, and the last few headers
  EXPECT_EQ(calls.mappings, 0);
}

// Headers some KiB apart would each take a page of their own in a mapping, and
// where every first touch of a page costs a trap to the host, that costs more
// than reading the blocks they lie in: they are read in blocks.
TEST(ZipAppend, HeadersSomeKiBApartAreReadInBlocks) {
  TempDir dir;
  const std::string path = dir / "a.zip";
  std::vector<RawEntry> entries;
  for (int i = 0; i < 400; ++i) entries.push_back(Raw("Item" + std::to_string(i), std::string(12000, 'c')));
  qbtest::WriteFileBytes(path, BuildRaw(entries));
  const HeaderCheckCalls calls = CallsOfTheHeaderCheck(path, 400);
  EXPECT_EQ(calls.mappings, 0);
  EXPECT_GE(calls.reads, 18);  // 4.8 MB in blocks of 256 KiB
}

// Another program cuts the file short while the headers are checked through the
// mapping: the add fails as it fails when they are read, and the file is left
// as the other program left it.
TEST(ZipAppend, AFileCutShortDuringTheHeaderCheckFailsAsReadsFailIt) {
  TempDir dir;
  const Bytes original = BuildRaw(CloseTogetherEntries());
  const uint64_t directory = format::Get32(&original[original.size() - 22 + 16]);
  // In the first window, in the second, in the last local header, within the
  // page of the last local part.
  const uint64_t last_local = directory - (30 + 8 + 700);
  for (uint64_t cut : {uint64_t{5000}, uint64_t{2200000}, last_local + 10, directory - 100}) {
    // Through mapped windows, through windows read, and by reads alone.
    std::string outcome[3];
    for (int way = 0; way < 3; ++way) {
      SCOPED_TRACE(std::to_string(cut) + (way == 0 ? ", mapped" : way == 1 ? ", windows read" : ", read"));
      const std::string copy = dir / "cut.zip";
      qbtest::WriteFileBytes(copy, original);
      auto zip = Writer(copy, Reading::OnlyTheName, "New");
      const TFileWindow::TWayUsed used(way == 1 ? TFileWindow::Way::Read : TFileWindow::Way::Map);
      MappingsRefused refused(way == 2, copy, cut, "posix_fadvise");
      try {
        TMemoryStream stream(std::string("data of New"));
        zip->AddFromStreamWithComment(&stream, "New", "");
        outcome[way] = "added";
      } catch (const EZipError& e) {
        outcome[way] = e.what();
      }
      EXPECT_EQ(std::filesystem::file_size(copy), cut);
    }
    EXPECT_EQ(outcome[0], outcome[2]);
    EXPECT_EQ(outcome[1], outcome[2]);
    EXPECT_NE(outcome[0], "added");
  }
}

TEST(ZipAppend, TheOldFilesCachedPagesGoAsTheyAreCopied) {
  TempDir dir;
  const std::vector<RawEntry> entries = FarApartEntries();
  const std::string original = dir / "original.zip";
  qbtest::WriteFileBytes(original, BuildRaw(entries));
  // Where the file system keeps no cache of its own that can be let go (tmpfs),
  // there is nothing to see.
  SyncAndRead(original, true);
  if (CachedShare(original) != 0) GTEST_SKIP() << "this file system keeps its pages in the cache";
  for (Reading reading : {Reading::OnlyTheName, Reading::Rewrite}) {
    SCOPED_TRACE(reading == Reading::OnlyTheName ? "append" : "rewrite");
    const std::string path = dir / "a.zip", old = dir / "old.zip";
    std::filesystem::remove(old);
    std::filesystem::copy_file(original, path, std::filesystem::copy_options::overwrite_existing);
    std::filesystem::create_hard_link(path, old);  // keeps the old file once replaced
    SyncAndRead(path);
    ASSERT_GT(CachedShare(old), 0.9);
    auto zip = Writer(path, reading, "New");
    TMemoryStream stream(std::string("data of New"));
    ASSERT_EQ(zip->AddFromStreamWithComment(&stream, "New", ""), 1);
    zip.reset();
    EXPECT_LT(CachedShare(old), 0.1);
    const auto after = qbtest::ReadRawZip(path);
    ASSERT_EQ(after.size(), entries.size() + 1);
    for (const RawEntry& e : entries) {
      auto it = std::find_if(after.begin(), after.end(), [&](const auto& a) { return a.name == e.name; });
      ASSERT_NE(it, after.end()) << e.name;
      EXPECT_EQ(it->data, Bytes(e.data.begin(), e.data.end())) << e.name;
    }
  }
}

// Another program cuts the file short while a read of one name takes the
// directory's facts through a mapping: the read ends as the same read through
// reads ends, cut at the same moment.
TEST(ZipAppend, AFileCutShortDuringADirectoryReadReadsAsReadsReadIt) {
  TempDir dir;
  // A directory over two mapping windows.
  std::vector<RawEntry> entries;
  for (int i = 0; i < 3000; ++i)
    entries.push_back(Raw("Item" + std::to_string(i), "d", std::string(700, 'c')));
  const Bytes original = BuildRaw(entries);
  const uint64_t directory = format::Get32(&original[original.size() - 22 + 16]);
  const uint64_t last_record = original.size() - 22 - (46 + 7 + 700);
  // In the first window, in the second, within the last record's name, within
  // its comment (the mapping reads zeros past the new end in that page).
  for (uint64_t cut : {directory + 5000, directory + 2200000, last_record + 48, last_record + 400}) {
    std::string outcome[2];
    for (bool mapped : {true, false}) {
      SCOPED_TRACE(std::to_string(cut) + (mapped ? ", mapped" : ", read"));
      const std::string copy = dir / "cut.zip";
      qbtest::WriteFileBytes(copy, original);
      MappingsRefused refused(!mapped, copy, cut);
      TZipReader zip;
      zip.SetNameFilter({"item2999"});
      zip.SetIncompleteZipMode(TIncompleteZipMode::izAssumeBad);
      zip.SetZipName(copy);
      std::string& o = outcome[mapped];
      try {
        zip.ReadDirectory();
        o = zip.DirectoryDamage() + " |";
        for (int i = 0; i < zip.EntryCount(); ++i)
          o += " " + zip.EntryFullName(i) + "@" + std::to_string(zip.Entry(i).local_header_offset);
      } catch (const EZipError& e) {
        o = e.what();
      }
      EXPECT_EQ(std::filesystem::file_size(copy), cut);
    }
    EXPECT_EQ(outcome[true], outcome[false]) << cut;
    EXPECT_FALSE(outcome[true].empty());
  }
}

TEST(ZipAppend, ReadingOnlyOneNameRefusesWhatAWholeReadRefuses) {
  TempDir dir;
  // Two records for one local header.
  Bytes bytes = BuildRaw({Raw("a", "x"), Raw("b", "y")});
  const size_t second_record = bytes.size() - 22 - 47;
  std::memset(&bytes[second_record + 42], 0, 4);  // its local header offset: the first's
  qbtest::WriteFileBytes(dir / "shared.zip", bytes);
  // More records than a list holds.
  std::vector<RawEntry> many(static_cast<size_t>(kMaxListSize) + 1);
  for (size_t i = 0; i < many.size(); ++i) many[i] = Raw(std::to_string(i), "");
  qbtest::WriteFileBytes(dir / "many.zip", BuildRaw(many));
  for (const std::string& name : {std::string("shared.zip"), std::string("many.zip")}) {
    std::string whole, filtered;
    for (bool filter : {false, true}) {
      TZipReader zip;
      if (filter) zip.SetNameFilter({"a"});
      zip.SetZipName(dir / name);
      try {
        zip.ReadDirectory();
      } catch (const EListError& e) {
        (filter ? filtered : whole) = e.what();
      }
    }
    EXPECT_FALSE(whole.empty()) << name;
    EXPECT_EQ(filtered, whole) << name;
  }
}

// A read of one name holds, of every directory, the records a whole read holds
// of that name, and tells the same damage.
TEST(ZipAppend, AReadOfOneNameFindsWhatAWholeReadFinds) {
  TempDir dir;
  const std::vector<RawEntry> entries = {Raw("Work/Item", "1", "n1"), Raw("Other", "22"),
                                         Raw("WORK/item", "333", "n3"), Raw("Last", "4444")};
  const Bytes plain = BuildRaw(entries);
  const size_t end = plain.size() - 22;
  // The central records' offsets, from the end record.
  std::vector<size_t> records{format::Get32(&plain[end + 16])};
  for (size_t i = 1; i < entries.size(); ++i)
    records.push_back(records.back() + 46 + entries[i - 1].name.size() + entries[i - 1].comment.size());
  auto with = [&](auto change) {
    Bytes bytes = plain;
    change(bytes);
    return bytes;
  };
  std::vector<std::pair<std::string, Bytes>> cases = {
      {"plain", plain},
      // Fewer records counted than the directory holds, and the other way round.
      {"count low", with([&](Bytes& b) { b[end + 8] = b[end + 10] = 3; })},
      {"count high", with([&](Bytes& b) { b[end + 8] = b[end + 10] = 5; })},
      {"size", with([&](Bytes& b) { b[end + 12] = static_cast<uint8_t>(b[end + 12] + 4); })},
      // A record without its signature (the entries are recovered).
      {"signature", with([&](Bytes& b) { b[records[1]] = 'X'; })},
      // A size that stands for a ZIP64 value the record does not have, in a record
      // of another name.
      {"masked", with([&](Bytes& b) { std::memset(&b[records[3] + 20], 0xFF, 4); })},
      // A name that is not ASCII, and a name with an extra field but no UTF-8 flag.
      {"cp437", BuildRaw({Raw("Work/Item", "1"), Raw("Caf\x82", "2"), Raw("work/ITEM", "3")})},
      {"extra", BuildRaw({Raw("Work/Item", "1", "", 0x5A210000, std::string("\x0A\x0B\x01\x00\x07", 5)),
                          Raw("b", "2")})},
  };
  // The name many times over.
  std::vector<RawEntry> many;
  for (int i = 0; i < 40; ++i) many.push_back(Raw(i % 2 ? "work/item" : "Between" + std::to_string(i), "x"));
  cases.emplace_back("many", BuildRaw(many));
  // Data in front of the archive that the offsets do not count.
  Bytes front(64, '#');
  front.insert(front.end(), plain.begin(), plain.end());
  cases.emplace_back("front", front);

  for (const auto& [label, bytes] : cases) {
    SCOPED_TRACE(label);
    qbtest::WriteFileBytes(dir / "d.zip", bytes);
    TZipReader whole, one;
    one.SetNameFilter({"Work\\Item"});
    for (TZipReader* zip : {&whole, &one}) {
      zip->SetIncompleteZipMode(TIncompleteZipMode::izAssumeBad);
      zip->SetZipName(dir / "d.zip");
      zip->ReadDirectory();
    }
    EXPECT_EQ(one.DirectoryDamage(), whole.DirectoryDamage());
    EXPECT_EQ(one.DirectoryRecovered(), whole.DirectoryRecovered());
    std::vector<std::string> expected, found;
    auto describe = [](TZipReader& zip, int i) {
      const TZipHeaderInfo& r = zip.Entry(i);
      return r.FullName() + " " + std::to_string(r.local_header_offset) + " " +
             std::to_string(r.central_header_offset) + " " + std::to_string(r.compressed_size) + " " +
             std::to_string(r.crc) + " " + zip.EntryComment(i);
    };
    // Entries recovered from their local headers are all taken.
    for (int i = 0; i < whole.EntryCount(); ++i)
      if (whole.DirectoryRecovered() || codepage::SameTextAscii(whole.EntryFullName(i), "Work\\Item"))
        expected.push_back(describe(whole, i));
    for (int i = 0; i < one.EntryCount(); ++i) found.push_back(describe(one, i));
    EXPECT_FALSE(expected.empty());
    EXPECT_EQ(found, expected);
  }
}

TEST(ZipAppend, AReadOfOneNameNeverWritesLessThanTheWholeArchive) {
  TempDir dir;
  const std::string path = dir / "c.zip";
  qbtest::WriteFileBytes(path,
                         BuildRaw({Raw("Keep/one", "1", "n1"), Raw("Gone", "2"), Raw("Keep/two", "3")}));
  // An existing name is replaced in place, among all the others.
  {
    auto zip = Writer(path, Reading::OnlyTheName, "gone");
    EXPECT_EQ(zip->EntryCount(), 1);
    TMemoryStream stream("new");
    EXPECT_EQ(zip->AddFromStream(&stream, "gone"), 1);
    const auto raw = qbtest::ReadRawZip(path);
    ASSERT_EQ(raw.size(), 3u);
    EXPECT_EQ(raw[1].name, "gone");
    EXPECT_EQ(std::string(raw[1].data.begin(), raw[1].data.end()), "new");
    EXPECT_EQ(raw[0].comment, "n1");
  }
  // A removal by name reads the rest first.
  {
    auto zip = Writer(path, Reading::OnlyTheName, "gone");
    zip->FilesList() = {"gone"};
    EXPECT_EQ(zip->RemoveEntries(), 1);
    const auto raw = qbtest::ReadRawZip(path);
    ASSERT_EQ(raw.size(), 2u);
    EXPECT_EQ(raw[0].name, "Keep/one");
    EXPECT_EQ(raw[1].name, "Keep/two");
  }
  // Changes made to the records read cannot be written without the others.
  {
    const Bytes before = ReadFileBytes(path);
    auto zip = Writer(path, Reading::OnlyTheName, "Keep\\one");
    zip->SetEntryComment(0, "changed");
    EXPECT_THROW(zip->CommitChanges(), EZipError);
    EXPECT_EQ(ReadFileBytes(path), before);
  }
}

TEST(ZipAppend, TheLoadedDirectoryFollowsEveryKindOfUpdate) {
  TempDir dir;
  const std::string path = dir / "c.zip";
  qbtest::WriteFileBytes(path, BuildRaw({Raw("m", "1", "n"), Raw("B", "2")}, "comment"));
  for (TZipSortMode mode : {TZipSortMode::ByName, TZipSortMode::ByDate, TZipSortMode::ByNone}) {
    TZipWriter zip;
    zip.SetSortMode(mode);
    zip.SetStorePaths(true);
    zip.SetZipName(path);
    zip.ReadDirectory();
    auto expect_as_read = [&](const std::string& step) {
      TZipReader fresh;
      fresh.SetSortMode(mode);
      fresh.SetZipName(path);
      fresh.ReadDirectory();
      ASSERT_EQ(zip.EntryCount(), fresh.EntryCount()) << step;
      for (int i = 0; i < fresh.EntryCount(); ++i) {
        EXPECT_EQ(zip.EntryFullName(i), fresh.EntryFullName(i)) << step;
        EXPECT_EQ(zip.Entry(i).local_header_offset, fresh.Entry(i).local_header_offset) << step;
        EXPECT_EQ(zip.Entry(i).central_header_offset, fresh.Entry(i).central_header_offset) << step;
        EXPECT_EQ(zip.EntryComment(i), fresh.EntryComment(i)) << step;
      }
      EXPECT_EQ(zip.ArchiveComment(), "comment");
    };
    auto add = [&](const std::string& name) {
      TMemoryStream stream(name);
      ASSERT_EQ(zip.AddFromStreamWithComment(&stream, name, "note " + name), 1);
    };
    add("a");
    add("z");
    expect_as_read("appends");
    zip.SetEntrySelected(zip.FindEntry("m"), true);
    zip.RemoveEntries();
    add("c");
    expect_as_read("removal, then an append");
    add("A");  // replaced in place
    zip.SetEntryComment(zip.FindEntry("z"), "changed");
    zip.CommitChanges();
    add("y");
    expect_as_read("replacement, comment, append");
    // Renamed entries take their new places among the others: to the front, to
    // the end, in letter case only, into a drawer, two that pass each other.
    zip.SetEntryFileName(zip.FindEntry("y"), "0first");
    zip.SetEntryFileName(zip.FindEntry("c"), "zz last");
    zip.CommitChanges();
    expect_as_read("renames to the ends");
    zip.SetEntryFileName(zip.FindEntry("a"), "A2");
    zip.SetEntryPath(zip.FindEntry("B"), "Drawer");
    zip.SetEntryFileName(zip.FindEntry("0first"), "x");
    zip.SetEntryFileName(zip.FindEntry("z"), "b");
    zip.CommitChanges();
    add("n");
    expect_as_read("renames, then an append");
    qbtest::WriteFileBytes(path, BuildRaw({Raw("m", "1", "n"), Raw("B", "2")}, "comment"));
  }
}

}  // namespace
}  // namespace qb::zip
