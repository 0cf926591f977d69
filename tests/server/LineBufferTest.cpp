#include <gtest/gtest.h>

#include "server/LineBuffer.h"

namespace quib {
namespace {

using Lines = std::vector<std::string>;

TEST(LineBufferTest, SplitsAcrossChunks) {
  LineBuffer b;
  EXPECT_EQ(b.append("one\ntw"), Lines{"one"});
  EXPECT_EQ(b.append("o\n"), Lines{"two"});
  EXPECT_EQ(b.append("a\nb\nc"), (Lines{"a", "b"}));
  EXPECT_EQ(b.append("\n"), Lines{"c"});
  EXPECT_EQ(b.pendingBytes(), 0u);
}

TEST(LineBufferTest, DropsEmptyLinesKeepsCarriageReturn) {
  LineBuffer b;
  EXPECT_EQ(b.append("\n\n\n"), Lines{});
  EXPECT_EQ(b.pendingBytes(), 0u);
  EXPECT_EQ(b.append("x\r\n\ny\n"), (Lines{"x\r", "y"}));
}

TEST(LineBufferTest, ManyLinesInOneChunk) {
  LineBuffer b;
  std::string chunk;
  for (int i = 0; i < 10000; ++i) chunk += std::to_string(i) + "\n";
  chunk += "tail";
  auto lines = b.append(chunk);
  ASSERT_EQ(lines.size(), 10000u);
  EXPECT_EQ(lines.front(), "0");
  EXPECT_EQ(lines.back(), "9999");
  EXPECT_EQ(b.pendingBytes(), 4u);
}

TEST(LineBufferTest, OversizedLineIsDroppedAndReportedOnce) {
  LineBuffer b(16);
  Lines lines;
  int oversized = 0;
  auto feed = [&](std::string_view data) {
    b.append(
        data, [&](std::string_view l) { lines.emplace_back(l); }, [&] { ++oversized; });
  };
  feed("ok\n0123456789");
  feed("0123456789");  // past the cap: dropped, tail memory released
  EXPECT_EQ(oversized, 1);
  EXPECT_EQ(b.pendingBytes(), 0u);
  feed(std::string(100000, 'x'));  // still the same line
  EXPECT_EQ(oversized, 1);
  feed("rest\nafter\n");
  EXPECT_EQ(lines, (Lines{"ok", "after"}));
  feed(std::string(17, 'y') + "\nz\n");  // an oversized line complete in one chunk
  EXPECT_EQ(oversized, 2);
  EXPECT_EQ(lines.back(), "z");
  feed(std::string(16, 'w') + "\n");  // exactly at the cap is fine
  EXPECT_EQ(lines.back(), std::string(16, 'w'));
}

}  // namespace
}  // namespace quib
