#pragma once
// Synthetic input through the desktop's RemoteDesktop portal session (PortalSession). The portal
// frontend handles the calls it receives on worker threads, so calls that overlap reach the
// desktop in any order ("Hello" typed as "Hlelo", a key left down): each input call here waits for
// the previous one's reply, with a short bound, and a call that failed or ran out of time makes
// the action fail and releases whatever was held down.
//
// Main thread only; the input calls block it for at most callTimeout each.
#include <gio/gio.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/wayland/InputSink.h"
#include "platform/wayland/portal/PortalPasteboard.h"
#include "platform/wayland/portal/PortalSession.h"

namespace quib {

struct PortalInputOptions {
  // The session bus; none: the process's own, looked up at start().
  GDBusConnection* bus = nullptr;
  // Where the portal's restore token is kept; empty: the dialog shows at every start.
  std::filesystem::path restoreTokenFile;
  // How long one input call may wait for the portal's reply.
  std::chrono::milliseconds callTimeout{500};
  // Runs on the main thread after ready(), whyNot() or describe() changed (the menu's trust line),
  // also from inside start() and requestAccess(); it must not destroy the sink.
  std::function<void()> onStateChange;
  // Also takes the desktop's clipboard through the session, where the portal offers it.
  bool clipboard = false;
  // Whether the desktop's keymap can type a keysym (the desktop drops those it cannot); none:
  // every keysym is taken to be typable.
  std::function<bool(std::uint32_t keysym)> typable;
};

class PortalInput final : public InputSink {
 public:
  explicit PortalInput(PortalInputOptions options);
  ~PortalInput() override;
  PortalInput(const PortalInput&) = delete;
  PortalInput& operator=(const PortalInput&) = delete;

  // Asks the portal for the session; see PortalSession::start().
  void start() { session_.start(); }
  void requestAccess() override { session_.requestAccess(); }

  bool ready() override { return session_.ready(); }
  std::string whyNot() override { return session_.whyNot(); }
  std::string describe() override { return session_.describe(); }

  bool key(std::uint32_t keysym, bool down) override;
  bool motionRelative(double dx, double dy) override;
  // The session has no screen cast, so no place is known: always false.
  bool motionAbsolute(double x, double y) override;
  bool button(std::uint32_t evdevButton, bool down) override;
  bool axisSteps(Axis axis, int steps) override;
  // Each code point as its keysym, pressed and released; none, with nothing sent, when the text
  // holds one that has no keysym or one the desktop's keymap cannot type; false when not UTF-8, or
  // when a call failed (the rest is not sent).
  std::optional<bool> typeText(const std::string& utf8) override;

  // The keysyms typeText presses for `utf8`, in order; none when one has no keysym. Line ends
  // (\n, \r, \r\n) are Return, as an application expects from a keyboard.
  static std::optional<std::vector<std::uint32_t>> keysymsFor(const std::string& utf8);

  // The session's clipboard when asked for; available() once the desktop granted it.
  Pasteboard* pasteboard() override { return pasteboard_.get(); }

 private:
  enum class Sent { ok, failed, refused };
  // One input call, waiting for its reply.
  Sent call(const char* method, GVariant* params);
  // As call(); on failure releases what is held and answers false.
  bool send(const char* method, GVariant* params);
  void releaseHeld();
  bool keyCall(std::uint32_t keysym, bool down);
  bool buttonCall(std::uint32_t evdevButton, bool down);

  PortalInputOptions options_;
  PortalSession session_;
  std::unique_ptr<PortalPasteboard> pasteboard_;
  // Down on the desktop as far as we know, released after a failed call.
  std::set<std::uint32_t> heldKeys_, heldButtons_;
};

}  // namespace quib
