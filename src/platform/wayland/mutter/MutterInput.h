#pragma once
// Synthetic input through GNOME's compositor's own remote-desktop session (see MutterSession): no
// dialog, for desktops whose portal cannot remember the user's consent. Keys go as key codes of the
// session's keymap where the keysym is on it (a Shift level with Shift pressed around it), which
// mutter types exactly; other keysyms go as keysyms, which mutter drops when its keymap lacks
// them, so text with such characters is handed back to be pasted. Pointer motion is relative and
// exact. Each call waits for its reply, so a false answer means the event was not delivered.
// Main thread only.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "platform/wayland/InputSink.h"
#include "platform/wayland/SeatKeymap.h"
#include "platform/wayland/mutter/MutterSession.h"

namespace quib {

class MutterInput final : public InputSink {
 public:
  // Where a keysym is on the desktop's keymap; none when it is not there or the keymap is not known.
  using Locate = std::function<std::optional<KeyPlace>(std::uint32_t keysym)>;

  // `session` must outlive this object. Makes the session now, so the first action finds it ready.
  MutterInput(MutterSession& session, Locate locate);

  bool ready() override { return session_.ensure(); }
  void requestAccess() override { session_.ensure(); }
  std::string whyNot() override;
  std::string describe() override { return "GNOME's remote-desktop session (Mutter)"; }

  bool key(std::uint32_t keysym, bool down) override;
  bool motionRelative(double dx, double dy) override;
  // Mutter's absolute motion needs a screen-cast stream, which this session has not.
  bool motionAbsolute(double, double) override { return false; }
  bool button(std::uint32_t evdevButton, bool down) override;
  bool axisSteps(Axis axis, int steps) override;
  // Each character pressed and released as its key; none, with nothing sent, when one is not on the
  // keymap (or has no keysym); false when not UTF-8 or a key was refused.
  std::optional<bool> typeText(const std::string& utf8) override;

 private:
  bool keycode(std::uint32_t code, bool down);
  bool keysym(std::uint32_t keysym, bool down);
  bool ok(GVariant* reply);
  // The first key event of a new session is dropped by mutter: a Shift press and release takes it.
  void absorbFirstKey();

  MutterSession& session_;
  Locate locate_;
  // Shift keys held through key(): a keysym at the Shift level then needs no Shift of its own.
  int shiftsHeld_ = 0;
};

}  // namespace quib
