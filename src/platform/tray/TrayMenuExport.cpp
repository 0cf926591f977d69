// The menu side of the tray: com.canonical.dbusmenu served from the model setMenu() last gave, and a
// click handed back to the main queue. Tray thread, but for the posted choice.
#include <string>
#include <vector>

#include "platform/tray/TrayStatusBar.h"

namespace quib {
namespace {

std::vector<std::string> strings(GVariant* strv) {
  std::vector<std::string> out;
  GVariantIter it;
  const gchar* s = nullptr;
  g_variant_iter_init(&it, strv);
  while (g_variant_iter_next(&it, "&s", &s)) out.emplace_back(s);
  return out;
}

}  // namespace

void TrayStatusBar::clicked(std::int32_t id) {
  const MenuItem* item = model_.find(id);
  if (!item || !item->enabled || item->isSeparator) return;
  std::weak_ptr<bool> alive = alive_;
  mainQueue_.post([this, alive, chosen = *item] {
    auto living = alive.lock();
    if (living && *living && onChoose_) onChoose_(chosen);
  });
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
