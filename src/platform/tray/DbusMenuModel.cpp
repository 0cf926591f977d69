#include "platform/tray/DbusMenuModel.h"

#include <algorithm>

namespace quib {
namespace {

bool wanted(const std::vector<std::string>& names, const char* name) {
  return names.empty() || std::find(names.begin(), names.end(), name) != names.end();
}

}  // namespace

void DbusMenuModel::replace(const Menu& menu) {
  entries_.clear();
  entries_.reserve(menu.size());
  for (const auto& item : menu) entries_.push_back(Entry{nextId_++, item});
  ++revision_;
}

const MenuItem* DbusMenuModel::find(std::int32_t id) const {
  for (const auto& e : entries_)
    if (e.id == id) return &e.item;
  return nullptr;
}

std::string DbusMenuModel::label(const std::string& title) {
  std::string out;
  out.reserve(title.size());
  for (char c : title) {
    out += c;
    if (c == '_') out += '_';
  }
  return out;
}

std::string DbusMenuModel::iconName(const Menu& menu) {
  auto has = [&](MenuItem::Action a) {
    return std::any_of(menu.begin(), menu.end(), [a](const MenuItem& m) { return m.action == a; });
  };
  if (has(MenuItem::Action::openAccessibilitySettings)) return "quibbleton-not-permitted-symbolic";
  if (has(MenuItem::Action::disconnectDevice)) return "quibbleton-connected-symbolic";
  return "quibbleton-no-phone-symbolic";
}

GVariant* DbusMenuModel::properties(std::int32_t id, const std::vector<std::string>& names) const {
  GVariantBuilder b;
  g_variant_builder_init(&b, G_VARIANT_TYPE("a{sv}"));
  if (id == 0) {
    if (wanted(names, "children-display"))
      g_variant_builder_add(&b, "{sv}", "children-display", g_variant_new_string("submenu"));
    return g_variant_builder_end(&b);
  }
  const MenuItem* item = find(id);
  if (!item) return g_variant_builder_end(&b);
  if (item->isSeparator) {
    if (wanted(names, "type")) g_variant_builder_add(&b, "{sv}", "type", g_variant_new_string("separator"));
    return g_variant_builder_end(&b);
  }
  if (wanted(names, "label"))
    g_variant_builder_add(&b, "{sv}", "label", g_variant_new_string(label(item->title).c_str()));
  if (wanted(names, "enabled"))
    g_variant_builder_add(&b, "{sv}", "enabled", g_variant_new_boolean(item->enabled));
  // The protocol has no tooltip; hosts read the accessible description aloud or show it.
  if (item->toolTip && wanted(names, "accessible-desc"))
    g_variant_builder_add(&b, "{sv}", "accessible-desc", g_variant_new_string(item->toolTip->c_str()));
  if (!item->keyEquivalent.empty() && wanted(names, "shortcut")) {
    GVariantBuilder keys;
    g_variant_builder_init(&keys, G_VARIANT_TYPE("aas"));
    const char* combo[] = {"Control", item->keyEquivalent.c_str()};
    g_variant_builder_add_value(&keys, g_variant_new_strv(combo, 2));
    g_variant_builder_add(&b, "{sv}", "shortcut", g_variant_builder_end(&keys));
  }
  return g_variant_builder_end(&b);
}

GVariant* DbusMenuModel::layout(std::int32_t parentId, std::int32_t depth,
                                const std::vector<std::string>& names) const {
  GVariantBuilder children;
  g_variant_builder_init(&children, G_VARIANT_TYPE("av"));
  if (parentId == 0 && depth != 0) {
    for (const auto& e : entries_) {
      GVariantBuilder none;
      g_variant_builder_init(&none, G_VARIANT_TYPE("av"));
      GVariant* child =
          g_variant_new("(i@a{sv}@av)", e.id, properties(e.id, names), g_variant_builder_end(&none));
      g_variant_builder_add(&children, "v", child);
    }
  }
  return g_variant_new("(i@a{sv}@av)", parentId, properties(parentId, names),
                       g_variant_builder_end(&children));
}

}  // namespace quib
