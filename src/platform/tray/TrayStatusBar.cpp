#include "platform/tray/TrayStatusBar.h"

#include <unistd.h>

#include <future>

namespace quib {
namespace {

constexpr const char* kWatcherName = "org.kde.StatusNotifierWatcher";
constexpr const char* kItemInterface = "org.kde.StatusNotifierItem";
constexpr const char* kMenuInterface = "com.canonical.dbusmenu";
// What the status item was called where this menu came from; hosts show it as the item's name.
constexpr const char* kTitle = "Quibox";

constexpr const char* kIntrospection = R"xml(<node>
  <interface name="org.kde.StatusNotifierItem">
    <property name="Category" type="s" access="read"/>
    <property name="Id" type="s" access="read"/>
    <property name="Title" type="s" access="read"/>
    <property name="Status" type="s" access="read"/>
    <property name="WindowId" type="i" access="read"/>
    <property name="IconName" type="s" access="read"/>
    <property name="IconThemePath" type="s" access="read"/>
    <property name="OverlayIconName" type="s" access="read"/>
    <property name="AttentionIconName" type="s" access="read"/>
    <property name="ToolTip" type="(sa(iiay)ss)" access="read"/>
    <property name="ItemIsMenu" type="b" access="read"/>
    <property name="Menu" type="o" access="read"/>
    <method name="ContextMenu"><arg name="x" type="i" direction="in"/><arg name="y" type="i" direction="in"/></method>
    <method name="Activate"><arg name="x" type="i" direction="in"/><arg name="y" type="i" direction="in"/></method>
    <method name="SecondaryActivate"><arg name="x" type="i" direction="in"/><arg name="y" type="i" direction="in"/></method>
    <method name="Scroll"><arg name="delta" type="i" direction="in"/><arg name="orientation" type="s" direction="in"/></method>
    <signal name="NewTitle"/>
    <signal name="NewIcon"/>
    <signal name="NewAttentionIcon"/>
    <signal name="NewOverlayIcon"/>
    <signal name="NewToolTip"/>
    <signal name="NewStatus"><arg name="status" type="s"/></signal>
  </interface>
  <interface name="com.canonical.dbusmenu">
    <property name="Version" type="u" access="read"/>
    <property name="TextDirection" type="s" access="read"/>
    <property name="Status" type="s" access="read"/>
    <property name="IconThemePath" type="as" access="read"/>
    <method name="GetLayout">
      <arg type="i" name="parentId" direction="in"/>
      <arg type="i" name="recursionDepth" direction="in"/>
      <arg type="as" name="propertyNames" direction="in"/>
      <arg type="u" name="revision" direction="out"/>
      <arg type="(ia{sv}av)" name="layout" direction="out"/>
    </method>
    <method name="GetGroupProperties">
      <arg type="ai" name="ids" direction="in"/>
      <arg type="as" name="propertyNames" direction="in"/>
      <arg type="a(ia{sv})" name="properties" direction="out"/>
    </method>
    <method name="GetProperty">
      <arg type="i" name="id" direction="in"/>
      <arg type="s" name="name" direction="in"/>
      <arg type="v" name="value" direction="out"/>
    </method>
    <method name="Event">
      <arg type="i" name="id" direction="in"/>
      <arg type="s" name="eventId" direction="in"/>
      <arg type="v" name="data" direction="in"/>
      <arg type="u" name="timestamp" direction="in"/>
    </method>
    <method name="EventGroup">
      <arg type="a(isvu)" name="events" direction="in"/>
      <arg type="ai" name="idErrors" direction="out"/>
    </method>
    <method name="AboutToShow">
      <arg type="i" name="id" direction="in"/>
      <arg type="b" name="needUpdate" direction="out"/>
    </method>
    <method name="AboutToShowGroup">
      <arg type="ai" name="ids" direction="in"/>
      <arg type="ai" name="updatesNeeded" direction="out"/>
      <arg type="ai" name="idErrors" direction="out"/>
    </method>
    <signal name="ItemsPropertiesUpdated">
      <arg type="a(ia{sv})" name="updatedProps"/>
      <arg type="a(ias)" name="removedProps"/>
    </signal>
    <signal name="LayoutUpdated"><arg type="u" name="revision"/><arg type="i" name="parent"/></signal>
    <signal name="ItemActivationRequested"><arg type="i" name="id"/><arg type="u" name="timestamp"/></signal>
  </interface>
</node>)xml";

GDBusNodeInfo* introspection() {
  static GDBusNodeInfo* info = g_dbus_node_info_new_for_xml(kIntrospection, nullptr);
  return info;
}

std::vector<std::string> strings(GVariant* strv) {
  std::vector<std::string> out;
  GVariantIter it;
  const gchar* s = nullptr;
  g_variant_iter_init(&it, strv);
  while (g_variant_iter_next(&it, "&s", &s)) out.emplace_back(s);
  return out;
}

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
      connection_, kItemPath, g_dbus_node_info_lookup_interface(introspection(), kItemInterface), &itemVTable,
      this, nullptr, &err);
  if (itemRegistration_)
    menuRegistration_ = g_dbus_connection_register_object(
        connection_, kMenuPath, g_dbus_node_info_lookup_interface(introspection(), kMenuInterface),
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

void TrayStatusBar::clicked(std::int32_t id) {
  const MenuItem* item = model_.find(id);
  if (!item || !item->enabled || item->isSeparator) return;
  std::weak_ptr<bool> alive = alive_;
  mainQueue_.post([this, alive, chosen = *item] {
    auto living = alive.lock();
    if (living && *living && onChoose_) onChoose_(chosen);
  });
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

GVariant* TrayStatusBar::onMenuProperty(GDBusConnection*, const gchar*, const gchar*, const gchar*,
                                        const gchar* property, GError** error, gpointer) {
  const std::string p = property;
  if (p == "Version") return g_variant_new_uint32(3);
  if (p == "TextDirection") return g_variant_new_string("ltr");
  if (p == "Status") return g_variant_new_string("normal");
  if (p == "IconThemePath") return g_variant_new_strv(nullptr, 0);
  g_set_error(error, G_DBUS_ERROR, G_DBUS_ERROR_UNKNOWN_PROPERTY, "no property %s", property);
  return nullptr;
}

void TrayStatusBar::onMenuCall(GDBusConnection*, const gchar*, const gchar*, const gchar*,
                               const gchar* method, GVariant* params, GDBusMethodInvocation* invocation,
                               gpointer data) {
  auto* self = static_cast<TrayStatusBar*>(data);
  DbusMenuModel& model = self->model_;
  const std::string m = method;
  auto unknownId = [invocation](std::int32_t id) {
    g_dbus_method_invocation_return_error(invocation, G_DBUS_ERROR, G_DBUS_ERROR_INVALID_ARGS, "no item %d",
                                          id);
  };
  if (m == "GetLayout") {
    gint32 parent = 0, depth = 0;
    GVariant* names = nullptr;
    g_variant_get(params, "(ii@as)", &parent, &depth, &names);
    const auto wanted = strings(names);
    g_variant_unref(names);
    if (!model.contains(parent)) return unknownId(parent);
    g_dbus_method_invocation_return_value(
        invocation, g_variant_new("(u@(ia{sv}av))", model.revision(), model.layout(parent, depth, wanted)));
  } else if (m == "GetGroupProperties") {
    GVariant* ids = nullptr;
    GVariant* names = nullptr;
    g_variant_get(params, "(@ai@as)", &ids, &names);
    const auto wanted = strings(names);
    GVariantBuilder out;
    g_variant_builder_init(&out, G_VARIANT_TYPE("a(ia{sv})"));
    gsize n = 0;
    const gint32* list = static_cast<const gint32*>(g_variant_get_fixed_array(ids, &n, sizeof(gint32)));
    if (n == 0) {
      for (const auto& e : model.entries())
        g_variant_builder_add(&out, "(i@a{sv})", e.id, model.properties(e.id, wanted));
    } else {
      for (gsize i = 0; i < n; ++i)
        if (model.contains(list[i]))
          g_variant_builder_add(&out, "(i@a{sv})", list[i], model.properties(list[i], wanted));
    }
    g_variant_unref(ids);
    g_variant_unref(names);
    g_dbus_method_invocation_return_value(invocation,
                                          g_variant_new("(@a(ia{sv}))", g_variant_builder_end(&out)));
  } else if (m == "GetProperty") {
    gint32 id = 0;
    const gchar* name = nullptr;
    g_variant_get(params, "(i&s)", &id, &name);
    if (!model.contains(id)) return unknownId(id);
    GVariant* props = g_variant_ref_sink(model.properties(id, {name}));
    GVariant* value = g_variant_lookup_value(props, name, nullptr);
    g_variant_unref(props);
    if (!value) {
      g_dbus_method_invocation_return_error(invocation, G_DBUS_ERROR, G_DBUS_ERROR_INVALID_ARGS,
                                            "item %d has no %s", id, name);
      return;
    }
    g_dbus_method_invocation_return_value(invocation, g_variant_new("(v)", value));
    g_variant_unref(value);
  } else if (m == "Event") {
    gint32 id = 0;
    const gchar* event = nullptr;
    g_variant_get(params, "(i&svu)", &id, &event, nullptr, nullptr);
    if (!model.contains(id)) return unknownId(id);
    if (std::string(event) == "clicked") self->clicked(id);
    g_dbus_method_invocation_return_value(invocation, nullptr);
  } else if (m == "EventGroup") {
    GVariantIter* events = nullptr;
    g_variant_get(params, "(a(isvu))", &events);
    GVariantBuilder errors;
    g_variant_builder_init(&errors, G_VARIANT_TYPE("ai"));
    gint32 id = 0;
    const gchar* event = nullptr;
    GVariant* payload = nullptr;
    guint32 timestamp = 0;
    while (g_variant_iter_next(events, "(i&svu)", &id, &event, &payload, &timestamp)) {
      if (!model.contains(id))
        g_variant_builder_add(&errors, "i", id);
      else if (std::string(event) == "clicked")
        self->clicked(id);
      g_variant_unref(payload);
    }
    g_variant_iter_free(events);
    g_dbus_method_invocation_return_value(invocation, g_variant_new("(@ai)", g_variant_builder_end(&errors)));
  } else if (m == "AboutToShow") {
    // The menu changes only when it is rebuilt, never on opening.
    g_dbus_method_invocation_return_value(invocation, g_variant_new("(b)", FALSE));
  } else if (m == "AboutToShowGroup") {
    g_dbus_method_invocation_return_value(
        invocation,
        g_variant_new("(@ai@ai)", g_variant_new_fixed_array(G_VARIANT_TYPE_INT32, nullptr, 0, sizeof(gint32)),
                      g_variant_new_fixed_array(G_VARIANT_TYPE_INT32, nullptr, 0, sizeof(gint32))));
  } else {
    g_dbus_method_invocation_return_error(invocation, G_DBUS_ERROR, G_DBUS_ERROR_UNKNOWN_METHOD,
                                          "no method %s", method);
  }
}

}  // namespace quib
