#include <gtest/gtest.h>

#include "DesktopFixture.h"
#include "platform/linux/Workspace.h"

namespace quib {
namespace {

TEST(LinuxWorkspace, OpensAddressesWithTheDefaultHandlerAndRefusesUnhandledSchemes) {
  const auto& fixture = test::DesktopFixture::get();
  LinuxWorkspace workspace(ChildLimits{777});
  ASSERT_TRUE(workspace.openURL("https://example.test/a?b=c"));
  EXPECT_EQ(fixture.waitForLaunch("browser"), "https://example.test/a?b=c");
  // The handler gets the descriptor limit the program started with, not the one it raised.
  EXPECT_EQ(fixture.launchedLimit("browser"), "777");

  EXPECT_FALSE(workspace.openURL("quibnothing://x"));
  EXPECT_FALSE(workspace.openURL("no scheme here"));
  EXPECT_FALSE(workspace.openURL(""));
  EXPECT_FALSE(workspace.openURL("https://\xff"));
}

}  // namespace
}  // namespace quib
