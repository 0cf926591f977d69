// Keys posted through XTest, read back by the recorder window and by xinput, xmodmap and xset.
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

class LinuxEventKeys : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_NE(test::testDisplay(), nullptr) << "no X display"; }
  void TearDown() override { EXPECT_EQ(keysDown(), Lines{}); }
};

TEST_F(LinuxEventKeys, EveryKeystrokeNameTypesItsKeyOnUsAndGermanLayouts) {
  // Every key name the keystroke action accepts, with the keysym an application must receive.
  std::vector<std::pair<std::string, std::string>> names = {
      {"return", "Return"}, {"tab", "Tab"},    {"space", "space"}, {"delete", "BackSpace"},
      {"escape", "Escape"}, {"esc", "Escape"}, {"left", "Left"},   {"right", "Right"},
      {"down", "Down"},     {"up", "Up"}};
  for (char c : std::string("abcdefghijklmnopqrstuvwxyz0123456789"))
    names.push_back({std::string(1, c), std::string(1, c)});
  for (const char* layoutName : {"us", "de"}) {
    Layout layout(layoutName);
    test::X11Input in;
    Keyboard keyboard(in.platform(), in.queue);
    test::Recorder recorder;
    Lines expected;
    for (const auto& [name, sym] : names) {
      ASSERT_TRUE(keyboard.keystroke(name, {}).ok) << name;
      expected.push_back("key press " + sym + " state=0x0");
    }
    EXPECT_EQ(presses(recorder), expected) << layoutName;
  }
}

TEST_F(LinuxEventKeys, LevelsAndMissingKeysymsOnAGermanLayout) {
  Layout layout("de");
  const std::string keymapBefore = shell("xmodmap -pke");
  ASSERT_EQ(keymapBefore.find(" grave"), std::string::npos) << "the German layout has a plain grave key";
  test::X11Input in;
  test::Recorder recorder;
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

TEST_F(LinuxEventKeys, ShortcutsCarryTheirModifiersWhateverTheUserHolds) {
  test::X11Input in;
  Keyboard keyboard(in.platform(), in.queue);
  test::Recorder recorder;
  ASSERT_TRUE(keyboard.keystroke("c", {"command"}).ok);
  EXPECT_EQ(recorder.events(), (Lines{"key press Control_R state=0x0", "key press c state=0x4",
                                      "key release c state=0x4", "key release Control_R state=0x4"}));
  // Listed in any order, pressed control, alternate, shift, command; the application sees them all.
  ASSERT_TRUE(keyboard.keystroke("a", {"Cmd", "shift", "alt", "ctrl", "hyper"}).ok);
  auto lines = recorder.events();
  EXPECT_EQ(linesStarting(lines, "key press"),
            (Lines{"key press Control_L state=0x0", "key press Alt_L state=0x4",
                   "key press Shift_L state=0xc", "key press Control_R state=0xd", "key press A state=0xd"}));
  EXPECT_EQ(linesStarting(lines, "key release").back(), "key release Control_L state=0x4");

  // A Shift the user holds is let go for the shortcut and held again afterwards.
  shell("xdotool keydown Shift_L");
  ASSERT_TRUE(keyboard.keystroke("c", {"command"}).ok);
  auto pressed = presses(recorder);
  EXPECT_EQ(std::count(pressed.begin(), pressed.end(), "key press c state=0x4"), 1)
      << testing::PrintToString(pressed);
  EXPECT_EQ(keysDown(), Lines{"key[50]=down"});
  shell("xdotool keyup Shift_L");
  // Caps Lock on types the plain letter and stays on.
  shell("xdotool key Caps_Lock");
  ASSERT_TRUE(keyboard.keystroke("a", {}).ok);
  pressed = presses(recorder);
  EXPECT_EQ(std::count(pressed.begin(), pressed.end(), "key press a state=0x0"), 1)
      << testing::PrintToString(pressed);
  EXPECT_NE(shell("xset q").find("Caps Lock:   on"), std::string::npos);
  shell("xdotool key Caps_Lock");
  recorder.events();  // the user's own presses

  LinuxEventPosterOptions superOptions;
  superOptions.commandKey = CommandKey::super;
  test::X11Input super(superOptions);
  ASSERT_TRUE(Keyboard(super.platform(), super.queue).keystroke("c", {"command"}).ok);
  EXPECT_EQ(presses(recorder), (Lines{"key press Super_L state=0x0", "key press c state=0x40"}));
}

TEST_F(LinuxEventKeys, AKeyStillDownIsReleasedWithThePoster) {
  {
    test::X11Input in;
    auto shift = in.events.makeKeyboardEvent(56, true), x = in.events.makeKeyboardEvent(7, true);
    ASSERT_TRUE(shift && x);
    shift->type = EventType::flagsChanged;
    shift->flags = EventFlags::shift;
    in.events.post(*shift);
    in.events.post(*x);
    test::syncDisplay();
    EXPECT_EQ(keysDown().size(), 2u);
    EXPECT_FALSE(in.events.makeKeyboardEvent(63, true));  // a code that names no key
  }
  test::syncDisplay();
  LinuxEventPoster none(nullptr);
  EXPECT_FALSE(none.makeKeyboardEvent(0, true));
  EXPECT_FALSE(none.pointerLocation());
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
    const Lines pressed = {"key press XF86AudioRaiseVolume state=0x0",
                           "key press XF86AudioLowerVolume state=0x0", "key press XF86AudioMute state=0x0"};
    EXPECT_EQ(presses(recorder), options.mediaKeyHandler ? Lines{} : pressed);
  }
  EXPECT_EQ(handled, (std::vector<int>{0, 1, 7}));
}

}  // namespace
}  // namespace quib
