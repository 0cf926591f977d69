#pragma once
// Synthetic input: keyboard, mouse, scroll-wheel and system-defined (media key) events, made as
// values, adjusted, then posted at the system's input level. Creating an event can fail (the
// desktop refuses), which the callers turn into their own failure texts. Main thread only.
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace quib {

struct Point {
  double x = 0;
  double y = 0;
  bool operator==(const Point&) const = default;
};

namespace EventType {
inline constexpr int leftMouseDown = 1;
inline constexpr int leftMouseUp = 2;
inline constexpr int rightMouseDown = 3;
inline constexpr int rightMouseUp = 4;
inline constexpr int mouseMoved = 5;
inline constexpr int leftMouseDragged = 6;
inline constexpr int keyDown = 10;
inline constexpr int keyUp = 11;
inline constexpr int flagsChanged = 12;
inline constexpr int systemDefined = 14;
inline constexpr int scrollWheel = 22;
}  // namespace EventType

namespace EventFlags {
inline constexpr std::uint64_t shift = 0x20000;
inline constexpr std::uint64_t control = 0x40000;
inline constexpr std::uint64_t alternate = 0x80000;
inline constexpr std::uint64_t command = 0x100000;
}  // namespace EventFlags

enum class MouseButton { left = 0, right = 1 };

struct InputEvent {
  enum class Kind { keyboard, mouse, scroll, systemDefined };
  Kind kind = Kind::keyboard;
  int type = 0;
  std::uint64_t flags = 0;
  // keyboard
  std::uint16_t keyCode = 0;
  // mouse
  MouseButton button = MouseButton::left;
  Point location;
  std::int64_t clickState = 0;
  // scroll: pixel units, wheel 1 vertical, wheel 2 horizontal
  std::int32_t wheel1 = 0;
  std::int32_t wheel2 = 0;
  std::int32_t wheel3 = 0;
  // system-defined
  int subtype = 0;
  std::int64_t data1 = 0;
  std::int64_t data2 = 0;

  bool operator==(const InputEvent&) const = default;

  // The four shapes of event, as every backend makes them.
  static InputEvent key(std::uint16_t keyCode, bool down) {
    InputEvent e;
    e.kind = Kind::keyboard;
    e.type = down ? EventType::keyDown : EventType::keyUp;
    e.keyCode = keyCode;
    return e;
  }
  static InputEvent mouse(int type, Point location, MouseButton button) {
    InputEvent e;
    e.kind = Kind::mouse;
    e.type = type;
    e.location = location;
    e.button = button;
    return e;
  }
  static InputEvent scroll(std::int32_t vertical, std::int32_t horizontal) {
    InputEvent e;
    e.kind = Kind::scroll;
    e.type = EventType::scrollWheel;
    e.wheel1 = vertical;
    e.wheel2 = horizontal;
    return e;
  }
  static InputEvent systemDefined(int subtype, std::uint64_t modifierFlags, std::int64_t data1,
                                  std::int64_t data2) {
    InputEvent e;
    e.kind = Kind::systemDefined;
    e.type = EventType::systemDefined;
    e.flags = modifierFlags;
    e.subtype = subtype;
    e.data1 = data1;
    e.data2 = data2;
    return e;
  }
};

class EventPoster {
 public:
  virtual ~EventPoster() = default;
  // From a freshly made event; none when it cannot be made.
  virtual std::optional<Point> pointerLocation() = 0;
  // A key event from a source in the HID-system state.
  virtual std::optional<InputEvent> makeKeyboardEvent(std::uint16_t keyCode, bool down) = 0;
  virtual std::optional<InputEvent> makeMouseEvent(int type, Point location, MouseButton button) = 0;
  virtual std::optional<InputEvent> makeScrollEvent(std::int32_t vertical, std::int32_t horizontal) = 0;
  virtual std::optional<InputEvent> makeSystemDefinedEvent(int subtype, std::uint64_t modifierFlags,
                                                           std::int64_t data1, std::int64_t data2) = 0;
  // May hold an event back (a pointer move that the next one supersedes) until the next post,
  // pause or flush; events still reach the desktop in the order they were posted.
  virtual void post(const InputEvent& event) = 0;
  // Sends whatever post() held back; the caller does this after each burst of events.
  virtual void flush() {}
  // Whether an event posted since the last call did not reach the desktop (a call it refused or left
  // unanswered); asking clears it.
  virtual bool takeSendFailure() { return false; }
  // The pause between key down and key up.
  virtual void pause(std::chrono::microseconds duration) = 0;
  // The modifier flags that, with the key V, make the desktop's own paste shortcut.
  virtual std::uint64_t pasteModifiers() const { return EventFlags::command; }
  // Types UTF-8 text straight into the focused window, on desktops where a pasted text would not
  // reach it: whether it was typed. None where text is typed by pasting it.
  virtual std::optional<bool> typeText(const std::string&) { return std::nullopt; }
};

}  // namespace quib
