#pragma once
// A D-Bus session bus of the test's own, with no activatable services: dbus-daemon on a socket in
// a temporary directory, stopped by its process id. While it lives DBUS_SESSION_BUS_ADDRESS (for
// this process and the programs it starts) points at it, and HOME and the XDG directories at
// fresh folders, so that nothing reaches the user's real session.
#include <gio/gio.h>
#include <sys/types.h>

#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <string>

#include "support/TempDir.h"

namespace quib::test {

class SessionBus {
 public:
  SessionBus();
  ~SessionBus();
  SessionBus(const SessionBus&) = delete;
  SessionBus& operator=(const SessionBus&) = delete;

  bool running() const { return pid_ > 0; }
  const std::string& address() const { return address_; }
  const std::filesystem::path& home() const { return dir_.path(); }

  // The test's own connection, dispatching to the test thread's context (see pump()).
  GDBusConnection* connection() const { return connection_; }
  // Runs the test thread's context until `done` holds or the limit runs out (a broken program
  // fails the test rather than hanging it); returns done().
  bool pump(const std::function<bool()>& done, std::chrono::milliseconds limit = std::chrono::seconds(15));

 private:
  TempDir dir_;
  pid_t pid_ = -1;
  std::string address_;
  std::map<std::string, std::optional<std::string>> saved_;
  GMainContext* context_ = nullptr;
  GDBusConnection* connection_ = nullptr;
};

}  // namespace quib::test
