#include <gtest/gtest.h>

#include "text/DisplayText.h"

namespace quib {
namespace {

TEST(DisplayTextTest, UnsafeCharactersAreReplacedAndLongNamesCut) {
  const std::string r = "\xEF\xBF\xBD";
  EXPECT_EQ(displaySafe("민지의 iPhone 😀"), "민지의 iPhone 😀");
  EXPECT_EQ(displaySafe("\x1b[2J\x1b]0;owned\x07"), r + "[2J" + r + "]0;owned" + r);
  EXPECT_EQ(displaySafe("x\xC2\x9By\x7F"), "x" + r + "y" + r);  // C1 CSI, DEL
  EXPECT_EQ(displaySafe("a\xE2\x80\xAE"
                        "b\xE2\x80\xA8"),
            "a" + r + "b" + r);  // RLO, line separator
  EXPECT_EQ(displaySafe("bad\xFF\xC3"), "bad" + r + r);
  EXPECT_EQ(displaySafe(std::string(80, 'a')), std::string(80, 'a'));
  EXPECT_EQ(displaySafe(std::string(81, 'a')), std::string(80, 'a') + "…");
  std::string hangul;
  for (int i = 0; i < 100; ++i) hangul += "가";
  EXPECT_EQ(displaySafe(hangul, 5), "가가가가가…");
}

}  // namespace
}  // namespace quib
