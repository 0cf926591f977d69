#include "platform/wayland/WlrootsInput.h"

#include <glib.h>
#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>

#include <algorithm>
#include <cmath>

#include "platform/linux/MainContextWait.h"
#include "virtual-keyboard-unstable-v1-client-protocol.h"
#include "wlr-virtual-pointer-unstable-v1-client-protocol.h"

namespace quib {

namespace {

// One wheel click as the compositor's own wheels report it, in surface pixels.
constexpr double kPixelsPerStep = 15.0;

// The Unicode scalar values of valid UTF-8, in order; none for invalid input.
std::optional<std::u32string> decode(const std::string& utf8) {
  if (!g_utf8_validate(utf8.data(), static_cast<gssize>(utf8.size()), nullptr)) return std::nullopt;
  std::u32string out;
  for (const char* p = utf8.data(); p < utf8.data() + utf8.size(); p = g_utf8_next_char(p))
    out.push_back(static_cast<char32_t>(g_utf8_get_char(p)));
  return out;
}

}  // namespace

bool WlrootsInput::available(const WaylandConnection& c) {
  return c.seat() && c.has(zwp_virtual_keyboard_manager_v1_interface.name) &&
         c.has(zwlr_virtual_pointer_manager_v1_interface.name);
}

std::unique_ptr<WlrootsInput> WlrootsInput::create(WaylandConnection& connection) {
  if (!available(connection)) return nullptr;
  auto sink = std::unique_ptr<WlrootsInput>(new WlrootsInput(connection));
  if (!sink->keyboard_ || !sink->pointer_ || !sink->useKeyKeymap() || !connection.roundtrip()) return nullptr;
  return sink;
}

WlrootsInput::WlrootsInput(WaylandConnection& connection) : connection_(connection) {
  keyboardManager_ = static_cast<zwp_virtual_keyboard_manager_v1*>(
      connection.bind(&zwp_virtual_keyboard_manager_v1_interface, 1));
  pointerManager_ = static_cast<zwlr_virtual_pointer_manager_v1*>(
      connection.bind(&zwlr_virtual_pointer_manager_v1_interface, 2));
  if (keyboardManager_)
    keyboard_ = zwp_virtual_keyboard_manager_v1_create_virtual_keyboard(keyboardManager_, connection.seat());
  if (pointerManager_)
    pointer_ = zwlr_virtual_pointer_manager_v1_create_virtual_pointer(pointerManager_, connection.seat());
}

WlrootsInput::~WlrootsInput() {
  if (ready()) releaseAll();
  if (state_) xkb_state_unref(state_);
  if (keyboard_) zwp_virtual_keyboard_v1_destroy(keyboard_);
  if (pointer_) zwlr_virtual_pointer_v1_destroy(pointer_);
  if (pointerManager_) zwlr_virtual_pointer_manager_v1_destroy(pointerManager_);
  // The keyboard manager has no destructor request in version 1.
  if (keyboardManager_) wl_proxy_destroy(reinterpret_cast<wl_proxy*>(keyboardManager_));
  connection_.flush();
}

bool WlrootsInput::ready() {
  return keyboard_ && pointer_ && keyKeymap_ && !connection_.broken();
}

std::string WlrootsInput::whyNot() {
  if (ready()) return "";
  if (connection_.broken()) return "the connection to the Wayland compositor was lost";
  return "the compositor did not make the virtual keyboard and pointer";
}

std::uint32_t WlrootsInput::now() const {
  return static_cast<std::uint32_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - epoch_)
          .count());
}

bool WlrootsInput::upload(const VirtualKeymap& keymap) {
  const std::string& text = keymap.text();
  const int fd = memfd_create("quibbleton-keymap", MFD_CLOEXEC);
  if (fd < 0) return false;
  bool ok = true;
  for (std::size_t done = 0; ok && done < text.size();) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n <= 0)
      ok = false;
    else
      done += static_cast<std::size_t>(n);
  }
  if (ok)
    zwp_virtual_keyboard_v1_keymap(keyboard_, WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1, fd,
                                   static_cast<std::uint32_t>(text.size()));
  ::close(fd);
  return ok && connection_.flush();
}

bool WlrootsInput::useKeyKeymap(std::optional<std::uint32_t> extra) {
  const bool needsExtra = extra && (!keyKeymap_ || !keyKeymap_->keyFor(*extra));
  if (keyKeymap_ && keyKeymapUploaded_ && !needsExtra) return true;
  if (needsExtra) {
    // The oldest extra not held down makes room when every free key is taken.
    if (extras_.size() >= VirtualKeymap::freeKeys()) {
      auto spare = std::find_if(extras_.begin(), extras_.end(), [&](std::uint32_t sym) {
        return std::none_of(heldKeys_.begin(), heldKeys_.end(),
                            [&](const HeldKey& h) { return h.keysym == sym; });
      });
      if (spare == extras_.end()) return false;
      extras_.erase(spare);
    }
    extras_.push_back(*extra);
  }
  if (!keyKeymap_ || needsExtra) {
    auto keymap = VirtualKeymap::withExtras(extras_);
    if (!keymap) return false;
    keyKeymap_ = std::move(keymap);
  }
  if (!upload(*keyKeymap_)) return false;
  keyKeymapUploaded_ = true;
  // The new keymap's state starts with what is held; the held keys' codes are the same in it
  // unless an extra moved, which only a key not held can do.
  if (state_) xkb_state_unref(state_);
  state_ = xkb_state_new(keyKeymap_->keymap());
  for (const HeldKey& h : heldKeys_) xkb_state_update_key(state_, h.key + 8, XKB_KEY_DOWN);
  sendModifiers();
  return state_ != nullptr;
}

void WlrootsInput::sendKey(std::uint32_t key, bool down) {
  zwp_virtual_keyboard_v1_key(keyboard_, now(), key,
                              down ? WL_KEYBOARD_KEY_STATE_PRESSED : WL_KEYBOARD_KEY_STATE_RELEASED);
}

void WlrootsInput::sendModifiers() {
  // The compositor takes the modifier state from this request alone, not from the keys.
  if (!state_) {
    zwp_virtual_keyboard_v1_modifiers(keyboard_, 0, 0, 0, 0);
    return;
  }
  zwp_virtual_keyboard_v1_modifiers(keyboard_, xkb_state_serialize_mods(state_, XKB_STATE_MODS_DEPRESSED),
                                    xkb_state_serialize_mods(state_, XKB_STATE_MODS_LATCHED),
                                    xkb_state_serialize_mods(state_, XKB_STATE_MODS_LOCKED),
                                    xkb_state_serialize_layout(state_, XKB_STATE_LAYOUT_EFFECTIVE));
}

bool WlrootsInput::key(std::uint32_t keysym, bool down) {
  if (!ready()) return false;
  auto held =
      std::find_if(heldKeys_.begin(), heldKeys_.end(), [&](const HeldKey& h) { return h.keysym == keysym; });
  if (!down) {
    if (held == heldKeys_.end()) return true;
    const std::uint32_t key = held->key;
    heldKeys_.erase(held);
    if (!useKeyKeymap()) return false;
    sendKey(key, false);
    xkb_state_update_key(state_, key + 8, XKB_KEY_UP);
    sendModifiers();
    return connection_.flush();
  }
  if (held != heldKeys_.end()) return true;
  if (!useKeyKeymap(keysym)) return false;
  auto key = keyKeymap_->keyFor(keysym);
  if (!key) return false;
  sendKey(*key, true);
  xkb_state_update_key(state_, *key + 8, XKB_KEY_DOWN);
  sendModifiers();
  heldKeys_.push_back(HeldKey{keysym, *key});
  return connection_.flush();
}

std::optional<bool> WlrootsInput::typeText(const std::string& utf8) {
  if (!ready()) return false;
  auto text = decode(utf8);
  if (!text) return false;
  // Keys held through key() would change what the text's keys mean: they are let go first.
  releaseAll();
  std::size_t at = 0;
  while (at < text->size()) {
    // As many characters as fit on one keymap, each different one on a key of its own.
    std::vector<VirtualKeymap::KeySym> syms;
    std::vector<std::uint32_t> keys;
    std::size_t end = at;
    for (; end < text->size(); ++end) {
      const VirtualKeymap::KeySym sym = keysymForCodepoint((*text)[end]);
      if (sym == XKB_KEY_NoSymbol) continue;
      auto known = std::find(syms.begin(), syms.end(), sym);
      if (known == syms.end()) {
        if (syms.size() == VirtualKeymap::kTextKeys) break;
        syms.push_back(sym);
        known = syms.end() - 1;
      }
      keys.push_back(static_cast<std::uint32_t>(known - syms.begin()) + 1);  // evdev code of key i
    }
    auto keymap = VirtualKeymap::forKeysyms(syms);
    if (!keymap || !upload(*keymap)) return false;
    keyKeymapUploaded_ = false;
    zwp_virtual_keyboard_v1_modifiers(keyboard_, 0, 0, 0, 0);
    for (std::size_t i = 0; i < keys.size(); ++i) {
      sendKey(keys[i], true);
      sendKey(keys[i], false);
      if ((i + 1) % kKeysInFlight == 0 && !settle()) return false;
    }
    if (!connection_.flush()) return false;
    at = end;
  }
  return useKeyKeymap() && connection_.flush();
}

bool WlrootsInput::settle() {
  // The compositor's answer to a sync request comes after it has handled everything before it.
  bool done = false;
  static const wl_callback_listener listener = {.done = [](void* flag, wl_callback* callback, std::uint32_t) {
    *static_cast<bool*>(flag) = true;
    wl_callback_destroy(callback);
  }};
  wl_callback* callback = wl_display_sync(connection_.display());
  if (!callback) return false;
  wl_callback_add_listener(callback, &listener, &done);
  // Other sources run meanwhile (the main loop is not held), but no other action does.
  if (connection_.flush() &&
      linuxdesktop::iterateMainContextUntil([&] { return done || connection_.broken(); }, kSettleLimit) &&
      done)
    return true;
  // The callback still points at `done`: it must never fire into a dead frame.
  if (!done) wl_callback_destroy(callback);
  return false;
}

bool WlrootsInput::motionRelative(double dx, double dy) {
  if (!ready() || !std::isfinite(dx) || !std::isfinite(dy)) return false;
  zwlr_virtual_pointer_v1_motion(pointer_, now(), wl_fixed_from_double(dx), wl_fixed_from_double(dy));
  zwlr_virtual_pointer_v1_frame(pointer_);
  return connection_.flush();
}

bool WlrootsInput::motionAbsolute(double x, double y) {
  if (!ready() || !std::isfinite(x) || !std::isfinite(y)) return false;
  auto box = connection_.layout();
  if (!box) return false;
  // Absolute positions are fractions of an extent laid over the whole output layout.
  const double px = std::clamp(std::round(x) - box->x, 0.0, static_cast<double>(box->width - 1));
  const double py = std::clamp(std::round(y) - box->y, 0.0, static_cast<double>(box->height - 1));
  zwlr_virtual_pointer_v1_motion_absolute(
      pointer_, now(), static_cast<std::uint32_t>(px), static_cast<std::uint32_t>(py),
      static_cast<std::uint32_t>(box->width), static_cast<std::uint32_t>(box->height));
  zwlr_virtual_pointer_v1_frame(pointer_);
  return connection_.flush();
}

bool WlrootsInput::button(std::uint32_t evdevButton, bool down) {
  if (!ready()) return false;
  auto held = std::find(heldButtons_.begin(), heldButtons_.end(), evdevButton);
  if (down == (held != heldButtons_.end())) return true;
  if (down)
    heldButtons_.push_back(evdevButton);
  else
    heldButtons_.erase(held);
  zwlr_virtual_pointer_v1_button(pointer_, now(), evdevButton,
                                 down ? WL_POINTER_BUTTON_STATE_PRESSED : WL_POINTER_BUTTON_STATE_RELEASED);
  zwlr_virtual_pointer_v1_frame(pointer_);
  return connection_.flush();
}

bool WlrootsInput::axisSteps(Axis axis, int steps) {
  if (!ready()) return false;
  if (steps == 0) return true;
  const std::uint32_t a =
      axis == Axis::vertical ? WL_POINTER_AXIS_VERTICAL_SCROLL : WL_POINTER_AXIS_HORIZONTAL_SCROLL;
  // One frame per click, as a wheel sends them: toolkits make one scroll event of each frame.
  const int step = steps > 0 ? 1 : -1;
  for (int i = 0; i != steps; i += step) {
    zwlr_virtual_pointer_v1_axis_source(pointer_, WL_POINTER_AXIS_SOURCE_WHEEL);
    zwlr_virtual_pointer_v1_axis_discrete(pointer_, now(), a, wl_fixed_from_double(step * kPixelsPerStep),
                                          step);
    zwlr_virtual_pointer_v1_frame(pointer_);
  }
  return connection_.flush();
}

void WlrootsInput::releaseAll() {
  // Plain keys before modifiers, so nothing is typed with a stale modifier.
  std::stable_partition(heldKeys_.begin(), heldKeys_.end(), [&](const HeldKey& h) {
    return !keyKeymap_ || keyKeymap_->modifierMaskOf(h.key) == 0;
  });
  while (!heldKeys_.empty()) key(heldKeys_.front().keysym, false);
  while (!heldButtons_.empty()) button(heldButtons_.front(), false);
}

}  // namespace quib
