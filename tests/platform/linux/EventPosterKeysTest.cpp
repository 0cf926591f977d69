// Keys posted through XTest, read back by the recorder window and by xinput, xmodmap and xset.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "X11TestDesktop.h"
#include "actions/ActionExecutor.h"
#include "actions/Keyboard.h"

namespace quib {

namespace {

using test::linesStarting;
using test::shell;

// Every key name the keystroke action accepts, with the keysym an application must receive for it.
constexpr std::pair<const char*, const char*> kKeystrokeNames[] = {
    {"a", "a"},           {"b", "b"},           {"c", "c"},       {"d", "d"},         {"e", "e"},
    {"f", "f"},           {"g", "g"},           {"h", "h"},       {"i", "i"},         {"j", "j"},
    {"k", "k"},           {"l", "l"},           {"m", "m"},       {"n", "n"},         {"o", "o"},
    {"p", "p"},           {"q", "q"},           {"r", "r"},       {"s", "s"},         {"t", "t"},
    {"u", "u"},           {"v", "v"},           {"w", "w"},       {"x", "x"},         {"y", "y"},
    {"z", "z"},           {"0", "0"},           {"1", "1"},       {"2", "2"},         {"3", "3"},
    {"4", "4"},           {"5", "5"},           {"6", "6"},       {"7", "7"},         {"8", "8"},
    {"9", "9"},           {"return", "Return"}, {"tab", "Tab"},   {"space", "space"}, {"delete", "BackSpace"},
    {"escape", "Escape"}, {"esc", "Escape"},    {"left", "Left"}, {"right", "Right"}, {"down", "Down"},
    {"up", "Up"}};

// Sets the server's layout for one test and puts the US layout back afterwards, also on failure.
struct Layout {
  explicit Layout(const std::string& name) { shell("setxkbmap " + name); }
  ~Layout() { shell("setxkbmap us"); }
};

// Keys held down right now on the keyboard that XTest types on (xinput's view).
std::vector<std::string> keysDown() {
  std::vector<std::string> out;
  const std::string state = shell("xinput query-state 'Virtual core XTEST keyboard'");
  EXPECT_NE(state.find("KeyClass"), std::string::npos) << "xinput cannot read the keyboard";
  std::istringstream in(state);
  for (std::string l; std::getline(in, l);)
    if (l.find("=down") != std::string::npos) out.push_back(l.substr(l.find_first_not_of(" \t")));
  return out;
}

class LinuxEventKeys : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_NE(test::testDisplay(), nullptr) << "no X display"; }
};

// Held as long as a keystroke holds its key: a client reads a keymap change lazily, so a spare
// keycode released and unbound at once could reach it already unbound.
void typeKey(LinuxEventPoster& events, std::uint16_t code) {
  auto down = events.makeKeyboardEvent(code, true);
  auto up = events.makeKeyboardEvent(code, false);
  ASSERT_TRUE(down && up) << code;
  events.post(*down);
  events.pause(Keyboard::kKeyHold);
  events.post(*up);
}

}  // namespace

TEST_F(LinuxEventKeys, EveryKeystrokeNameTypesItsKeyOnUsAndGermanLayouts) {
  for (const char* layoutName : {"us", "de"}) {
    Layout layout(layoutName);
    test::X11Input in;
    Keyboard keyboard(in.platform(), in.queue);
    test::Recorder recorder;
    std::vector<std::string> expected;
    for (const auto& [name, sym] : kKeystrokeNames) {
      ASSERT_TRUE(keyboard.keystroke(name, {}).ok) << name;
      expected.push_back(std::string("key press ") + sym + " state=0x0");
    }
    EXPECT_EQ(linesStarting(recorder.events(), "key press"), expected) << layoutName;
  }
  EXPECT_TRUE(keysDown().empty());
}

TEST_F(LinuxEventKeys, LevelsAndMissingKeysymsOnAGermanLayout) {
  Layout layout("de");
  const std::string keymapBefore = shell("xmodmap -pke");
  ASSERT_EQ(keymapBefore.find(" grave"), std::string::npos) << "the German layout has a plain grave key";
  test::X11Input in;
  test::Recorder recorder;
  typeKey(in.events, 24);  // equal: Shift+0 here
  typeKey(in.events, 33);  // bracketleft: AltGr+8 (the third level)
  typeKey(in.events, 50);  // grave: only a dead key here, so bound to a spare keycode for the press
  typeKey(in.events, 16);  // y and z trade places
  typeKey(in.events, 6);
  EXPECT_EQ(linesStarting(recorder.events(), "key press"),
            (std::vector<std::string>{"key press Shift_L state=0x0", "key press equal state=0x1",
                                      "key press ISO_Level3_Shift state=0x0",
                                      "key press bracketleft state=0x80", "key press grave state=0x0",
                                      "key press y state=0x0", "key press z state=0x0"}));
  EXPECT_EQ(shell("xmodmap -pke"), keymapBefore);
  EXPECT_TRUE(keysDown().empty());
}

TEST_F(LinuxEventKeys, ShortcutsArriveWithTheirModifiersAndLeaveNothingHeld) {
  test::X11Input in;
  Keyboard keyboard(in.platform(), in.queue);
  test::Recorder recorder;
  ASSERT_TRUE(keyboard.keystroke("c", {"command"}).ok);
  EXPECT_EQ(recorder.events(),
            (std::vector<std::string>{"key press Control_R state=0x0", "key press c state=0x4",
                                      "key release c state=0x4", "key release Control_R state=0x4"}));

  // Listed in any order, pressed control, alternate, shift, command; the application sees them all.
  ASSERT_TRUE(keyboard.keystroke("a", {"Cmd", "shift", "alt", "ctrl", "hyper"}).ok);
  auto lines = recorder.events();
  EXPECT_EQ(linesStarting(lines, "key press"),
            (std::vector<std::string>{"key press Control_L state=0x0", "key press Alt_L state=0x4",
                                      "key press Shift_L state=0xc", "key press Control_R state=0xd",
                                      "key press A state=0xd"}));
  EXPECT_EQ(linesStarting(lines, "key release").back(), "key release Control_L state=0x4");
  EXPECT_TRUE(keysDown().empty());

  LinuxEventPosterOptions superOptions;
  superOptions.commandKey = CommandKey::super;
  test::X11Input super(superOptions);
  Keyboard superKeyboard(super.platform(), super.queue);
  ASSERT_TRUE(superKeyboard.keystroke("c", {"command"}).ok);
  EXPECT_EQ(linesStarting(recorder.events(), "key press"),
            (std::vector<std::string>{"key press Super_L state=0x0", "key press c state=0x40"}));
  EXPECT_TRUE(keysDown().empty());
}

TEST_F(LinuxEventKeys, ModifiersTheUserHoldsDoNotChangeTheShortcut) {
  test::X11Input in;
  Keyboard keyboard(in.platform(), in.queue);
  test::Recorder recorder;
  shell("xdotool keydown Shift_L");
  ASSERT_TRUE(keyboard.keystroke("c", {"command"}).ok);
  auto presses = linesStarting(recorder.events(), "key press");
  EXPECT_EQ(std::count(presses.begin(), presses.end(), "key press c state=0x4"), 1)
      << ::testing::PrintToString(presses);
  // The user's Shift is held again afterwards, as it was.
  EXPECT_EQ(keysDown(), std::vector<std::string>{"key[50]=down"});
  shell("xdotool keyup Shift_L");

  shell("xdotool key Caps_Lock");
  ASSERT_TRUE(keyboard.keystroke("a", {}).ok);
  presses = linesStarting(recorder.events(), "key press");
  EXPECT_EQ(std::count(presses.begin(), presses.end(), "key press a state=0x0"), 1)
      << ::testing::PrintToString(presses);
  EXPECT_NE(shell("xset q").find("Caps Lock:   on"), std::string::npos);
  shell("xdotool key Caps_Lock");
  EXPECT_TRUE(keysDown().empty());
}

TEST_F(LinuxEventKeys, AKeyStillDownIsReleasedWithThePoster) {
  {
    test::X11Input in;
    auto shift = in.events.makeKeyboardEvent(56, true);
    auto x = in.events.makeKeyboardEvent(7, true);
    ASSERT_TRUE(shift && x);
    shift->type = EventType::flagsChanged;
    shift->flags = EventFlags::shift;
    in.events.post(*shift);
    in.events.post(*x);
    test::syncDisplay();
    EXPECT_EQ(keysDown().size(), 2u);
  }
  test::syncDisplay();
  EXPECT_TRUE(keysDown().empty());
  // Nothing to make without a display or for a code that names no key.
  LinuxEventPoster none(nullptr);
  EXPECT_FALSE(none.makeKeyboardEvent(0, true));
  EXPECT_FALSE(none.pointerLocation());
  test::X11Input in;
  EXPECT_FALSE(in.events.makeKeyboardEvent(63, true));
}

TEST_F(LinuxEventKeys, MediaKeysPressTheAudioKeysOrCallTheHandler) {
  std::vector<int> handled;
  LinuxEventPosterOptions withHandler;
  withHandler.mediaKeyHandler = [&](int key) { handled.push_back(key); };
  test::Recorder recorder;
  for (const auto& options : {LinuxEventPosterOptions{}, withHandler}) {
    test::X11Input in(options);
    ActionExecutor executor(in.platform(), in.queue);
    for (auto kind : {QuibActionKind::volumeUp, QuibActionKind::volumeDown, QuibActionKind::mute}) {
      QuibAction a;
      a.kind = kind;
      EXPECT_TRUE(executor.perform(a).ok);
    }
    const std::vector<std::string> pressed = {
        "key press XF86AudioRaiseVolume state=0x0", "key release XF86AudioRaiseVolume state=0x0",
        "key press XF86AudioLowerVolume state=0x0", "key release XF86AudioLowerVolume state=0x0",
        "key press XF86AudioMute state=0x0",        "key release XF86AudioMute state=0x0"};
    EXPECT_EQ(linesStarting(recorder.events(), "key "),
              options.mediaKeyHandler ? std::vector<std::string>{} : pressed);
  }
  EXPECT_EQ(handled, (std::vector<int>{0, 1, 7}));
}

}  // namespace quib
