#include "platform/memory_stream.h"

#include <gtest/gtest.h>

namespace qb {
namespace {

TEST(MemoryStream, WritesGrowAndReadsStopAtTheEnd) {
  TMemoryStream s;
  EXPECT_EQ(s.Write("abc", 3), 3u);
  s.SetPosition(5);  // a gap is filled with zeros on the next write
  s.Write("z", 1);
  EXPECT_EQ(s.ToString(), std::string("abc\0\0z", 6));
  s.SetPosition(4);
  char buf[8] = {};
  EXPECT_EQ(s.Read(buf, sizeof buf), 2u);
  EXPECT_EQ(s.Read(buf, sizeof buf), 0u);
  s.SetSize(2);
  EXPECT_EQ(s.Position(), 2u);
  EXPECT_EQ(s.ToString(), "ab");
}

}  // namespace
}  // namespace qb
