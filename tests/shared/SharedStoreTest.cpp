#include <gtest/gtest.h>

#include "shared/QuibSharedStore.h"
#include "support/TempDir.h"

namespace quib {
namespace {

// A new suite, and one that cannot be opened at all (whose writes go nowhere), read the defaults.
TEST(SharedStoreTest, EmptyAndUnopenableSuitesReadDefaults) {
  test::TempDir dir;
  for (const std::filesystem::path& where : {dir.path(), std::filesystem::path("/proc/quib-cannot-exist")}) {
    QuibSharedStore s(where);
    if (where != dir.path()) {
      s.setToken("x");
      s.setLastPort(8080);
    }
    EXPECT_EQ(s.token(), std::nullopt);
    EXPECT_FALSE(s.connectionPaused());
    EXPECT_EQ(s.lastPort(), 50913);
    EXPECT_EQ(s.widgetButtonIDs(), QuibSharedStore::defaultWidgetButtons());
    EXPECT_FALSE(s.lastResult());
  }
}

TEST(SharedStoreTest, ValuesRoundTripAcrossOpens) {
  test::TempDir dir;
  QuibSharedStore s(dir.path());
  s.setToken("TOKEN");
  s.setLastHost("studio.local");
  s.setMacName("Studio");
  s.setConnectionPaused(true);
  QuibSharedStore other(dir.path());  // another process's view of the same suite
  EXPECT_EQ(other.token(), "TOKEN");
  EXPECT_EQ(other.lastHost(), "studio.local");
  EXPECT_EQ(other.macName(), "Studio");
  EXPECT_TRUE(other.connectionPaused());
  s.setToken(std::nullopt);
  EXPECT_EQ(other.token(), std::nullopt);
}

TEST(SharedStoreTest, PortRules) {
  test::TempDir dir;
  QuibSharedStore s(dir.path());
  s.setLastPort(0);
  EXPECT_EQ(s.lastPort(), 50913);
  s.setLastPort(8080);
  EXPECT_EQ(s.lastPort(), 8080);
  // Values no port can hold read as the default rather than wrapping.
  s.open()->setInteger("lastPort", 70000);
  EXPECT_EQ(s.lastPort(), 50913);
  s.open()->setInteger("lastPort", -5);
  EXPECT_EQ(s.lastPort(), 50913);
}

TEST(SharedStoreTest, WidgetButtonsAndLastResult) {
  test::TempDir dir;
  QuibSharedStore s(dir.path());
  s.setWidgetButtonIDs({});
  EXPECT_TRUE(s.widgetButtonIDs().empty());
  s.open()->set("widgetButtonIDs", DefaultsValue::of(nlohmann::json::array({"a", 2})));
  EXPECT_EQ(s.widgetButtonIDs(), QuibSharedStore::defaultWidgetButtons());

  s.open()->setString("lastWidgetResult", "orphan");
  EXPECT_FALSE(s.lastResult());  // text without a date
  const auto before = std::chrono::system_clock::now();
  s.recordResult("command c");
  auto r = s.lastResult();
  ASSERT_TRUE(r);
  EXPECT_EQ(r->text, "command c");
  EXPECT_GE(r->at + std::chrono::milliseconds(1), before);
  s.open()->setString("lastWidgetResultAt", "not a date");
  EXPECT_FALSE(s.lastResult());
}

}  // namespace
}  // namespace quib
