// Keys, pointer moves, clicks and wheel clicks posted through XTest, read back by the recorder window
// and by xinput, xmodmap, xset and xdotool; and when input counts as trusted.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "DesktopTools.h"
#include "actions/ActionExecutor.h"
#include "actions/Keyboard.h"

namespace quib {
namespace {

using test::linesStarting;
using test::shell;
using Lines = std::vector<std::string>;

// Sets the server's layout for one test and puts the US layout back afterwards, also on failure.
struct Layout {
  explicit Layout(const std::string& name) { shell("setxkbmap " + name); }
  ~Layout() { shell("setxkbmap us"); }
};

// Keys held down right now on the keyboard that XTest types on (xinput's view).
Lines keysDown() {
  Lines out;
  const std::string state = shell("xinput query-state 'Virtual core XTEST keyboard'");
  EXPECT_NE(state.find("KeyClass"), std::string::npos) << "xinput cannot read the keyboard";
  std::istringstream in(state);
  for (std::string l; std::getline(in, l);)
    if (l.find("=down") != std::string::npos) out.push_back(l.substr(l.find_first_not_of(" \t")));
  return out;
}

Lines presses(test::Recorder& recorder) {
  return linesStarting(recorder.events(), "key press");
}

QuibAction action(QuibActionKind kind, std::optional<double> dx = {}, std::optional<double> dy = {},
                  std::optional<std::string> value = {}) {
  QuibAction a;
  a.kind = kind;
  a.dx = dx;
  a.dy = dy;
  a.value = std::move(value);
  return a;
}

class LinuxEventTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(test::testDisplay(), nullptr) << "no X display";
    shell("xdotool mousemove 100 100");
    recorder.events();  // that move
  }
  void TearDown() override { EXPECT_EQ(keysDown(), Lines{}); }
  // As the server does after each burst of actions, so held-back moves reach the display.
  ActionResult perform(const QuibAction& a) {
    ActionResult result = executor.perform(a);
    pointer.events.flush();
    return result;
  }
  // Our own last motion stands for the pointer's place for a few milliseconds: time moves by hand here.
  ManualClock clock;
  LinuxEventPosterOptions timed() {
    LinuxEventPosterOptions options;
    options.clock = &clock;
    return options;
  }
  test::X11Input pointer{timed()};
  ActionExecutor executor{pointer.platform(), pointer.queue};
  test::Recorder recorder;
};

TEST_F(LinuxEventTest, EveryKeystrokeNameTypesItsKey) {
  // Every key name the keystroke action accepts, with the keysym an application must receive.
  std::vector<std::pair<std::string, std::string>> names = {
      {"return", "Return"}, {"tab", "Tab"},    {"space", "space"}, {"delete", "BackSpace"},
      {"escape", "Escape"}, {"esc", "Escape"}, {"left", "Left"},   {"right", "Right"},
      {"down", "Down"},     {"up", "Up"}};
  for (char c : std::string("abcdefghijklmnopqrstuvwxyz0123456789"))
    names.push_back({std::string(1, c), std::string(1, c)});
  Keyboard keyboard(pointer.platform(), pointer.queue);
  Lines expected;
  for (const auto& [name, sym] : names) {
    ASSERT_TRUE(keyboard.keystroke(name, {}).ok) << name;
    expected.push_back("key press " + sym + " state=0x0");
  }
  EXPECT_EQ(presses(recorder), expected);
}

TEST_F(LinuxEventTest, LevelsAndMissingKeysymsOnAGermanLayout) {
  Layout layout("de");
  const std::string keymapBefore = shell("xmodmap -pke");
  ASSERT_EQ(keymapBefore.find(" grave"), std::string::npos) << "the German layout has a plain grave key";
  test::X11Input in;
  // equal is Shift+0 here, bracketleft AltGr+8; grave is only a dead key, so it is bound to a spare
  // keycode for the press; y and z trade places.
  for (std::uint16_t code : {24, 33, 50, 16, 6}) {
    // Held as long as a keystroke holds its key: a client reads a keymap change lazily, so a spare
    // keycode released and unbound at once could reach it already unbound.
    auto down = in.events.makeKeyboardEvent(code, true), up = in.events.makeKeyboardEvent(code, false);
    ASSERT_TRUE(down && up) << code;
    in.events.post(*down);
    in.events.pause(Keyboard::kKeyHold);
    in.events.post(*up);
  }
  EXPECT_EQ(presses(recorder),
            (Lines{"key press Shift_L state=0x0", "key press equal state=0x1",
                   "key press ISO_Level3_Shift state=0x0", "key press bracketleft state=0x80",
                   "key press grave state=0x0", "key press y state=0x0", "key press z state=0x0"}));
  EXPECT_EQ(shell("xmodmap -pke"), keymapBefore);
}

TEST_F(LinuxEventTest, ShortcutsCarryTheirModifiersWhateverTheUserHolds) {
  Keyboard keyboard(pointer.platform(), pointer.queue);
  ASSERT_TRUE(keyboard.keystroke("c", {"command"}).ok);
  EXPECT_EQ(recorder.events(), (Lines{"key press Control_R state=0x0", "key press c state=0x4",
                                      "key release c state=0x4", "key release Control_R state=0x4"}));
  ASSERT_TRUE(keyboard.keystroke("a", {"alt"}).ok);
  EXPECT_EQ(presses(recorder), (Lines{"key press Alt_L state=0x0", "key press a state=0x8"}));

  // A Shift the user holds is let go for the shortcut and held again afterwards; Caps Lock on
  // types the plain letter and stays on.
  shell("xdotool keydown Shift_L");
  ASSERT_TRUE(keyboard.keystroke("c", {"command"}).ok);
  auto pressed = presses(recorder);
  EXPECT_EQ(std::count(pressed.begin(), pressed.end(), "key press c state=0x4"), 1)
      << testing::PrintToString(pressed);
  EXPECT_EQ(keysDown(), Lines{"key[50]=down"});
  shell("xdotool keyup Shift_L key Caps_Lock");
  ASSERT_TRUE(keyboard.keystroke("a", {}).ok);
  pressed = presses(recorder);
  EXPECT_EQ(std::count(pressed.begin(), pressed.end(), "key press a state=0x0"), 1)
      << testing::PrintToString(pressed);
  EXPECT_NE(shell("xset q").find("Caps Lock:   on"), std::string::npos);
  shell("xdotool key Caps_Lock");
  // Super as the command key: LinuxProgram.EveryActionActsOnTheSession.
}

TEST_F(LinuxEventTest, AKeyStillDownIsReleasedWithThePosterAndCodesThatNameNoKeyAreRefused) {
  test::X11Input in;  // gone before TearDown looks at the keyboard
  auto shift = in.events.makeKeyboardEvent(56, true), x = in.events.makeKeyboardEvent(7, true);
  ASSERT_TRUE(shift && x);
  shift->type = EventType::flagsChanged;
  shift->flags = EventFlags::shift;
  in.events.post(*shift);
  in.events.post(*x);
  test::syncDisplay();
  EXPECT_EQ(keysDown().size(), 2u);
  // The ISO extra key, the fn key, codes past the table's end.
  for (std::uint16_t code : {10, 52, 63, 102, 127, 128, 0xFFFF})
    EXPECT_FALSE(in.events.makeKeyboardEvent(code, true)) << code;
}

// With the sound server's own volume keys chosen, no key reaches the focused application too.
TEST_F(LinuxEventTest, MediaKeysGoToTheHandlerWhenThereIsOne) {
  std::vector<int> handled;
  LinuxEventPosterOptions withHandler;
  withHandler.mediaKeyHandler = [&](int key) { handled.push_back(key); };
  test::X11Input in(withHandler);
  ActionExecutor media(in.platform(), in.queue);
  for (auto kind : {QuibActionKind::volumeUp, QuibActionKind::volumeDown, QuibActionKind::mute})
    EXPECT_TRUE(media.perform(action(kind)).ok);
  EXPECT_EQ(presses(recorder), Lines{});
  EXPECT_EQ(handled, (std::vector<int>{0, 1, 7}));
}

TEST_F(LinuxEventTest, MovesStartAtTheRealPointerAndABurstArrivesAsItsLastPlace) {
  EXPECT_EQ(pointer.events.pointerLocation(), (Point{100, 100}));
  for (int i = 0; i < 5; ++i) executor.perform(action(QuibActionKind::pointerMove, 10, 0));
  // Someone asking where the pointer is sees the held-back move already made.
  EXPECT_EQ(pointer.events.pointerLocation(), (Point{150, 100}));
  executor.perform(action(QuibActionKind::pointerMove, 0, 10));
  executor.perform(action(QuibActionKind::pointerClick));
  EXPECT_EQ(recorder.events(), (Lines{"motion 150,110 state=0x0", "button press 1 at 150,110 state=0x0",
                                      "button release 1 at 150,110 state=0x100"}));
  // Someone else moves the pointer: the next move starts from there, rounded to whole pixels.
  shell("xdotool mousemove 600 500");
  clock.advance(std::chrono::seconds(1));  // a hand on the mouse is that slow
  EXPECT_TRUE(perform(action(QuibActionKind::pointerMove, -1.4, 0.6)).ok);
  test::syncDisplay();
  EXPECT_EQ(shell("xdotool getmouselocation --shell").substr(0, 13), "X=599\nY=501\nS");
}

// Only "right" is the right button, whatever the button map says.
TEST_F(LinuxEventTest, ClicksAreLeftOrRightAlsoWithALeftHandedButtonMap) {
  shell("xmodmap -e 'pointer = 3 2 1'");
  EXPECT_EQ(perform(action(QuibActionKind::pointerClick, {}, {}, "right")).message, "우클릭");
  EXPECT_EQ(perform(action(QuibActionKind::pointerClick, {}, {}, "left")).message, "클릭");
  shell("xmodmap -e 'pointer = default'");
  EXPECT_EQ(linesStarting(recorder.events(), "button press"),
            (Lines{"button press 3 at 100,100 state=0x0", "button press 1 at 100,100 state=0x0"}));
}

TEST_F(LinuxEventTest, ScrollPixelsBecomeWheelClicksWithTheRemainderCarried) {
  auto wheel = [&](double dx, double dy, int times = 1) {
    for (int i = 0; i < times; ++i) EXPECT_TRUE(perform(action(QuibActionKind::pointerScroll, dx, dy)).ok);
    std::string out;
    for (const auto& l : linesStarting(recorder.events(), "button press")) out += l.substr(13, 1);
    return out;
  };
  const struct {
    double dx, dy;
    int times;
    std::string clicks;
  } steps[] = {
      {0, 45, 1, "44"},  // two clicks up, 5 pixels left over
      {0, 15, 1, "4"},   // with them, a third
      {0, -3.9, 6, ""},  // slow: 3 pixels at a time still add up
      {0, -3, 1, "5"},
      {-40, 20, 1, "477"},                  // both axes at once
      {0, -2e9, 1, std::string(100, '5')},  // a runaway amount is capped instead of flooding the server
  };
  for (const auto& s : steps) EXPECT_EQ(wheel(s.dx, s.dy, s.times), s.clicks) << s.dx << "," << s.dy;
}

TEST(LinuxAccessibility, TrustedOnAnXServerWithXTestButNotInAWaylandSession) {
  EXPECT_TRUE(LinuxAccessibility::trusted(true, nullptr, ""));
  EXPECT_FALSE(LinuxAccessibility::trusted(true, "wayland", nullptr));
  EXPECT_FALSE(LinuxAccessibility::trusted(true, "x11", "wayland-0"));
  EXPECT_FALSE(LinuxAccessibility::trusted(false, "x11", nullptr));
}

}  // namespace
}  // namespace quib
