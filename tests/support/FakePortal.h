#pragma once
// The desktop's RemoteDesktop portal (with its ScreenCast and Clipboard parts), played by the test on its own
// session bus: it owns org.freedesktop.portal.Desktop, answers each request through the Request's
// Response signal as the real portal does, and records every call in order. It answers on a thread
// of its own, as the real portal does, so a client may wait for a reply on the test thread; the
// public functions run their work there and wait for it.
#include <gio/gio.h>

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "support/BusThread.h"
#include "support/FakePortalClipboard.h"
#include "support/SessionBus.h"

namespace quib::test {

class FakeRemoteDesktop {
 public:
  // How the desktop behaves; a test may change it between sessions.
  struct Behaviour {
    bool remoteDesktop = true;  // false: a portal without the interface
    std::uint32_t version = 2;
    std::uint32_t deviceTypes = 3;
    bool clipboard = false;           // also offers the Clipboard portal
    std::uint32_t startResponse = 0;  // what the dialog answers: 1 the user declines
    std::uint32_t grantDevices = 3;
    bool holdDialog = false;  // the dialog stays open until answerDialog()
    // Input calls are answered this late, those that overlap in reverse order, as the real
    // portal's worker threads may: a client that does not wait sees its input reordered.
    int inputDelayMs = 0;
    int unansweredInput = 0;  // the next this many input calls get no reply at all
  };

  FakeRemoteDesktop(SessionBus& bus, Behaviour behaviour);
  explicit FakeRemoteDesktop(SessionBus& bus) : FakeRemoteDesktop(bus, Behaviour()) {}
  ~FakeRemoteDesktop();
  bool owned() const { return owned_; }

  // Changes how the desktop behaves from the next call on.
  void change(const std::function<void(Behaviour&)>& edit);
  // "CreateSession", "SelectDevices types=3 persist_mode=2 restore_token=token-1",
  // "Start dialog" / "Start restored", "Keysym 0x61 press", "Motion 1.5 -2", "Button 0x110 release",
  // "AxisDiscrete 0 3", "Close" ... Input as the desktop received it.
  std::vector<std::string> calls() { return read(calls_); }
  // Off (before any input): Notify calls are only counted (the benchmark).
  bool recordInput = true;
  std::uint64_t inputCalls() { return read(inputCalls_); }
  // Input calls that came while an earlier one was still unanswered.
  int overlapping() { return read(overlapping_); }
  int dialogs() { return read(dialogs_); }

  // The desktop ends the newest session (its Closed signal); false when there is none.
  bool closeSession();
  // The portal loses the newest session without a word (it restarted): calls on it fail.
  bool forgetSession();
  // Someone pastes `mime` from the newest session's copy; the serial to ask pasted() about.
  std::uint32_t paste(const std::string& mime) {
    std::uint32_t serial = 0;
    run([&] { serial = clipboard_.paste(connection_, newest().sender, sessionOrder_.back(), mime); });
    return serial;
  }
  // What the session wrote for that paste; none until it said it is done.
  std::optional<std::string> pasted(std::uint32_t serial) {
    std::optional<std::string> out;
    run([&] { out = clipboard_.pasted(serial); });
    return out;
  }
  // Another program copies `text`, offered as `types`, while the newest session lives.
  void copy(std::vector<std::string> types, std::string text) {
    run([&] { clipboard_.copy(connection_, newest().sender, sessionOrder_.back(), std::move(types), text); });
  }
  // Answers the dialog held open by holdDialog.
  bool answerDialog(std::uint32_t response);
  std::size_t openSessions() {
    std::size_t n = 0;
    run([&] { n = sessions_.size(); });
    return n;
  }
  // The calls recorded since `from`, for checks on one stretch.
  std::vector<std::string> callsFrom(std::size_t from);

  struct Session {
    std::string sender;
    guint registration = 0;
    std::optional<std::string> restoreToken;
    bool persist = false;
  };

 private:
  Session& newest() { return sessions_.at(sessionOrder_.back()); }
  // Runs `work` on the portal's thread and waits for it.
  void run(const std::function<void()>& work);
  // A copy of the portal thread's field.
  template <class T>
  T read(const T& field) {
    T copy{};
    run([&] { copy = field; });
    return copy;
  }
  void serve(GDBusConnection* connection);
  void answerInput();
  void method(const std::string& interface, const std::string& name, GVariant* params,
              GDBusMethodInvocation* invocation);
  void respond(GDBusMethodInvocation* invocation, const std::string& token, std::uint32_t response,
               GVariant* results);
  GVariant* startResults(Session& session, const std::string& path);
  void removeSession(const std::string& path);

  Behaviour behaviour_;
  GDBusConnection* connection_ = nullptr;  // the portal thread's
  std::mutex mutex_;
  std::condition_variable cv_;
  bool serving_ = false;
  std::vector<std::string> calls_;
  FakePortalClipboard clipboard_{calls_};
  std::uint64_t inputCalls_ = 0;
  int overlapping_ = 0;
  int dialogs_ = 0;
  // Input calls waiting for their reply, oldest first, with what the desktop makes of each.
  std::vector<std::pair<GDBusMethodInvocation*, std::string>> pendingInput_;
  std::vector<GDBusMethodInvocation*> unanswered_;
  std::vector<guint> registrations_;
  guint owner_ = 0;
  bool owned_ = false;
  int serial_ = 0;
  std::map<std::string, Session> sessions_;  // by path
  std::vector<std::string> sessionOrder_;
  std::set<std::string> validTokens_;
  struct HeldDialog {
    std::string sender, requestPath, session;
  };
  std::optional<HeldDialog> held_;
  // Last: it stops, and with it every use of the members above, first.
  std::unique_ptr<BusThread> thread_;
};

}  // namespace quib::test
