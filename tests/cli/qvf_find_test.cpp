// qvf find and qvf ls --by-date on a cabinet written by Python's zipfile: what
// find prints (the lines ls prints, for the items that match), narrowed to paths,
// notes or text, in any letter case; the newest-first order with equal dates; a
// damaged text item named on standard error.
#include <gtest/gtest.h>

#include <initializer_list>
#include <sstream>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace {

using qbtest::CommandResult;
using qbtest::ShellQuote;
using qbtest::TempDir;

CommandResult Qvf(std::initializer_list<std::string> args) {
  std::string line = ShellQuote(qbtest::QvfPath());
  for (const std::string& arg : args) line += " " + ShellQuote(arg);
  return qbtest::RunCommand(line);
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::vector<std::string> FirstFields(const std::string& text) {
  std::vector<std::string> paths;
  for (const std::string& line : Lines(text)) paths.push_back(line.substr(0, line.find('\t')));
  return paths;
}

const char* const kMakeCabinet = R"(
import struct, sys, zipfile
def c(fmt, note=None):
    s = b'\x8c%d\x8c\xbf\xa53\xa5\xbf' % fmt
    return s + (b'\xa7' + note.encode() + b'\xa7\xbf' if note is not None else b'')
bmp = b'BM' + bytes(52) + b'Secret words in pixels'
items = [
    ('Work/SQL/Probe', (2024, 5, 2, 9, 0, 0), c(1, 'checks the DB'), b'SELECT 1 FROM Stra\xc3\x9fen;\r\n'),
    ('Work/Shell', (2024, 5, 2, 9, 0, 0), c(1), b'ls -l | grep probe\x00'),
    ('NewItems/Item0', (2024, 5, 3, 8, 0, 0), c(7), b'\x8e' b'RGER\x00'),
    ('NewItems/Item1', (2023, 1, 1, 0, 0, 0), c(2, 'Logo STRASSE'), bmp),
    ('Broken', (2024, 1, 1, 0, 0, 0), c(1), b'probe text that is damaged'),
]
with zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_DEFLATED) as z:
    for name, date, comment, data in items:
        info = zipfile.ZipInfo(name, date)
        info.compress_type = zipfile.ZIP_STORED if name == 'Broken' else zipfile.ZIP_DEFLATED
        info.comment = comment
        z.writestr(info, data)
raw = open(sys.argv[1], 'rb').read().replace(b'that is damaged', b'that is DAMAGED')
open(sys.argv[1], 'wb').write(raw)
)";

class QvfFind : public ::testing::Test {
 protected:
  void SetUp() override {
    qbtest::WriteFileText(dir_ / "make.py", kMakeCabinet);
    const CommandResult made =
        qbtest::RunCommand("python3 " + ShellQuote(dir_ / "make.py") + " " + ShellQuote(cabinet_));
    ASSERT_EQ(made.exit_code, 0) << made.errors;
  }
  TempDir dir_;
  std::string cabinet_ = dir_ / "c.qvf";
};

TEST_F(QvfFind, PrintsTheLsLinesOfTheMatchingItems) {
  const CommandResult all = Qvf({"ls", cabinet_, "--long"});
  const CommandResult found = Qvf({"find", cabinet_, "sql", "--long", "--paths"});
  ASSERT_EQ(found.exit_code, 0) << found.errors;
  ASSERT_EQ(Lines(found.output).size(), 1u);
  const std::vector<std::string> listed = Lines(all.output);
  EXPECT_NE(std::find(listed.begin(), listed.end(), Lines(found.output)[0]), listed.end());
}

TEST_F(QvfFind, LooksInPathsNotesAndTextInAnyCase) {
  using Paths = std::vector<std::string>;
  // "probe": a path, a text; the damaged item's text cannot be read.
  CommandResult r = Qvf({"find", cabinet_, "PROBE"});
  EXPECT_EQ(FirstFields(r.output), (Paths{"Work\\Shell", "Work\\SQL\\Probe"}));
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.errors.find("Broken"), std::string::npos) << r.errors;
  EXPECT_EQ(FirstFields(Qvf({"find", cabinet_, "probe", "--paths"}).output), Paths{"Work\\SQL\\Probe"});
  EXPECT_EQ(FirstFields(Qvf({"find", cabinet_, "db", "--notes"}).output), Paths{"Work\\SQL\\Probe"});
  // Full Unicode case folding: sharp s and SS, code page 437 OEM text.
  EXPECT_EQ(FirstFields(Qvf({"find", cabinet_, "strasse"}).output),
            (Paths{"NewItems\\Item1", "Work\\SQL\\Probe"}));
  EXPECT_EQ(FirstFields(Qvf({"find", cabinet_, "\xC3\xA4rger", "--content"}).output),
            Paths{"NewItems\\Item0"});
  // A picture's bytes are not searched, its note is; after the zero byte nothing is text.
  EXPECT_EQ(Qvf({"find", cabinet_, "secret"}).output, "");
  EXPECT_EQ(FirstFields(Qvf({"find", cabinet_, "logo", "--notes", "--paths"}).output),
            Paths{"NewItems\\Item1"});
  r = Qvf({"find", cabinet_, "nothing like it", "--paths"});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.output, "");
  EXPECT_EQ(Qvf({"find", cabinet_}).exit_code, 2);
}

TEST_F(QvfFind, ByDateListsNewestFirstWithEqualDatesInCabinetOrder) {
  using Paths = std::vector<std::string>;
  const CommandResult ls = Qvf({"ls", cabinet_, "--by-date"});
  EXPECT_EQ(FirstFields(ls.output),
            (Paths{"NewItems\\Item0", "Work\\Shell", "Work\\SQL\\Probe", "Broken", "NewItems\\Item1"}));
  EXPECT_EQ(FirstFields(Qvf({"find", cabinet_, "o", "--by-date", "--paths"}).output),
            (Paths{"Work\\Shell", "Work\\SQL\\Probe", "Broken"}));
}

}  // namespace
