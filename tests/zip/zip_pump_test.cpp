// The window's messages during a long update: old entries are copied in pieces
// with the message pump running between them, and the result is whole.
#include <gtest/gtest.h>

#include "support/test_support.h"
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

}  // namespace
}  // namespace qb::zip
