#pragma once
// Synthetic input through the desktop's RemoteDesktop portal (GNOME, KDE Plasma and other
// desktops whose compositor gives background programs no input protocol of their own). One portal
// session for keyboard and pointer, asked for at start(); the desktop shows its consent dialog
// once, and where the portal can remember the choice the restore token it hands back is kept in a
// file, so later starts ask nothing. A session the desktop closes is asked for again.
//
// Main thread only: every D-Bus answer is dispatched on the thread-default GMainContext of the
// thread that calls start() (the default context in the program), and nothing here blocks on it.
#include <gio/gio.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/wayland/InputSink.h"

namespace quib {

class PortalRequest;

struct PortalInputOptions {
  // The session bus; none: the process's own, looked up at start().
  GDBusConnection* bus = nullptr;
  // Where the portal's restore token is kept (in the data directory); empty: nothing is kept and
  // the dialog shows at every start.
  std::filesystem::path restoreTokenFile;
  // Also select a monitor screen-cast on the session where the portal offers one, for absolute
  // pointer motion (the dialog then asks to share the screen as well).
  bool absoluteMotion = true;
  // Runs on the main thread after ready(), whyNot() or describe() changed (the menu's trust line),
  // also from inside start() and requestAccess(); it must not destroy the sink.
  std::function<void()> onStateChange;
  // Whether the desktop's keymap can type a keysym (the desktop drops those it cannot); none:
  // every keysym is taken to be typable.
  std::function<bool(std::uint32_t keysym)> typable;
};

class PortalInput final : public InputSink {
 public:
  explicit PortalInput(PortalInputOptions options);
  // Closes the portal session.
  ~PortalInput() override;
  PortalInput(const PortalInput&) = delete;
  PortalInput& operator=(const PortalInput&) = delete;

  // Asks the portal for the session; answers at once, the outcome shows in ready() later. Does
  // nothing while asking or started.
  void start();
  // As start(), and also when the session lacks the keyboard or the pointer (the dialog then
  // shows again).
  void requestAccess() override;

  bool ready() override;
  std::string whyNot() override;
  std::string describe() override;

  bool key(std::uint32_t keysym, bool down) override;
  bool motionRelative(double dx, double dy) override;
  // Needs the screen-cast streams of the session: false without them, or outside every monitor.
  bool motionAbsolute(double x, double y) override;
  bool button(std::uint32_t evdevButton, bool down) override;
  bool axisSteps(Axis axis, int steps) override;
  // Each code point as its keysym, pressed and released; none, with nothing sent, when the text
  // holds one that has no keysym or one the desktop's keymap cannot type; false when not UTF-8.
  std::optional<bool> typeText(const std::string& utf8) override;

  // The keysyms typeText presses for `utf8`, in order; none when one has no keysym. Line ends
  // (\n, \r, \r\n) are Return, as an application expects from a keyboard.
  static std::optional<std::vector<std::uint32_t>> keysymsFor(const std::string& utf8);

 private:
  enum class Phase { notAsked, asking, started, failed };
  // A monitor's stream: its PipeWire node and where it lies in the compositor's global space.
  struct Stream {
    std::uint32_t node = 0;
    int x = 0, y = 0, width = 0, height = 0;
  };

  void begin();
  void probe();
  void probeScreenCast();
  void createSession();
  void selectDevices();
  void selectSources();
  void startSession();
  void started(GVariant* results);
  // The attempt or the session ended: `reason` for whyNot; `askAgain` begins a new attempt.
  void end(std::string reason, bool askAgain);
  void fail(std::string reason) { end(std::move(reason), false); }
  void failCall(const GError* error);
  // A step's answer: true when it went on (response 0); otherwise the attempt has ended.
  bool answered(std::uint32_t response);
  bool send(const char* method, GVariant* params);
  void changed();
  std::string savedToken() const;
  void saveToken(const std::string& token) const;

  bool canKeyboard() const { return phase_ == Phase::started && (granted_ & 1u); }
  bool canPointer() const { return phase_ == Phase::started && (granted_ & 2u); }

  PortalInputOptions options_;
  GDBusConnection* bus_ = nullptr;
  // One per attempt: cancels the attempt's outstanding calls when it ends.
  GCancellable* attempt_ = nullptr;
  std::unique_ptr<PortalRequest> request_;
  Phase phase_ = Phase::notAsked;
  std::string reason_;
  std::string session_;
  guint closedSubscription_ = 0;
  std::uint32_t version_ = 0;
  bool screenCast_ = false;
  std::uint32_t granted_ = 0;
  std::vector<Stream> streams_;
  // Sessions lost in a row with no input sent on them: a desktop that keeps closing the session
  // at once is not asked forever.
  int lostInARow_ = 0;
  bool sentOnSession_ = false;
  bool offerToken_ = true;
};

}  // namespace quib
