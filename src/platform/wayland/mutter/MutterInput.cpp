#include "platform/wayland/mutter/MutterInput.h"

#include <xkbcommon/xkbcommon.h>

#include <algorithm>

#include "platform/wayland/portal/PortalInput.h"

namespace quib {

namespace {

constexpr std::uint32_t kLeftShift = 42;  // KEY_LEFTSHIFT

bool isShift(std::uint32_t keysym) {
  return keysym == XKB_KEY_Shift_L || keysym == XKB_KEY_Shift_R;
}

}  // namespace

MutterInput::MutterInput(MutterSession& session, Locate locate)
    : session_(session), locate_(std::move(locate)) {
  session_.onStarted([this] {
    shiftsHeld_ = 0;
    absorbFirstKey();
  });
  session_.ensure();
}

std::string MutterInput::whyNot() {
  return session_.started() ? std::string() : session_.whyNot();
}

bool MutterInput::ok(GVariant* reply) {
  if (!reply) return false;
  g_variant_unref(reply);
  return true;
}

void MutterInput::absorbFirstKey() {
  ok(session_.call("NotifyKeyboardKeycode", g_variant_new("(ub)", kLeftShift, TRUE)));
  ok(session_.call("NotifyKeyboardKeycode", g_variant_new("(ub)", kLeftShift, FALSE)));
  ok(session_.call("NotifyPointerMotionRelative", g_variant_new("(dd)", 0.0, 0.0)));
}

bool MutterInput::keycode(std::uint32_t code, bool down) {
  return ok(session_.call("NotifyKeyboardKeycode", g_variant_new("(ub)", code, down)));
}

bool MutterInput::keysym(std::uint32_t sym, bool down) {
  return ok(session_.call("NotifyKeyboardKeysym", g_variant_new("(ub)", sym, down)));
}

bool MutterInput::key(std::uint32_t sym, bool down) {
  if (!session_.ensure()) return false;
  const auto place = locate_ ? locate_(sym) : std::nullopt;
  bool sent = false;
  if (!place || place->level > 1) {
    // Mutter finds the key and the level's modifiers itself, or drops what its keymap lacks.
    sent = keysym(sym, down);
  } else if (place->level == 1 && down && shiftsHeld_ == 0) {
    // Shift only for the press: the character is typed then, and a held key repeats unshifted as
    // it would for a user who let go of Shift.
    sent = keycode(kLeftShift, true) && keycode(place->evdevCode, true);
    sent = keycode(kLeftShift, false) && sent;
  } else {
    sent = keycode(place->evdevCode, down);
  }
  if (sent && isShift(sym)) shiftsHeld_ = down ? shiftsHeld_ + 1 : std::max(0, shiftsHeld_ - 1);
  return sent;
}

bool MutterInput::motionRelative(double dx, double dy) {
  return ok(session_.call("NotifyPointerMotionRelative", g_variant_new("(dd)", dx, dy)));
}

bool MutterInput::button(std::uint32_t evdevButton, bool down) {
  // Mutter 48 gives a press to the surface it last found under the pointer and looks again only when
  // the pointer moves (a motion of zero is none): a window that appeared under a resting pointer
  // would lose the click. A pixel there and back makes it look.
  if (down && !(motionRelative(1, 0) && motionRelative(-1, 0))) return false;
  return ok(
      session_.call("NotifyPointerButton", g_variant_new("(ib)", static_cast<gint32>(evdevButton), down)));
}

bool MutterInput::axisSteps(Axis axis, int steps) {
  // Mutter takes zero steps as a broken call.
  if (steps == 0) return session_.ensure();
  return ok(session_.call("NotifyPointerAxisDiscrete", g_variant_new("(ui)", axis == Axis::vertical ? 0u : 1u,
                                                                     static_cast<gint32>(steps))));
}

std::optional<bool> MutterInput::typeText(const std::string& utf8) {
  if (!g_utf8_validate(utf8.data(), static_cast<gssize>(utf8.size()), nullptr)) return false;
  if (!session_.ensure()) return false;
  const auto keysyms = PortalInput::keysymsFor(utf8);
  if (!keysyms || keysyms->size() > kMaxKeyedKeys) return std::nullopt;
  // Mutter drops keysyms its keymap lacks without a word: such text is pasted instead.
  for (const std::uint32_t sym : *keysyms)
    if (!locate_ || !locate_(sym)) return std::nullopt;
  for (const std::uint32_t sym : *keysyms)
    if (!key(sym, true) || !key(sym, false)) return false;
  return true;
}

}  // namespace quib
