#pragma once
// Where the Wayland backend's synthetic input goes: the compositor's own virtual keyboard and
// pointer (wlroots), or a RemoteDesktop portal session. The event poster turns the phone's events
// into these calls; a sink knows nothing of the phone's key codes. Main thread only.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/Pasteboard.h"

namespace quib {

class InputSink {
 public:
  enum class Axis { vertical, horizontal };

  // Sinks that type a text key by key on the desktop's keymap (each key waiting for the desktop's
  // answer, or its socket) type at most this many keys of it; a longer text is handed back to be
  // pasted, so that typing never holds the main loop for seconds.
  static constexpr std::size_t kMaxKeyedKeys = 200;

  virtual ~InputSink() = default;

  // Whether input reaches the desktop now (devices made, or the portal session started).
  virtual bool ready() = 0;
  // Asks the desktop again for what ready() lacks (the portal's consent dialog); answers at once,
  // the outcome shows in a later ready().
  virtual void requestAccess() = 0;
  // One line for the user on why input does not reach the desktop; empty when ready().
  virtual std::string whyNot() = 0;
  // What this sink is, for the line naming the backend ("wlroots virtual keyboard and pointer").
  virtual std::string describe() = 0;

  // A press or release of the key that gives this X keysym; modifiers are keysyms too
  // (Shift_L, Control_L, Alt_L, Super_L) and stay down until released. False when it can't be sent.
  virtual bool key(std::uint32_t keysym, bool down) = 0;
  // Motion in the compositor's global coordinates, in logical pixels.
  virtual bool motionRelative(double dx, double dy) = 0;
  // False when this sink has no absolute motion (the caller then moves relatively from where it
  // last put the pointer).
  virtual bool motionAbsolute(double x, double y) = 0;
  // Linux evdev button codes: BTN_LEFT 0x110, BTN_RIGHT 0x111.
  virtual bool button(std::uint32_t evdevButton, bool down) = 0;
  // Whole wheel clicks; positive is down or right.
  virtual bool axisSteps(Axis axis, int steps) = 0;
  // Types UTF-8 text straight into the focused window: true when typed; false when it was refused
  // or could not be sent (nothing typed, or the rest after a failure dropped); none, with nothing
  // sent, when the desktop's keymap cannot type all of it, so the caller pastes it instead.
  virtual std::optional<bool> typeText(const std::string& utf8) = 0;
  // A clipboard that comes with this sink's session (the portal's), owned by the sink; none.
  virtual Pasteboard* pasteboard() { return nullptr; }
};

}  // namespace quib
