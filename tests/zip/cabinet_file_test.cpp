// The file-system side of an archive update: one writer at a time, links followed,
// special, read-only and missing files told apart, owner and mode kept, stale
// temporary files cleared, and every system call of an update failing in turn
// leaving either the complete new archive or the untouched old one.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <set>

#include "support/scripted_interaction.h"
#include "support/test_support.h"
#include "zip/cabinet_file_replace.h"
#include "zip/system_calls.h"
#include "zip/zip_errors.h"
#include "zip/zip_writer.h"

namespace qb::zip {
namespace {

namespace fs = std::filesystem;
using qbtest::ReadFileBytes;
using qbtest::TempDir;

std::unique_ptr<TZipWriter> Cabinet(const std::string& path) {
  auto zip = std::make_unique<TZipWriter>();
  zip->SetSortMode(TZipSortMode::ByName);
  zip->SetStorePaths(true);
  zip->SetReplaceReadOnly(true);  // as the program sets it: about extraction only
  zip->SetZipName(path);
  if (FileExists(path)) zip->ReadDirectory();
  return zip;
}

void Add(TZipWriter& zip, const std::string& name, const std::string& data,
         const std::string& comment = "c") {
  TMemoryStream stream(data);
  if (zip.AddFromStreamWithComment(&stream, name, comment) != 1) throw std::logic_error("nothing written");
}

// A short stand-in for data: its size and first byte ("70000z").
std::string Brief(const std::string& data) {
  return std::to_string(data.size()) + data.substr(0, 1);
}

// Each entry of a cabinet, read afresh: "NAME=<Brief of its data>/COMMENT", and
// " BAD" when its CRC fails.
std::vector<std::string> Contents(const std::string& path) {
  auto zip = Cabinet(path);
  std::vector<std::string> names;
  for (int i = 0; i < zip->EntryCount(); ++i) {
    TMemoryStream out;
    int good = zip->ExtractIndexToStream(&out, i);
    names.push_back(zip->EntryFullName(i) + "=" + Brief(out.ToString()) + "/" + zip->EntryComment(i) +
                    (good == 1 ? "" : " BAD"));
  }
  return names;
}

// The names in a folder other than the writers' lock files.
std::set<std::string> FolderNames(const TempDir& dir) {
  std::set<std::string> names;
  for (auto& entry : fs::directory_iterator(dir.Path()))
    if (entry.path().extension() != ".lock") names.insert(entry.path().filename().string());
  return names;
}

// Runs body in a child process; its exit status (-1 when it did not exit).
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

// Installs a failure hook for its lifetime.
struct FailureHook {
  explicit FailureHook(sys::FailureHook hook) { sys::SetFailureHook(std::move(hook)); }
  ~FailureHook() { sys::SetFailureHook({}); }
};

TEST(CabinetFile, SpecialFilesAreRefusedWithoutBlocking) {
  TempDir dir;
  const std::string fifo = dir / "pipe.qvf";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  // Reading and updating a named pipe end at once (the child gives up after 5 s).
  EXPECT_EQ(InChild([&] {
              alarm(5);
              auto zip = Cabinet("");
              zip->SetZipName(fifo);
              try {
                zip->ReadDirectory();
                return 1;
              } catch (const EFOpenError& e) {
                if (std::string(e.what()).find("named pipe") == std::string::npos) return 2;
              }
              zip->SetZipName(fifo);  // a failed read forgets the name
              try {
                Add(*zip, "A", "a");
                return 3;
              } catch (const ECabinetRefused&) {
              }
              return 0;
            }),
            0);
  EXPECT_TRUE(fs::is_fifo(fifo));

  // A folder is no cabinet either.
  fs::create_directory(dir / "folder.qvf");
  auto in_folder = Cabinet(dir / "folder.qvf");
  EXPECT_THROW(in_folder->ReadDirectory(), EFOpenError);
  in_folder->SetZipName(dir / "folder.qvf");
  EXPECT_THROW(Add(*in_folder, "A", "a"), ECabinetRefused);
  EXPECT_TRUE(fs::is_directory(dir / "folder.qvf"));

  // A device node (only root can make one) stays a device node.
  if (geteuid() == 0) {
    const std::string device = dir / "null.qvf";
    ASSERT_EQ(mknod(device.c_str(), S_IFCHR | 0666, makedev(1, 3)), 0);
    TZipWriter zip;
    zip.SetZipName(device);
    EXPECT_THROW(zip.ReadDirectory(), EFOpenError);
    zip.SetZipName(device);
    EXPECT_THROW(Add(zip, "A", "a"), ECabinetRefused);
    EXPECT_TRUE(fs::is_character_file(device));
  }
  std::set<std::string> expected{"pipe.qvf", "folder.qvf"};
  if (geteuid() == 0) expected.insert("null.qvf");
  EXPECT_EQ(FolderNames(dir), expected);
}

TEST(CabinetFile, LinkedCabinetUpdatesTheFileItLeadsTo) {
  TempDir dir;
  fs::create_directories(dir.Path() / "real");
  fs::create_directories(dir.Path() / "links");
  const std::string real = dir / "real/c.qvf";
  Add(*Cabinet(real), "A", "a");
  // A relative link in another folder, and a link to that link.
  fs::create_symlink("../real/c.qvf", dir.Path() / "links/one.qvf");
  fs::create_symlink("one.qvf", dir.Path() / "links/two.qvf");
  Add(*Cabinet(dir / "links/one.qvf"), "B", "b");
  Add(*Cabinet(dir / "links/two.qvf"), "C", "c");
  EXPECT_TRUE(fs::is_symlink(dir.Path() / "links/one.qvf"));
  EXPECT_TRUE(fs::is_symlink(dir.Path() / "links/two.qvf"));
  EXPECT_EQ(Contents(real), (std::vector<std::string>{"A=1a/c", "B=1b/c", "C=1c/c"}));
  // The lock and the temporary file live beside the real file.
  EXPECT_TRUE(fs::exists(dir.Path() / "real/.c.qvf.lock"));
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path() / "links"), fs::directory_iterator()), 2);

  // A link that leads nowhere is refused; no cabinet appears in its place.
  fs::create_symlink("gone.qvf", dir.Path() / "links/dangling.qvf");
  auto dangling = Cabinet(dir / "links/dangling.qvf");
  try {
    Add(*dangling, "A", "a");
    ADD_FAILURE() << "a dangling link was written";
  } catch (const ECabinetRefused& e) {
    EXPECT_NE(std::string(e.what()).find("gone.qvf\", which does not exist"), std::string::npos) << e.what();
  }
  EXPECT_TRUE(fs::is_symlink(dir.Path() / "links/dangling.qvf"));
  EXPECT_FALSE(fs::exists(dir.Path() / "links/gone.qvf"));

  // A loop of links is refused.
  fs::create_symlink("loop-b.qvf", dir.Path() / "links/loop-a.qvf");
  fs::create_symlink("loop-a.qvf", dir.Path() / "links/loop-b.qvf");
  auto loop = Cabinet(dir / "links/loop-a.qvf");
  EXPECT_THROW(Add(*loop, "A", "a"), ECabinetRefused);
  EXPECT_TRUE(fs::is_symlink(dir.Path() / "links/loop-a.qvf"));
}

TEST(CabinetFile, ReadOnlyCabinetIsRefusedUntouched) {
  TempDir dir;
  const std::string path = dir / "c.qvf";
  Add(*Cabinet(path), "A", "a");
  ASSERT_EQ(chmod(path.c_str(), 0444), 0);
  const auto bytes = ReadFileBytes(path);
  auto zip = Cabinet(path);
  try {
    Add(*zip, "B", "b");
    ADD_FAILURE() << "a read-only cabinet was changed";
  } catch (const ECabinetRefused& e) {
    EXPECT_NE(std::string(e.what()).find("read-only"), std::string::npos) << e.what();
  }
  zip->SetEntryComment(0, "changed");
  EXPECT_THROW(zip->CommitChanges(), ECabinetRefused);
  EXPECT_THROW(zip->HoldCabinetLock(), ECabinetRefused);
  EXPECT_EQ(ReadFileBytes(path), bytes);
  struct stat info {};
  ASSERT_EQ(stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0444u);
}

TEST(CabinetFile, OwnerGroupAndModeAreKeptAndNewCabinetsArePrivate) {
  TempDir dir;
  const std::string path = dir / "c.qvf";
  // New cabinets hold clipboard history: 0600 whatever the umask.
  const mode_t old_umask = umask(0);
  Add(*Cabinet(path), "A", "a");
  umask(old_umask);
  struct stat info {};
  ASSERT_EQ(stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0600u);

  // A mode the user chose survives an update.
  ASSERT_EQ(chmod(path.c_str(), 0640), 0);
  Add(*Cabinet(path), "B", "b");
  ASSERT_EQ(stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0640u);

  if (geteuid() != 0) GTEST_SKIP() << "owner changes need root";
  // root updating a user's cabinet gives the new file back to the user.
  const uid_t user = 65534;
  const gid_t group = 65534;
  ASSERT_EQ(chown(path.c_str(), user, group), 0);
  Add(*Cabinet(path), "C", "c");
  ASSERT_EQ(stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_uid, user);
  EXPECT_EQ(info.st_gid, group);
  EXPECT_EQ(info.st_mode & 07777, 0640u);

  // A user who may write root's file cannot make the new file root's: refused,
  // untouched, no temporary file left.
  ASSERT_EQ(chown(path.c_str(), 0, 0), 0);
  ASSERT_EQ(chmod(path.c_str(), 0666), 0);
  ASSERT_EQ(chmod(dir.Path().c_str(), 0777), 0);
  const auto bytes = ReadFileBytes(path);
  EXPECT_EQ(InChild([&] {
              if (setgid(group) != 0 || setuid(user) != 0) return 1;
              auto zip = Cabinet(path);
              try {
                Add(*zip, "D", "d");
              } catch (const ECabinetRefused& e) {
                return std::string(e.what()).find("owner") != std::string::npos ? 0 : 2;
              }
              return 3;
            }),
            0);
  EXPECT_EQ(ReadFileBytes(path), bytes);
  ASSERT_EQ(stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_uid, 0u);
  EXPECT_EQ(FolderNames(dir), std::set<std::string>{"c.qvf"});
}

TEST(CabinetFile, StaleTemporaryFilesGoAtTheNextUpdate) {
  TempDir dir;
  const std::string path = dir / "c.qvf";
  Add(*Cabinet(path), "A", "a");
  // Left by killed writers of this cabinet; another cabinet's and a look-alike stay.
  qbtest::WriteFileText(dir / ".c.qvf.0badf00d.tmp", "old clipboard contents");
  qbtest::WriteFileText(dir / ".c.qvf.12345678.tmp", "old clipboard contents");
  qbtest::WriteFileText(dir / ".d.qvf.0badf00d.tmp", "another cabinet's");
  qbtest::WriteFileText(dir / ".c.qvf.notahex!.tmp", "not ours");
  Add(*Cabinet(path), "B", "b");
  EXPECT_EQ(FolderNames(dir), (std::set<std::string>{"c.qvf", ".d.qvf.0badf00d.tmp", ".c.qvf.notahex!.tmp"}));

  // Long names are shortened the same way for the lock and the temporary files.
  const std::string long_name(240, 'n');
  const std::string long_path = dir / (long_name + ".qvf");
  Add(*Cabinet(long_path), "A", "a");
  const std::string lock = CabinetLockPath(long_path);
  EXPECT_TRUE(fs::exists(lock));
  EXPECT_LE(fs::path(lock).filename().string().size(), 255u);
  const std::string stem = fs::path(lock).filename().string();
  const std::string stale = stem.substr(0, stem.size() - 5) + ".89abcdef.tmp";
  EXPECT_TRUE(IsCabinetTemporaryFile(long_path, stale));
  EXPECT_FALSE(IsCabinetTemporaryFile(path, stale));
  qbtest::WriteFileText(dir / stale, "x");
  Add(*Cabinet(long_path), "B", "b");
  EXPECT_FALSE(fs::exists(dir / stale));
}

TEST(CabinetFile, OneWriterAtATime) {
  TempDir dir;
  const std::string path = dir / "c.qvf";
  Add(*Cabinet(path), "A", "a");
  // A child holds the lock until told to let go.
  int ready[2], go[2];
  ASSERT_EQ(pipe(ready), 0);
  ASSERT_EQ(pipe(go), 0);
  pid_t pid = fork();
  if (pid == 0) {
    auto zip = Cabinet(path);
    zip->HoldCabinetLock();
    Add(*zip, "Held", "h");  // an update under the held lock
    char byte = 'r';
    if (write(ready[1], &byte, 1) != 1 || read(go[0], &byte, 1) != 1) _exit(1);
    Add(*zip, "Held2", "h");
    _exit(0);
  }
  char byte = 0;
  ASSERT_EQ(read(ready[0], &byte, 1), 1);
  const auto bytes = ReadFileBytes(path);
  auto zip = Cabinet(path);
  zip->SetLockWait(std::chrono::milliseconds(100));
  EXPECT_THROW(Add(*zip, "B", "b"), ECabinetBusy);
  EXPECT_THROW(zip->HoldCabinetLock(), ECabinetBusy);
  EXPECT_EQ(ReadFileBytes(path), bytes);
  EXPECT_EQ(zip->EntryCount(), 2);
  // A writer that waits long enough gets its turn once the holder lets go, and
  // reads what the holder wrote before writing.
  ASSERT_EQ(write(go[1], "g", 1), 1);
  zip->SetLockWait(std::chrono::seconds(20));
  Add(*zip, "B", "b");
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(Contents(path), (std::vector<std::string>{"A=1a/c", "B=1b/c", "Held=1h/c", "Held2=1h/c"}));
  for (int fd : {ready[0], ready[1], go[0], go[1]}) close(fd);
}

TEST(CabinetFile, ChangesAreNeverWrittenOverAnotherWritersWork) {
  TempDir dir;
  const std::string path = dir / "c.qvf";
  auto mine = Cabinet(path);
  Add(*mine, "A", "a");
  auto theirs = Cabinet(path);
  // Another writer's update in the same clock tick and of the same size is still
  // seen, and read before this writer's update.
  for (int round = 0; round < 20; ++round) {
    Add(*mine, "M" + std::to_string(round), "m");
    theirs->ReadDirectory();
    int index = 0;
    while (theirs->EntryFullName(index) != "M" + std::to_string(round)) ++index;
    theirs->SetEntryFileName(index, "T" + std::to_string(round));  // the file keeps its size
    theirs->CommitChanges();
    Add(*mine, "Z" + std::to_string(round), "z");
    auto now = Contents(path);
    ASSERT_TRUE(std::count(now.begin(), now.end(), "T" + std::to_string(round) + "=1m/c")) << round;
  }

  // Changes made in memory to a directory another writer has replaced since are
  // refused, not written over the other's work or silently dropped.
  mine->ReadDirectory();
  mine->SetEntryComment(0, "my note");
  Add(*theirs, "Theirs", "t");
  const auto bytes = ReadFileBytes(path);
  EXPECT_THROW(mine->CommitChanges(), ECabinetChanged);
  EXPECT_EQ(ReadFileBytes(path), bytes);
  mine->ReadDirectory();
  mine->SetEntrySelected(0, true);
  Add(*theirs, "Theirs2", "t");
  EXPECT_THROW(mine->RemoveEntries(), ECabinetChanged);
  EXPECT_EQ(Contents(path).size(), 43u);
}

// Every system call of an update fails in turn, once with EIO: the update either
// completes or fails with the engine's exception, leaving the old file byte for
// byte; no temporary file is left either way, and the object works afterwards.
TEST(CabinetFile, EverySystemCallOfAnUpdateFailingInTurn) {
  TempDir dir;
  const std::string path = dir / "c.qvf";
  {
    auto zip = Cabinet(path);
    Add(*zip, "Old\\One", std::string(50000, 'o'), "first");
    Add(*zip, "Old\\Two", "two", "second");
  }
  ASSERT_EQ(chmod(path.c_str(), 0640), 0);
  const auto original = ReadFileBytes(path);
  const std::vector<std::string> before = Contents(path);
  std::vector<std::string> after = before;
  after.push_back("Z=70000z/new");

  // existing: an item added to the cabinet above; otherwise a new cabinet.
  for (bool existing : {true, false}) {
    auto reset = [&] {
      for (auto& entry : fs::directory_iterator(dir.Path()))
        if (entry.path().filename() != ".c.qvf.lock") fs::remove(entry.path());
      if (existing) {
        qbtest::WriteFileBytes(path, original);
        chmod(path.c_str(), 0640);
      }
    };
    // One clean run names the calls. Some are made on a thread of the update's
    // own (the old entries are copied while they are checked): the calls of one
    // name come in the same order in every run, calls of different names may not.
    std::vector<std::string> calls;
    std::mutex calls_lock;
    reset();
    {
      auto zip = Cabinet(path);
      FailureHook hook([&](const char* call) {
        std::lock_guard<std::mutex> hold(calls_lock);
        calls.push_back(call);
        return 0;
      });
      Add(*zip, "Z", std::string(70000, 'z'), "new");
    }
    ASSERT_GT(calls.size(), 15u);
    // The folder is opened and synced after the rename; either failing is told.
    const size_t folder_sync = std::find(calls.rbegin(), calls.rend(), "fsync").base() - calls.begin() - 1;
    ASSERT_EQ(calls[folder_sync - 1], "open");

    for (int error : {EIO, ENOSPC}) {
      for (size_t n = 0; n < calls.size(); ++n) {
        if (error == ENOSPC && calls[n] != "pwrite" && calls[n] != "fsync" && calls[n] != "close") continue;
        SCOPED_TRACE((existing ? "existing, " : "new, ") + std::to_string(n) + ": " + calls[n] + " " +
                     std::strerror(error));
        reset();
        qbtest::ScriptedInteraction ui;
        auto zip = Cabinet(path);
        zip->SetInteraction(&ui);
        // The call that fails: the k-th of its name.
        const std::string& name = calls[n];
        const auto k = std::count(calls.begin(), calls.begin() + static_cast<std::ptrdiff_t>(n), name);
        std::ptrdiff_t count = 0;
        bool failed = false;
        std::string message;
        {
          FailureHook hook([&](const char* call) {
            std::lock_guard<std::mutex> hold(calls_lock);
            return name == call && count++ == k ? error : 0;
          });
          try {
            Add(*zip, "Z", std::string(70000, 'z'), "new");
          } catch (const qb::Exception& e) {
            failed = true;
            message = e.what();
          }
        }
        if (failed) {
          if (existing)
            EXPECT_EQ(ReadFileBytes(path), original);
          else
            EXPECT_FALSE(fs::exists(path));
          EXPECT_EQ(zip->EntryCount(), existing ? 2 : 0);
          // A write error is told as what it is; only a full disk is "no room".
          const bool no_room = message == "Not enough room to write archive";
          EXPECT_EQ(no_room, error == ENOSPC) << message;
          if (error == EIO) {
            EXPECT_NE(message.find(std::strerror(EIO)), std::string::npos) << message;
          }
        } else {
          EXPECT_EQ(Contents(path), existing ? after : std::vector<std::string>{after.back()});
          EXPECT_EQ(zip->EntryCount(), existing ? 3 : 1);
          struct stat info {};
          ASSERT_EQ(stat(path.c_str(), &info), 0);
          EXPECT_EQ(info.st_mode & 07777, existing ? 0640u : 0600u);
        }
        // A failed sync of the folder after the rename is told, not hidden.
        const bool folder_failed = n == folder_sync || n == folder_sync - 1;
        EXPECT_EQ(ui.Boxes().size(), folder_failed ? 1u : 0u);
        if (folder_failed) {
          EXPECT_FALSE(failed);
        }
        EXPECT_EQ(FolderNames(dir),
                  existing || !failed ? std::set<std::string>{"c.qvf"} : std::set<std::string>{});
        // The object is usable: the same update now succeeds.
        if (failed) {
          Add(*zip, "Z", std::string(70000, 'z'), "new");
          EXPECT_EQ(Contents(path), existing ? after : std::vector<std::string>{after.back()});
        }
      }
    }
  }
}

}  // namespace
}  // namespace qb::zip
