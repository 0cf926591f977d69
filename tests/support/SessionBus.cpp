#include "support/SessionBus.h"

#include <signal.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <vector>

namespace quib::test {

SessionBus::SessionBus() {
  const auto root = dir_.path();
  std::ofstream(root / "session.conf")
      << "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
         " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
         "<busconfig><type>session</type><listen>unix:dir="
      << root.string()
      << "</listen><auth>EXTERNAL</auth>"
         "<policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
         "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>\n";
  const std::string command = "dbus-daemon --fork --nosyslog --print-address=1 --print-pid=1 --config-file=" +
                              (root / "session.conf").string();
  if (FILE* p = ::popen(command.c_str(), "r")) {
    char address[512] = "", pid[32] = "";
    if (std::fgets(address, sizeof address, p) && std::fgets(pid, sizeof pid, p)) {
      address_ = address;
      address_.pop_back();  // the line's end
      pid_ = static_cast<pid_t>(std::atoi(pid));
    }
    ::pclose(p);
  }
  if (pid_ <= 0 || address_.empty()) {
    pid_ = -1;
    return;
  }
  std::vector<std::pair<std::string, std::string>> variables = {{"DBUS_SESSION_BUS_ADDRESS", address_},
                                                                {"HOME", root.string()}};
  const std::pair<const char*, const char*> folders[] = {{"XDG_RUNTIME_DIR", "runtime"},
                                                         {"XDG_CONFIG_HOME", "config"},
                                                         {"XDG_DATA_HOME", "data"},
                                                         {"XDG_CACHE_HOME", "cache"},
                                                         {"XDG_STATE_HOME", "state"}};
  for (const auto& [name, folder] : folders) {
    std::filesystem::create_directories(root / folder);
    variables.emplace_back(name, (root / folder).string());
  }
  std::filesystem::permissions(root / "runtime", std::filesystem::perms::owner_all);
  for (const auto& [name, value] : variables) {
    const char* old = std::getenv(name.c_str());
    saved_.emplace(name, old ? std::optional<std::string>(old) : std::nullopt);
    ::setenv(name.c_str(), value.c_str(), 1);
  }

  context_ = g_main_context_new();
  g_main_context_push_thread_default(context_);
  connection_ = g_dbus_connection_new_for_address_sync(
      address_.c_str(),
      static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                        G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
      nullptr, nullptr, nullptr);
}

SessionBus::~SessionBus() {
  if (connection_) {
    g_dbus_connection_close_sync(connection_, nullptr, nullptr);
    g_object_unref(connection_);
  }
  if (context_) {
    while (g_main_context_iteration(context_, FALSE)) {
    }
    g_main_context_pop_thread_default(context_);
    g_main_context_unref(context_);
  }
  if (pid_ > 0) ::kill(pid_, SIGTERM);  // forked away from us: not our child to wait for
  for (const auto& [name, value] : saved_) {
    if (value)
      ::setenv(name.c_str(), value->c_str(), 1);
    else
      ::unsetenv(name.c_str());
  }
}

bool SessionBus::pump(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= end) return false;
    // Wakes at least every 20 ms to look at the condition and the limit again.
    GSource* wake = g_timeout_source_new(20);
    g_source_set_callback(
        wake, [](gpointer) -> gboolean { return G_SOURCE_REMOVE; }, nullptr, nullptr);
    g_source_attach(wake, context_);
    g_main_context_iteration(context_, TRUE);
    g_source_destroy(wake);
    g_source_unref(wake);
  }
  return true;
}

}  // namespace quib::test
