#include "platform/linux/Screenshots.h"

#include <gio/gio.h>

#include <atomic>
#include <string>

namespace quib {
namespace {

bool askPortal(int timeoutMs) {
  GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
  if (!bus) return false;
  static std::atomic<unsigned> serial{0};
  std::string token = "quib" + std::to_string(++serial);
  GVariantBuilder options;
  g_variant_builder_init(&options, G_VARIANT_TYPE_VARDICT);
  g_variant_builder_add(&options, "{sv}", "interactive", g_variant_new_boolean(TRUE));
  g_variant_builder_add(&options, "{sv}", "handle_token", g_variant_new_string(token.c_str()));
  // The bus starts the portal when it is installed but not running; a bus without one answers at
  // once with ServiceUnknown, and a hung portal is cut off by the timeout. Either way the fallback
  // takes over.
  GVariant* reply = g_dbus_connection_call_sync(
      bus, "org.freedesktop.portal.Desktop", "/org/freedesktop/portal/desktop",
      "org.freedesktop.portal.Screenshot", "Screenshot", g_variant_new("(sa{sv})", "", &options),
      G_VARIANT_TYPE("(o)"), G_DBUS_CALL_FLAGS_NONE, timeoutMs, nullptr, nullptr);
  g_object_unref(bus);
  if (!reply) return false;
  g_variant_unref(reply);
  return true;
}

}  // namespace

Screenshots::Start LinuxScreenshots::startRegionScreenshot() {
  if (askPortal(portalTimeoutMs_)) return Start::started;
  if (fallback_ && fallback_()) return Start::started;
  return Start::failed;
}

}  // namespace quib
