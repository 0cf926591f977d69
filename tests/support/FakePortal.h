#pragma once
// The desktop's RemoteDesktop portal (with its ScreenCast part), played by the test on its own
// session bus: it owns org.freedesktop.portal.Desktop, answers each request through the Request's
// Response signal as the real portal does, and records every call in order. Runs on the test thread
// (SessionBus::pump).
#include <gio/gio.h>

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "support/SessionBus.h"

namespace quib::test {

class FakeRemoteDesktop {
 public:
  struct Monitor {
    std::uint32_t node = 0;
    int x = 0, y = 0, width = 0, height = 0;
  };
  // How the desktop behaves; a test may change it between sessions.
  struct Behaviour {
    bool remoteDesktop = true;  // false: a portal without the interface
    std::uint32_t version = 2;
    std::uint32_t deviceTypes = 3;
    std::vector<Monitor> monitors;    // offered for screen casts; none: no ScreenCast interface
    std::uint32_t startResponse = 0;  // what the dialog answers: 1 the user declines
    std::uint32_t grantDevices = 3;
    bool holdDialog = false;  // the dialog stays open until answerDialog()
  };

  FakeRemoteDesktop(SessionBus& bus, Behaviour behaviour);
  explicit FakeRemoteDesktop(SessionBus& bus) : FakeRemoteDesktop(bus, Behaviour()) {}
  ~FakeRemoteDesktop();
  bool owned() const { return owned_; }

  Behaviour behaviour;
  // "CreateSession", "SelectDevices types=3 persist_mode=2 restore_token=token-1",
  // "Start dialog" / "Start restored", "Keysym 0x61 press", "Motion 1.5 -2", "Button 0x110 release",
  // "AxisDiscrete 0 3", "MotionAbsolute 41 80 10", "Close" ...
  std::vector<std::string> calls;
  bool recordInput = true;  // off: Notify calls are only counted (the benchmark)
  std::uint64_t inputCalls = 0;
  int dialogs = 0;
  std::string lastToken;  // the restore token handed out last

  // The desktop ends the newest session (its Closed signal); false when there is none.
  bool closeSession();
  // The portal loses the newest session without a word (it restarted): calls on it fail.
  bool forgetSession();
  // Answers the dialog held open by holdDialog.
  bool answerDialog(std::uint32_t response);
  std::size_t openSessions() const { return sessions_.size(); }
  // The calls recorded since `from`, for checks on one stretch.
  std::vector<std::string> callsFrom(std::size_t from) const;

  struct Session {
    std::string sender;
    guint registration = 0;
    std::optional<std::string> restoreToken;
    bool persist = false;
    bool screenCast = false;
  };

 private:
  void method(const std::string& interface, const std::string& name, GVariant* params,
              GDBusMethodInvocation* invocation);
  void respond(GDBusMethodInvocation* invocation, const std::string& token, std::uint32_t response,
               GVariant* results);
  GVariant* startResults(Session& session, const std::string& path);
  void removeSession(const std::string& path);

  SessionBus& bus_;
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
};

}  // namespace quib::test
