#include <gtest/gtest.h>

#include "icons/AppIconProvider.h"
#include "platform/virtual/Desktop.h"
#include "support/TempDir.h"
#include "support/TestImages.h"

namespace quib::test {
namespace {

Image withMargin(int side, int margin) {
  Image img = solid(side, side, kClear);
  fillRect(img, margin, margin, side - 2 * margin, side - 2 * margin, kRed);
  return img;
}

TEST(AppIconTrimTest, CropsMarginsOnlyWhereTheRulesAllow) {
  const auto trim = &AppIconProvider::trimTransparentMargins;
  Image trimmed = trim(withMargin(1024, 100));
  // Sampled every 8 pixels: the content box runs from 104 to 920.
  EXPECT_EQ(std::tuple(trimmed.width, trimmed.height, pixel(trimmed, 0, 0).a), std::tuple(817, 817, 255));

  EXPECT_EQ(trim(withMargin(32, 4)), withMargin(32, 4));  // below 33
  EXPECT_EQ(trim(withMargin(33, 4)).width, 25);
  EXPECT_EQ(trim(solid(64, 64, kClear)), solid(64, 64, kClear));
}

// A disc with one pixel changed: a corner sample must stay under alpha 30, the centre above 200.
// Such a badge goes inset on white; anything else fills the square.
TEST(AppIconTrimTest, CircularBadgesGoInsetOnWhite) {
  for (auto [x, y, alpha, circular] :
       {std::tuple{32, 32, 255, true}, {60, 60, 30, false}, {32, 32, 200, false}, {32, 32, 201, true}}) {
    Image disc = solid(64, 64, kClear);
    fillDisc(disc, 32, 32, 30, kRed);
    setPixel(disc, x, y, Rgba{220, 30, 30, static_cast<std::uint8_t>(alpha)});
    EXPECT_EQ(AppIconProvider::isCircular(disc), circular) << x << "," << y << " " << alpha;
  }
  EXPECT_FALSE(AppIconProvider::isCircular(solid(16, 16, kClear)));

  Image disc = solid(100, 100, kClear);
  fillDisc(disc, 50, 50, 50, kRed);
  auto out = AppIconProvider::render(disc, 256);
  ASSERT_TRUE(out);
  EXPECT_EQ(std::tuple(pixel(*out, 5, 5).r, pixel(*out, 5, 5).a), std::tuple(255, 255));  // white corner
  EXPECT_EQ(pixel(*out, 128, 20).g, 255);  // above the inset square (starts at 25.6)
  EXPECT_EQ(pixel(*out, 128, 30).r, 220);  // inside it, on the disc
  EXPECT_EQ(pixel(*AppIconProvider::render(solid(50, 50, kRed), 64), 0, 0).r, 220);  // fills the canvas
}

class AppIconProviderTest : public ::testing::Test {
 protected:
  TempDir root;
  VirtualDesktop desktop{root.path()};
  AppLocator apps{desktop.applications()};
  AppIconProvider provider{apps, desktop.applications()};

  void install(const std::string& name, const Image& icon) {
    const std::string path = "/Applications/" + name + ".app";
    std::filesystem::create_directories(desktop.files().onDisk(path));
    desktop.applications().setIcon(path, pngBytes(icon));
  }
};

TEST_F(AppIconProviderTest, RendersCachesAndBounds) {
  EXPECT_FALSE(provider.iconBase64("Editor", 256));  // not installed: nothing, nothing cached
  install("Editor", withMargin(512, 40));
  auto a = provider.iconBase64("Editor", 256);
  ASSERT_TRUE(a);
  EXPECT_EQ(fromBase64(*a).width, 256);
  EXPECT_EQ(pixel(fromBase64(*a), 0, 0).r, 220);  // trimmed to the content
  auto side = [&](double size) { return fromBase64(provider.iconBase64("Editor", size)).width; };
  EXPECT_EQ(side(100.9), 100);
  // Cached: a new icon on disk is not picked up for a size already rendered.
  desktop.applications().setIcon("/Applications/Editor.app", pngBytes(solid(8, 8, kWhite)));
  EXPECT_EQ(provider.iconBase64("Editor", 256), a);
  EXPECT_EQ(side(5000), AppIconProvider::kMaxSize);
  for (double bad : {0.0, -3.0, std::nan("")}) EXPECT_FALSE(provider.iconBase64("Editor", bad)) << bad;
}

TEST(BoundedCacheTest, BoundedInBytesDroppingTheLeastRecentlyUsed) {
  BoundedCache<std::string> cache(100, 30);  // keys and values counted
  cache.put("a", std::string(9, 'x'));       // 10 bytes
  cache.put("b", std::string(9, 'x'));
  cache.put("c", std::string(9, 'x'));
  EXPECT_TRUE(cache.get("a"));  // now the most recent
  cache.put("d", std::string(9, 'x'));
  EXPECT_FALSE(cache.get("b"));
  EXPECT_TRUE(cache.get("a") && cache.get("c") && cache.get("d"));
  EXPECT_EQ(cache.bytes(), 30u);
  cache.put("a", std::string(19, 'y'));  // replacing counts the new size only
  EXPECT_LE(cache.bytes(), 30u);
  EXPECT_EQ(cache.get("a"), std::string(19, 'y'));
  cache.put("huge", std::string(100, 'z'));  // larger than the whole bound: not kept, nothing lost
  EXPECT_FALSE(cache.get("huge"));
  EXPECT_EQ(cache.get("a"), std::string(19, 'y'));
}

}  // namespace
}  // namespace quib::test
