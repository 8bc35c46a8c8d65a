// TReadOnlyMemoryStream: reads bytes in place, and refuses to change them.
#include "Streams.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(ReadOnlyMemoryStreamTest, ReadsAndSeeksWithinItsBytesOnly) {
  const std::string bytes = "0123456789";
  // The stream sees the middle six bytes; the canaries on both sides must never be read.
  TReadOnlyMemoryStream s(bytes.data() + 2, 6);
  EXPECT_EQ(s.Size(), 6);
  char buffer[16] = {};
  EXPECT_EQ(s.Read(buffer, 4), 4);
  EXPECT_EQ(std::string(buffer, 4), "2345");
  EXPECT_EQ(s.Read(buffer, 16), 2) << "a read stops at the end";
  EXPECT_EQ(std::string(buffer, 2), "67");
  EXPECT_EQ(s.Read(buffer, 1), 0);
  EXPECT_EQ(s.Seek(-3, TSeekOrigin::soEnd), 3);
  EXPECT_EQ(s.Read(buffer, 1), 1);
  EXPECT_EQ(buffer[0], '5');
  EXPECT_EQ(s.Seek(-5, TSeekOrigin::soCurrent), -1) << "before the start";
  EXPECT_EQ(s.Position(), 4) << "a refused seek does not move";
  EXPECT_EQ(s.Seek(10, TSeekOrigin::soBeginning), 10);
  EXPECT_EQ(s.Read(buffer, 1), 0) << "past the end there is nothing to read";
  s.SetPosition(0);
  EXPECT_THROW(s.ReadBuffer(buffer, 7), EReadError);
}

TEST(ReadOnlyMemoryStreamTest, RefusesWritingAndResizing) {
  std::string bytes = "abc";
  TReadOnlyMemoryStream s(bytes.data(), static_cast<int64_t>(bytes.size()));
  EXPECT_EQ(s.Write("x", 1), 0);
  EXPECT_THROW(s.WriteBuffer("x", 1), EWriteError);
  EXPECT_THROW(s.SetSize(1), EStreamError);
  EXPECT_EQ(bytes, "abc");
  EXPECT_EQ(s.Size(), 3);
}

}  // namespace
