// The archive engine's file stream where the system lets it down: the kernel's
// copy refused, writes failing for want of room or with an I/O error.
#include "zip/buffered_file.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

#include "platform/errors.h"
#include "support/test_support.h"
#include "zip/system_calls.h"

namespace qb::zip {
namespace {

using qbtest::TempDir;

// Makes every call named `call` fail with `error` while it lives.
struct FailCalls {
  FailCalls(std::string call, int error) {
    sys::SetFailureHook([call, error](const char* name) { return call == name ? error : 0; });
  }
  ~FailCalls() { sys::SetFailureHook({}); }
};

TEST(FileStream, CopyThroughTheBufferWhenTheKernelCannot) {
  TempDir dir;
  auto source_bytes = qbtest::RandomBytes((1 << 20) + 5000, 7);
  qbtest::WriteFileBytes(dir / "source", source_bytes);
  // Small and large pieces, with buffered writes before and after them, so that a
  // copy lands between bytes still in the write buffer.
  for (uint64_t length : {100ull, 5000ull, (1ull << 20) + 4000}) {
    SCOPED_TRACE(length);
    TLFNFileStream source(dir / "source", TLFNFileStream::Mode::Read);
    std::vector<uint8_t> expected = {'h', 'e', 'a', 'd'};
    expected.insert(expected.end(), source_bytes.begin() + 3, source_bytes.begin() + 3 + length);
    expected.insert(expected.end(), {'t', 'a', 'i', 'l'});
    {
      TLFNFileStream out(dir / "copy", TLFNFileStream::Mode::Create);
      ASSERT_EQ(out.Write("head", 4), 4u);
      FailCalls refuse("copy_file_range", EXDEV);
      ASSERT_EQ(out.CopyFrom(source, 3, length), length);
      ASSERT_EQ(out.Write("tail", 4), 4u);
      ASSERT_TRUE(out.Sync());
      EXPECT_EQ(out.Size(), expected.size());
    }
    EXPECT_EQ(qbtest::ReadFileBytes(dir / "copy"), expected);
  }
}

TEST(FileStream, NoRoomIsAShortWriteAndAnyOtherErrorIsAnIOError) {
  TempDir dir;
  const std::vector<uint8_t> big(20000, 'x');
  for (int error : {ENOSPC, EDQUOT, EFBIG}) {
    TLFNFileStream out(dir / "full", TLFNFileStream::Mode::Create);
    FailCalls fail("pwrite", error);
    EXPECT_EQ(out.Write(big.data(), big.size()), 0u);
    EXPECT_EQ(out.LastError(), error);
    EXPECT_FALSE(out.Sync());
  }
  {
    TLFNFileStream out(dir / "broken", TLFNFileStream::Mode::Create);
    FailCalls fail("pwrite", EIO);
    try {
      out.Write(big.data(), big.size());
      ADD_FAILURE() << "an I/O error went unreported";
    } catch (const EInOutError& e) {
      EXPECT_NE(std::string(e.what()).find(std::strerror(EIO)), std::string::npos) << e.what();
    }
  }
  {
    // The same for bytes that sat in the write buffer until the sync.
    TLFNFileStream out(dir / "late", TLFNFileStream::Mode::Create);
    ASSERT_EQ(out.Write("small", 5), 5u);
    FailCalls fail("pwrite", EIO);
    EXPECT_THROW(out.Sync(), EInOutError);
  }
  {
    TLFNFileStream out(dir / "sync", TLFNFileStream::Mode::Create);
    ASSERT_EQ(out.Write("small", 5), 5u);
    FailCalls fail("fsync", EIO);
    EXPECT_THROW(out.Sync(), EInOutError);
  }
}

}  // namespace
}  // namespace qb::zip
