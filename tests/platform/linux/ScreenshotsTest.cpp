#include <gtest/gtest.h>

#include "platform/linux/Screenshots.h"

namespace quib {
namespace {

// No portal on the bus: the fallback decides, and one that fails is no start.
TEST(LinuxScreenshots, WithoutThePortalTheFallbackDecides) {
  int fallbacks = 0;
  bool fallbackWorks = true;
  LinuxScreenshots shots([&] {
    ++fallbacks;
    return fallbackWorks;
  });
  EXPECT_EQ(shots.startRegionScreenshot(), Screenshots::Start::started);
  EXPECT_EQ(fallbacks, 1);
  fallbackWorks = false;
  EXPECT_EQ(shots.startRegionScreenshot(), Screenshots::Start::failed);
  EXPECT_EQ(LinuxScreenshots(nullptr).startRegionScreenshot(), Screenshots::Start::failed);
}

}  // namespace
}  // namespace quib
