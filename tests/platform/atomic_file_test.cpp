// Replacing a file whole or not at all: the new content arrives complete, and a
// write that fails at any step leaves the old file as it was and no temporary
// file behind.
#include "platform/atomic_file.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/errors.h"
#include "support/test_support.h"

namespace {

namespace fs = std::filesystem;
using qb::WriteFileAtomically;

std::vector<std::string> Names(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

unsigned ModeOf(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
  return st.st_mode & 07777;
}

TEST(AtomicFile, ReplacesTheFileWholeWithTheAskedMode) {
  qbtest::TempDir dir;
  const std::string path = dir / "settings.ini";
  ASSERT_FALSE(WriteFileAtomically(path, "first\n", 0600));
  EXPECT_EQ(qbtest::ReadFileText(path), "first\n");
  EXPECT_EQ(ModeOf(path), 0600u);

  const std::string big(3 << 20, 'x');  // more than one write() may take
  ASSERT_FALSE(WriteFileAtomically(path, big, 0644));
  EXPECT_EQ(qbtest::ReadFileText(path), big);
  EXPECT_EQ(ModeOf(path), 0644u);
  ASSERT_FALSE(WriteFileAtomically(path, ""));
  EXPECT_EQ(qbtest::ReadFileText(path), "");

  // A link at the path is replaced, not written through.
  const std::string target = dir / "target";
  qbtest::WriteFileText(target, "target");
  fs::create_symlink(target, dir / "link");
  ASSERT_FALSE(WriteFileAtomically(dir / "link", "new"));
  EXPECT_FALSE(fs::is_symlink(dir / "link"));
  EXPECT_EQ(qbtest::ReadFileText(target), "target");
  EXPECT_EQ(Names(dir.Path()), (std::vector<std::string>{"link", "settings.ini", "target"}));
}

// The write itself fails part-way (the process may write no more than 1000 bytes
// to a file): the error is reported, the old file is whole, no temporary is left.
TEST(AtomicFile, AFailingWriteLeavesTheOldFileWhole) {
  qbtest::TempDir dir;
  const std::string path = dir / "settings.ini";
  const std::string old_text(600, 'o');
  ASSERT_FALSE(WriteFileAtomically(path, old_text));

  struct rlimit saved {};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
  auto* const old_handler = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = saved;
  small.rlim_cur = 1000;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  const std::error_code ec = WriteFileAtomically(path, std::string(5000, 'n'));
  ::setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, old_handler);

  EXPECT_EQ(ec, std::errc::file_too_large);
  EXPECT_EQ(qbtest::ReadFileText(path), old_text);
  EXPECT_EQ(Names(dir.Path()), (std::vector<std::string>{"settings.ini"}));

  // The same through the throwing form, whose message names the file.
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  std::signal(SIGXFSZ, SIG_IGN);
  std::string message;
  try {
    qb::WriteFileAtomicallyOrThrow(path, std::string(5000, 'n'), "settings file");
  } catch (const qb::EInOutError& e) {
    message = e.what();
  }
  ::setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, old_handler);
  EXPECT_EQ(message.rfind("Could not write the settings file \"" + path + "\": ", 0), 0u) << message;
  EXPECT_EQ(qbtest::ReadFileText(path), old_text);
  EXPECT_EQ(Names(dir.Path()), (std::vector<std::string>{"settings.ini"}));
}

// The other steps that can fail: no folder to create the temporary in, a folder
// where the file would go (the rename fails), an unusable path.
TEST(AtomicFile, TheOtherFailuresLeaveNothingBehind) {
  qbtest::TempDir dir;
  EXPECT_EQ(WriteFileAtomically(dir / "missing/settings.ini", "x"), std::errc::no_such_file_or_directory);
  fs::create_directories(dir / "taken");
  qbtest::WriteFileText(dir / "taken/inside", "kept");
  EXPECT_TRUE(WriteFileAtomically(dir / "taken", "x"));
  EXPECT_EQ(qbtest::ReadFileText(dir / "taken/inside"), "kept");
  EXPECT_EQ(WriteFileAtomically("", "x"), std::errc::invalid_argument);
  EXPECT_EQ(WriteFileAtomically(std::string("a\0b", 3), "x"), std::errc::invalid_argument);
  EXPECT_EQ(Names(dir.Path()), (std::vector<std::string>{"taken"}));
}

}  // namespace
