#pragma once
// The desktop's RemoteDesktop portal session that synthetic input goes through (GNOME, KDE Plasma
// and other desktops whose compositor gives background programs no input protocol of their own).
// Keyboard and pointer only: no screen cast is asked for, since relative motion needs none and a
// desktop without PipeWire refuses a session that asks for one. The desktop shows its consent
// dialog once; where the portal can remember the choice, the restore token it hands back is kept
// in a file, so later starts ask nothing. A session the desktop closes is asked for again.
//
// Main thread only: every D-Bus answer is dispatched on the thread-default GMainContext of the
// thread that calls start() (the default context in the program), and nothing here blocks on it.
#include <gio/gio.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

namespace quib {

class PortalRequest;

struct PortalSessionOptions {
  // The session bus; none: the process's own, looked up at start().
  GDBusConnection* bus = nullptr;
  // Where the portal's restore token is kept (in the data directory); empty: nothing is kept and
  // the dialog shows at every start.
  std::filesystem::path restoreTokenFile;
  // Runs on the main thread after ready(), whyNot() or describe() changed, also from inside
  // start() and requestAccess(); it must not destroy the session.
  std::function<void()> onStateChange;
  // Runs on the main thread once a session has started, before onStateChange.
  std::function<void()> onStarted;
  // Also asks for the desktop's clipboard on the session, where the portal offers it (the
  // Clipboard portal with RemoteDesktop 2 or later).
  bool clipboard = false;
};

class PortalSession {
 public:
  static constexpr std::uint32_t kKeyboard = 1, kPointer = 2;
  static constexpr const char* kRemoteDesktop = "org.freedesktop.portal.RemoteDesktop";
  static constexpr const char* kClipboard = "org.freedesktop.portal.Clipboard";

  explicit PortalSession(PortalSessionOptions options);
  // Closes the portal session.
  ~PortalSession();
  PortalSession(const PortalSession&) = delete;
  PortalSession& operator=(const PortalSession&) = delete;

  // Asks the portal for the session; answers at once, the outcome shows in ready() later. Does
  // nothing while asking or started.
  void start();
  // As start(), and also when the session lacks the keyboard or the pointer (the dialog then
  // shows again).
  void requestAccess();

  bool ready() const { return phase_ == Phase::started && granted_ == (kKeyboard | kPointer); }
  // Whether the started session has this device (kKeyboard, kPointer).
  bool has(std::uint32_t device) const { return phase_ == Phase::started && (granted_ & device); }
  // Whether the started session has the desktop's clipboard.
  bool clipboard() const { return phase_ == Phase::started && clipboard_; }
  std::string whyNot() const;
  // "RemoteDesktop portal (keyboard and pointer)", for the line naming the backend.
  std::string describe() const;

  GDBusConnection* bus() const { return bus_; }
  // The session's object path; empty unless started.
  const std::string& handle() const { return session_; }
  // The portal refused an input call: the session is gone (the portal restarted, the desktop
  // dropped it), and a new one is asked for.
  void refused(std::string reason);
  // Input went out on this session: it was of use, whatever happens to it later.
  void sentInput() { sentOnSession_ = true; }

 private:
  enum class Phase { notAsked, asking, started, failed };

  void begin();
  void probe();
  void createSession();
  void probeClipboard();
  void selectDevices();
  void requestClipboard();
  void startSession();
  void started(GVariant* results);
  // The attempt or the session ended: `reason` for whyNot; `askAgain` begins a new attempt.
  void end(std::string reason, bool askAgain);
  void fail(std::string reason) { end(std::move(reason), false); }
  void failCall(const GError* error);
  // A step's answer: true when it went on (response 0); otherwise the attempt has ended.
  bool answered(std::uint32_t response);
  void changed();
  std::string savedToken() const;
  void saveToken(const std::string& token) const;

  PortalSessionOptions options_;
  GDBusConnection* bus_ = nullptr;
  // One per attempt: cancels the attempt's outstanding calls when it ends.
  GCancellable* attempt_ = nullptr;
  std::unique_ptr<PortalRequest> request_;
  Phase phase_ = Phase::notAsked;
  std::string reason_;
  std::string session_;
  guint closedSubscription_ = 0;
  std::uint32_t version_ = 0;
  std::uint32_t granted_ = 0;
  bool clipboardOffered_ = false;
  bool clipboard_ = false;
  // Sessions lost in a row with no input sent on them: a desktop that keeps closing the session
  // at once is not asked forever.
  int lostInARow_ = 0;
  bool sentOnSession_ = false;
  bool offerToken_ = true;
};

}  // namespace quib
