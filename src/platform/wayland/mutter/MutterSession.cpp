#include "platform/wayland/mutter/MutterSession.h"

#include "platform/wayland/DbusError.h"

namespace quib {

namespace {

// The errors that say the session (or the whole service) is gone, not that one call was bad or slow
// (a late reply may still come: the session lives on).
bool sessionGone(const GError* error) {
  if (error->domain != G_DBUS_ERROR) return error->domain == G_IO_ERROR && error->code == G_IO_ERROR_CLOSED;
  switch (error->code) {
    case G_DBUS_ERROR_SERVICE_UNKNOWN:
    case G_DBUS_ERROR_NAME_HAS_NO_OWNER:
    case G_DBUS_ERROR_UNKNOWN_OBJECT:
    case G_DBUS_ERROR_UNKNOWN_METHOD:
    case G_DBUS_ERROR_DISCONNECTED:
      return true;
    default:
      return false;
  }
}

int timeoutMs(std::chrono::milliseconds limit = MutterSession::kCallTimeout) {
  return static_cast<int>(limit.count());
}

}  // namespace

bool MutterSession::present(GDBusConnection* bus) {
  if (!bus) return false;
  GVariant* reply = g_dbus_connection_call_sync(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                                "org.freedesktop.DBus", "NameHasOwner",
                                                g_variant_new("(s)", kService), G_VARIANT_TYPE("(b)"),
                                                G_DBUS_CALL_FLAGS_NONE, timeoutMs(), nullptr, nullptr);
  if (!reply) return false;
  gboolean has = FALSE;
  g_variant_get(reply, "(b)", &has);
  g_variant_unref(reply);
  return has;
}

MutterSession::MutterSession(GDBusConnection* bus) : bus_(G_DBUS_CONNECTION(g_object_ref(bus))) {
  // Every signal of mutter's sessions to this connection; those of sessions we no longer hold are
  // ignored by path.
  subscription_ =
      g_dbus_connection_signal_subscribe(bus_, kService, kSessionInterface, nullptr, nullptr, nullptr,
                                         G_DBUS_SIGNAL_FLAGS_NONE, signal, this, nullptr);
}

MutterSession::~MutterSession() {
  g_dbus_connection_signal_unsubscribe(bus_, subscription_);
  if (started())
    g_dbus_connection_call(bus_, kService, path_.c_str(), kSessionInterface, "Stop", nullptr, nullptr,
                           G_DBUS_CALL_FLAGS_NO_AUTO_START, -1, nullptr, nullptr, nullptr);
  g_dbus_connection_flush_sync(bus_, nullptr, nullptr);
  g_object_unref(bus_);
}

bool MutterSession::ensure() {
  if (started()) return true;
  if (failedBefore_ && std::chrono::steady_clock::now() - lastFailure_ < kRetryAfter) return false;
  if (create()) {
    failedBefore_ = false;
    for (auto& f : startedObservers_) f();
    for (auto& f : stateObservers_) f();
    return started();
  }
  failedBefore_ = true;
  lastFailure_ = std::chrono::steady_clock::now();
  return false;
}

bool MutterSession::create() {
  GError* error = nullptr;
  GVariant* reply = g_dbus_connection_call_sync(
      bus_, kService, kObject, "org.gnome.Mutter.RemoteDesktop", "CreateSession", nullptr,
      G_VARIANT_TYPE("(o)"), G_DBUS_CALL_FLAGS_NONE, timeoutMs(kStartTimeout), nullptr, &error);
  if (!reply) {
    reason_ = "the desktop's remote-desktop service made no session: " + dbusErrorText(error);
    g_error_free(error);
    return false;
  }
  const gchar* path = nullptr;
  g_variant_get(reply, "(&o)", &path);
  const std::string session = path;
  g_variant_unref(reply);
  reply =
      g_dbus_connection_call_sync(bus_, kService, session.c_str(), kSessionInterface, "Start", nullptr,
                                  nullptr, G_DBUS_CALL_FLAGS_NONE, timeoutMs(kStartTimeout), nullptr, &error);
  if (!reply) {
    reason_ = "the desktop's remote-desktop session did not start: " + dbusErrorText(error);
    g_error_free(error);
    return false;
  }
  g_variant_unref(reply);
  path_ = session;
  reason_.clear();
  return true;
}

GVariant* MutterSession::call(const char* method, GVariant* params, GUnixFDList** fds) {
  if (!ensure()) {
    if (params) g_variant_unref(g_variant_ref_sink(params));
    return nullptr;
  }
  GError* error = nullptr;
  GVariant* reply = g_dbus_connection_call_with_unix_fd_list_sync(
      bus_, kService, path_.c_str(), kSessionInterface, method, params, nullptr,
      G_DBUS_CALL_FLAGS_NO_AUTO_START, timeoutMs(), nullptr, fds, nullptr, &error);
  if (reply) return reply;
  const std::string why = std::string(method) + " failed: " + dbusErrorText(error);
  if (sessionGone(error)) {
    closed("the desktop's remote-desktop session ended (" + why + ")");
  } else {
    // The session lives on; only this call was refused.
    g_debug("mutter remote desktop: %s", why.c_str());
  }
  g_error_free(error);
  return nullptr;
}

void MutterSession::onSignal(std::string name, std::function<void(GVariant*)> handler) {
  signalHandlers_.emplace_back(std::move(name), std::move(handler));
}

void MutterSession::closed(std::string reason) {
  if (!started()) return;
  path_.clear();
  reason_ = std::move(reason);
  for (auto& f : stateObservers_) f();
}

void MutterSession::signal(GDBusConnection*, const gchar*, const gchar* path, const gchar*, const gchar* name,
                           GVariant* parameters, gpointer data) {
  auto* self = static_cast<MutterSession*>(data);
  if (!self->started() || self->path_ != path) return;
  if (g_strcmp0(name, "Closed") == 0) {
    self->closed("the desktop closed the remote-desktop session; the next input makes a new one");
    return;
  }
  for (auto& [signal, handler] : self->signalHandlers_)
    if (signal == name) handler(parameters);
}

}  // namespace quib
