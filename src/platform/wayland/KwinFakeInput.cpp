#include "platform/wayland/KwinFakeInput.h"

#include <glib.h>
#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>

#include <vector>

#include "fake-input-client-protocol.h"

namespace quib {

namespace {

constexpr std::uint32_t kLeftShift = 42;  // KEY_LEFTSHIFT
constexpr std::uint32_t kRightAlt = 100;  // KEY_RIGHTALT, AltGr on layouts with a third level
constexpr std::uint32_t kKeyboardKeySince = 4;
// One wheel click as KWin's own wheels report it.
constexpr double kPixelsPerStep = 15.0;

}  // namespace

bool KwinFakeInput::available(const WaylandConnection& c) {
  return c.has(org_kde_kwin_fake_input_interface.name);
}

std::unique_ptr<KwinFakeInput> KwinFakeInput::create(WaylandConnection& connection,
                                                     const SeatKeymap& keymap) {
  if (!available(connection)) return nullptr;
  auto* fake = static_cast<org_kde_kwin_fake_input*>(connection.bind(&org_kde_kwin_fake_input_interface, 4));
  if (!fake) return nullptr;
  if (org_kde_kwin_fake_input_get_version(fake) < kKeyboardKeySince) {
    org_kde_kwin_fake_input_destroy(fake);
    return nullptr;
  }
  org_kde_kwin_fake_input_authenticate(fake, "Quibbleton", "typing and pointing from your phone");
  if (!connection.roundtrip()) return nullptr;
  return std::unique_ptr<KwinFakeInput>(new KwinFakeInput(connection, keymap, fake));
}

KwinFakeInput::KwinFakeInput(WaylandConnection& connection, const SeatKeymap& keymap,
                             org_kde_kwin_fake_input* fake)
    : connection_(connection), keymap_(keymap), fake_(fake) {}

KwinFakeInput::~KwinFakeInput() {
  if (!connection_.broken()) {
    for (const std::uint32_t code : std::set<std::uint32_t>(held_)) sendKey(code, false);
  }
  org_kde_kwin_fake_input_destroy(fake_);
  connection_.flush();
}

bool KwinFakeInput::ready() {
  return !connection_.broken() && keymap_.known();
}

std::string KwinFakeInput::whyNot() {
  if (connection_.broken()) return "the connection to the Wayland compositor was lost";
  if (!keymap_.known()) return "KWin has not told us its keyboard layout yet";
  return {};
}

std::string KwinFakeInput::describe() {
  return "KWin fake input (granted through the installed desktop entry)";
}

void KwinFakeInput::sendKey(std::uint32_t evdevCode, bool down) {
  org_kde_kwin_fake_input_keyboard_key(fake_, evdevCode,
                                       down ? WL_KEYBOARD_KEY_STATE_PRESSED : WL_KEYBOARD_KEY_STATE_RELEASED);
  if (down)
    held_.insert(evdevCode);
  else
    held_.erase(evdevCode);
}

std::uint32_t KwinFakeInput::missingModifiers(std::uint32_t level) const {
  // A modifier the caller holds itself is left as it is.
  return level & ~((held_.contains(kLeftShift) ? 1u : 0u) | (held_.contains(kRightAlt) ? 2u : 0u));
}

void KwinFakeInput::levelModifiers(std::uint32_t bits, bool down) {
  const std::uint32_t codes[] = {kLeftShift, kRightAlt};
  for (int i = 0; i < 2; ++i)
    if (bits & (1u << i))
      org_kde_kwin_fake_input_keyboard_key(
          fake_, codes[i], down ? WL_KEYBOARD_KEY_STATE_PRESSED : WL_KEYBOARD_KEY_STATE_RELEASED);
}

bool KwinFakeInput::key(std::uint32_t keysym, bool down) {
  if (!ready()) return false;
  const auto key = keymap_.locate(keysym);
  if (!key) return false;
  if (!down) {
    sendKey(key->evdevCode, false);
    return connection_.flush();
  }
  // The level's modifiers only around the press: the key stays down, the modifiers do not.
  const std::uint32_t extra = missingModifiers(key->level);
  levelModifiers(extra, true);
  sendKey(key->evdevCode, true);
  levelModifiers(extra, false);
  return connection_.flush();
}

bool KwinFakeInput::motionRelative(double dx, double dy) {
  if (!ready()) return false;
  org_kde_kwin_fake_input_pointer_motion(fake_, wl_fixed_from_double(dx), wl_fixed_from_double(dy));
  return connection_.flush();
}

bool KwinFakeInput::motionAbsolute(double, double) {
  return false;
}

bool KwinFakeInput::button(std::uint32_t evdevButton, bool down) {
  if (!ready()) return false;
  org_kde_kwin_fake_input_button(fake_, evdevButton,
                                 down ? WL_POINTER_BUTTON_STATE_PRESSED : WL_POINTER_BUTTON_STATE_RELEASED);
  return connection_.flush();
}

bool KwinFakeInput::axisSteps(Axis axis, int steps) {
  if (!ready()) return false;
  if (steps == 0) return true;
  org_kde_kwin_fake_input_axis(
      fake_, axis == Axis::vertical ? WL_POINTER_AXIS_VERTICAL_SCROLL : WL_POINTER_AXIS_HORIZONTAL_SCROLL,
      wl_fixed_from_double(steps * kPixelsPerStep));
  return connection_.flush();
}

std::optional<bool> KwinFakeInput::typeText(const std::string& utf8) {
  if (!ready()) return false;
  if (!g_utf8_validate(utf8.data(), static_cast<gssize>(utf8.size()), nullptr)) return false;
  std::vector<KeyPlace> keys;
  for (const char* p = utf8.data(); p < utf8.data() + utf8.size(); p = g_utf8_next_char(p)) {
    const gunichar c = g_utf8_get_char(p);
    std::uint32_t keysym = 0;
    if (c == '\n' || c == '\r') {
      if (c == '\r' && p[1] == '\n') ++p;
      keysym = 0xff0d;  // Return
    } else if (c == '\t') {
      keysym = 0xff09;  // Tab
    } else if (c >= 0x20 && (c < 0x7f || c >= 0xa0)) {
      keysym = xkb_utf32_to_keysym(c);
    }
    const auto key = keysym ? keymap_.locate(keysym) : std::nullopt;
    // Text the keymap cannot type whole is pasted instead.
    if (!key || key->level > 3 || keys.size() == kMaxKeyedKeys) return std::nullopt;
    keys.push_back(*key);
  }
  for (const KeyPlace& k : keys) {
    const std::uint32_t extra = missingModifiers(k.level);
    levelModifiers(extra, true);
    sendKey(k.evdevCode, true);
    sendKey(k.evdevCode, false);
    levelModifiers(extra, false);
    // A compositor that takes nothing for a while: the rest is not typed.
    if (!connection_.flush()) return false;
  }
  return true;
}

}  // namespace quib
