#include <gio/gio.h>
#include <gtest/gtest.h>

#include <atomic>
#include <optional>
#include <thread>

#include "DesktopFixture.h"
#include "platform/linux/Screenshots.h"

namespace quib {
namespace {

// The screenshot portal on the private bus, served from its own thread and connection so the
// blocking call under test can be answered.
class FakePortal {
 public:
  FakePortal() {
    thread_ = std::thread([this] { run(); });
    while (!ready_) g_usleep(1000);
  }
  ~FakePortal() {
    g_main_context_invoke(
        context_,
        [](gpointer loop) {
          g_main_loop_quit(static_cast<GMainLoop*>(loop));
          return G_SOURCE_REMOVE;
        },
        loop_);
    thread_.join();
  }
  std::atomic<int> calls{0};
  std::atomic<bool> interactive{false};
  std::atomic<bool> tokenGiven{false};

 private:
  static void onCall(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* method,
                     GVariant* params, GDBusMethodInvocation* invocation, gpointer self) {
    auto* portal = static_cast<FakePortal*>(self);
    if (g_strcmp0(method, "Screenshot") != 0) {
      g_dbus_method_invocation_return_dbus_error(invocation, "org.freedesktop.DBus.Error.UnknownMethod", "");
      return;
    }
    GVariant* options = g_variant_get_child_value(params, 1);
    gboolean inter = FALSE;
    const char* token = nullptr;
    g_variant_lookup(options, "interactive", "b", &inter);
    portal->tokenGiven = g_variant_lookup(options, "handle_token", "&s", &token) && token && *token;
    g_variant_unref(options);
    portal->interactive = inter;
    ++portal->calls;
    g_dbus_method_invocation_return_value(
        invocation, g_variant_new("(o)", "/org/freedesktop/portal/desktop/request/1_1/t"));
  }

  void run() {
    context_ = g_main_context_new();
    g_main_context_push_thread_default(context_);
    loop_ = g_main_loop_new(context_, FALSE);
    GDBusConnection* bus = g_dbus_connection_new_for_address_sync(
        g_getenv("DBUS_SESSION_BUS_ADDRESS"),
        GDBusConnectionFlags(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                             G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, nullptr);
    GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(
        "<node><interface name='org.freedesktop.portal.Screenshot'><method name='Screenshot'>"
        "<arg type='s' direction='in'/><arg type='a{sv}' direction='in'/><arg type='o' direction='out'/>"
        "</method></interface></node>",
        nullptr);
    GDBusInterfaceVTable vtable{&FakePortal::onCall, nullptr, nullptr, {}};
    g_dbus_connection_register_object(bus, "/org/freedesktop/portal/desktop", node->interfaces[0], &vtable,
                                      this, nullptr, nullptr);
    GVariant* owned = g_dbus_connection_call_sync(
        bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "RequestName",
        g_variant_new("(su)", "org.freedesktop.portal.Desktop", 4u), G_VARIANT_TYPE("(u)"),
        G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr);
    if (owned) g_variant_unref(owned);
    ready_ = true;
    g_main_loop_run(loop_);
    g_dbus_connection_close_sync(bus, nullptr, nullptr);
    g_object_unref(bus);
    g_dbus_node_info_unref(node);
    g_main_loop_unref(loop_);
    g_main_context_pop_thread_default(context_);
    g_main_context_unref(context_);
  }

  std::thread thread_;
  std::atomic<bool> ready_{false};
  GMainContext* context_ = nullptr;
  GMainLoop* loop_ = nullptr;
};

TEST(LinuxScreenshots, AsksThePortalInteractivelyElseUsesTheFallback) {
  test::DesktopFixture::get();
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

  {
    FakePortal portal;
    EXPECT_EQ(shots.startRegionScreenshot(), Screenshots::Start::started);
    EXPECT_EQ(portal.calls, 1);
    EXPECT_TRUE(portal.interactive);
    EXPECT_TRUE(portal.tokenGiven);
    EXPECT_EQ(fallbacks, 2);
  }
}

}  // namespace
}  // namespace quib
