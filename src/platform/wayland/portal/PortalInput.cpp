#include "platform/wayland/portal/PortalInput.h"

#include <xkbcommon/xkbcommon.h>

#include "platform/wayland/DbusError.h"
#include "platform/wayland/portal/PortalRequest.h"

namespace quib {
namespace {

constexpr std::uint32_t kShiftL = 0xffe1;  // XK_Shift_L

// Shift_L to Hyper_R: released after the keys they modify.
bool isModifier(std::uint32_t keysym) {
  return keysym >= 0xffe1 && keysym <= 0xffee;
}

GVariant* noOptions() {
  return g_variant_new_array(G_VARIANT_TYPE("{sv}"), nullptr, 0);
}

}  // namespace

PortalInput::PortalInput(PortalInputOptions options)
    : options_(std::move(options)),
      session_(PortalSessionOptions{
          options_.bus, options_.restoreTokenFile, options_.onStateChange,
          [this] {
            heldKeys_.clear();
            heldButtons_.clear();
            if (pasteboard_) pasteboard_->sessionStarted();
            // Some desktops drop the first key event of a new session, and GNOME ignores the
            // release of a key it did not see pressed: a tap of Shift, which types nothing, is what
            // gets dropped.
            if (session_.has(PortalSession::kKeyboard))
              for (const guint32 state : {1u, 0u})
                call("NotifyKeyboardKeysym", g_variant_new("(o@a{sv}iu)", session_.handle().c_str(),
                                                           noOptions(), static_cast<gint32>(kShiftL), state));
            // GNOME 48 loses the first click of a new session likewise: a pixel there and back takes
            // its place.
            if (session_.has(PortalSession::kPointer))
              for (const double dx : {1.0, -1.0})
                call("NotifyPointerMotion",
                     g_variant_new("(o@a{sv}dd)", session_.handle().c_str(), noOptions(), dx, 0.0));
          },
          options_.clipboard}) {
  if (options_.clipboard) pasteboard_ = std::make_unique<PortalPasteboard>(session_);
}

PortalInput::~PortalInput() {
  releaseHeld();
}

PortalInput::Sent PortalInput::call(const char* method, GVariant* params) {
  GError* error = nullptr;
  GVariant* reply = g_dbus_connection_call_sync(
      session_.bus(), PortalRequest::kService, PortalRequest::kObject, PortalSession::kRemoteDesktop, method,
      params, nullptr, G_DBUS_CALL_FLAGS_NO_AUTO_START, static_cast<int>(options_.callTimeout.count()),
      nullptr, &error);
  if (reply) {
    g_variant_unref(reply);
    return Sent::ok;
  }
  const bool timedOut = g_error_matches(error, G_IO_ERROR, G_IO_ERROR_TIMED_OUT);
  const std::string why = dbusErrorText(error);
  g_error_free(error);
  if (timedOut) return Sent::failed;
  // A refused event means the session is gone (the portal restarted, the desktop dropped it).
  session_.refused("the remote-desktop portal refused input: " + why);
  return Sent::refused;
}

bool PortalInput::send(const char* method, GVariant* params) {
  const Sent sent = call(method, params);
  if (sent == Sent::ok) {
    session_.sentInput();
    return true;
  }
  // A new session starts with nothing held; on this one the call may still arrive late.
  if (sent == Sent::refused) {
    heldKeys_.clear();
    heldButtons_.clear();
  }
  releaseHeld();
  return false;
}

void PortalInput::releaseHeld() {
  // Plain keys and buttons before modifiers; a release that fails too ends the attempt.
  std::vector<std::pair<const char*, std::uint32_t>> order;
  for (std::uint32_t b : heldButtons_) order.emplace_back("NotifyPointerButton", b);
  for (std::uint32_t k : heldKeys_)
    if (!isModifier(k)) order.emplace_back("NotifyKeyboardKeysym", k);
  for (std::uint32_t k : heldKeys_)
    if (isModifier(k)) order.emplace_back("NotifyKeyboardKeysym", k);
  heldKeys_.clear();
  heldButtons_.clear();
  if (session_.handle().empty()) return;
  for (const auto& [method, code] : order)
    if (call(method, g_variant_new("(o@a{sv}iu)", session_.handle().c_str(), noOptions(),
                                   static_cast<gint32>(code), 0u)) != Sent::ok)
      return;
}

bool PortalInput::keyCall(std::uint32_t keysym, bool down) {
  // Held before the call: a press that timed out may still reach the desktop.
  if (down)
    heldKeys_.insert(keysym);
  else
    heldKeys_.erase(keysym);
  return send("NotifyKeyboardKeysym", g_variant_new("(o@a{sv}iu)", session_.handle().c_str(), noOptions(),
                                                    static_cast<gint32>(keysym), down ? 1u : 0u));
}

bool PortalInput::buttonCall(std::uint32_t evdevButton, bool down) {
  if (down)
    heldButtons_.insert(evdevButton);
  else
    heldButtons_.erase(evdevButton);
  return send("NotifyPointerButton", g_variant_new("(o@a{sv}iu)", session_.handle().c_str(), noOptions(),
                                                   static_cast<gint32>(evdevButton), down ? 1u : 0u));
}

bool PortalInput::key(std::uint32_t keysym, bool down) {
  return session_.has(PortalSession::kKeyboard) && keyCall(keysym, down);
}

bool PortalInput::motionRelative(double dx, double dy) {
  if (!session_.has(PortalSession::kPointer)) return false;
  return send("NotifyPointerMotion",
              g_variant_new("(o@a{sv}dd)", session_.handle().c_str(), noOptions(), dx, dy));
}

bool PortalInput::motionAbsolute(double, double) {
  return false;
}

bool PortalInput::button(std::uint32_t evdevButton, bool down) {
  if (!session_.has(PortalSession::kPointer)) return false;
  // GNOME 48's portal hands the click to mutter, which finds the surface under the pointer only when
  // it moves: a pixel there and back, so that a window that appeared under a resting pointer gets it.
  if (down && !(motionRelative(1, 0) && motionRelative(-1, 0))) return false;
  return buttonCall(evdevButton, down);
}

bool PortalInput::axisSteps(Axis axis, int steps) {
  if (!session_.has(PortalSession::kPointer)) return false;
  // The portal's steps are positive downwards and rightwards, as ours; GNOME takes zero steps for
  // a broken call and drops the session.
  if (steps == 0) return true;
  return send("NotifyPointerAxisDiscrete",
              g_variant_new("(o@a{sv}ui)", session_.handle().c_str(), noOptions(),
                            axis == Axis::vertical ? 0u : 1u, static_cast<gint32>(steps)));
}

std::optional<std::vector<std::uint32_t>> PortalInput::keysymsFor(const std::string& utf8) {
  if (!g_utf8_validate(utf8.data(), static_cast<gssize>(utf8.size()), nullptr)) return std::nullopt;
  std::vector<std::uint32_t> keysyms;
  const char* p = utf8.data();
  const char* const end = p + utf8.size();
  while (p < end) {
    const gunichar c = g_utf8_get_char(p);
    p = g_utf8_next_char(p);
    if (c == '\r' || c == '\n') {
      if (c == '\r' && p < end && *p == '\n') ++p;
      keysyms.push_back(XKB_KEY_Return);
    } else if (c == '\t') {
      keysyms.push_back(XKB_KEY_Tab);
    } else if (c < 0x20 || (c >= 0x7f && c < 0xa0)) {
      return std::nullopt;  // other control characters are no key a user would press
    } else {
      const xkb_keysym_t keysym = xkb_utf32_to_keysym(c);
      if (keysym == XKB_KEY_NoSymbol) return std::nullopt;
      keysyms.push_back(keysym);
    }
  }
  return keysyms;
}

std::optional<bool> PortalInput::typeText(const std::string& utf8) {
  if (!session_.has(PortalSession::kKeyboard)) return false;
  if (!g_utf8_validate(utf8.data(), static_cast<gssize>(utf8.size()), nullptr)) return false;
  // The desktop drops keysyms its keymap lacks without a word: such text is pasted instead.
  const auto keysyms = keysymsFor(utf8);
  if (!keysyms || keysyms->size() > kMaxKeyedKeys) return std::nullopt;
  if (options_.typable)
    for (const std::uint32_t keysym : *keysyms)
      if (!options_.typable(keysym)) return std::nullopt;
  for (const std::uint32_t keysym : *keysyms)
    if (!keyCall(keysym, true) || !keyCall(keysym, false)) return false;
  return true;
}

}  // namespace quib
