#pragma once
// Synthetic input on an X server through the XTEST extension. Events keep the protocol's values
// (event types, flags, virtual key codes); posting turns them into X key, button and motion events
// on the keymap and pointer mapping the server has at that moment. Main thread only: it makes
// requests on the display it is given, which may be the toolkit's own connection (so that a
// clipboard owner change made there reaches the server before the paste shortcut that follows).
#include <chrono>
#include <cstdint>
#include <map>
#include <set>
#include <vector>

#include "platform/linux/DesktopEventPoster.h"

typedef struct _XDisplay Display;  // Xlib's, without its macros in every includer

namespace quib {

class LinuxEventPoster final : public DesktopEventPoster {
 public:
  // `display` stays the caller's and must outlive this object; null makes every event fail.
  explicit LinuxEventPoster(Display* display, LinuxEventPosterOptions options = {});
  ~LinuxEventPoster() override;  // releases whatever is still held
  LinuxEventPoster(const LinuxEventPoster&) = delete;
  LinuxEventPoster& operator=(const LinuxEventPoster&) = delete;

  std::optional<Point> pointerLocation() override;
  void flush() override;
  void pause(std::chrono::microseconds duration) override;

  // Releases every key and button this object pressed and undoes its keymap and group changes.
  void releaseAll();

 private:
  // One key held down by us, with what has to be undone when it goes up.
  struct HeldKey {
    std::uint8_t keycode = 0;
    std::vector<std::uint8_t> extraKeys;      // Shift or third-level keys the keysym's level needs
    std::vector<std::uint8_t> userModifiers;  // modifier keys the user held, released for this key
    std::optional<int> restoreGroup;
    std::optional<std::uint8_t> capsLockToggled;
    bool boundSpare = false;  // the keycode was bound to the keysym for this press
  };

  bool connected() const override { return display_ != nullptr; }
  bool canPress(std::uint16_t keyCode, KeyTable::KeySymbol sym) override;
  void postKey(std::uint16_t keyCode, bool down) override;
  void postModifier(std::uint16_t keyCode, bool down) override;
  void moveTo(Point location, bool mayHoldBack) override;
  void sendPendingMotion();
  void postButton(MouseButton button, bool down) override;
  void postWheel(int axis, std::int64_t clicks) override;
  void pressKey(std::uint16_t keyCode, KeyTable::KeySymbol sym);
  void releaseKey(std::uint16_t keyCode);
  unsigned physicalButton(unsigned logical);
  std::set<std::uint8_t> keycodesWeHold() const;
  void fakeKey(std::uint8_t keycode, bool down);

  // How long the place of our own last motion stands for the pointer's: within one burst of the
  // phone's moves (they come microseconds apart), too short for a hand on the mouse to matter.
  static constexpr std::chrono::milliseconds kMotionTrust{5};

  Display* display_;
  std::optional<Point> lastMotion_;
  // A plain move not yet sent: within one burst only the last one matters, and the X server
  // spends far more on each motion than we do.
  std::optional<std::pair<int, int>> pendingMotion_;
  Clock::TimePoint lastMotionAt_;
  std::map<std::uint16_t, HeldKey> heldKeys_;    // by virtual key code
  std::map<MouseButton, unsigned> heldButtons_;  // the physical button pressed
};

}  // namespace quib
