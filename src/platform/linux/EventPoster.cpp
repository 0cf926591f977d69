#include "platform/linux/EventPoster.h"

#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <algorithm>
#include <cmath>
#include <thread>

#include "platform/linux/XkbKeymap.h"

namespace quib {

namespace {

// The key for a modifier keysym, or for its fallback when the keymap lacks it.
std::optional<KeyCode> modifierKey(const XkbKeymap& keymap, KeySym sym) {
  for (std::optional<KeySym> s = sym; s; s = KeyTable::modifierFallback(*s))
    if (auto kc = keymap.firstLevelKey(*s)) return kc;
  return std::nullopt;
}

}  // namespace

LinuxEventPoster::LinuxEventPoster(Display* display, LinuxEventPosterOptions options)
    : DesktopEventPoster(std::move(options)), display_(display) {}

LinuxEventPoster::~LinuxEventPoster() {
  if (display_) releaseAll();
}

std::optional<Point> LinuxEventPoster::pointerLocation() {
  if (!display_) return std::nullopt;
  // A phone's stream of moves would otherwise cost one round trip to the X server each; right after
  // our own motion the pointer is where we put it (kept on the screen, as the server keeps it).
  if (lastMotion_ && now() - lastMotionAt_ < kMotionTrust) return lastMotion_;
  lastMotion_.reset();
  sendPendingMotion();
  Window root = 0, child = 0;
  int rootX = 0, rootY = 0, winX = 0, winY = 0;
  unsigned mask = 0;
  if (!XQueryPointer(display_, DefaultRootWindow(display_), &root, &child, &rootX, &rootY, &winX, &winY,
                     &mask))
    return std::nullopt;  // the pointer is on another screen
  return Point{static_cast<double>(rootX), static_cast<double>(rootY)};
}

bool LinuxEventPoster::canPress(std::uint16_t keyCode, KeySym sym) {
  // Only a key that can be typed on the current keymap, or bound to a spare keycode, is made.
  XkbKeymap keymap(display_);
  if (!keymap.valid()) return false;
  return isModifierCode(keyCode) ? modifierKey(keymap, sym).has_value()
                                 : keymap.find(sym) || keymap.spareKeycode(keycodesWeHold());
}

void LinuxEventPoster::moveTo(Point location, bool mayHoldBack) {
  const int x = static_cast<int>(std::lround(location.x));
  const int y = static_cast<int>(std::lround(location.y));
  pendingMotion_ = {x, y};
  if (!mayHoldBack) sendPendingMotion();
  const int screen = DefaultScreen(display_);
  lastMotion_ = Point{static_cast<double>(std::clamp(x, 0, DisplayWidth(display_, screen) - 1)),
                      static_cast<double>(std::clamp(y, 0, DisplayHeight(display_, screen) - 1))};
  lastMotionAt_ = now();
}

void LinuxEventPoster::sendPendingMotion() {
  if (!pendingMotion_) return;
  XTestFakeMotionEvent(display_, -1, pendingMotion_->first, pendingMotion_->second, CurrentTime);
  pendingMotion_.reset();
}

void LinuxEventPoster::flush() {
  if (!display_) return;
  sendPendingMotion();
  XFlush(display_);
}

void LinuxEventPoster::pause(std::chrono::microseconds duration) {
  flush();
  std::this_thread::sleep_for(duration);
}

void LinuxEventPoster::fakeKey(KeyCode keycode, bool down) {
  sendPendingMotion();  // what was done before comes first
  XTestFakeKeyEvent(display_, keycode, down ? True : False, CurrentTime);
}

std::set<KeyCode> LinuxEventPoster::keycodesWeHold() const {
  std::set<KeyCode> out;
  for (const auto& [code, held] : heldKeys_) {
    out.insert(held.keycode);
    out.insert(held.extraKeys.begin(), held.extraKeys.end());
  }
  return out;
}

void LinuxEventPoster::postModifier(std::uint16_t keyCode, bool down) {
  if (!down) {
    releaseKey(keyCode);
    return;
  }
  if (heldKeys_.count(keyCode)) return;
  auto sym = keysymFor(keyCode);
  if (!sym) return;
  XkbKeymap keymap(display_);
  auto kc = modifierKey(keymap, *sym);
  if (!kc) return;
  fakeKey(*kc, true);
  HeldKey held;
  held.keycode = *kc;
  heldKeys_[keyCode] = std::move(held);
}

void LinuxEventPoster::postKey(std::uint16_t keyCode, bool down) {
  if (!down) {
    releaseKey(keyCode);
    return;
  }
  releaseKey(keyCode);  // a second down without an up: the first press ends here
  if (auto sym = keysymFor(keyCode)) pressKey(keyCode, *sym);
}

void LinuxEventPoster::pressKey(std::uint16_t keyCode, KeySym sym) {
  XkbKeymap keymap(display_);
  if (!keymap.valid()) return;
  HeldKey held;
  auto place = keymap.find(sym);
  if (!place) {
    // Not on the keymap: bound to a spare keycode for this press only.
    auto spare = keymap.spareKeycode(keycodesWeHold());
    if (!spare) return;
    KeySym syms[2] = {sym, sym};
    XChangeKeyboardMapping(display_, *spare, 2, syms, 1);
    XSync(display_, False);
    held.boundSpare = true;
    place = XkbKeymap::Placement{.keycode = *spare, .group = keymap.currentGroup()};
  }
  held.keycode = place->keycode;

  if (place->group != keymap.currentGroup()) {
    XkbLockGroup(display_, XkbUseCoreKbd, static_cast<unsigned>(place->group));
    held.restoreGroup = keymap.currentGroup();
  }
  if (place->clearCapsLock) {
    if (auto caps = keymap.firstLevelKey(XK_Caps_Lock)) {
      fakeKey(*caps, true);
      fakeKey(*caps, false);
      held.capsLockToggled = caps;
    }
  }
  // Modifier keys held by someone else (the user, a stuck tool) would change the shortcut: they
  // are let go for this key and pressed again afterwards.
  const std::set<KeyCode> ours = keycodesWeHold();
  unsigned ourMods = 0;
  for (KeyCode k : ours) ourMods |= keymap.modifiersOf(k);
  if (keymap.heldMods() & ~ourMods & ~static_cast<unsigned>(LockMask)) {
    char keys[32] = {};
    XQueryKeymap(display_, keys);
    for (int kc = 8; kc < 256; ++kc) {
      const auto code = static_cast<KeyCode>(kc);
      if (!(keys[kc / 8] & (1 << (kc % 8))) || ours.count(code) || code == held.keycode) continue;
      if ((keymap.modifiersOf(code) & ~static_cast<unsigned>(LockMask)) == 0) continue;
      fakeKey(code, false);
      held.userModifiers.push_back(code);
    }
  }
  if (place->extraMods & ShiftMask) {
    if (auto shift = modifierKey(keymap, XK_Shift_L)) held.extraKeys.push_back(*shift);
  }
  if (place->extraMods & ~static_cast<unsigned>(ShiftMask)) {
    if (auto third = keymap.firstLevelKey(XK_ISO_Level3_Shift)) held.extraKeys.push_back(*third);
  }
  for (KeyCode k : held.extraKeys) fakeKey(k, true);
  fakeKey(held.keycode, true);
  heldKeys_[keyCode] = std::move(held);
}

void LinuxEventPoster::releaseKey(std::uint16_t keyCode) {
  auto it = heldKeys_.find(keyCode);
  if (it == heldKeys_.end()) return;
  HeldKey held = std::move(it->second);
  heldKeys_.erase(it);
  fakeKey(held.keycode, false);
  for (auto k = held.extraKeys.rbegin(); k != held.extraKeys.rend(); ++k) fakeKey(*k, false);
  for (KeyCode k : held.userModifiers) fakeKey(k, true);
  if (held.capsLockToggled) {
    fakeKey(*held.capsLockToggled, true);
    fakeKey(*held.capsLockToggled, false);
  }
  if (held.restoreGroup) XkbLockGroup(display_, XkbUseCoreKbd, static_cast<unsigned>(*held.restoreGroup));
  if (held.boundSpare) {
    KeySym none[2] = {NoSymbol, NoSymbol};
    XChangeKeyboardMapping(display_, held.keycode, 2, none, 1);
    XSync(display_, False);
  }
}

unsigned LinuxEventPoster::physicalButton(unsigned logical) {
  // The server maps physical buttons to logical ones (a left-handed user swaps 1 and 3); XTest
  // presses physical buttons, so the mapping is undone here.
  unsigned char map[256] = {};
  const int n = XGetPointerMapping(display_, map, sizeof map);
  for (int i = 0; i < n; ++i)
    if (map[i] == logical) return static_cast<unsigned>(i + 1);
  return logical;
}

void LinuxEventPoster::postButton(MouseButton button, bool down) {
  sendPendingMotion();  // what was done before comes first
  if (down) {
    if (heldButtons_.count(button)) return;
    const unsigned physical = physicalButton(button == MouseButton::left ? 1 : 3);
    XTestFakeButtonEvent(display_, physical, True, CurrentTime);
    heldButtons_[button] = physical;
    return;
  }
  auto it = heldButtons_.find(button);
  const unsigned physical =
      it != heldButtons_.end() ? it->second : physicalButton(button == MouseButton::left ? 1 : 3);
  if (it != heldButtons_.end()) heldButtons_.erase(it);
  XTestFakeButtonEvent(display_, physical, False, CurrentTime);
}

void LinuxEventPoster::postWheel(int axis, std::int64_t clicks) {
  sendPendingMotion();  // what was done before comes first
  // Positive amounts scroll up (toward the top of a page) and left: wheel buttons 4 and 6.
  const unsigned logical = axis == 0 ? (clicks > 0 ? 4 : 5) : (clicks > 0 ? 6 : 7);
  const unsigned physical = physicalButton(logical);
  for (std::int64_t i = 0; i < std::abs(clicks); ++i) {
    XTestFakeButtonEvent(display_, physical, True, CurrentTime);
    XTestFakeButtonEvent(display_, physical, False, CurrentTime);
  }
}

void LinuxEventPoster::releaseAll() {
  if (!display_) return;
  while (!heldKeys_.empty()) {
    // Plain keys before modifiers, so nothing is typed with a stale modifier.
    auto it = heldKeys_.begin();
    for (auto k = heldKeys_.begin(); k != heldKeys_.end(); ++k)
      if (!isModifierCode(k->first)) {
        it = k;
        break;
      }
    releaseKey(it->first);
  }
  while (!heldButtons_.empty()) postButton(heldButtons_.begin()->first, false);
  flush();
}

}  // namespace quib
