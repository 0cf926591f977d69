#include "platform/tray/DesktopNotifier.h"

namespace quib {

DesktopNotifier::DesktopNotifier() {
  gchar* address = g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
  if (!address) return;
  connection_ = g_dbus_connection_new_for_address_sync(
      address,
      static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                        G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
      nullptr, nullptr, nullptr);
  g_free(address);
}

DesktopNotifier::~DesktopNotifier() {
  if (!connection_) return;
  g_dbus_connection_flush_sync(connection_, nullptr, nullptr);
  g_dbus_connection_close_sync(connection_, nullptr, nullptr);
  g_object_unref(connection_);
}

std::string DesktopNotifier::pairedBody(const std::optional<std::string>& deviceName) {
  const std::string name = deviceName && !deviceName->empty() ? *deviceName : "이름 없는 기기";
  gchar* escaped = g_markup_escape_text(name.c_str(), static_cast<gssize>(name.size()));
  std::string body = std::string("“") + escaped +
                     "”이(가) 이 컴퓨터와 페어링되었습니다. 직접 페어링하지 않았다면 상태 메뉴에서 "
                     "이 기기를 클릭해 페어링을 해제하세요.";
  g_free(escaped);
  return body;
}

void DesktopNotifier::devicePaired(const std::optional<std::string>& deviceName) {
  if (!connection_) return;
  GVariantBuilder actions;
  g_variant_builder_init(&actions, G_VARIANT_TYPE("as"));
  GVariantBuilder hints;
  g_variant_builder_init(&hints, G_VARIANT_TYPE("a{sv}"));
  g_variant_builder_add(&hints, "{sv}", "desktop-entry", g_variant_new_string("quibbleton"));
  g_variant_builder_add(&hints, "{sv}", "urgency", g_variant_new_byte(1));
  const std::string body = pairedBody(deviceName);
  // Without a callback the call goes out marked as needing no reply.
  g_dbus_connection_call(
      connection_, "org.freedesktop.Notifications", "/org/freedesktop/Notifications",
      "org.freedesktop.Notifications", "Notify",
      g_variant_new("(susss@as@a{sv}i)", "Quibbleton", 0u, "quibbleton", kPairedSummary, body.c_str(),
                    g_variant_builder_end(&actions), g_variant_builder_end(&hints), -1),
      nullptr, G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr, nullptr);
}

}  // namespace quib
