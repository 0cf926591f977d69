#include "app/WindowActivation.h"

namespace quib {
namespace {

constexpr const char* kInterface = "org.freedesktop.Application";
constexpr const char* kIntrospection = R"xml(<node>
  <interface name="org.freedesktop.Application">
    <method name="Activate"><arg type="a{sv}" name="platform_data" direction="in"/></method>
    <method name="Open">
      <arg type="as" name="uris" direction="in"/><arg type="a{sv}" name="platform_data" direction="in"/>
    </method>
    <method name="ActivateAction">
      <arg type="s" name="action_name" direction="in"/><arg type="av" name="parameter" direction="in"/>
      <arg type="a{sv}" name="platform_data" direction="in"/>
    </method>
  </interface>
</node>)xml";

GDBusNodeInfo* introspection() {
  static GDBusNodeInfo* info = g_dbus_node_info_new_for_xml(kIntrospection, nullptr);
  return info;
}

}  // namespace

WindowActivation::WindowActivation(std::function<void()> onActivate) : onActivate_(std::move(onActivate)) {
  connection_ = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
  if (!connection_) return;
  // The session ending ends the program through its own signals, not from inside GIO.
  g_dbus_connection_set_exit_on_close(connection_, FALSE);
  static const GDBusInterfaceVTable vtable = {&WindowActivation::onCall, nullptr, nullptr, {}};
  registration_ = g_dbus_connection_register_object(
      connection_, kObjectPath, g_dbus_node_info_lookup_interface(introspection(), kInterface), &vtable, this,
      nullptr, nullptr);
  if (!registration_) return;
  GVariant* reply = g_dbus_connection_call_sync(
      connection_, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "RequestName",
      g_variant_new("(su)", kBusName, 4u /* do not queue */), G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE,
      5000, nullptr, nullptr);
  if (!reply) return;
  guint32 result = 0;
  g_variant_get(reply, "(u)", &result);
  g_variant_unref(reply);
  owned_ = result == 1 /* primary owner */;
}

WindowActivation::~WindowActivation() {
  if (!connection_) return;
  if (owned_)
    g_dbus_connection_call(connection_, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                           "org.freedesktop.DBus", "ReleaseName", g_variant_new("(s)", kBusName), nullptr,
                           G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr, nullptr);
  if (registration_) g_dbus_connection_unregister_object(connection_, registration_);
  g_dbus_connection_flush_sync(connection_, nullptr, nullptr);
  g_object_unref(connection_);
}

void WindowActivation::onCall(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* method,
                              GVariant*, GDBusMethodInvocation* invocation, gpointer data) {
  auto* self = static_cast<WindowActivation*>(data);
  if (std::string(method) != "Activate") {
    g_dbus_method_invocation_return_error(invocation, G_DBUS_ERROR, G_DBUS_ERROR_NOT_SUPPORTED,
                                          "quibbleton opens no files and has no actions");
    return;
  }
  if (self->onActivate_) self->onActivate_();
  g_dbus_method_invocation_return_value(invocation, nullptr);
}

bool WindowActivation::activateRunning(std::string* error) {
  GError* err = nullptr;
  GDBusConnection* c = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &err);
  GVariant* reply = nullptr;
  if (c) {
    GVariantBuilder platformData;
    g_variant_builder_init(&platformData, G_VARIANT_TYPE("a{sv}"));
    // No auto-start: only a running instance may answer.
    reply = g_dbus_connection_call_sync(c, kBusName, kObjectPath, kInterface, "Activate",
                                        g_variant_new("(@a{sv})", g_variant_builder_end(&platformData)),
                                        nullptr, G_DBUS_CALL_FLAGS_NO_AUTO_START, 10000, nullptr, &err);
    g_object_unref(c);
  }
  if (reply) {
    g_variant_unref(reply);
    return true;
  }
  if (error) *error = err ? err->message : "no session bus";
  if (err) g_error_free(err);
  return false;
}

}  // namespace quib
