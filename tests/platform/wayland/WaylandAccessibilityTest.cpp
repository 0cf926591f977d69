// Trust follows the input sink: refused until it is ready, and the menu's prompt asks it again
// (a portal sink shows its consent dialog then); a lost compositor connection is said as such.
#include <gtest/gtest.h>

#include "platform/wayland/Accessibility.h"

namespace quib::test {
namespace {

// A sink whose desktop grants access on the second request.
class ConsentingSink final : public InputSink {
 public:
  int requests = 0;
  bool ready() override { return requests >= 2; }
  void requestAccess() override { ++requests; }
  std::string whyNot() override { return ready() ? "" : "waiting for consent"; }
  std::string describe() override { return "test sink"; }
  bool key(std::uint32_t, bool) override { return ready(); }
  bool motionRelative(double, double) override { return ready(); }
  bool motionAbsolute(double, double) override { return false; }
  bool button(std::uint32_t, bool) override { return ready(); }
  bool axisSteps(Axis, int) override { return ready(); }
  std::optional<bool> typeText(const std::string&) override { return ready(); }
};

TEST(WaylandAccessibilityTest, TrustFollowsTheSinkAndThePromptAsksItAgain) {
  ConsentingSink sink;
  WaylandAccessibility accessibility(&sink);
  int changes = 0;
  accessibility.setOnChange([&] { ++changes; });
  EXPECT_FALSE(accessibility.isTrusted());
  EXPECT_EQ(sink.requests, 0);  // asking is the menu's, not the start's
  EXPECT_FALSE(accessibility.isTrustedPrompting());
  EXPECT_EQ(sink.requests, 1);
  EXPECT_TRUE(accessibility.isTrustedPrompting());
  EXPECT_TRUE(accessibility.isTrusted());
  EXPECT_TRUE(accessibility.isTrustedPrompting());
  EXPECT_EQ(sink.requests, 2);  // granted: nothing more is asked
  accessibility.refresh();
  EXPECT_EQ(changes, 1);  // told once, when the grant arrived
  sink.requests = 0;      // the desktop ended the session
  accessibility.refresh();
  EXPECT_EQ(changes, 2);

  WaylandAccessibility without(nullptr);
  EXPECT_FALSE(without.isTrusted());
  EXPECT_FALSE(without.isTrustedPrompting());

  // A lost compositor connection is no permission to ask for: the menu says what happened.
  bool lost = false;
  WaylandAccessibility cut(nullptr, [&] { return lost; });
  EXPECT_EQ(cut.problem(), "");
  lost = true;
  cut.refresh();
  EXPECT_EQ(cut.problem(), "디스플레이 서버와의 연결이 끊어졌습니다 (프로그램을 다시 시작하세요)");
  EXPECT_TRUE(cut.isTrusted()) << "actions answer that their events failed, not that permission is missing";
}

}  // namespace
}  // namespace quib::test
