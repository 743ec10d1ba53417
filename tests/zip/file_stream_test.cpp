// The archive engine's file stream where the system lets it down: writes failing
// for want of room or with an I/O error.
#include "zip/file_stream.h"

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
