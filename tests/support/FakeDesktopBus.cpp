#include "support/FakeDesktopBus.h"

namespace quib::test {

void FakeService::start(const char* xml, const char* path, const char* name,
                        std::function<GVariant*(GVariant* params)> answer) {
  answer_ = std::move(answer);
  static const GDBusInterfaceVTable vtable = {
      [](GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GVariant* params,
         GDBusMethodInvocation* invocation, gpointer self) {
        g_dbus_method_invocation_return_value(invocation, static_cast<FakeService*>(self)->answer_(params));
      },
      nullptr,
      nullptr,
      {}};
  GDBusNodeInfo* info = g_dbus_node_info_new_for_xml(xml, nullptr);
  registration_ = g_dbus_connection_register_object(bus_.connection(), path, info->interfaces[0], &vtable,
                                                    this, nullptr, nullptr);
  g_dbus_node_info_unref(info);
  owner_ = g_bus_own_name_on_connection(
      bus_.connection(), name, G_BUS_NAME_OWNER_FLAGS_NONE,
      [](GDBusConnection*, const gchar*, gpointer flag) { *static_cast<bool*>(flag) = true; }, nullptr,
      &owned_, nullptr);
  bus_.pump([this] { return owned_; });
}

FakeService::~FakeService() {
  g_bus_unown_name(owner_);
  g_dbus_connection_unregister_object(bus_.connection(), registration_);
}

FakeWatcher::FakeWatcher(SessionBus& bus) : FakeService(bus) {
  start(R"xml(<node><interface name="org.kde.StatusNotifierWatcher">
  <method name="RegisterStatusNotifierItem"><arg type="s" direction="in"/></method>
</interface></node>)xml",
        "/StatusNotifierWatcher", "org.kde.StatusNotifierWatcher", [this](GVariant* params) -> GVariant* {
          const gchar* item = nullptr;
          g_variant_get(params, "(&s)", &item);
          items.emplace_back(item);
          return nullptr;
        });
}

FakeNotifications::FakeNotifications(SessionBus& bus) : FakeService(bus) {
  start(R"xml(<node><interface name="org.freedesktop.Notifications"><method name="Notify">
  <arg type="s" direction="in"/><arg type="u" direction="in"/><arg type="s" direction="in"/>
  <arg type="s" direction="in"/><arg type="s" direction="in"/><arg type="as" direction="in"/>
  <arg type="a{sv}" direction="in"/><arg type="i" direction="in"/><arg type="u" direction="out"/>
</method></interface></node>)xml",
        "/org/freedesktop/Notifications", "org.freedesktop.Notifications", [this](GVariant* params) {
          const gchar *summary = nullptr, *body = nullptr;
          g_variant_get(params, "(&su&s&s&s@as@a{sv}i)", nullptr, nullptr, nullptr, &summary, &body, nullptr,
                        nullptr, nullptr);
          notices.push_back({summary, body});
          return g_variant_new("(u)", static_cast<guint32>(notices.size()));
        });
}

std::vector<std::string> ShownMenu::summaries() const {
  std::vector<std::string> out;
  for (const auto& i : items)
    out.push_back(i.type == "separator" ? "---" : i.enabled ? i.label : i.label + " (off)");
  return out;
}

const ShownItem* ShownMenu::withLabel(const std::string& label) const {
  for (const auto& i : items)
    if (i.label == label) return &i;
  return nullptr;
}

std::optional<ShownMenu> readMenu(SessionBus& bus, const std::string& service, const std::string& path) {
  const char* all[] = {nullptr};
  GVariant* r = g_dbus_connection_call_sync(
      bus.connection(), service.c_str(), path.c_str(), "com.canonical.dbusmenu", "GetLayout",
      g_variant_new("(ii^as)", 0, -1, all), G_VARIANT_TYPE("(u(ia{sv}av))"), G_DBUS_CALL_FLAGS_NONE, 5000,
      nullptr, nullptr);
  if (!r) return std::nullopt;
  ShownMenu menu;
  GVariantIter* children = nullptr;
  g_variant_get(r, "(u(ia{sv}av))", &menu.revision, nullptr, nullptr, &children);
  GVariant* node = nullptr;
  for (ShownItem item; g_variant_iter_next(children, "v", &node); item = {}) {
    GVariant* props = nullptr;
    g_variant_get(node, "(i@a{sv}av)", &item.id, &props, nullptr);
    const gchar* s = nullptr;
    item.type = g_variant_lookup(props, "type", "&s", &s) ? s : "standard";
    if (g_variant_lookup(props, "label", "&s", &s)) item.label = s;
    gboolean enabled = TRUE;
    if (g_variant_lookup(props, "enabled", "b", &enabled)) item.enabled = enabled;
    menu.items.push_back(item);
    g_variant_unref(props);
    g_variant_unref(node);
  }
  g_variant_iter_free(children);
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
