#include <gtest/gtest.h>

#include "text/DisplayText.h"
#include "text/Url.h"

namespace quib {
namespace {

TEST(DisplayTextTest, UnsafeCharactersAreReplacedAndLongNamesCut) {
  const std::string r = "\xEF\xBF\xBD";
  EXPECT_EQ(displaySafe("Jin's iPhone"), "Jin's iPhone");
  EXPECT_EQ(displaySafe("민지의 iPhone 😀"), "민지의 iPhone 😀");
  EXPECT_EQ(displaySafe("a\nb\r\tc"), "a" + r + "b" + r + r + "c");
  EXPECT_EQ(displaySafe("\x1b[2J\x1b]0;owned\x07"), r + "[2J" + r + "]0;owned" + r);
  EXPECT_EQ(displaySafe("x\xC2\x9By\x7F"), "x" + r + "y" + r);  // C1 CSI, DEL
  EXPECT_EQ(displaySafe("a\xE2\x80\xAE"
                        "b\xE2\x80\xA8"),
            "a" + r + "b" + r);  // RLO, line separator
  EXPECT_EQ(displaySafe("bad\xFF\xC3"), "bad" + r + r);
  // Long names are cut, by characters.
  EXPECT_EQ(displaySafe(std::string(80, 'a')), std::string(80, 'a'));
  EXPECT_EQ(displaySafe(std::string(81, 'a')), std::string(80, 'a') + "…");
  std::string hangul;
  for (int i = 0; i < 100; ++i) hangul += "가";
  EXPECT_EQ(displaySafe(hangul, 5), "가가가가가…");
}

// An internationalized address is one; spaces and broken escapes are not.
TEST(UrlTest, WhatReadsAsAnAddress) {
  for (const char* text : {"https://bücher.example/straße", "/relative?q=1", "a%20b"})
    EXPECT_TRUE(Url::isParseable(text)) << text;
  for (const char* text : {"", "two words", "a%2", "a%zz", "tab\there"})
    EXPECT_FALSE(Url::isParseable(text)) << text;
}

}  // namespace
}  // namespace quib
