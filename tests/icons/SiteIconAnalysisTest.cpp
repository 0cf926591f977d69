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

TEST(SiteIconAnalysisTest, CircularAndMostlyWhite) {
  EXPECT_EQ(analyze(solid(8, 8, kWhite)), (SiteIconAnalysis::Analysis{false, false}));
  EXPECT_TRUE(analyze(solid(9, 9, kWhite)).mostlyWhite);
  EXPECT_TRUE(analyze(badge(64)).circular);
  Image oval = badge(64);
  fillRect(oval, 0, 0, 64, 4, kClear);   // top midpoint gone
  fillRect(oval, 0, 60, 64, 4, kClear);  // bottom midpoint gone
  EXPECT_FALSE(analyze(oval).circular);
  Image edge = badge(64);
  setPixel(edge, 2, 2, Rgba{0, 0, 0, 40});  // exactly 40 is not transparent
  EXPECT_FALSE(analyze(edge).circular);
  Image mids = badge(64);
  for (auto [x, y] : {std::pair{32, 2}, std::pair{32, 61}}) setPixel(mids, x, y, Rgba{220, 30, 30, 200});
  EXPECT_FALSE(analyze(mids).circular);  // only two midpoints above 200

  Image logo = solid(48, 48, kClear);
  fillRect(logo, 0, 0, 48, 46, kWhite);
  fillRect(logo, 0, 46, 48, 2, kRed);  // white covers about 95 % of the opaque samples
  EXPECT_TRUE(analyze(logo).mostlyWhite);
  EXPECT_FALSE(analyze(solid(48, 48, kClear)).mostlyWhite);
  EXPECT_FALSE(analyze(solid(48, 48, Rgba{225, 255, 255, 255})).mostlyWhite);
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
  Image disc = solid(128, 128, kWhite);
  fillDisc(disc, 64, 64, 50, kRed);
  auto cut = contentCircle(disc);
  ASSERT_TRUE(cut);
  EXPECT_NEAR(cut->width, 100, 3);
  // A ring counts when the point a quarter down its box, on the centre column, lies on it.
  Image ring = solid(128, 128, kWhite);
  fillDisc(ring, 64, 64, 50, kRed, 20);
  EXPECT_TRUE(contentCircle(ring));
  Image thin = solid(128, 128, kWhite);
  fillDisc(thin, 64, 64, 50, kRed, 40);
  EXPECT_FALSE(contentCircle(thin));
  Image square = solid(128, 128, kWhite);
  fillRect(square, 14, 14, 100, 100, kRed);
  EXPECT_FALSE(contentCircle(square));
  Image small = solid(128, 128, kWhite);
  fillDisc(small, 64, 64, 25, kRed);
  EXPECT_FALSE(contentCircle(small));
  Image wide = solid(200, 128, kWhite);
  fillRect(wide, 10, 20, 150, 100, kRed);
  EXPECT_FALSE(contentCircle(wide));
  EXPECT_FALSE(contentCircle(solid(64, 64, kRed)));
}

TEST(SiteIconAnalysisTest, RenderingSizesAndBackgrounds) {
  Image disc = solid(128, 128, kWhite);
  fillDisc(disc, 64, 64, 50, kRed);
  auto out = render(disc, 256);
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
  EXPECT_EQ(pixel(*small, 1, 1).a, 255);
  EXPECT_EQ(pixel(*small, 1, 1).g, 255);  // white shows where the corner was transparent
  EXPECT_EQ(pixel(*small, 32, 32).g, 30);

  auto stretched = render(solid(600, 400, kRed), 256);
  EXPECT_EQ(stretched->width, 256);
  EXPECT_EQ(stretched->height, 256);
  EXPECT_EQ(pixel(*stretched, 255, 255).r, 220);
  EXPECT_EQ(render(solid(180, 180, kRed), 256)->width, 180);
}

}  // namespace
}  // namespace quib::test
