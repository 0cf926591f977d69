#pragma once
// A D-Bus session bus of the test's own, with no activatable services (GLib's GTestDBus). While it
// lives DBUS_SESSION_BUS_ADDRESS (for this process and the programs it starts) points at it, and
// HOME and the XDG directories at fresh folders, so that nothing reaches the user's real session.
#include <gio/gio.h>

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

  bool running() const { return !address_.empty(); }
  const std::string& address() const { return address_; }
  const std::filesystem::path& home() const { return dir_.path(); }

  // The test's own connection, dispatching to the test thread's context (see pump()).
  GDBusConnection* connection() const { return connection_; }
  // Runs the test thread's context until `done` holds or the limit runs out (a broken program
  // fails the test rather than hanging it); returns done().
  bool pump(const std::function<bool()>& done, std::chrono::milliseconds limit = std::chrono::seconds(15));

 private:
  TempDir dir_;
  GTestDBus* dbus_;
  std::string address_;
  std::map<std::string, std::optional<std::string>> saved_;
  GMainContext* context_ = nullptr;
  GDBusConnection* connection_ = nullptr;
};

}  // namespace quib::test
