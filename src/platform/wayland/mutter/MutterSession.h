#pragma once
// One remote-desktop session of GNOME's compositor (org.gnome.Mutter.RemoteDesktop on the session
// bus), shared by the keyboard and pointer sink and the clipboard. Mutter asks nothing of an
// ordinary session client (it shows its indicator in the top bar while a session lives), so the
// session is made at once and kept for the life of the program, made again when it closes. A
// session dies with the D-Bus connection that made it, and later GNOME refuses calls from any other
// connection, so every call goes through the one connection given here.
//
// Every call waits for its reply, with a short bound: mutter handles calls on worker threads and
// reorders calls sent without waiting. Main thread only; the session's signals are dispatched on
// the thread-default GMainContext of the thread that made this object.
#include <gio/gio.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace quib {

class MutterSession {
 public:
  static constexpr const char* kService = "org.gnome.Mutter.RemoteDesktop";
  static constexpr const char* kObject = "/org/gnome/Mutter/RemoteDesktop";
  static constexpr const char* kSessionInterface = "org.gnome.Mutter.RemoteDesktop.Session";
  static constexpr std::chrono::milliseconds kCallTimeout{2000};
  // Making and starting a session waits longer: a loaded desktop answers it slowly, and it is rare.
  static constexpr std::chrono::milliseconds kStartTimeout{10000};
  // After a failed attempt, the next one waits this long (a missing service is not asked per key).
  static constexpr std::chrono::seconds kRetryAfter{2};

  // Whether something answers for mutter's remote desktop on `bus`.
  static bool present(GDBusConnection* bus);

  // `bus` is kept (a reference is taken); the session is made by the first ensure().
  explicit MutterSession(GDBusConnection* bus);
  // Stops the session.
  ~MutterSession();
  MutterSession(const MutterSession&) = delete;
  MutterSession& operator=(const MutterSession&) = delete;

  // A started session: the one there is, or a new one (not more often than kRetryAfter after a
  // failure). False with the reason in whyNot().
  bool ensure();
  bool started() const { return !path_.empty(); }
  const std::string& whyNot() const { return reason_; }

  // A method of the session, waiting for the reply; none when it failed (the reason in whyNot()). A
  // call refused because the session is gone ends it, so the next ensure() makes another. `fds`
  // receives the descriptors a reply carries.
  GVariant* call(const char* method, GVariant* params, GUnixFDList** fds = nullptr);

  // Runs after each new session started (before ensure() returns); main thread.
  void onStarted(std::function<void()> f) { startedObservers_.push_back(std::move(f)); }
  // A signal of the current session: `handler(parameters)`; main thread.
  void onSignal(std::string name, std::function<void(GVariant*)> handler);
  // Runs when the state ready/not ready changes; main thread.
  void onStateChange(std::function<void()> f) { stateObservers_.push_back(std::move(f)); }

  GDBusConnection* bus() const { return bus_; }
  // The current session's object path; empty when none.
  const std::string& path() const { return path_; }

 private:
  bool create();
  void closed(std::string reason);
  static void signal(GDBusConnection*, const gchar*, const gchar* path, const gchar*, const gchar* name,
                     GVariant* parameters, gpointer self);

  GDBusConnection* bus_;
  std::string path_;
  std::string reason_ = "the desktop's remote-desktop session has not been made yet";
  std::chrono::steady_clock::time_point lastFailure_{};
  bool failedBefore_ = false;
  guint subscription_ = 0;
  std::vector<std::function<void()>> startedObservers_;
  std::vector<std::function<void()>> stateObservers_;
  std::vector<std::pair<std::string, std::function<void(GVariant*)>>> signalHandlers_;
};

}  // namespace quib
