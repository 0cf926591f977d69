#pragma once
// What every Linux input backend shares: which events can be made (the key table's keys, the mouse
// types, the media keys), how a posted event becomes key, modifier, motion, button and wheel steps,
// wheel clicks from pixel amounts with the remainder carried to the next event, and the media keys
// either pressed or handed to a handler. A backend supplies the primitives that reach its desktop.
// Main thread only.
#include <array>
#include <cstdint>
#include <functional>
#include <optional>

#include "platform/EventPoster.h"
#include "platform/linux/KeyTable.h"

namespace quib {

struct LinuxEventPosterOptions {
  CommandKey commandKey = CommandKey::control;
  // When set, the media keys (0 sound up, 1 sound down, 7 mute) call this on key down instead of
  // pressing the XF86Audio keys, for sessions where nothing handles those keys.
  std::function<void(int mediaKey)> mediaKeyHandler;
  // Scroll distance in pixels that makes one wheel click; what is left over carries to the next event.
  int scrollPixelsPerClick = 20;
};

class DesktopEventPoster : public EventPoster {
 public:
  explicit DesktopEventPoster(LinuxEventPosterOptions options);

  std::optional<InputEvent> makeKeyboardEvent(std::uint16_t keyCode, bool down) override;
  std::optional<InputEvent> makeMouseEvent(int type, Point location, MouseButton button) override;
  std::optional<InputEvent> makeScrollEvent(std::int32_t vertical, std::int32_t horizontal) override;
  std::optional<InputEvent> makeSystemDefinedEvent(int subtype, std::uint64_t modifierFlags,
                                                   std::int64_t data1, std::int64_t data2) override;
  void post(const InputEvent& event) override;
  // Control+V, whichever key the phone's command stands for.
  std::uint64_t pasteModifiers() const override { return EventFlags::control; }

 protected:
  static bool isModifierCode(std::uint16_t keyCode);
  std::optional<KeyTable::KeySymbol> keysymFor(std::uint16_t keyCode) const;

  // False makes every event fail to be made and every post do nothing.
  virtual bool connected() const = 0;
  // Whether a key down for this keysym can be made now (the keymap has it, or room to bind it).
  virtual bool canPress(std::uint16_t keyCode, KeyTable::KeySymbol sym) = 0;
  virtual void postKey(std::uint16_t keyCode, bool down) = 0;
  virtual void postModifier(std::uint16_t keyCode, bool down) = 0;
  // A plain move may be held back until the next event or flush(): of a burst of them only the
  // last matters. A drag's motion is never held back (its path is drawn).
  virtual void moveTo(Point location, bool mayHoldBack) = 0;
  virtual void postButton(MouseButton button, bool down) = 0;
  // Whole wheel clicks on axis 0 (vertical) or 1 (horizontal); positive is up or left.
  virtual void postWheel(int axis, std::int64_t clicks) = 0;

 private:
  void postScroll(std::int32_t pixels, int axis);
  void postMediaKey(std::int64_t data1);

  LinuxEventPosterOptions options_;
  std::array<std::int32_t, 2> scrollRemainder_{};  // vertical, horizontal
};

}  // namespace quib
