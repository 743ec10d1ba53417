// qvf end to end: cabinets written by Info-ZIP and Python's zipfile are listed,
// read and tested; damaged and foreign files give the engine's text and a failure
// status; what the write verbs produce passes unzip -t and reads back in Python
// with every name and comment byte intact.
#include <gtest/gtest.h>

#include <filesystem>
#include <initializer_list>
#include <regex>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace {

using qbtest::CommandResult;
using qbtest::ReadFileBytes;
using qbtest::RunCommand;
using qbtest::ShellQuote;
using qbtest::TempDir;
using qbtest::WriteFileText;

CommandResult Qvf(std::initializer_list<std::string> args, const std::string& input = {}) {
  std::string line = ShellQuote(qbtest::QvfPath());
  for (const std::string& arg : args) line += " " + ShellQuote(arg);
  return RunCommand(line, input);
}

void Shell(const std::string& command) {
  CommandResult result = RunCommand(command);
  ASSERT_EQ(result.exit_code, 0) << command << "\n" << result.output << result.errors;
}

// Runs a Python program (given as a raw string) with the folder as its working folder.
void Python(const TempDir& dir, const std::string& program) {
  WriteFileText(dir / "make.py", program);
  Shell("cd " + ShellQuote(dir.Path().string()) + " && python3 make.py");
}

// Comments as Python bytes literals: F = 0x8C, G = 0xA5, N = 0xA7, C = 0xBF.
const char* const kPythonHelpers = R"(
import zipfile, sys
def c(spelled):
    return bytes({'F': 0x8C, 'G': 0xA5, 'N': 0xA7, 'C': 0xBF}.get(ch, ord(ch)) for ch in spelled)
)";

TEST(QvfRead, InfoZipCabinetWithZipnoteComments) {
  TempDir dir;
  const std::string root = dir.Path().string();
  std::filesystem::create_directories(dir.Path() / "Work" / "Code");
  std::filesystem::create_directories(dir.Path() / "NewItems");
  WriteFileText(dir / "Work/Code/Snippet", std::string("int main() { return 0; }\r\n", 26));
  WriteFileText(dir / "NewItems/Item0", std::string(3000, 'z'));
  Shell("cd " + ShellQuote(root) + " && zip -q -D c.qvf Work/Code/Snippet NewItems/Item0");
  // zipnote -w takes the comments from its own listing format.
  WriteFileText(dir / "notes",
                "@ Work/Code/Snippet\n\x8C"
                "1\x8C\xBF\xA5"
                "16\xA5\xBF\xA7"
                "compiles\xA7\xBF\n@ (comment above this line)\n"
                "@ NewItems/Item0\n\xA5"
                "3\xA5\xBF\x8C"
                "1\x8C\xBF\n@ (comment above this line)\n"
                "@ (zip file comment below this line)\n");
  Shell("cd " + ShellQuote(root) + " && zipnote -w c.qvf < notes");
  const std::string cabinet = dir / "c.qvf";

  CommandResult ls = Qvf({"ls", cabinet});
  ASSERT_EQ(ls.exit_code, 0) << ls.errors;
  std::regex line("NewItems\\\\Item0\t1\t3\t-\t\\d+\t3000\nWork\\\\Code\\\\Snippet\t1\t16\tN\t\\d+\t26\n");
  EXPECT_TRUE(std::regex_match(ls.output, line)) << ls.output;

  CommandResult cat = Qvf({"cat", cabinet, "work/code/SNIPPET"});
  EXPECT_EQ(cat.exit_code, 0) << cat.errors;
  EXPECT_EQ(cat.output, "int main() { return 0; }\r\n");
  EXPECT_EQ(Qvf({"cat", cabinet, "NewItems\\Item0"}).output, std::string(3000, 'z'));

  CommandResult note = Qvf({"note", cabinet, "Work/Code/Snippet"});
  EXPECT_EQ(note.exit_code, 0);
  EXPECT_EQ(note.output, "compiles\n");
  CommandResult none = Qvf({"note", cabinet, "NewItems/Item0"});
  EXPECT_EQ(none.exit_code, 1);
  EXPECT_EQ(none.output, "");
  EXPECT_NE(none.errors.find("has no note"), std::string::npos);

  CommandResult test = Qvf({"test", cabinet});
  EXPECT_EQ(test.exit_code, 0) << test.errors;
  EXPECT_EQ(test.output, "NewItems\\Item0\tOK\nWork\\Code\\Snippet\tOK\n");

  CommandResult missing = Qvf({"cat", cabinet, "Work/Code"});
  EXPECT_EQ(missing.exit_code, 1);
  EXPECT_NE(missing.errors.find("No item \"Work\\Code\""), std::string::npos) << missing.errors;
}

TEST(QvfRead, PythonCabinetLongListingAndOddComments) {
  TempDir dir;
  Python(dir, std::string(kPythonHelpers) + R"(
z = zipfile.ZipFile('p.qvf', 'w')
def add(name, data, comment, method=zipfile.ZIP_DEFLATED):
    info = zipfile.ZipInfo(name, date_time=(2021, 3, 4, 5, 6, 8))
    info.compress_type = method
    info.comment = comment
    z.writestr(info, data)
add('Notes/Multi', b'x' * 100, c('F1FCG3GCNline one\r\nline\ttwo \\ endNC'))
add('Caf\u00e9/Men\u00fc', b'\x00\x01\x02\xff', c('F2FCG4GC'), zipfile.ZIP_STORED)
add('Bad/Glyph', b'b', c('F1FCGxGC'))
add('Bare', b'', b'')
z.close()
)");
  const std::string cabinet = dir / "p.qvf";
  CommandResult ls = Qvf({"ls", "--long", cabinet});
  // The item with the damaged glyph field is listed with "?" and makes the status 1.
  EXPECT_EQ(ls.exit_code, 1);
  EXPECT_NE(ls.errors.find("'x' is not a valid integer value"), std::string::npos) << ls.errors;
  std::regex listing(
      "Bad\\\\Glyph\t1\t\\?\t-\t\\d+\t1\t2021-03-04 05:06:08\t\n"
      "Bare\t-\t-\t-\t\\d+\t0\t2021-03-04 05:06:08\t\n"
      "Caf\xC3\xA9\\\\Men\xC3\xBC\t2\t4\t-\t4\t4\t2021-03-04 05:06:08\t\n"
      "Notes\\\\Multi\t1\t3\tN\t\\d+\t100\t2021-03-04 05:06:08\tline one\\\\nline\\\\ttwo \\\\\\\\ end\n");
  EXPECT_TRUE(std::regex_match(ls.output, listing)) << ls.output;
  CommandResult cat = Qvf({"cat", cabinet, "caf\xC3\x89/men\xC3\xBC"});
  EXPECT_EQ(cat.exit_code, 1);  // letters outside ASCII are not folded
  cat = Qvf({"cat", cabinet, "Caf\xC3\xA9/Men\xC3\xBC"});
  EXPECT_EQ(cat.exit_code, 0);
  EXPECT_EQ(cat.output, std::string("\x00\x01\x02\xff", 4));
  EXPECT_EQ(Qvf({"note", cabinet, "notes\\multi"}).output, "line one\nline\ttwo \\ end\n");
  EXPECT_EQ(Qvf({"cat", cabinet, "Bare"}).output, "");
  EXPECT_EQ(Qvf({"test", cabinet}).exit_code, 0);
}

TEST(QvfRead, DamagedAndForeignFilesFailWithTheEngineText) {
  TempDir dir;
  Python(dir, std::string(kPythonHelpers) + R"(
z = zipfile.ZipFile('crc.qvf', 'w')
z.writestr('Good', b'good data', zipfile.ZIP_STORED)
z.writestr('Hurt', b'PAYLOAD-PAYLOAD', zipfile.ZIP_STORED)
z.close()
data = bytearray(open('crc.qvf', 'rb').read())
at = data.find(b'PAYLOAD-PAYLOAD')
data[at] ^= 0x20
open('crc.qvf', 'wb').write(data)
)");
  const std::string crc = dir / "crc.qvf";
  CommandResult test = Qvf({"test", crc});
  EXPECT_EQ(test.exit_code, 1);
  EXPECT_EQ(test.output, "Good\tOK\nHurt\tFAILED\thas a bad CRC: the data is damaged\n");
  EXPECT_NE(test.errors.find("1 of 2 items failed"), std::string::npos);
  CommandResult cat = Qvf({"cat", crc, "Hurt"});
  EXPECT_EQ(cat.exit_code, 1);
  EXPECT_EQ(cat.output, "");
  EXPECT_NE(cat.errors.find("bad CRC"), std::string::npos);

  // An item of many decoding pieces, whole and with damage near its end: the
  // pieces before the damage come out but are not written.
  Python(dir, R"(
import random, zipfile
r = random.Random(7)
data = b''.join(b'line %d of the clip\n' % i + r.randbytes(r.randrange(40)) for i in range(20000))
open('big.bin', 'wb').write(data)
z = zipfile.ZipFile('big.qvf', 'w', zipfile.ZIP_DEFLATED)
z.writestr('Big', data)
z.close()
info = zipfile.ZipFile('big.qvf').getinfo('Big')
raw = bytearray(open('big.qvf', 'rb').read())
at = info.header_offset + 30 + len('Big') + info.compress_size - 64
raw[at] ^= 0x10
open('bad.qvf', 'wb').write(raw)
)");
  CommandResult big = Qvf({"cat", dir / "big.qvf", "Big"});
  EXPECT_EQ(big.exit_code, 0) << big.errors;
  EXPECT_EQ(big.output, qbtest::ReadFileText(dir / "big.bin"));
  ASSERT_GT(big.output.size(), 600000u);
  CommandResult bad = Qvf({"cat", dir / "bad.qvf", "Big"});
  EXPECT_EQ(bad.exit_code, 1);
  EXPECT_EQ(bad.output, "");
  EXPECT_NE(bad.errors.find("\"Big\" "), std::string::npos) << bad.errors;

  const std::string text = dir / "text.qvf";
  WriteFileText(text, "This is not an archive, only some words long enough to have no end record.\n");
  const auto before = ReadFileBytes(text);
  for (auto args : {std::initializer_list<std::string>{"ls", text},
                    {"cat", text, "A"},
                    {"test", text},
                    {"rm", text, "A"},
                    {"add", text, "A", "-"}}) {
    CommandResult result = Qvf(args, "data");
    EXPECT_EQ(result.exit_code, 1) << *args.begin();
    EXPECT_EQ(result.errors, "qvf: Incomplete Zip File\n") << *args.begin();
  }
  EXPECT_EQ(ReadFileBytes(text), before);

  CommandResult absent = Qvf({"ls", dir / "absent.qvf"});
  EXPECT_EQ(absent.exit_code, 1);
  EXPECT_NE(absent.errors.find("Cannot open file"), std::string::npos) << absent.errors;
  EXPECT_FALSE(std::filesystem::exists(dir / "absent.qvf"));

  // An empty file is an empty cabinet.
  WriteFileText(dir / "empty.qvf", "");
  CommandResult empty = Qvf({"ls", dir / "empty.qvf"});
  EXPECT_EQ(empty.exit_code, 0);
  EXPECT_EQ(empty.output, "");
}

// A cabinet whose end record's count lost a bit (4 -> 2)
// and one whose central directory is gone (rebuilt from the local headers): both
// are listed as far as they can be read, reported as damaged, refused by every
// verb that changes them, and mended only by repair, which keeps a copy.
TEST(QvfRead, DamagedDirectoriesAreReportedRefusedAndRepaired) {
  TempDir dir;
  const std::string cabinet = dir / "c.qvf";
  for (const char* name : {"A", "B", "C", "D"})
    ASSERT_EQ(Qvf({"add", cabinet, name, "-"}, name).exit_code, 0);
  ASSERT_EQ(Qvf({"note", cabinet, "C", "--set", "kept note"}).exit_code, 0);
  auto bytes = ReadFileBytes(cabinet);
  bytes[bytes.size() - 22 + 8] = 2;
  bytes[bytes.size() - 22 + 10] = 2;
  qbtest::WriteFileBytes(dir.Path() / "c.qvf", bytes);

  CommandResult ls = Qvf({"ls", cabinet});
  EXPECT_EQ(ls.exit_code, 1);
  EXPECT_EQ(std::count(ls.output.begin(), ls.output.end(), '\n'), 4);
  EXPECT_NE(ls.errors.find("the end record counts 2 entries, the central directory holds 4"),
            std::string::npos)
      << ls.errors;
  CommandResult test = Qvf({"test", cabinet});
  EXPECT_EQ(test.exit_code, 1);
  EXPECT_EQ(test.output, "A\tOK\nB\tOK\nC\tOK\nD\tOK\n");
  EXPECT_NE(test.errors.find("damaged"), std::string::npos);
  for (auto args : {std::initializer_list<std::string>{"add", cabinet, "E", "-"},
                    {"rm", cabinet, "A"},
                    {"mv", cabinet, "A", "Z"},
                    {"note", cabinet, "A", "--set", "x"},
                    {"glyph", cabinet, "A", "5"}}) {
    CommandResult refused = Qvf(args, "e");
    EXPECT_EQ(refused.exit_code, 1) << *args.begin();
    EXPECT_NE(refused.errors.find("Damaged archive, not changed"), std::string::npos) << refused.errors;
  }
  EXPECT_EQ(ReadFileBytes(cabinet), bytes);

  CommandResult repair = Qvf({"repair", cabinet});
  EXPECT_EQ(repair.exit_code, 0) << repair.errors;
  EXPECT_EQ(repair.output, cabinet + ".damaged\n");
  EXPECT_EQ(ReadFileBytes(cabinet + ".damaged"), bytes);
  EXPECT_EQ(Qvf({"ls", cabinet}).exit_code, 0);
  EXPECT_EQ(Qvf({"note", cabinet, "C"}).output, "kept note\n");
  Shell("unzip -tq " + ShellQuote(cabinet));
  CommandResult again = Qvf({"repair", cabinet});
  EXPECT_EQ(again.exit_code, 0);
  EXPECT_NE(again.errors.find("is not damaged"), std::string::npos);

  // The central directory destroyed: the items come back from their local headers.
  auto lost = ReadFileBytes(cabinet);
  const size_t directory =
      lost.size() - 22 - (lost[lost.size() - 22 + 12] | lost[lost.size() - 22 + 13] << 8);
  lost[directory] = 'X';
  qbtest::WriteFileBytes(dir.Path() / "c.qvf", lost);
  CommandResult recovered = Qvf({"test", cabinet});
  EXPECT_EQ(recovered.exit_code, 1);
  EXPECT_EQ(recovered.output, "A\tOK\nB\tOK\nC\tOK\nD\tOK\n");
  EXPECT_NE(recovered.errors.find("4 entries were recovered from their local headers"), std::string::npos)
      << recovered.errors;
  EXPECT_EQ(Qvf({"add", cabinet, "E", "-"}, "e").exit_code, 1);
  EXPECT_EQ(ReadFileBytes(cabinet), lost);
  EXPECT_EQ(Qvf({"repair", cabinet}).output, cabinet + ".damaged-2\n");
  EXPECT_EQ(Qvf({"test", cabinet}).exit_code, 0);
}

TEST(QvfWrite, VerbsRoundTripThroughPeers) {
  TempDir dir;
  const std::string cabinet = dir / "w.qvf";
  WriteFileText(dir / "payload.bin", std::string("\x00\x89PNG\r\n\x1a\n", 8) + std::string(5000, 'q'));

  CommandResult add = Qvf({"add", cabinet, "Work/Code/Snippet"}, "int x;\r\n");
  ASSERT_EQ(add.exit_code, 0) << add.errors;
  EXPECT_EQ(add.output, "Work\\Code\\Snippet\n");
  EXPECT_EQ(Qvf({"add", cabinet, "\\Pics\\Logo", dir / "payload.bin", "--format", "2"}).output,
            "Pics\\Logo\n");
  EXPECT_EQ(Qvf({"add", cabinet, "NewItems/Item0", "-", "--glyph=20"}, "t").exit_code, 0);
  EXPECT_EQ(
      Qvf({"note", cabinet, "work/code/snippet", "--set", "line 1\nline 2 \xC2\xA7 \xE0\xA7\xBF"}).exit_code,
      0);

  // Replacing needs --replace, and keeps glyph and note.
  const auto before = ReadFileBytes(cabinet);
  CommandResult clash = Qvf({"add", cabinet, "WORK/code/snippet"}, "other");
  EXPECT_EQ(clash.exit_code, 1);
  EXPECT_NE(clash.errors.find("already exists"), std::string::npos);
  EXPECT_EQ(ReadFileBytes(cabinet), before);
  EXPECT_EQ(Qvf({"glyph", cabinet, "Work/Code/Snippet", "15"}).exit_code, 0);
  EXPECT_EQ(Qvf({"add", cabinet, "Work/Code/Snippet", "--replace", "--format", "7"}, "int y;\r\n").exit_code,
            0);
  EXPECT_EQ(Qvf({"note", cabinet, "Work/Code/Snippet"}).output, "line 1\nline 2 \xC2\xA7 \xE0\xA7\xBF\n");

  EXPECT_EQ(Qvf({"mv", cabinet, "NewItems/Item0", "Archive/Old"}).output, "Archive\\Old\n");
  EXPECT_EQ(Qvf({"mv", cabinet, "Archive/Old", "Pics/Logo"}).exit_code, 1);
  EXPECT_EQ(Qvf({"note", cabinet, "Archive/Old", "--set", "gone soon"}).exit_code, 0);
  EXPECT_EQ(Qvf({"note", cabinet, "Archive/Old", "--delete"}).exit_code, 0);
  EXPECT_EQ(Qvf({"add", cabinet, "Trash", "-"}, "x").exit_code, 0);
  EXPECT_EQ(Qvf({"rm", cabinet, "trash"}).exit_code, 0);
  EXPECT_EQ(Qvf({"rm", cabinet, "trash"}).exit_code, 1);

  CommandResult ls = Qvf({"ls", cabinet});
  std::regex listing(
      "Archive\\\\Old\t1\t20\t-\t\\d+\t1\n"
      "Pics\\\\Logo\t2\t4\t-\t\\d+\t5008\n"
      "Work\\\\Code\\\\Snippet\t7\t15\tN\t\\d+\t8\n");
  EXPECT_TRUE(std::regex_match(ls.output, listing)) << ls.output;
  EXPECT_EQ(Qvf({"cat", cabinet, "Pics/Logo"}).output, qbtest::ReadFileText(dir / "payload.bin"));

  Shell("unzip -tq " + ShellQuote(cabinet));
  Python(dir, R"(
import zipfile
z = zipfile.ZipFile('w.qvf')
got = [(i.filename, i.comment) for i in z.infolist()]
want = [('Work/Code/Snippet', b'\x8c7\x8c\xbf\xa515\xa5\xbf\xa7line 1\r\nline 2 \xc2\xa7 &#2559;\xa7\xbf'),
        ('Pics/Logo', b'\x8c2\x8c\xbf\xa54\xa5\xbf'),
        ('Archive/Old', b'\xa520\xa5\xbf\x8c1\x8c\xbf')]
assert sorted(got) == sorted(want), got
assert z.read('Pics/Logo') == open('payload.bin', 'rb').read()
assert z.testzip() is None
)");
}

// Names and notes that would steer a terminal or reorder the line (ESC, the C1
// controls, the bidirectional overrides) are listed escaped; other letters stay.
// Colons are ordinary characters, and a name typed in another code page is stored
// as UTF-8 and found again by the same bytes.
TEST(QvfRead, ListingEscapesControlsAndTypedNamesAreFoundAgain) {
  TempDir dir;
  const std::string cabinet = dir / "c.qvf";
  const std::string rlo = "\xE2\x80\xAE", csi = "\xC2\x9B";
  ASSERT_EQ(Qvf({"add", cabinet, "Work/Meeting 10:30"}, "a").exit_code, 0);
  ASSERT_EQ(Qvf({"add", cabinet, "evil" + rlo + "fdp.exe" + csi + "2J\x1B[0m"}, "b").exit_code, 0);
  ASSERT_EQ(Qvf({"note", cabinet, "Work/Meeting 10:30", "--set", "caf\xC3\xA9 " + rlo + csi + "\xE2\x81\xA6"})
                .exit_code,
            0);
  CommandResult typed = Qvf({"add", cabinet, "caf\xE9"}, "c");  // Windows-1252, not UTF-8
  ASSERT_EQ(typed.exit_code, 0) << typed.errors;
  EXPECT_EQ(typed.output, "caf\xC3\xA9\n");
  EXPECT_EQ(Qvf({"cat", cabinet, "caf\xE9"}).output, "c");
  EXPECT_EQ(Qvf({"cat", cabinet, "CAF\xC3\xA9"}).output, "c");

  CommandResult ls = Qvf({"ls", cabinet, "--long"});
  ASSERT_EQ(ls.exit_code, 0) << ls.errors;
  std::vector<std::string> lines;
  for (size_t at = 0, end; (end = ls.output.find('\n', at)) != std::string::npos; at = end + 1)
    lines.push_back(ls.output.substr(at, end - at));
  ASSERT_EQ(lines.size(), 3u) << ls.output;
  EXPECT_EQ(lines[0].substr(0, lines[0].find('\t')), "caf\xC3\xA9");
  EXPECT_EQ(lines[1].substr(0, lines[1].find('\t')), "evil\\u202Efdp.exe\\u009B2J\\x1B[0m");
  EXPECT_EQ(lines[2].substr(0, lines[2].find('\t')), "Work\\Meeting 10:30");
  EXPECT_EQ(lines[2].substr(lines[2].rfind('\t') + 1), "caf\xC3\xA9 \\u202E\\u009B\\u2066");
}

TEST(QvfCommandLine, HelpUsageErrorsAndRefusedPaths) {
  CommandResult help = Qvf({"--help"});
  EXPECT_EQ(help.exit_code, 0);
  EXPECT_EQ(help.output.rfind("usage: qvf VERB", 0), 0u);
  for (const char* verb : {"ls", "cat", "note", "test", "add", "rm", "mv", "glyph"}) {
    CommandResult verb_help = Qvf({verb, "--help"});
    EXPECT_EQ(verb_help.exit_code, 0) << verb;
    EXPECT_EQ(verb_help.output.rfind(std::string("usage: qvf ") + verb, 0), 0u) << verb;
  }
  EXPECT_EQ(Qvf({}).exit_code, 2);
  TempDir dir;
  const std::string cabinet = dir / "c.qvf";
  for (auto args : {std::initializer_list<std::string>{"frobnicate", cabinet},
                    {"ls"},
                    {"ls", cabinet, "extra"},
                    {"ls", "--wide", cabinet},
                    {"add", cabinet, "A", "-", "--format", "0"},
                    {"add", cabinet, "A", "-", "--format"},
                    {"add", cabinet, "A", "-", "--glyph", "3x"},
                    {"glyph", cabinet, "A", "-2"},
                    {"note", cabinet, "A", "--set", "x", "--delete"},
                    {"note", cabinet, "A", "--set", ""},
                    {"ls", "--long=yes", cabinet}}) {
    CommandResult result = Qvf(args);
    EXPECT_EQ(result.exit_code, 2) << *args.begin() << " " << result.errors;
    EXPECT_NE(result.errors.find("Try 'qvf"), std::string::npos) << result.errors;
  }
  // Paths that name no item are refused before anything is written.
  for (const char* bad : {"Drawer/", "", "A//B/c"}) {
    CommandResult result = Qvf({"add", cabinet, bad, "-"}, "x");
    EXPECT_EQ(result.exit_code, 1) << bad;
    EXPECT_FALSE(result.errors.empty());
  }
  EXPECT_FALSE(std::filesystem::exists(cabinet));
  // Negative numbers are values, not options; "--" ends the options.
  ASSERT_EQ(Qvf({"add", cabinet, "--", "--odd-name"}, "x").exit_code, 0);
  EXPECT_EQ(Qvf({"glyph", cabinet, "--", "--odd-name", "-1"}).exit_code, 0);
  CommandResult ls = Qvf({"ls", cabinet});
  EXPECT_EQ(ls.output.substr(0, ls.output.find("\t-\t")), "--odd-name\t1\t-1");
}

}  // namespace
