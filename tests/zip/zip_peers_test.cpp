// Fidelity with the other ZIP tools, in both directions: archives that Info-ZIP
// (with and without ZIP64), Python (ZIP64, streamed, non-ASCII), 7-Zip (AES,
// non-ASCII) and bsdtar write are read exactly, and after qvf changes them every
// peer still finds the untouched entries as they were - names, bytes, comments,
// extra fields and encryption; the cabinets we write show every name exactly as
// typed in each peer, with our comment bytes raw.
#include <gtest/gtest.h>

#include <map>
#include <regex>

#include "support/raw_zip.h"
#include "support/test_support.h"
#include "zip/zip_format.h"

namespace {

using qbtest::CommandResult;
using qbtest::RawZipEntry;
using qbtest::RunCommand;
using qbtest::ShellQuote;
using qbtest::TempDir;
using namespace qb::zip::format;

// Peers run under a UTF-8 locale, as on a desktop.
CommandResult Run(const std::string& command, const std::string& input = {}) {
  return RunCommand("export LC_ALL=C.UTF-8 LANG=C.UTF-8; " + command, input);
}

std::string Checked(const std::string& command, const std::string& input = {}) {
  CommandResult result = Run(command, input);
  EXPECT_EQ(result.exit_code, 0) << command << "\n" << result.output << result.errors;
  return result.output;
}

std::string Qvf(const std::string& args, const std::string& input = {}) {
  return Checked(ShellQuote(qbtest::QvfPath()) + " " + args, input);
}

// Python's view of an archive: one line per entry (name, CRC of the bytes read,
// size, comment in hex), sorted, after testzip() found nothing wrong.
std::string PythonView(const std::string& archive) {
  return Checked("python3 -c " + ShellQuote(R"(
import sys, zipfile, zlib
z = zipfile.ZipFile(sys.argv[1])
assert z.testzip() is None
lines = sorted('%s %08x %d %s' % (i.filename, zlib.crc32(z.read(i)), i.file_size, i.comment.hex())
               for i in z.infolist())
print(z.comment.hex())
print('\n'.join(lines))
)") + " " + ShellQuote(archive));
}

// Every peer's own test of an archive.
void AllPeersTestClean(const std::string& archive, const std::string& password = "") {
  const std::string a = ShellQuote(archive);
  if (password.empty()) {
    Checked("unzip -tq " + a);
    Checked("bsdtar -tf " + a + " >/dev/null");
  }
  EXPECT_NE(Checked("7z t " + (password.empty() ? "" : "-p" + password + " ") + a).find("Everything is Ok"),
            std::string::npos);
}

std::map<std::string, RawZipEntry> RawByName(const std::string& archive) {
  std::map<std::string, RawZipEntry> by_name;
  for (auto& e : qbtest::ReadRawZip(archive)) by_name[e.name] = e;
  return by_name;
}

std::string WithoutZip64(const std::string& extra) {
  return FilterExtraFields(extra, [](uint16_t id) { return id != kExtraZip64; });
}

// The entries qvf did not touch keep their stored name bytes, flags, version made
// by, extra fields (less ZIP64 values, which our 32-bit headers hold now) and data.
void ExpectUntouchedEntriesKept(const std::map<std::string, RawZipEntry>& before,
                                const std::map<std::string, RawZipEntry>& after,
                                const std::vector<std::string>& touched) {
  for (const auto& [name, old] : before) {
    if (std::find(touched.begin(), touched.end(), name) != touched.end()) continue;
    auto it = after.find(name);
    ASSERT_NE(it, after.end()) << name;
    const RawZipEntry& now = it->second;
    EXPECT_EQ(now.flags, old.flags) << name;
    EXPECT_EQ(now.version_made_by, old.version_made_by) << name;
    EXPECT_EQ(now.central_extra, WithoutZip64(old.central_extra)) << name;
    EXPECT_EQ(now.local_extra, WithoutZip64(old.local_extra)) << name;
    EXPECT_EQ(now.comment, old.comment) << name;
    EXPECT_EQ(now.data, old.data) << name;
    EXPECT_EQ(now.compressed_size, old.compressed_size) << name;
  }
}

void MakeFiles(const TempDir& dir) {
  std::filesystem::create_directories(dir.Path() / "in");
  qbtest::WriteFileText(dir / "in/plain.txt", std::string(3000, 'p'));
  qbtest::WriteFileText(dir / "in/caf\xC3\xA9.txt", "caf\xC3\xA9 au lait\n");
  qbtest::WriteFileText(dir / "in/\xE6\x97\xA5\xE6\x9C\xAC.txt", "nihon\n");
}

TEST(ZipPeers, Zip64ArchivesOfInfoZipAndPythonReadExactlyAndSurviveUpdates) {
  TempDir dir;
  MakeFiles(dir);
  const std::string in = ShellQuote(dir / "in");
  // Info-ZIP with ZIP64 records forced; names are UTF-8 without the flag (host Unix).
  const std::string z64 = dir / "z64.zip";
  Checked("cd " + in + " && zip -q -fz " + ShellQuote(z64) +
          " plain.txt caf\xC3\xA9.txt \xE6\x97\xA5\xE6\x9C\xAC.txt");
  Checked(
      "printf '@ plain.txt\\nfor plain\\n@ (comment above this line)\\n@ (zip file comment below this "
      "line)\\n"
      "zip64 archive\\n' | zipnote -w " +
      ShellQuote(z64));
  // Python writing to a pipe: ZIP64 local fields, data descriptors with 8-byte sizes.
  const std::string s64 = dir / "s64.zip";
  Checked("python3 -c " + ShellQuote(R"(
import sys, zipfile
with zipfile.ZipFile(sys.stdout.buffer, 'w', zipfile.ZIP_DEFLATED) as z:
    with z.open('stream/big.bin', 'w', force_zip64=True) as f:
        f.write(b'0123456789' * 10000)
    with z.open('stream/other.bin', 'w', force_zip64=True) as f:
        f.write(b'other')
    z.writestr('\u540d\u524d.txt', b'hello')
    info = zipfile.ZipInfo('commented')
    info.comment = b'\x8c1\x8c\xbf\xa7caf\xc3\xa9\xa7\xbf'
    z.writestr(info, b'c')
    z.comment = b'streamed'
)") + " > " +
          ShellQuote(s64));

  // Read exactly: every entry listed with its real name and size.
  const std::regex info_zip_listing(
      "caf\xC3\xA9.txt\t-\t-\t-\t14\t14\nplain.txt\t-\t-\t-\t\\d+\t3000\n"
      "\xE6\x97\xA5\xE6\x9C\xAC.txt\t-\t-\t-\t6\t6\n");
  const std::string z64_listing = Qvf("ls " + ShellQuote(z64));
  EXPECT_TRUE(std::regex_match(z64_listing, info_zip_listing)) << z64_listing;
  std::string listing = Qvf("ls " + ShellQuote(s64));
  EXPECT_NE(listing.find("stream\\big.bin\t-\t-\t-\t"), std::string::npos) << listing;
  EXPECT_NE(listing.find("\t100000\n"), std::string::npos) << listing;
  EXPECT_NE(listing.find("\xE5\x90\x8D\xE5\x89\x8D.txt\t"), std::string::npos) << listing;
  EXPECT_EQ(Qvf("test " + ShellQuote(s64)),
            "commented\tOK\nstream\\big.bin\tOK\nstream\\other.bin\tOK\n\xE5\x90\x8D\xE5\x89\x8D.txt\tOK\n");

  // Updates: an item added, one moved, one removed; everything else as it was.
  for (const std::string& archive : {z64, s64}) {
    const auto before = RawByName(archive);
    const std::string python_before = PythonView(archive);
    Qvf("add " + ShellQuote(archive) + " Added -", "added\n");
    const bool info_zip = archive == z64;
    const std::string moved_from = info_zip ? "caf\xC3\xA9.txt" : "stream/big.bin";
    const std::string moved_to = info_zip ? "Moved/caf\xC3\xA9.txt" : "Moved/big.bin";
    const std::string removed = info_zip ? "\xE6\x97\xA5\xE6\x9C\xAC.txt" : "stream/other.bin";
    Qvf("mv " + ShellQuote(archive) + " " + ShellQuote(moved_from) + " " + ShellQuote(moved_to));
    Qvf("rm " + ShellQuote(archive) + " " + ShellQuote(removed));
    AllPeersTestClean(archive);
    const auto after = RawByName(archive);
    ExpectUntouchedEntriesKept(before, after, {moved_from, removed});
    EXPECT_EQ(after.count(removed), 0u);
    ASSERT_EQ(after.count(moved_to), 1u) << archive;
    EXPECT_EQ(after.at(moved_to).data, before.at(moved_from).data);
    EXPECT_EQ(after.size(), before.size());  // one added, one removed
    // Python sees the same entries (and the archive comment) apart from the changes.
    std::string python_after = PythonView(archive);
    EXPECT_NE(python_after.find("\nAdded "), std::string::npos) << python_after;
    EXPECT_EQ(python_before.substr(0, python_before.find('\n')),
              python_after.substr(0, python_after.find('\n')));
    EXPECT_EQ(Checked("unzip -p " + ShellQuote(archive) + " " + ShellQuote(moved_to)),
              info_zip ? "caf\xC3\xA9 au lait\n" : std::string(10000 * 10, '0').replace(0, 100000, [] {
                std::string digits;
                for (int i = 0; i < 10000; ++i) digits += "0123456789";
                return digits;
              }()));
  }
  EXPECT_EQ(Checked("unzip -Z1 " + ShellQuote(z64)), "plain.txt\nMoved/caf\xC3\xA9.txt\nAdded\n");
  EXPECT_NE(Checked("unzip -z " + ShellQuote(z64)).find("zip64 archive"), std::string::npos);
}

TEST(ZipPeers, EncryptionAndExtraFieldsOf7ZipAndBsdtarSurviveUpdates) {
  TempDir dir;
  MakeFiles(dir);
  const std::string in = ShellQuote(dir / "in");
  const std::string aes = dir / "aes.zip", tar = dir / "tar.zip";
  Checked("cd " + in + " && 7z a -tzip -pSecret -mem=AES256 " + ShellQuote(aes) + " . >/dev/null");
  Checked("cd " + in + " && bsdtar --format zip -cf " + ShellQuote(tar) + " .");
  for (const std::string& archive : {aes, tar}) {
    const auto before = RawByName(archive);
    ASSERT_GE(before.size(), 3u);
    Qvf("add " + ShellQuote(archive) +
            " New/\xC3\xBC"
            "ber -",
        "new data\n");
    const bool seven = archive == aes;
    // A rename gives the entry a new local header; its data and extra fields stay.
    const std::string old_name = seven ? "plain.txt" : "./plain.txt";
    Qvf("mv " + ShellQuote(archive) + " " + ShellQuote(old_name) + " Renamed");
    AllPeersTestClean(archive, seven ? "Secret" : "");
    const auto after = RawByName(archive);
    ExpectUntouchedEntriesKept(before, after, {old_name});
    ASSERT_EQ(after.count("Renamed"), 1u);
    EXPECT_EQ(after.at("Renamed").central_extra, before.at(old_name).central_extra);
    EXPECT_EQ(after.at("Renamed").local_extra, before.at(old_name).local_extra);
    EXPECT_EQ(after.at("Renamed").flags & kFlagUtf8Names, 0);
    EXPECT_EQ(after.at("New/\xC3\xBC"
                       "ber")
                      .flags &
                  kFlagUtf8Names,
              kFlagUtf8Names);
  }
  // The AES entries still open with the password; the names are as 7-Zip wrote them.
  EXPECT_EQ(Checked("7z x -so -pSecret " + ShellQuote(aes) + " Renamed"), std::string(3000, 'p'));
  EXPECT_EQ(
      Checked("7z x -so -pSecret " + ShellQuote(aes) + " " + ShellQuote("\xE6\x97\xA5\xE6\x9C\xAC.txt")),
      "nihon\n");
  const std::string slt = Checked("7z l -slt " + ShellQuote(aes));
  EXPECT_NE(slt.find("Path = caf\xC3\xA9.txt\n"), std::string::npos) << slt;
  EXPECT_NE(slt.find("Method = AES-256"), std::string::npos) << slt;
  EXPECT_EQ(Checked("bsdtar -xOf " + ShellQuote(tar) + " ./caf\xC3\xA9.txt"), "caf\xC3\xA9 au lait\n");
  EXPECT_EQ(Checked("bsdtar -xOf " + ShellQuote(tar) + " Renamed"), std::string(3000, 'p'));
  EXPECT_NE(Checked("bsdtar -tf " + ShellQuote(tar))
                .find("New/\xC3\xBC"
                      "ber\n"),
            std::string::npos);
}

TEST(ZipPeers, CabinetsWeWriteShowTheirNamesExactlyEverywhere) {
  TempDir dir;
  const std::string cabinet = dir / "c.qvf";
  const std::vector<std::string> names = {
      "Work/caf\xC3\xA9", "\xE6\x97\xA5\xE6\x9C\xAC/\xE3\x83\xA1\xE3\x83\xA2", "plain", "Drawer/"};
  for (const std::string& name : names)
    if (name.back() != '/') Qvf("add " + ShellQuote(cabinet) + " " + ShellQuote(name) + " -", name);
  Qvf("note " + ShellQuote(cabinet) + " Work/caf\xC3\xA9 --set " + ShellQuote("n\xC3\xB6te"));
  const std::string expected = "Work/caf\xC3\xA9\n\xE6\x97\xA5\xE6\x9C\xAC/\xE3\x83\xA1\xE3\x83\xA2\nplain\n";
  auto sorted_lines = [](std::string text) {
    std::vector<std::string> lines;
    for (size_t at = 0; at < text.size();) {
      size_t nl = text.find('\n', at);
      lines.push_back(text.substr(at, nl - at));
      at = nl + 1;
    }
    std::sort(lines.begin(), lines.end());
    return lines;
  };
  EXPECT_EQ(sorted_lines(Checked("unzip -Z1 " + ShellQuote(cabinet))), sorted_lines(expected));
  EXPECT_EQ(sorted_lines(Checked("bsdtar -tf " + ShellQuote(cabinet))), sorted_lines(expected));
  std::string paths;
  for (const auto& line : sorted_lines(Checked("7z l -slt " + ShellQuote(cabinet))))
    if (line.rfind("Path = ", 0) == 0 && line != "Path = " + cabinet) paths += line.substr(7) + "\n";
  EXPECT_EQ(sorted_lines(paths), sorted_lines(expected));
  EXPECT_EQ(sorted_lines(Checked("python3 -c " + ShellQuote(R"(
import sys, zipfile
for i in zipfile.ZipFile(sys.argv[1]).infolist(): print(i.filename)
)") + " " + ShellQuote(cabinet))),
            sorted_lines(expected));
  // Host Unix, regular-file modes, the flag only where a name needs it, and the
  // comment bytes as stored (unzip shows them raw).
  for (const RawZipEntry& e : qbtest::ReadRawZip(cabinet)) {
    EXPECT_EQ(e.version_made_by >> 8, kHostUnix) << e.name;
    EXPECT_EQ(e.external_attributes >> 16, 0100644u) << e.name;
    const bool ascii = std::all_of(e.name.begin(), e.name.end(), [](char c) { return (c & 0x80) == 0; });
    EXPECT_EQ((e.flags & kFlagUtf8Names) != 0, !ascii) << e.name;
  }
  const std::string info = Checked("zipinfo -v " + ShellQuote(cabinet));
  EXPECT_NE(info.find("\xA7n\xC3\xB6te\xA7\xBF"), std::string::npos);
}

}  // namespace
