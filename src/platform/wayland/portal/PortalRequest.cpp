#include "platform/wayland/portal/PortalRequest.h"

#include <atomic>

namespace quib {

PortalRequest::PortalRequest(GDBusConnection* bus)
    : bus_(G_DBUS_CONNECTION(g_object_ref(bus))), cancellable_(g_cancellable_new()) {}

PortalRequest::~PortalRequest() {
  unsubscribe();
  // The reply callback sees the cancellation and leaves this (by then freed) object alone.
  g_cancellable_cancel(cancellable_);
  g_object_unref(cancellable_);
  g_object_unref(bus_);
}

std::string PortalRequest::newToken() {
  static std::atomic<unsigned> serial{0};
  return "quib" + std::to_string(++serial);
}

std::string PortalRequest::requestPath(GDBusConnection* bus, const std::string& token) {
  // ":1.42" becomes "1_42", as the portal spells the sender in its paths.
  std::string sender = g_dbus_connection_get_unique_name(bus) ? g_dbus_connection_get_unique_name(bus) : "";
  if (!sender.empty() && sender.front() == ':') sender.erase(0, 1);
  for (char& c : sender)
    if (c == '.') c = '_';
  return std::string(kObject) + "/request/" + sender + "/" + token;
}

void PortalRequest::subscribe(const std::string& path) {
  unsubscribe();
  path_ = path;
  subscription_ = g_dbus_connection_signal_subscribe(
      bus_, kService, "org.freedesktop.portal.Request", "Response", path_.c_str(), nullptr,
      G_DBUS_SIGNAL_FLAGS_NONE,
      [](GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GVariant* params,
         gpointer self) {
        auto* request = static_cast<PortalRequest*>(self);
        if (!g_variant_is_of_type(params, G_VARIANT_TYPE("(ua{sv})"))) return;
        guint32 response = 2;
        GVariant* results = nullptr;
        g_variant_get(params, "(u@a{sv})", &response, &results);
        request->unsubscribe();
        Answer answer = std::move(request->answer_);
        request->failure_ = nullptr;
        if (answer) answer(response, results);  // may destroy the request
        g_variant_unref(results);
      },
      this, nullptr);
}

void PortalRequest::unsubscribe() {
  if (subscription_) g_dbus_connection_signal_unsubscribe(bus_, subscription_);
  subscription_ = 0;
}

void PortalRequest::send(const std::string& token, const char* interface, const char* method,
                         GVariant* params, Answer answer, Failure failure) {
  answer_ = std::move(answer);
  failure_ = std::move(failure);
  subscribe(requestPath(bus_, token));
  g_dbus_connection_call(
      bus_, kService, kObject, interface, method, params, G_VARIANT_TYPE("(o)"), G_DBUS_CALL_FLAGS_NONE, -1,
      cancellable_,
      [](GObject* source, GAsyncResult* result, gpointer self) {
        GError* error = nullptr;
        GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error);
        if (!reply) {
          if (!g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED)) {
            auto* request = static_cast<PortalRequest*>(self);
            request->unsubscribe();
            Failure failure = std::move(request->failure_);
            request->answer_ = nullptr;
            if (failure) failure(error);  // may destroy the request
          }
          g_error_free(error);
          return;
        }
        auto* request = static_cast<PortalRequest*>(self);
        const gchar* handle = nullptr;
        g_variant_get(reply, "(&o)", &handle);
        // Portals older than the handle_token convention choose their own path: follow it (an
        // answer sent before this point would be lost, which such portals do not do in practice).
        if (request->subscription_ && request->path_ != handle) request->subscribe(handle);
        g_variant_unref(reply);
      },
      this);
}

}  // namespace quib
