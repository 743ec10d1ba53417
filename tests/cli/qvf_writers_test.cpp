// Several writers on one cabinet (qvf processes, and the program's core beside
// them) lose nothing; special files, links and read-only cabinets are handled as
// such; a change that was made is never reported as a failure.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <initializer_list>
#include <string>
#include <thread>

#include "store/cabinet_store.h"
#include "store/item_metadata.h"
#include "store/item_paths.h"
#include "support/test_support.h"
#include "zip/zip_writer.h"

namespace {

namespace fs = std::filesystem;
using qbtest::CommandResult;
using qbtest::ReadFileBytes;
using qbtest::RunCommand;
using qbtest::ShellQuote;
using qbtest::TempDir;

CommandResult Qvf(std::initializer_list<std::string> args, const std::string& input = {}) {
  std::string line = ShellQuote(qbtest::QvfPath());
  for (const std::string& arg : args) line += " " + ShellQuote(arg);
  return RunCommand(line, input);
}

// A shell loop running qvf for i = 0 .. count - 1; `args` may use $i. Failures
// are told on standard error.
std::string QvfLoop(int count, const std::string& args) {
  return "(for i in $(seq 0 " + std::to_string(count - 1) + "); do " + ShellQuote(qbtest::QvfPath()) + " " +
         args + " >/dev/null || echo \"failed: " + args + "\" >&2; done)";
}

int LineCount(const std::string& text) {
  return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
}

TEST(QvfWriters, ParallelAddsAndNotesLoseNothing) {
  TempDir dir;
  const std::string cabinet = dir / "c.qvf";
  for (int i = 0; i < 20; ++i) ASSERT_EQ(Qvf({"add", cabinet, "N" + std::to_string(i)}, "n").exit_code, 0);
  // Two writers add items while a third sets notes, all at once.
  const std::string c = ShellQuote(cabinet);
  CommandResult run = RunCommand("printf a > " + ShellQuote(dir / "a") + "; " +
                                 QvfLoop(40, "add " + c + " A$i " + ShellQuote(dir / "a")) + " & " +
                                 QvfLoop(40, "add " + c + " B$i " + ShellQuote(dir / "a")) + " & " +
                                 QvfLoop(20, "note " + c + " N$i --set \"note $i\"") + " & wait");
  EXPECT_EQ(run.errors, "");
  CommandResult ls = Qvf({"ls", cabinet, "--long"});
  ASSERT_EQ(ls.exit_code, 0) << ls.errors;
  EXPECT_EQ(LineCount(ls.output), 100) << ls.output;
  for (int i = 0; i < 20; ++i)
    EXPECT_EQ(Qvf({"note", cabinet, "N" + std::to_string(i)}).output, "note " + std::to_string(i) + "\n");
}

// The program's core saves clips the way AutoSave does (one archive object kept
// for the whole run, a free name chosen and the clip saved under one hold of the
// lock), renames and annotates its items, while qvf adds and annotates others.
TEST(QvfWriters, ProgramCoreAndQvfTogether) {
  TempDir dir;
  const std::string cabinet = dir / "c.qvf";
  for (int i = 0; i < 15; ++i) ASSERT_EQ(Qvf({"add", cabinet, "Q\\N" + std::to_string(i)}, "n").exit_code, 0);
  const std::string c = ShellQuote(cabinet);
  CommandResult script;
  std::thread qvf([&] {
    script = RunCommand("printf q > " + ShellQuote(dir / "q") + "; " +
                        QvfLoop(30, "add " + c + " Q\\\\Item$i " + ShellQuote(dir / "q")) + " & " +
                        QvfLoop(15, "note " + c + " Q\\\\N$i --set \"qvf $i\"") + " & wait");
  });
  qb::zip::TZipWriter zip;
  qb::store::ConfigureCabinetArchive(zip);
  zip.SetZipName(cabinet);
  std::string failure;
  std::vector<std::string> paths;  // where each round's clip is
  for (int round = 0; round < 30 && failure.empty(); ++round) try {
      {
        qb::zip::TCabinetLockHold hold(zip);
        const std::string name = qb::store::NextFreeItemName(zip, "NewItems\\Item");
        qb::TMemoryStream payload("clip " + std::to_string(round) + std::string(1, '\0'));
        paths.push_back(qb::store::SaveItem(zip, payload, name, qb::store::kFormatText).path);
      }
      if (round % 3 == 2) {
        paths.back() = qb::store::MoveItem(zip, paths.back(), "Kept\\Clip" + std::to_string(round), false);
        qb::store::SetItemNote(zip, paths.back(), "program " + std::to_string(round));
      }
    } catch (const std::exception& e) {
      failure = "round " + std::to_string(round) + ": " + e.what();
    }
  qvf.join();
  ASSERT_EQ(failure, "");
  EXPECT_EQ(script.errors, "");
  CommandResult ls = Qvf({"ls", cabinet});
  ASSERT_EQ(ls.exit_code, 0) << ls.errors;
  EXPECT_EQ(LineCount(ls.output), 15 + 30 + 30) << ls.output;
  for (int round = 0; round < 30; ++round) {
    const std::string& path = paths[static_cast<size_t>(round)];
    EXPECT_EQ(Qvf({"cat", cabinet, path}).output, "clip " + std::to_string(round) + std::string(1, '\0'))
        << path;
    if (round % 3 == 2) {
      EXPECT_EQ(Qvf({"note", cabinet, path}).output, "program " + std::to_string(round) + "\n");
    }
  }
  for (int i = 0; i < 15; ++i)
    EXPECT_EQ(Qvf({"note", cabinet, "Q\\N" + std::to_string(i)}).output, "qvf " + std::to_string(i) + "\n");
}

TEST(QvfWriters, SpecialFilesLinksAndReadOnlyCabinets) {
  TempDir dir;
  const std::string root = dir.Path().string();
  // A named pipe is refused at once, by readers and writers alike.
  ASSERT_EQ(mkfifo((dir / "pipe.qvf").c_str(), 0600), 0);
  for (auto verb : {"ls", "test"}) {
    CommandResult r = RunCommand("timeout 10 " + ShellQuote(qbtest::QvfPath()) + " " + verb + " " +
                                 ShellQuote(dir / "pipe.qvf"));
    EXPECT_EQ(r.exit_code, 1) << verb;
    EXPECT_NE(r.errors.find("named pipe"), std::string::npos) << r.errors;
  }
  CommandResult add_pipe = RunCommand("timeout 10 " + ShellQuote(qbtest::QvfPath()) + " add " +
                                      ShellQuote(dir / "pipe.qvf") + " A </dev/null");
  EXPECT_EQ(add_pipe.exit_code, 1);
  EXPECT_TRUE(fs::is_fifo(dir / "pipe.qvf"));

  // A new cabinet is private whatever the umask.
  const std::string cabinet = dir / "c.qvf";
  ASSERT_EQ(
      RunCommand("umask 0; " + ShellQuote(qbtest::QvfPath()) + " add " + ShellQuote(cabinet) + " A", "a")
          .exit_code,
      0);
  struct stat info {};
  ASSERT_EQ(stat(cabinet.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0600u);

  // Through a link the file it leads to is updated; the link stays a link.
  fs::create_symlink("c.qvf", dir.Path() / "link.qvf");
  EXPECT_EQ(Qvf({"add", dir / "link.qvf", "B"}, "b").exit_code, 0);
  EXPECT_TRUE(fs::is_symlink(dir.Path() / "link.qvf"));
  EXPECT_EQ(Qvf({"ls", cabinet}).output.substr(0, 2), "A\t");
  EXPECT_EQ(LineCount(Qvf({"ls", cabinet}).output), 2);

  // A link that leads nowhere does not become a new cabinet.
  fs::create_symlink("missing.qvf", dir.Path() / "dangling.qvf");
  CommandResult dangling = Qvf({"add", dir / "dangling.qvf", "A"}, "a");
  EXPECT_EQ(dangling.exit_code, 1);
  EXPECT_NE(dangling.errors.find("does not exist"), std::string::npos) << dangling.errors;
  EXPECT_TRUE(fs::is_symlink(dir.Path() / "dangling.qvf"));
  EXPECT_FALSE(fs::exists(dir.Path() / "missing.qvf"));

  // A read-only cabinet is refused, even for root.
  ASSERT_EQ(chmod(cabinet.c_str(), 0444), 0);
  const auto bytes = ReadFileBytes(cabinet);
  for (auto args : {std::initializer_list<std::string>{"add", cabinet, "C"},
                    std::initializer_list<std::string>{"rm", cabinet, "A"},
                    std::initializer_list<std::string>{"note", cabinet, "A", "--set", "x"}}) {
    CommandResult r = Qvf(args, "c");
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_NE(r.errors.find("read-only"), std::string::npos) << r.errors;
  }
  EXPECT_EQ(ReadFileBytes(cabinet), bytes);

  // root changing a user's cabinet leaves it the user's.
  if (geteuid() == 0) {
    ASSERT_EQ(chmod(cabinet.c_str(), 0640), 0);
    ASSERT_EQ(chown(cabinet.c_str(), 65534, 65534), 0);
    EXPECT_EQ(Qvf({"add", cabinet, "C"}, "c").exit_code, 0);
    ASSERT_EQ(stat(cabinet.c_str(), &info), 0);
    EXPECT_EQ(info.st_uid, 65534u);
    EXPECT_EQ(info.st_gid, 65534u);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
  }
  // Nothing but the cabinets, the pipe, the links and the lock files.
  for (auto& entry : fs::directory_iterator(root))
    EXPECT_TRUE(entry.path().extension() == ".qvf" || entry.path().extension() == ".lock") << entry.path();
}

TEST(QvfWriters, AChangeMadeIsNeverReportedAsAFailure) {
  TempDir dir;
  const std::string cabinet = dir / "c.qvf";
  // The item is stored, but its path cannot be printed: status 3, and the message
  // says the change was made.
  CommandResult add =
      RunCommand(ShellQuote(qbtest::QvfPath()) + " add " + ShellQuote(cabinet) + " A >/dev/full", "a");
  EXPECT_EQ(add.exit_code, 3);
  EXPECT_NE(add.errors.find("the change was made"), std::string::npos) << add.errors;
  EXPECT_EQ(Qvf({"cat", cabinet, "A"}).output, "a");
  CommandResult mv =
      RunCommand(ShellQuote(qbtest::QvfPath()) + " mv " + ShellQuote(cabinet) + " A B >/dev/full");
  EXPECT_EQ(mv.exit_code, 3);
  EXPECT_EQ(Qvf({"cat", cabinet, "B"}).output, "a");
  // A verb that prints nothing is not troubled by a full output.
  EXPECT_EQ(
      RunCommand(ShellQuote(qbtest::QvfPath()) + " note " + ShellQuote(cabinet) + " B --set n >/dev/full")
          .exit_code,
      0);
  // A reading verb whose output fails has simply failed.
  EXPECT_EQ(
      RunCommand(ShellQuote(qbtest::QvfPath()) + " ls " + ShellQuote(cabinet) + " >/dev/full").exit_code, 1);
  // The help tells the statuses.
  EXPECT_NE(Qvf({"--help"}).output.find("3 the cabinet was"), std::string::npos);
}

}  // namespace
