#pragma once
// Synthetic input on an X server through the XTEST extension. Events keep the protocol's values
// (event types, flags, virtual key codes); posting turns them into X key, button and motion events
// on the keymap and pointer mapping the server has at that moment. Main thread only: it makes
// requests on the display it is given, which may be the toolkit's own connection (so that a
// clipboard owner change made there reaches the server before the paste shortcut that follows).
#include <array>
#include <cstdint>
#include <chrono>
#include <functional>
#include <map>
#include <set>
#include <vector>

#include "platform/EventPoster.h"
#include "platform/linux/KeyTable.h"

typedef struct _XDisplay Display;  // Xlib's, without its macros in every includer

namespace quib {

struct LinuxEventPosterOptions {
  CommandKey commandKey = CommandKey::control;
  // When set, the media keys (0 sound up, 1 sound down, 7 mute) call this on key down instead of
  // pressing the XF86Audio keys, for sessions where nothing handles those keys.
  std::function<void(int mediaKey)> mediaKeyHandler;
  // Scroll distance in pixels that makes one wheel click; what is left over carries to the next event.
  int scrollPixelsPerClick = 20;
};

class LinuxEventPoster final : public EventPoster {
 public:
  // `display` stays the caller's and must outlive this object; null makes every event fail.
  explicit LinuxEventPoster(Display* display, LinuxEventPosterOptions options = {});
  ~LinuxEventPoster() override;  // releases whatever is still held
  LinuxEventPoster(const LinuxEventPoster&) = delete;
  LinuxEventPoster& operator=(const LinuxEventPoster&) = delete;

  std::optional<Point> pointerLocation() override;
  std::optional<InputEvent> makeKeyboardEvent(std::uint16_t keyCode, bool down) override;
  std::optional<InputEvent> makeMouseEvent(int type, Point location, MouseButton button) override;
  std::optional<InputEvent> makeScrollEvent(std::int32_t vertical, std::int32_t horizontal) override;
  std::optional<InputEvent> makeSystemDefinedEvent(int subtype, std::uint64_t modifierFlags,
                                                   std::int64_t data1, std::int64_t data2) override;
  void post(const InputEvent& event) override;
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

  std::optional<KeyTable::KeySymbol> keysymFor(std::uint16_t keyCode) const;
  void postKey(std::uint16_t keyCode, bool down);
  void postModifier(std::uint16_t keyCode, bool down);
  void pressKey(std::uint16_t keyCode, KeyTable::KeySymbol sym);
  void releaseKey(std::uint16_t keyCode);
  void postButton(MouseButton button, bool down);
  void postScroll(std::int32_t pixels, int axis);
  void postMediaKey(std::int64_t data1);
  unsigned physicalButton(unsigned logical);
  std::set<std::uint8_t> keycodesWeHold() const;
  void fakeKey(std::uint8_t keycode, bool down);
  void moveTo(Point location);
  void sendPendingMotion();

  // How long the place of our own last motion stands for the pointer's: within one burst of the
  // phone's moves (they come microseconds apart), too short for a hand on the mouse to matter.
  static constexpr std::chrono::milliseconds kMotionTrust{5};

  Display* display_;
  LinuxEventPosterOptions options_;
  std::optional<Point> lastMotion_;
  // A plain move not yet sent: within one burst only the last one matters, and the X server
  // spends far more on each motion than we do. Drags are never held back (their path is drawn).
  std::optional<std::pair<int, int>> pendingMotion_;
  std::chrono::steady_clock::time_point lastMotionAt_;
  std::map<std::uint16_t, HeldKey> heldKeys_;      // by virtual key code
  std::map<MouseButton, unsigned> heldButtons_;    // the physical button pressed
  std::array<std::int32_t, 2> scrollRemainder_{};  // vertical, horizontal
};

}  // namespace quib
