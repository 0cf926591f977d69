// The phone's events through the Wayland event poster and the compositor's virtual devices, read
// back by a GTK window: command key, scroll remainders, media keys, where the pointer is.
#include <gtest/gtest.h>

#include "WaylandTestDesktop.h"
#include "actions/Keyboard.h"
#include "platform/MainQueue.h"
#include "platform/virtual/Desktop.h"
#include "platform/wayland/EventPoster.h"
#include "platform/wayland/WlrootsInput.h"
#include "support/TempDir.h"

namespace quib::test {
namespace {

// The poster over the test compositor's virtual devices, the rest of the desktop virtual.
struct WaylandInput {
  explicit WaylandInput(LinuxEventPosterOptions options = {})
      : sink(WlrootsInput::create(*testConnection())),
        events(
            sink.get(),
            [] {
              return std::optional(WaylandEventPoster::Screens{0, 0, 1280, 800});
            },
            std::move(options)) {}

  std::unique_ptr<WlrootsInput> sink;
  WaylandEventPoster events;
  TempDir root;
  VirtualDesktop desktop{root.path()};
  MainQueue queue;
  Platform platform() {
    Platform p = desktop.platform();
    return Platform{p.accessibility, p.host,         events,  p.pasteboard,
                    p.workspace,     p.applications, p.audio, p.screenshots};
  }
};

std::size_t count(const std::string& text, const std::string& needle) {
  std::size_t n = 0;
  for (auto at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++n;
  return n;
}

void post(EventPoster& events, std::optional<InputEvent> e) {
  ASSERT_TRUE(e.has_value());
  events.post(*e);
}

// Each poster's virtual keyboard is made before the window: sway drops the first keys of a
// keyboard made while a window already has the focus.
TEST(WaylandEventPosterTest, TheCommandKeyIsControlOrSuperAsChosen) {
  {
    WaylandInput in;
    TestWindow window;
    Keyboard keyboard(in.platform(), in.queue);
    EXPECT_EQ(keyboard.keystroke("z", {"command", "shift"}).message, "command+shift z");
    EXPECT_TRUE(window.waitFor("key Z shift+control\n")) << window.output();
    EXPECT_TRUE(keyboard.keystroke("left", {"alt"}).ok);
    EXPECT_TRUE(window.waitFor("key Left alt\n")) << window.output();
  }
  WaylandInput in(LinuxEventPosterOptions{CommandKey::super, {}, 20});
  TestWindow window;
  Keyboard keyboard(in.platform(), in.queue);
  EXPECT_TRUE(keyboard.keystroke("c", {"command"}).ok);
  EXPECT_TRUE(window.waitFor("key c super")) << window.output();
  // Nothing stays held after the shortcut.
  EXPECT_TRUE(keyboard.keystroke("d", {}).ok);
  EXPECT_TRUE(window.waitFor("key d -\n")) << window.output();
}

TEST(WaylandEventPosterTest, ScrollAmountsCarryTheirRemainderAndReversalsDropIt) {
  WaylandInput in;
  TestWindow window;
  auto fence = [&](const char* key, std::uint16_t code) {
    post(in.events, in.events.makeKeyboardEvent(code, true));
    post(in.events, in.events.makeKeyboardEvent(code, false));
    return window.waitFor(std::string("key ") + key + " -\n");
  };
  post(in.events, in.events.makeScrollEvent(15, 0));  // under one click
  ASSERT_TRUE(fence("a", 0));
  EXPECT_EQ(count(window.output(), "scroll"), 0u);
  post(in.events, in.events.makeScrollEvent(10, 0));  // 25: one click up, 5 left over
  ASSERT_TRUE(fence("s", 1));
  EXPECT_EQ(count(window.output(), "scroll up"), 1u);
  post(in.events, in.events.makeScrollEvent(-25, 0));  // the 5 up do not eat into it
  ASSERT_TRUE(fence("d", 2));
  EXPECT_EQ(count(window.output(), "scroll down"), 1u);
  post(in.events, in.events.makeScrollEvent(0, 40));  // two clicks left
  ASSERT_TRUE(fence("f", 3));
  EXPECT_EQ(count(window.output(), "scroll smooth left"), 2u) << window.output();
}

TEST(WaylandEventPosterTest, MediaKeysArePressedOrHandedToTheHandler) {
  {
    WaylandInput in;
    TestWindow window;
    post(in.events, in.events.makeSystemDefinedEvent(8, 0, (0 << 16) | (0x0A << 8), -1));
    post(in.events, in.events.makeSystemDefinedEvent(8, 0, (0 << 16) | (0x0B << 8), -1));
    EXPECT_TRUE(window.waitFor("key AudioRaiseVolume -\n")) << window.output();
    EXPECT_FALSE(in.events.makeSystemDefinedEvent(8, 0, (3 << 16) | (0x0A << 8), -1));  // no such key
  }
  std::vector<int> handled;
  WaylandInput in(LinuxEventPosterOptions{CommandKey::control, [&](int key) { handled.push_back(key); }, 20});
  post(in.events, in.events.makeSystemDefinedEvent(8, 0, (7 << 16) | (0x0A << 8), -1));
  post(in.events, in.events.makeSystemDefinedEvent(8, 0, (7 << 16) | (0x0B << 8), -1));
  EXPECT_EQ(handled, std::vector<int>{7});
}

TEST(WaylandEventPosterTest, ThePointerIsWhereWeLastPutItAndDragsCarryTheButton) {
  WaylandInput in;
  TestWindow window(true);
  EXPECT_EQ(in.events.pointerLocation(), (Point{640, 400}));  // the middle until the first move
  // Somewhere the cursor is not yet (a fresh sway shows it at 100,100): a move to where it is shows
  // no motion.
  post(in.events, in.events.makeMouseEvent(EventType::mouseMoved, {200.4, 149.6}, MouseButton::left));
  EXPECT_EQ(in.events.pointerLocation(), (Point{200, 150}));
  EXPECT_TRUE(window.waitFor("motion 200 150\n")) << window.output();

  post(in.events, in.events.makeMouseEvent(EventType::leftMouseDown, {200, 150}, MouseButton::left));
  post(in.events, in.events.makeMouseEvent(EventType::leftMouseDragged, {230, 190}, MouseButton::left));
  post(in.events, in.events.makeMouseEvent(EventType::leftMouseUp, {230, 190}, MouseButton::left));
  EXPECT_TRUE(window.waitFor("button press 1 200 150\n")) << window.output();
  EXPECT_TRUE(window.waitFor("drag 230 190\n")) << window.output();
  EXPECT_TRUE(window.waitFor("button release 1 230 190\n")) << window.output();
  // The sink's relative moves, for a desktop that takes no absolute ones.
  ASSERT_TRUE(in.sink->motionRelative(40, -25));
  EXPECT_TRUE(window.waitFor("motion 270 165\n")) << window.output();

  // A click somewhere else goes there first; off the screens the pointer stops at the edge.
  post(in.events, in.events.makeMouseEvent(EventType::rightMouseDown, {-50, 9999}, MouseButton::right));
  post(in.events, in.events.makeMouseEvent(EventType::rightMouseUp, {-50, 9999}, MouseButton::right));
  EXPECT_TRUE(window.waitFor("button press 3 0 799\n")) << window.output();
  EXPECT_EQ(in.events.pointerLocation(), (Point{0, 799}));
}

TEST(WaylandEventPosterTest, WithoutASinkNothingIsMadeAndNothingIsTyped) {
  WaylandEventPoster events(nullptr, nullptr);
  EXPECT_FALSE(events.makeKeyboardEvent(0, true));
  EXPECT_FALSE(events.makeMouseEvent(EventType::mouseMoved, {1, 1}, MouseButton::left));
  EXPECT_FALSE(events.makeScrollEvent(1, 0));
  EXPECT_FALSE(events.pointerLocation());
  EXPECT_EQ(events.typeText("x"), std::optional<bool>(false));
}

}  // namespace
}  // namespace quib::test
