#include "platform/linux/DesktopEventPoster.h"

#include <cmath>
#include <cstdlib>

namespace quib {

namespace {

constexpr int kAuxControlButtons = 8;
constexpr std::int64_t kMediaKeyDown = 0x0A;
constexpr std::int64_t kMediaKeyUp = 0x0B;
// One event never turns into more wheel clicks than this; a larger amount is a runaway value.
constexpr std::int64_t kMaxClicksPerEvent = 100;

// The virtual key codes of the keyboard's own volume keys, which the key table knows.
std::optional<std::uint16_t> mediaKeyCode(std::int64_t mediaKey) {
  switch (mediaKey) {
    case 0:
      return 72;
    case 1:
      return 73;
    case 7:
      return 74;
    default:
      return std::nullopt;
  }
}

}  // namespace

DesktopEventPoster::DesktopEventPoster(LinuxEventPosterOptions options) : options_(std::move(options)) {
  if (options_.scrollPixelsPerClick < 1) options_.scrollPixelsPerClick = 1;
}

bool DesktopEventPoster::isModifierCode(std::uint16_t keyCode) {
  return KeyTable::modifierFlag(keyCode) != 0;
}

std::optional<KeyTable::KeySymbol> DesktopEventPoster::keysymFor(std::uint16_t keyCode) const {
  return KeyTable::keysym(keyCode, options_.commandKey);
}

std::optional<InputEvent> DesktopEventPoster::makeKeyboardEvent(std::uint16_t keyCode, bool down) {
  if (!connected()) return std::nullopt;
  auto sym = keysymFor(keyCode);
  if (!sym) return std::nullopt;
  if (down && !canPress(keyCode, *sym)) return std::nullopt;
  return InputEvent::key(keyCode, down);
}

std::optional<InputEvent> DesktopEventPoster::makeMouseEvent(int type, Point location, MouseButton button) {
  if (!connected() || !std::isfinite(location.x) || !std::isfinite(location.y)) return std::nullopt;
  if (type < EventType::leftMouseDown || type > EventType::leftMouseDragged) return std::nullopt;
  return InputEvent::mouse(type, location, button);
}

std::optional<InputEvent> DesktopEventPoster::makeScrollEvent(std::int32_t vertical,
                                                              std::int32_t horizontal) {
  if (!connected()) return std::nullopt;
  return InputEvent::scroll(vertical, horizontal);
}

std::optional<InputEvent> DesktopEventPoster::makeSystemDefinedEvent(int subtype, std::uint64_t modifierFlags,
                                                                     std::int64_t data1, std::int64_t data2) {
  if (!connected() || subtype != kAuxControlButtons || !mediaKeyCode((data1 >> 16) & 0xFFFF))
    return std::nullopt;
  const std::int64_t state = (data1 >> 8) & 0xFF;
  if (state != kMediaKeyDown && state != kMediaKeyUp) return std::nullopt;
  return InputEvent::systemDefined(subtype, modifierFlags, data1, data2);
}

void DesktopEventPoster::post(const InputEvent& e) {
  if (!connected()) return;
  switch (e.kind) {
    case InputEvent::Kind::keyboard:
      if (e.type == EventType::flagsChanged) {
        if (const std::uint64_t flag = KeyTable::modifierFlag(e.keyCode))
          postModifier(e.keyCode, e.flags & flag);
      } else if (e.type == EventType::keyDown || e.type == EventType::keyUp) {
        const bool down = e.type == EventType::keyDown;
        isModifierCode(e.keyCode) ? postModifier(e.keyCode, down) : postKey(e.keyCode, down);
      }
      break;
    case InputEvent::Kind::mouse: {
      const bool isButton = e.type != EventType::mouseMoved && e.type != EventType::leftMouseDragged;
      // Buttons act where the pointer is, so it goes to the event's location first when it is elsewhere.
      if (!isButton || pointerLocation() != std::optional<Point>(e.location))
        moveTo(e.location, e.type == EventType::mouseMoved);
      if (e.type == EventType::leftMouseDown || e.type == EventType::rightMouseDown)
        postButton(e.button, true);
      if (e.type == EventType::leftMouseUp || e.type == EventType::rightMouseUp) postButton(e.button, false);
      break;
    }
    case InputEvent::Kind::scroll:
      postScroll(e.wheel1, 0);
      postScroll(e.wheel2, 1);
      break;
    case InputEvent::Kind::systemDefined:
      if (e.subtype == kAuxControlButtons) postMediaKey(e.data1);
      break;
  }
}

void DesktopEventPoster::postScroll(std::int32_t pixels, int axis) {
  if (pixels == 0) return;
  std::int32_t& remainder = scrollRemainder_[static_cast<std::size_t>(axis)];
  // What was left over from the other direction does not slow down a reversal.
  if ((remainder > 0) != (pixels > 0)) remainder = 0;
  const std::int64_t per = options_.scrollPixelsPerClick;
  const std::int64_t total = static_cast<std::int64_t>(remainder) + pixels;
  std::int64_t clicks = total / per;
  remainder = static_cast<std::int32_t>(total - clicks * per);
  if (clicks > kMaxClicksPerEvent || clicks < -kMaxClicksPerEvent) {
    clicks = clicks > 0 ? kMaxClicksPerEvent : -kMaxClicksPerEvent;
    remainder = 0;
  }
  if (clicks != 0) postWheel(axis, clicks);
}

void DesktopEventPoster::postMediaKey(std::int64_t data1) {
  const std::int64_t key = (data1 >> 16) & 0xFFFF;
  const std::int64_t state = (data1 >> 8) & 0xFF;
  auto code = mediaKeyCode(key);
  if (!code || (state != kMediaKeyDown && state != kMediaKeyUp)) return;
  if (options_.mediaKeyHandler) {
    if (state == kMediaKeyDown) options_.mediaKeyHandler(static_cast<int>(key));
    return;
  }
  postKey(*code, state == kMediaKeyDown);
}

}  // namespace quib
