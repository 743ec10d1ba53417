// The window's messages during a long update: old entries are copied in pieces
// with the message pump running between them, and the result is whole.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

#include "support/test_support.h"
#include "zip/system_calls.h"
#include "zip/zip_errors.h"
#include "zip/zip_writer.h"

namespace qb::zip {
namespace {

TEST(ZipPump, ALongRunOfOldEntriesIsCopiedInPiecesWithThePumpBetween) {
  qbtest::TempDir dir;
  const std::string path = dir / "big.qvf";
  const std::vector<uint8_t> blob = qbtest::RandomBytes(10u << 20, 7);  // does not compress: stored
  {
    TZipWriter zip;
    zip.SetZipName(path);
    TMemoryStream a(blob), b(std::string_view("small"));
    ASSERT_EQ(zip.AddFromStream(&a, "Blob"), 1);
    ASSERT_EQ(zip.AddFromStream(&b, "Second"), 1);
  }
  TZipWriter zip;
  zip.SetZipName(path);
  zip.ReadDirectory();
  // Count the pumps while the two old entries (one run of about 10 MB) are copied
  // ahead of the new one.
  int pumps = 0;
  zip.SetMessagePump([&] { ++pumps; });
  TMemoryStream c(std::string_view("new"));
  ASSERT_EQ(zip.AddFromStream(&c, "New"), 1);
  EXPECT_GE(pumps, 4) << pumps;  // three pieces of at most 4 MB, and the new entry

  TZipReader check;
  check.SetZipName(path);
  check.ReadDirectory();
  ASSERT_EQ(check.EntryCount(), 3);
  TMemoryStream out;
  ASSERT_EQ(check.ExtractToStream(&out, "Blob"), 1);
  EXPECT_TRUE(out.Size() == blob.size() && std::equal(blob.begin(), blob.end(), out.Bytes().begin()));
  out.Clear();
  ASSERT_EQ(check.ExtractToStream(&out, "New"), 1);
  EXPECT_EQ(out.ToString(), "new");
}

// With a message pump, a large item is checksummed, compressed and written, and
// old entries are copied, on a worker thread while the pump runs; what fails
// there fails the update as it would on the calling thread.
TEST(ZipPump, LargeWorkRunsOnAWorkerAndItsFailuresAreTheUpdatesOwn) {
  qbtest::TempDir dir;
  const std::string path = dir / "big.qvf";
  const std::vector<uint8_t> blob = qbtest::RandomBytes(6u << 20, 8);
  const std::vector<uint8_t> text = qbtest::TextLikeBytes(3u << 20, 9);
  TZipWriter zip;
  zip.SetZipName(path);
  int pumps_while_working = 0;
  zip.SetMessagePump([&] { pumps_while_working += zip.WorkerRunning() ? 1 : 0; });
  TMemoryStream a(blob);
  ASSERT_EQ(zip.AddFromStream(&a, "Blob"), 1);
  EXPECT_GT(pumps_while_working, 0);
  const auto before = qbtest::ReadFileBytes(path);

  // No room: the worker's write fails, the update with it.
  sys::SetFailureHook([](const char* name) { return std::strcmp(name, "pwrite") == 0 ? ENOSPC : 0; });
  TMemoryStream b(text);
  EXPECT_THROW(zip.AddFromStream(&b, "Text"), ENotEnoughRoom);
  sys::SetFailureHook({});
  EXPECT_EQ(qbtest::ReadFileBytes(path), before);
  EXPECT_EQ(zip.EntryCount(), 1);
  // The kernel cannot copy: the worker copies through a buffer instead.
  sys::SetFailureHook([](const char* name) { return std::strcmp(name, "copy_file_range") == 0 ? EXDEV : 0; });
  pumps_while_working = 0;
  ASSERT_EQ(zip.AddFromStream(&b, "Text"), 1);
  sys::SetFailureHook({});
  EXPECT_GT(pumps_while_working, 0);
  EXPECT_FALSE(zip.WorkerRunning());
  TZipReader check;
  check.SetZipName(path);
  TMemoryStream out;
  ASSERT_EQ(check.ExtractToStream(&out, "Text"), 1);
  EXPECT_TRUE(out.Bytes() == text);
  out.Clear();
  ASSERT_EQ(check.ExtractToStream(&out, "Blob"), 1);
  EXPECT_TRUE(out.Bytes() == blob);
}

// Reading a large directory whole dispatches the window's messages as it goes,
// unless the reader is told not to; the directory read is the same either way.
TEST(ZipPump, AWholeDirectoryReadDispatchesTheMessagesAsItGoes) {
  qbtest::TempDir dir;
  const std::string path = dir / "many.qvf";
  {
    TZipWriter zip;
    zip.SetZipName(path);
    zip.SetStorePaths(true);
    TMemoryStream one(std::string_view("x"));
    ASSERT_EQ(zip.AddFromStream(&one, "Item0"), 1);
    TStoredEntry stored;
    ASSERT_EQ(zip.ReadStoredEntry("Item0", stored), "");
    std::vector<TStoredEntry> batch(12000, stored);
    for (size_t i = 0; i < batch.size(); ++i) {
      batch[i].record.path = "Drawer" + std::to_string(i % 7) + "\\";
      batch[i].record.file_name = "Item" + std::to_string(i + 1);
      batch[i].record.stored_name.reset();
    }
    ASSERT_EQ(zip.AddStoredEntries(batch), 12000);
  }
  for (bool dispatch : {true, false}) {
    TZipReader zip;
    int pumps = 0;
    zip.SetMessagePump([&] { ++pumps; });
    zip.SetDoProcessMessages(dispatch);
    zip.SetZipName(path);
    zip.ReadDirectory();
    ASSERT_EQ(zip.EntryCount(), 12001);
    EXPECT_EQ(zip.EntryFullName(12000), "Drawer1\\Item12000");  // 11999 % 7
    if (dispatch)
      EXPECT_GE(pumps, 2);
    else
      EXPECT_EQ(pumps, 0);
  }
}

}  // namespace
}  // namespace qb::zip
