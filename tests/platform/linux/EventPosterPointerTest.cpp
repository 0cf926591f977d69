// Pointer moves, clicks, drags and wheel clicks posted through XTest, read back by the recorder
// window and xdotool; and when input counts as trusted.
#include <gtest/gtest.h>

#include "DesktopTools.h"
#include "actions/ActionExecutor.h"

namespace quib {

namespace {

using test::linesStarting;
using test::shell;

QuibAction action(QuibActionKind kind, std::optional<double> dx = {}, std::optional<double> dy = {},
                  std::optional<std::string> value = {}) {
  QuibAction a;
  a.kind = kind;
  a.dx = dx;
  a.dy = dy;
  a.value = std::move(value);
  return a;
}

LinuxEventPosterOptions timedBy(const Clock& clock) {
  LinuxEventPosterOptions options;
  options.clock = &clock;
  return options;
}

class LinuxEventPointer : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(test::testDisplay(), nullptr) << "no X display";
    shell("xdotool mousemove 100 100");
  }
  // As the server does after each burst of actions, so held-back moves reach the display.
  ActionResult perform(const QuibAction& a) {
    ActionResult result = executor.perform(a);
    in.events.flush();
    return result;
  }
  // Our own last motion stands for the pointer's place for a few milliseconds: time moves by hand here.
  ManualClock clock;
  test::X11Input in{timedBy(clock)};
  ActionExecutor executor{in.platform(), in.queue};
};

}  // namespace

TEST_F(LinuxEventPointer, MovesStartAtTheRealPointerAndABurstArrivesAsItsLastPlace) {
  test::Recorder recorder;
  EXPECT_EQ(in.events.pointerLocation(), (Point{100, 100}));
  for (int i = 0; i < 5; ++i) executor.perform(action(QuibActionKind::pointerMove, 10, 0));
  // Someone asking where the pointer is sees the held-back move already made.
  EXPECT_EQ(in.events.pointerLocation(), (Point{150, 100}));
  executor.perform(action(QuibActionKind::pointerMove, 0, 10));
  executor.perform(action(QuibActionKind::pointerClick));
  executor.perform(action(QuibActionKind::pointerDown));
  executor.perform(action(QuibActionKind::pointerMove, 5, 0));
  executor.perform(action(QuibActionKind::pointerMove, 5, 0));
  executor.perform(action(QuibActionKind::pointerUp));
  executor.perform(action(QuibActionKind::pointerMove, 1, 1));
  executor.perform(action(QuibActionKind::pointerMove, 1, 1));
  in.events.flush();
  EXPECT_EQ(recorder.events(),
            (std::vector<std::string>{"motion 150,110 state=0x0", "button press 1 at 150,110 state=0x0",
                                      "button release 1 at 150,110 state=0x100",
                                      "button press 1 at 150,110 state=0x0", "motion 155,110 state=0x100",
                                      "motion 160,110 state=0x100", "button release 1 at 160,110 state=0x100",
                                      "motion 162,112 state=0x0"}));
  // Someone else moves the pointer: the next move starts from there, rounded to whole pixels.
  shell("xdotool mousemove 600 500");
  clock.advance(std::chrono::seconds(1));  // a hand on the mouse is that slow
  EXPECT_TRUE(perform(action(QuibActionKind::pointerMove, -1.4, 0.6)).ok);
  test::syncDisplay();
  EXPECT_EQ(shell("xdotool getmouselocation --shell").substr(0, 13), "X=599\nY=501\nS");
}

// Only "right" is the right button, whatever the button map says; drags are in the burst test above.
TEST_F(LinuxEventPointer, ClicksAreLeftOrRightAlsoWithALeftHandedButtonMap) {
  test::Recorder recorder;
  for (const char* map : {"default", "3 2 1"}) {
    shell(std::string("xmodmap -e 'pointer = ") + map + "'");
    for (const char* kind : {"right", "Right", "double"})
      EXPECT_EQ(perform(action(QuibActionKind::pointerClick, {}, {}, kind)).message,
                kind[0] == 'r' ? "우클릭" : "클릭");
    EXPECT_EQ(linesStarting(recorder.events(), "button press"),
              (std::vector<std::string>{"button press 3 at 100,100 state=0x0",
                                        "button press 1 at 100,100 state=0x0",
                                        "button press 1 at 100,100 state=0x0",  // double: twice
                                        "button press 1 at 100,100 state=0x0"}))
        << map;
  }
  shell("xmodmap -e 'pointer = default'");
}

TEST_F(LinuxEventPointer, ScrollPixelsBecomeWheelClicksWithTheRemainderCarried) {
  test::Recorder recorder;
  auto scroll = [&](double dx, double dy) {
    EXPECT_TRUE(perform(action(QuibActionKind::pointerScroll, dx, dy)).ok);
  };
  auto wheel = [&] {
    std::string out;
    for (const auto& l : linesStarting(recorder.events(), "button press")) out += l.substr(13, 1);
    return out;
  };
  scroll(0, 45);  // two clicks up, 5 pixels left over
  scroll(0, 15);  // with them, a third
  EXPECT_EQ(wheel(), "444");
  for (int i = 0; i < 6; ++i) scroll(0, -3.9);  // slow: 3 pixels at a time still add up
  EXPECT_EQ(wheel(), "");
  scroll(0, -3);
  EXPECT_EQ(wheel(), "5");
  scroll(0, 19);  // a reversal does not first pay back the other way's remainder
  EXPECT_EQ(wheel(), "");
  scroll(0, 1);
  EXPECT_EQ(wheel(), "4");
  scroll(-40, 20);  // both axes at once
  EXPECT_EQ(wheel(), "477");
  scroll(25, 0);
  EXPECT_EQ(wheel(), "6");
  // A runaway amount is capped instead of flooding the server.
  scroll(0, -2e9);
  EXPECT_EQ(wheel(), std::string(100, '5'));
}

TEST(LinuxAccessibility, TrustedOnAnXServerWithXTestButNotInAWaylandSession) {
  ASSERT_NE(test::testDisplay(), nullptr);
  EXPECT_TRUE(LinuxAccessibility(test::testDisplay()).isTrustedPrompting());
  EXPECT_FALSE(LinuxAccessibility(nullptr).isTrusted());
  EXPECT_TRUE(LinuxAccessibility::trusted(true, nullptr, ""));
  EXPECT_FALSE(LinuxAccessibility::trusted(true, "wayland", nullptr));
  EXPECT_FALSE(LinuxAccessibility::trusted(true, "x11", "wayland-0"));
  EXPECT_FALSE(LinuxAccessibility::trusted(false, "x11", nullptr));
}

}  // namespace quib
