#include "support/SessionBus.h"

#include <cstdlib>

namespace quib::test {

SessionBus::SessionBus() : dbus_(g_test_dbus_new(G_TEST_DBUS_NONE)) {
  const auto root = dir_.path();
  // All come back when the bus goes; GLib's unsets DISPLAY on the way up and down.
  for (const char* name : {"DBUS_SESSION_BUS_ADDRESS", "DISPLAY", "HOME", "XDG_RUNTIME_DIR",
                           "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_STATE_HOME"}) {
    const char* old = std::getenv(name);
    saved_.emplace(name, old ? std::optional<std::string>(old) : std::nullopt);
  }
  g_test_dbus_up(dbus_);
  address_ = g_test_dbus_get_bus_address(dbus_);
  ::setenv("HOME", root.c_str(), 1);
  for (const auto& [name, folder] :
       {std::pair{"XDG_RUNTIME_DIR", "runtime"}, std::pair{"XDG_CONFIG_HOME", "config"},
        std::pair{"XDG_DATA_HOME", "data"}, std::pair{"XDG_CACHE_HOME", "cache"},
        std::pair{"XDG_STATE_HOME", "state"}}) {
    std::filesystem::create_directories(root / folder);
    ::setenv(name, (root / folder).c_str(), 1);
  }
  std::filesystem::permissions(root / "runtime", std::filesystem::perms::owner_all);

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
  g_test_dbus_down(dbus_);
  g_object_unref(dbus_);
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
