#include <gio/gio.h>
#include <gtest/gtest.h>

#include <atomic>

#include "platform/linux/Screenshots.h"
#include "support/BusThread.h"

namespace quib {
namespace {

// What the screenshot portal was asked: how often, and whether interactively with a request token.
struct Asked {
  std::atomic<int> calls{0};
  std::atomic<bool> interactiveWithToken{false};
};

void answer(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GVariant* params,
            GDBusMethodInvocation* invocation, gpointer asked) {
  gboolean interactive = FALSE;
  const char* token = "";
  GVariant* options = g_variant_get_child_value(params, 1);
  g_variant_lookup(options, "interactive", "b", &interactive);
  g_variant_lookup(options, "handle_token", "&s", &token);
  static_cast<Asked*>(asked)->interactiveWithToken = interactive && *token;
  g_variant_unref(options);
  ++static_cast<Asked*>(asked)->calls;
  g_dbus_method_invocation_return_value(
      invocation, g_variant_new("(o)", "/org/freedesktop/portal/desktop/request/1_1/t"));
}

TEST(LinuxScreenshots, AsksThePortalInteractivelyElseUsesTheFallback) {
  int fallbacks = 0;
  bool fallbackWorks = true;
  LinuxScreenshots shots([&] {
    ++fallbacks;
    return fallbackWorks;
  });

  // No portal on the bus.
  EXPECT_EQ(shots.startRegionScreenshot(), Screenshots::Start::started);
  EXPECT_EQ(fallbacks, 1);
  fallbackWorks = false;
  EXPECT_EQ(shots.startRegionScreenshot(), Screenshots::Start::failed);
  EXPECT_EQ(LinuxScreenshots(nullptr).startRegionScreenshot(), Screenshots::Start::failed);

  // The portal on the private bus, answering on a thread of its own while the call under test blocks.
  Asked asked;
  GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(
      "<node><interface name='org.freedesktop.portal.Screenshot'><method name='Screenshot'>"
      "<arg type='s' direction='in'/><arg type='a{sv}' direction='in'/><arg type='o' direction='out'/>"
      "</method></interface></node>",
      nullptr);
  {
    test::BusThread portal(
        g_getenv("DBUS_SESSION_BUS_ADDRESS"),
        [&](GDBusConnection* bus) {
          static const GDBusInterfaceVTable vtable{answer, nullptr, nullptr, {}};
          g_dbus_connection_register_object(bus, "/org/freedesktop/portal/desktop", node->interfaces[0],
                                            &vtable, &asked, nullptr, nullptr);
          // Owned before the constructor returns, so that the first call finds it.
          g_variant_unref(g_dbus_connection_call_sync(
              bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "RequestName",
              g_variant_new("(su)", "org.freedesktop.portal.Desktop", 4u), G_VARIANT_TYPE("(u)"),
              G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr));
        },
        [](GDBusConnection*) {});
    EXPECT_EQ(shots.startRegionScreenshot(), Screenshots::Start::started);
  }
  g_dbus_node_info_unref(node);
  EXPECT_EQ(asked.calls, 1);
  EXPECT_TRUE(asked.interactiveWithToken);
  EXPECT_EQ(fallbacks, 2);
}

}  // namespace
}  // namespace quib
