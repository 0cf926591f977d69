#include <gtest/gtest.h>

#include <fstream>

#include "icons/Canvas.h"
#include "icons/ImageCodec.h"
#include "support/TempDir.h"
#include "support/TestImages.h"

namespace quib::test {
namespace {

TEST(ImageCodecTest, PngRoundTripKeepsPremultipliedPixels) {
  Image img = solid(5, 3, kClear);
  setPixel(img, 0, 0, kRed);
  setPixel(img, 4, 2, Rgba{0, 0, 255, 128});
  auto decoded = ImageCodec::decode(pngBytes(img));
  ASSERT_TRUE(decoded);
  EXPECT_EQ(decoded->width, 5);
  EXPECT_EQ(decoded->height, 3);
  EXPECT_EQ(pixel(*decoded, 0, 0).r, 220);
  EXPECT_EQ(pixel(*decoded, 4, 2).a, 128);
  EXPECT_NEAR(pixel(*decoded, 4, 2).b, 128, 1);  // premultiplied
  EXPECT_EQ(pixel(*decoded, 1, 1).a, 0);
}

TEST(ImageCodecTest, RefusesGarbageOtherFormatsAndHugeDeclaredSizes) {
  EXPECT_FALSE(ImageCodec::decode(""));
  EXPECT_FALSE(ImageCodec::decode("not an image at all"));
  // XPM is a format gdk-pixbuf knows but icons never need.
  EXPECT_FALSE(ImageCodec::decode("/* XPM */\nstatic char * x[] = {\"1 1 1 1\", \". c #FF0000\", \".\"};\n"));
  // A BMP header that declares 5000 x 5000 pixels and carries none of them.
  std::string bmp(54, '\0');
  auto put32 = [&](int at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) bmp[at + i] = static_cast<char>(v >> (8 * i));
  };
  bmp[0] = 'B';
  bmp[1] = 'M';
  put32(2, 54 + 5000u * 5000u * 3);
  put32(10, 54);
  put32(14, 40);
  put32(18, 5000);
  put32(22, 5000);
  bmp[26] = 1;
  bmp[28] = 24;
  EXPECT_FALSE(ImageCodec::decode(bmp));
  EXPECT_FALSE(
      ImageCodec::decode(R"(<svg xmlns="http://www.w3.org/2000/svg" width="20000" height="20000"/>)"));
}

TEST(ImageCodecTest, SvgRendersButCannotReadLocalFiles) {
  auto square = ImageCodec::decode(
      R"(<svg xmlns="http://www.w3.org/2000/svg" width="20" height="10"><rect width="20" height="10" fill="#00ff00"/></svg>)");
  ASSERT_TRUE(square);
  EXPECT_EQ(square->width, 20);
  EXPECT_EQ(pixel(*square, 10, 5).g, 255);

  TempDir dir;
  const auto red = dir.path() / "red.png";
  std::ofstream(red, std::ios::binary) << pngBytes(solid(10, 10, kRed));
  const std::string svg =
      R"(<svg xmlns="http://www.w3.org/2000/svg" xmlns:xlink="http://www.w3.org/1999/xlink" )"
      R"(width="10" height="10"><image width="10" height="10" xlink:href="file://)" +
      red.string() + R"("/></svg>)";
  auto decoded = ImageCodec::decode(svg);
  if (decoded) {
    EXPECT_EQ(pixel(*decoded, 5, 5).a, 0);  // the local file was not drawn
  }
}

TEST(CanvasTest, DrawScalesAndWhiteFills) {
  auto canvas = Canvas::create(4, 4);
  ASSERT_TRUE(canvas);
  EXPECT_EQ(pixel(canvas->image(), 0, 0).a, 0);
  canvas->draw(solid(1, 1, kRed), {0, 0, 2, 4});
  auto img = canvas->image();
  EXPECT_EQ(pixel(img, 1, 3).r, 220);
  EXPECT_EQ(pixel(img, 3, 3).a, 0);
  canvas->fillWhite();
  EXPECT_EQ(pixel(canvas->image(), 3, 3).r, 255);
  EXPECT_FALSE(Canvas::create(0, 5));
  auto cut = crop(img, 1, 1, 10, 10);
  ASSERT_TRUE(cut);
  EXPECT_EQ(cut->width, 3);
  EXPECT_FALSE(crop(img, 10, 10, 2, 2));
}

}  // namespace
}  // namespace quib::test
