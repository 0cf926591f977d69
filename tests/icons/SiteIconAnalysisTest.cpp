#include <gtest/gtest.h>

#include "icons/SiteIconAnalysis.h"
#include "support/TestImages.h"

namespace quib::test {
namespace {

using SiteIconAnalysis::analyze;
using SiteIconAnalysis::contentCircle;
using SiteIconAnalysis::render;

// Transparent corners, opaque edge midpoints.
Image badge(int side) {
  Image img = solid(side, side, kClear);
  fillDisc(img, side / 2.0, side / 2.0, side / 2.0, kRed);
  return img;
}

Image discOnWhite(double radius, double hole = 0) {
  Image img = solid(128, 128, kWhite);
  fillDisc(img, 64, 64, radius, kRed, hole);
  return img;
}

TEST(SiteIconAnalysisTest, CircularAndMostlyWhite) {
  Image oval = badge(64);
  fillRect(oval, 0, 0, 64, 4, kClear);   // top midpoint gone
  fillRect(oval, 0, 60, 64, 4, kClear);  // bottom midpoint gone
  const std::tuple<const char*, Image, SiteIconAnalysis::Analysis> cases[] = {
      {"8 x 8 white", solid(8, 8, kWhite), {false, false}},  // too small to judge
      {"9 x 9 white", solid(9, 9, kWhite), {false, true}},
      {"badge", badge(64), {true, false}},
      {"oval", oval, {false, false}},
  };
  for (const auto& [name, image, analysis] : cases) EXPECT_EQ(analyze(image), analysis) << name;
}

// Discs and rings are found, not squares or small ones, and enlarged; other pictures fill the square,
// on white where their edges are transparent.
TEST(SiteIconAnalysisTest, CirclesAndBackgrounds) {
  auto cut = contentCircle(discOnWhite(50));
  ASSERT_TRUE(cut);
  EXPECT_NEAR(cut->width, 100, 3);
  // A ring counts when the point a quarter down its box, on the centre column, lies on it.
  EXPECT_TRUE(contentCircle(discOnWhite(50, 20)));
  EXPECT_FALSE(contentCircle(discOnWhite(25)));
  Image square = solid(128, 128, kWhite);
  fillRect(square, 14, 14, 100, 100, kRed);
  EXPECT_FALSE(contentCircle(square));

  auto out = render(discOnWhite(50), 256);
  ASSERT_TRUE(out);
  EXPECT_EQ(out->width, 128);
  for (auto [x, y] : {std::pair{0, 0}, std::pair{127, 0}, std::pair{0, 127}, std::pair{127, 127}})
    EXPECT_EQ(pixel(*out, x, y).r, 220) << x << "," << y;  // enlarged 1.45: no white corners left

  // A square logo with transparent corners: enlarged to 64, white where the corners were.
  Image favicon = solid(32, 32, kRed);
  for (auto [x, y] : {std::pair{0, 0}, std::pair{29, 0}, std::pair{0, 29}, std::pair{29, 29}})
    fillRect(favicon, x, y, 3, 3, kClear);
  auto small = render(favicon, 256);
  EXPECT_EQ(small->width, 64);
  EXPECT_EQ(std::tuple(pixel(*small, 1, 1).a, pixel(*small, 1, 1).g), std::tuple(255, 255));
  EXPECT_EQ(pixel(*small, 32, 32).g, 30);
}

}  // namespace
}  // namespace quib::test
