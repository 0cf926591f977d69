#pragma once
// The desktop's RemoteDesktop portal (with its Clipboard part) on the test's own bus, doing what a
// real one cannot be made to do on demand: decline, grant part, leave a call unanswered, close or
// forget the session, tell of a copy out of order. It answers on a thread of its own, as a real portal in
// its own process does, so a client may wait for a reply on the test thread; the public functions
// run their work there and wait for it.
#include <gio/gio.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "support/BusThread.h"
#include "support/SessionBus.h"

namespace quib::test {

class FakeRemoteDesktop {
 public:
  // How the desktop behaves; a test may change it between sessions.
  struct Behaviour {
    std::uint32_t version = 2;
    bool clipboard = false;           // also offers the Clipboard portal
    std::uint32_t startResponse = 0;  // what the dialog answers: 1 the user declines
    std::uint32_t grantDevices = 3;
    int unansweredInput = 0;  // the next this many input calls get no reply at all
    // As GNOME: each write is confirmed by a change of the session's own, and a copy of these types
    // made just before the next write is told only after it, before the confirmation.
    bool confirmWrites = false;
    std::vector<std::string> copiedBeforeWrite;
  };

  FakeRemoteDesktop(SessionBus& bus, Behaviour behaviour);
  explicit FakeRemoteDesktop(SessionBus& bus) : FakeRemoteDesktop(bus, Behaviour()) {}
  ~FakeRemoteDesktop() { thread_.reset(); }

  void change(const std::function<void(Behaviour&)>& edit) {
    thread_->run([&] { edit(behaviour_); });
  }
  // "CreateSession", "SelectDevices types=3 persist_mode=2 restore_token=token-1", "RequestClipboard",
  // "Start dialog" / "Start restored", "KeyboardKeysym 97 1", "PointerMotion 1.5 -2.0",
  // "SetSelection mime_types=text/plain,UTF8_STRING", "Close": in the order they came; those from `from` on.
  std::vector<std::string> calls(std::size_t from = 0);
  // Off (before any input): input calls are only counted (the benchmark).
  bool recordInput = true;
  std::uint64_t inputCalls() { return read(inputCalls_); }
  int dialogs() { return read(dialogs_); }
  std::size_t openSessions() { return read(sessions_).size(); }

  // The desktop ends the newest session with its Closed signal, or (`signalClosed` false) the portal
  // loses it without a word, as when it restarted; false when there is none.
  bool endSession(bool signalClosed);
  // Another program copies `text`, offered as `types` (in a tuple of one where `asGnome`, as GNOME
  // sends them), while the newest session lives.
  void copy(const std::vector<std::string>& types, const std::string& text, bool asGnome = false);

 private:
  struct Session {
    std::string path, sender, restoreToken;
    guint registration = 0;
    bool persist = false, clipboard = false;
  };
  template <class T>
  T read(const T& field) {
    T copy{};
    thread_->run([&] { copy = field; });
    return copy;
  }
  guint registerObject(const std::string& path, const char* interface);
  void handle(const std::string& interface, const std::string& name, GVariant* params,
              GDBusMethodInvocation* invocation);
  GVariant* startResults(Session& session);
  void emit(const std::string& sender, const std::string& path, const char* interface, const char* signal,
            GVariant* params);
  void drop(std::vector<Session>::iterator session, bool signalClosed);

  Behaviour behaviour_;
  GDBusConnection* connection_ = nullptr;  // the portal thread's
  std::vector<std::string> calls_;
  std::uint64_t inputCalls_ = 0;
  int dialogs_ = 0;
  std::uint32_t issued_ = 0;  // tokens
  std::vector<GDBusMethodInvocation*> unanswered_;
  std::vector<Session> sessions_;  // the newest last
  std::set<std::string> validTokens_;
  std::string foreignText_;
  // Last: it stops, and with it every use of the members above, first.
  std::unique_ptr<BusThread> thread_;
};

}  // namespace quib::test
