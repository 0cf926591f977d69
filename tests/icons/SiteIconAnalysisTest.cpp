#include <gtest/gtest.h>

#include "icons/SiteIconAnalysis.h"
#include "support/TestImages.h"

namespace quib::test {
namespace {

using SiteIconAnalysis::analyze;
using SiteIconAnalysis::contentCircle;
using SiteIconAnalysis::hasTransparentEdges;
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
  Image oval = badge(64), edge = badge(64), mids = badge(64), logo = solid(48, 48, kClear);
  fillRect(oval, 0, 0, 64, 4, kClear);      // top midpoint gone
  fillRect(oval, 0, 60, 64, 4, kClear);     // bottom midpoint gone
  setPixel(edge, 2, 2, Rgba{0, 0, 0, 40});  // exactly 40 is not transparent
  for (auto [x, y] : {std::pair{32, 2}, std::pair{32, 61}}) setPixel(mids, x, y, Rgba{220, 30, 30, 200});
  fillRect(logo, 0, 0, 48, 46, kWhite);
  fillRect(logo, 0, 46, 48, 2, kRed);  // white covers about 95 % of the opaque samples
  const std::tuple<const char*, Image, SiteIconAnalysis::Analysis> cases[] = {
      {"8 x 8 white", solid(8, 8, kWhite), {false, false}},  // too small to judge
      {"9 x 9 white", solid(9, 9, kWhite), {false, true}},
      {"badge", badge(64), {true, false}},
      {"oval", oval, {false, false}},
      {"edge", edge, {false, false}},
      {"two midpoints above 200", mids, {false, false}},
      {"logo", logo, {false, true}},
      {"clear", solid(48, 48, kClear), {false, false}},
      {"off-white", solid(48, 48, Rgba{225, 255, 255, 255}), {false, false}},
  };
  for (const auto& [name, image, analysis] : cases) EXPECT_EQ(analyze(image), analysis) << name;
}

TEST(SiteIconAnalysisTest, TransparentEdges) {
  Image one = solid(20, 20, kRed);
  setPixel(one, 2, 2, kClear);
  EXPECT_FALSE(hasTransparentEdges(one));
  setPixel(one, 17, 2, kClear);
  EXPECT_TRUE(hasTransparentEdges(one));
  EXPECT_FALSE(hasTransparentEdges(solid(4, 4, kClear)));
}

TEST(SiteIconAnalysisTest, FindsDiscsAndRingsNotSquaresOrSmallOnes) {
  auto cut = contentCircle(discOnWhite(50));
  ASSERT_TRUE(cut);
  EXPECT_NEAR(cut->width, 100, 3);
  // A ring counts when the point a quarter down its box, on the centre column, lies on it.
  EXPECT_TRUE(contentCircle(discOnWhite(50, 20)));
  EXPECT_FALSE(contentCircle(discOnWhite(50, 40)));
  EXPECT_FALSE(contentCircle(discOnWhite(25)));
  Image square = solid(128, 128, kWhite);
  fillRect(square, 14, 14, 100, 100, kRed);
  EXPECT_FALSE(contentCircle(square));
  Image wide = solid(200, 128, kWhite);
  fillRect(wide, 10, 20, 150, 100, kRed);
  EXPECT_FALSE(contentCircle(wide));
  EXPECT_FALSE(contentCircle(solid(64, 64, kRed)));
}

TEST(SiteIconAnalysisTest, RenderingSizesAndBackgrounds) {
  auto out = render(discOnWhite(50), 256);
  ASSERT_TRUE(out);
  EXPECT_EQ(out->width, 128);
  for (auto [x, y] : {std::pair{0, 0}, std::pair{127, 0}, std::pair{0, 127}, std::pair{127, 127}})
    EXPECT_EQ(pixel(*out, x, y).r, 220) << x << "," << y;  // enlarged 1.45: no white corners left

  // Transparent corners, a square logo (not a circle): enlarged to 64 on a white square.
  Image favicon = solid(32, 32, kRed);
  for (auto [x, y] : {std::pair{0, 0}, std::pair{29, 0}, std::pair{0, 29}, std::pair{29, 29}})
    fillRect(favicon, x, y, 3, 3, kClear);
  EXPECT_FALSE(contentCircle(favicon));
  auto small = render(favicon, 256);
  EXPECT_EQ(small->width, 64);
  // White shows where the corner was transparent.
  EXPECT_EQ(std::tuple(pixel(*small, 1, 1).a, pixel(*small, 1, 1).g), std::tuple(255, 255));
  EXPECT_EQ(pixel(*small, 32, 32).g, 30);

  auto stretched = render(solid(600, 400, kRed), 256);
  EXPECT_EQ(std::tuple(stretched->width, stretched->height), std::tuple(256, 256));
  EXPECT_EQ(pixel(*stretched, 255, 255).r, 220);
  EXPECT_EQ(render(solid(180, 180, kRed), 256)->width, 180);
}

}  // namespace
}  // namespace quib::test
