#include "platform/tray/TrayStatusBar.h"

#include <unistd.h>

#include <future>

#include "platform/tray/TrayInterfaces.h"

namespace quib {
namespace {

using namespace tray;

GDBusConnection* sessionConnection(std::string* error) {
  GError* err = nullptr;
  gchar* address = g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SESSION, nullptr, &err);
  GDBusConnection* c = nullptr;
  if (address) {
    c = g_dbus_connection_new_for_address_sync(
        address,
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, &err);
    g_free(address);
  }
  if (!c && error) *error = std::string("no session bus: ") + (err ? err->message : "unknown error");
  if (err) g_error_free(err);
  return c;
}

}  // namespace

std::optional<std::string> TrayStatusBar::unavailableReason() {
  std::string error;
  GDBusConnection* c = sessionConnection(&error);
  if (!c) return error;
  GVariant* r =
      g_dbus_connection_call_sync(c, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                                  "NameHasOwner", g_variant_new("(s)", kWatcherName), G_VARIANT_TYPE("(b)"),
                                  G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
  gboolean present = FALSE;
  if (r) {
    g_variant_get(r, "(b)", &present);
    g_variant_unref(r);
  }
  g_dbus_connection_close_sync(c, nullptr, nullptr);
  g_object_unref(c);
  if (present) return std::nullopt;
  return std::string("no ") + kWatcherName + " on the session bus (the panel shows no tray)";
}

TrayStatusBar::TrayStatusBar(MainQueue& mainQueue) : mainQueue_(mainQueue) {
  busName_ = "org.kde.StatusNotifierItem-" + std::to_string(::getpid()) + "-1";
}

std::unique_ptr<TrayStatusBar> TrayStatusBar::create(MainQueue& mainQueue, std::string* error) {
  std::unique_ptr<TrayStatusBar> bar(new TrayStatusBar(mainQueue));
  bar->context_ = g_main_context_new();
  bar->loop_ = g_main_loop_new(bar->context_, FALSE);
  std::promise<std::string> ready;
  auto result = ready.get_future();
  TrayStatusBar* self = bar.get();
  bar->thread_ = std::thread([self, &ready] {
    g_main_context_push_thread_default(self->context_);
    std::string why;
    const bool ok = self->setUp(&why);
    ready.set_value(ok ? std::string() : why);
    if (ok) g_main_loop_run(self->loop_);
    self->tearDown();
    g_main_context_pop_thread_default(self->context_);
  });
  const std::string why = result.get();
  if (!why.empty()) {
    if (error) *error = why;
    return nullptr;  // the thread has ended by now: the destructor joins it
  }
  return bar;
}

TrayStatusBar::~TrayStatusBar() {
  *alive_ = false;
  if (thread_.joinable()) {
    g_main_context_invoke(
        context_,
        [](gpointer loop) -> gboolean {
          g_main_loop_quit(static_cast<GMainLoop*>(loop));
          return G_SOURCE_REMOVE;
        },
        loop_);
    thread_.join();
  }
  if (loop_) g_main_loop_unref(loop_);
  if (context_) g_main_context_unref(context_);
}

bool TrayStatusBar::setUp(std::string* error) {
  connection_ = sessionConnection(error);
  if (!connection_) return false;
  static const GDBusInterfaceVTable itemVTable = {
      &TrayStatusBar::onItemCall, &TrayStatusBar::onItemProperty, nullptr, {}};
  static const GDBusInterfaceVTable menuVTable = {
      &TrayStatusBar::onMenuCall, &TrayStatusBar::onMenuProperty, nullptr, {}};
  GError* err = nullptr;
  itemRegistration_ = g_dbus_connection_register_object(
      connection_, kItemPath, g_dbus_node_info_lookup_interface(trayIntrospection(), kItemInterface),
      &itemVTable, this, nullptr, &err);
  if (itemRegistration_)
    menuRegistration_ = g_dbus_connection_register_object(
        connection_, kMenuPath, g_dbus_node_info_lookup_interface(trayIntrospection(), kMenuInterface),
        &menuVTable, this, nullptr, &err);
  GVariant* owned = nullptr;
  if (menuRegistration_)
    owned = g_dbus_connection_call_sync(connection_, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                        "org.freedesktop.DBus", "RequestName",
                                        g_variant_new("(su)", busName_.c_str(), 4u /* do not queue */),
                                        G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, &err);
  guint32 reply = 0;
  if (owned) {
    g_variant_get(owned, "(u)", &reply);
    g_variant_unref(owned);
  }
  if (reply != 1 /* primary owner */) {
    if (error)
      *error =
          "cannot export the status item: " + std::string(err ? err->message : "name " + busName_ + " taken");
    if (err) g_error_free(err);
    return false;
  }
  // A panel started (or restarted) after us finds the item when its watcher appears.
  watcherWatch_ = g_bus_watch_name_on_connection(
      connection_, kWatcherName, G_BUS_NAME_WATCHER_FLAGS_NONE,
      [](GDBusConnection*, const gchar*, const gchar*, gpointer self) {
        static_cast<TrayStatusBar*>(self)->registerWithWatcher();
      },
      nullptr, this, nullptr);
  return true;
}

void TrayStatusBar::tearDown() {
  if (!connection_) return;
  if (watcherWatch_) g_bus_unwatch_name(watcherWatch_);
  if (menuRegistration_) g_dbus_connection_unregister_object(connection_, menuRegistration_);
  if (itemRegistration_) g_dbus_connection_unregister_object(connection_, itemRegistration_);
  g_dbus_connection_flush_sync(connection_, nullptr, nullptr);
  g_dbus_connection_close_sync(connection_, nullptr, nullptr);
  g_object_unref(connection_);
  connection_ = nullptr;
  // Let finished calls release what they hold before the context goes.
  while (g_main_context_iteration(context_, FALSE)) {
  }
}

void TrayStatusBar::registerWithWatcher() {
  g_dbus_connection_call(connection_, kWatcherName, "/StatusNotifierWatcher", kWatcherName,
                         "RegisterStatusNotifierItem", g_variant_new("(s)", busName_.c_str()), nullptr,
                         G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr, nullptr);
}

void TrayStatusBar::setMenu(const Menu& menu) {
  struct Job {
    TrayStatusBar* self;
    Menu menu;
  };
  g_main_context_invoke_full(
      context_, G_PRIORITY_DEFAULT,
      [](gpointer data) -> gboolean {
        auto* job = static_cast<Job*>(data);
        job->self->show(job->menu);
        return G_SOURCE_REMOVE;
      },
      new Job{this, menu}, [](gpointer data) { delete static_cast<Job*>(data); });
}

void TrayStatusBar::emit(const char* path, const char* interface, const char* signal, GVariant* args) {
  g_dbus_connection_emit_signal(connection_, nullptr, path, interface, signal, args, nullptr);
}

void TrayStatusBar::show(const Menu& menu) {
  model_.replace(menu);
  emit(kMenuPath, kMenuInterface, "LayoutUpdated", g_variant_new("(ui)", model_.revision(), 0));
  const std::string icon = DbusMenuModel::iconName(menu);
  if (icon != iconName_) {
    iconName_ = icon;
    emit(kItemPath, kItemInterface, "NewIcon", nullptr);
  }
  const std::string header = menu.empty() ? std::string() : menu.front().title;
  if (header != header_) {
    header_ = header;
    emit(kItemPath, kItemInterface, "NewToolTip", nullptr);
  }
}

void TrayStatusBar::onItemCall(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
                               GVariant*, GDBusMethodInvocation* invocation, gpointer) {
  // The menu is the whole item: activation has nothing else to show.
  g_dbus_method_invocation_return_value(invocation, nullptr);
}

GVariant* TrayStatusBar::onItemProperty(GDBusConnection*, const gchar*, const gchar*, const gchar*,
                                        const gchar* property, GError** error, gpointer data) {
  auto* self = static_cast<TrayStatusBar*>(data);
  const std::string p = property;
  if (p == "Category") return g_variant_new_string("ApplicationStatus");
  if (p == "Id") return g_variant_new_string("quibbleton");
  if (p == "Title") return g_variant_new_string(kTitle);
  if (p == "Status") return g_variant_new_string("Active");
  if (p == "WindowId") return g_variant_new_int32(0);
  if (p == "IconName") return g_variant_new_string(self->iconName_.c_str());
  if (p == "IconThemePath" || p == "OverlayIconName" || p == "AttentionIconName")
    return g_variant_new_string("");
  if (p == "ItemIsMenu") return g_variant_new_boolean(TRUE);
  if (p == "Menu") return g_variant_new_object_path(kMenuPath);
  if (p == "ToolTip") {
    GVariantBuilder pixmaps;
    g_variant_builder_init(&pixmaps, G_VARIANT_TYPE("a(iiay)"));
    return g_variant_new("(s@a(iiay)ss)", self->iconName_.c_str(), g_variant_builder_end(&pixmaps), kTitle,
                         self->header_.c_str());
  }
  g_set_error(error, G_DBUS_ERROR, G_DBUS_ERROR_UNKNOWN_PROPERTY, "no property %s", property);
  return nullptr;
}

}  // namespace quib
