#include "support/FakeDesktopBus.h"

namespace quib::test {
namespace {

constexpr const char* kWatcherXml = R"xml(<node><interface name="org.kde.StatusNotifierWatcher">
  <method name="RegisterStatusNotifierItem"><arg type="s" direction="in"/></method>
  <method name="RegisterStatusNotifierHost"><arg type="s" direction="in"/></method>
  <property name="RegisteredStatusNotifierItems" type="as" access="read"/>
  <property name="IsStatusNotifierHostRegistered" type="b" access="read"/>
  <property name="ProtocolVersion" type="i" access="read"/>
</interface></node>)xml";

constexpr const char* kNotificationsXml = R"xml(<node><interface name="org.freedesktop.Notifications">
  <method name="Notify">
    <arg type="s" direction="in"/><arg type="u" direction="in"/><arg type="s" direction="in"/>
    <arg type="s" direction="in"/><arg type="s" direction="in"/><arg type="as" direction="in"/>
    <arg type="a{sv}" direction="in"/><arg type="i" direction="in"/><arg type="u" direction="out"/>
  </method>
</interface></node>)xml";

// Exports one interface described by `xml` at `path` and owns `name`; *owned turns true once the
// bus grants it (the caller pumps until then).
void exportAndOwn(SessionBus& bus, const char* xml, const char* path, const char* name,
                  const GDBusInterfaceVTable* vtable, gpointer self, guint* registration, guint* owner,
                  bool* owned) {
  GDBusNodeInfo* info = g_dbus_node_info_new_for_xml(xml, nullptr);
  *registration = g_dbus_connection_register_object(bus.connection(), path, info->interfaces[0], vtable, self,
                                                    nullptr, nullptr);
  g_dbus_node_info_unref(info);
  *owner = g_bus_own_name_on_connection(
      bus.connection(), name, G_BUS_NAME_OWNER_FLAGS_NONE,
      [](GDBusConnection*, const gchar*, gpointer flag) { *static_cast<bool*>(flag) = true; }, nullptr, owned,
      nullptr);
  bus.pump([owned] { return *owned; });
}

}  // namespace

FakeWatcher::FakeWatcher(SessionBus& bus) : bus_(bus) {
  static const GDBusInterfaceVTable vtable = {
      [](GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* method, GVariant* params,
         GDBusMethodInvocation* invocation, gpointer self) {
        if (std::string(method) == "RegisterStatusNotifierItem") {
          const gchar* item = nullptr;
          g_variant_get(params, "(&s)", &item);
          static_cast<FakeWatcher*>(self)->items.emplace_back(item);
        }
        g_dbus_method_invocation_return_value(invocation, nullptr);
      },
      [](GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* property, GError**,
         gpointer) -> GVariant* {
        const std::string p = property;
        if (p == "IsStatusNotifierHostRegistered") return g_variant_new_boolean(TRUE);
        if (p == "ProtocolVersion") return g_variant_new_int32(0);
        return g_variant_new_strv(nullptr, 0);
      },
      nullptr,
      {}};
  exportAndOwn(bus, kWatcherXml, "/StatusNotifierWatcher", "org.kde.StatusNotifierWatcher", &vtable, this,
               &registration_, &owner_, &owned_);
}

FakeWatcher::~FakeWatcher() {
  g_bus_unown_name(owner_);
  g_dbus_connection_unregister_object(bus_.connection(), registration_);
}

FakeNotifications::FakeNotifications(SessionBus& bus) : bus_(bus) {
  static const GDBusInterfaceVTable vtable = {
      [](GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GVariant* params,
         GDBusMethodInvocation* invocation, gpointer self) {
        // Notify, the one method.
        const gchar *app = nullptr, *icon = nullptr, *summary = nullptr, *body = nullptr;
        guint32 replaces = 0;
        g_variant_get(params, "(&su&s&s&s@as@a{sv}i)", &app, &replaces, &icon, &summary, &body, nullptr,
                      nullptr, nullptr);
        auto* me = static_cast<FakeNotifications*>(self);
        me->notices.push_back({app, summary, body});
        g_dbus_method_invocation_return_value(invocation,
                                              g_variant_new("(u)", static_cast<guint32>(me->notices.size())));
      },
      nullptr,
      nullptr,
      {}};
  exportAndOwn(bus, kNotificationsXml, "/org/freedesktop/Notifications", "org.freedesktop.Notifications",
               &vtable, this, &registration_, &owner_, &owned_);
}

FakeNotifications::~FakeNotifications() {
  g_bus_unown_name(owner_);
  g_dbus_connection_unregister_object(bus_.connection(), registration_);
}

std::string ShownItem::summary() const {
  if (type == "separator") return "---";
  return enabled ? label : label + " (off)";
}

std::vector<std::string> ShownMenu::summaries() const {
  std::vector<std::string> out;
  for (const auto& i : items) out.push_back(i.summary());
  return out;
}

const ShownItem* ShownMenu::withLabel(const std::string& label) const {
  for (const auto& i : items)
    if (i.label == label) return &i;
  return nullptr;
}

std::optional<ShownMenu> readMenu(SessionBus& bus, const std::string& service, const std::string& path) {
  const gchar* allProperties[] = {nullptr};
  GVariant* r = g_dbus_connection_call_sync(
      bus.connection(), service.c_str(), path.c_str(), "com.canonical.dbusmenu", "GetLayout",
      g_variant_new("(ii^as)", 0, -1, allProperties), G_VARIANT_TYPE("(u(ia{sv}av))"), G_DBUS_CALL_FLAGS_NONE,
      5000, nullptr, nullptr);
  if (!r) return std::nullopt;
  ShownMenu menu;
  GVariant* root = nullptr;
  g_variant_get(r, "(u@(ia{sv}av))", &menu.revision, &root);
  GVariant* children = g_variant_get_child_value(root, 2);
  for (gsize i = 0; i < g_variant_n_children(children); ++i) {
    GVariant* boxed = g_variant_get_child_value(children, i);
    GVariant* node = g_variant_get_variant(boxed);
    ShownItem item;
    GVariant* props = nullptr;
    g_variant_get(node, "(i@a{sv}@av)", &item.id, &props, nullptr);
    const gchar* s = nullptr;
    item.type = g_variant_lookup(props, "type", "&s", &s) ? s : "standard";
    if (g_variant_lookup(props, "label", "&s", &s)) item.label = s;
    if (g_variant_lookup(props, "accessible-desc", "&s", &s)) item.accessibleDesc = s;
    gboolean enabled = TRUE;
    if (g_variant_lookup(props, "enabled", "b", &enabled)) item.enabled = enabled;
    if (GVariant* keys = g_variant_lookup_value(props, "shortcut", G_VARIANT_TYPE("aas"))) {
      for (gsize k = 0; k < g_variant_n_children(keys); ++k) {
        GVariant* combo = g_variant_get_child_value(keys, k);
        gsize n = 0;
        const gchar** parts = g_variant_get_strv(combo, &n);
        item.shortcut.emplace_back(parts, parts + n);
        g_free(parts);
        g_variant_unref(combo);
      }
      g_variant_unref(keys);
    }
    menu.items.push_back(item);
    g_variant_unref(props);
    g_variant_unref(node);
    g_variant_unref(boxed);
  }
  g_variant_unref(children);
  g_variant_unref(root);
  g_variant_unref(r);
  return menu;
}

bool click(SessionBus& bus, const std::string& service, const std::string& path, std::int32_t id) {
  GVariant* r =
      g_dbus_connection_call_sync(bus.connection(), service.c_str(), path.c_str(), "com.canonical.dbusmenu",
                                  "Event", g_variant_new("(isvu)", id, "clicked", g_variant_new_int32(0), 0u),
                                  nullptr, G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
  if (!r) return false;
  g_variant_unref(r);
  return true;
}

GVariant* itemProperty(SessionBus& bus, const std::string& service, const char* name) {
  GVariant* r = g_dbus_connection_call_sync(
      bus.connection(), service.c_str(), "/StatusNotifierItem", "org.freedesktop.DBus.Properties", "Get",
      g_variant_new("(ss)", "org.kde.StatusNotifierItem", name), G_VARIANT_TYPE("(v)"),
      G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
  if (!r) return nullptr;
  GVariant* value = nullptr;
  g_variant_get(r, "(v)", &value);
  g_variant_unref(r);
  return value;
}

}  // namespace quib::test
