#pragma once
// A status menu as the com.canonical.dbusmenu protocol shows it: numbered items under the root (id
// 0) and the property maps a host reads. Every replace() numbers the new items after the old ones,
// so a click a host sends for an item of an earlier menu finds nothing instead of its successor.
// Plain data: used on the thread that serves the menu.
#include <glib.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/StatusBar.h"

namespace quib {

class DbusMenuModel {
 public:
  struct Entry {
    std::int32_t id = 0;
    MenuItem item;
  };

  void replace(const Menu& menu);
  std::uint32_t revision() const { return revision_; }
  const std::vector<Entry>& entries() const { return entries_; }
  // The item with this id in the current menu; the root (0) and unknown ids give none.
  const MenuItem* find(std::int32_t id) const;
  bool contains(std::int32_t id) const { return id == 0 || find(id); }

  // (ia{sv}av): the node `parentId` with its children down to `depth` levels (-1: all). Only the
  // named properties, or all of them when `names` is empty. Floating reference.
  GVariant* layout(std::int32_t parentId, std::int32_t depth, const std::vector<std::string>& names) const;
  // a{sv} of one node. Floating reference.
  GVariant* properties(std::int32_t id, const std::vector<std::string>& names) const;

  // The label of a title: a lone underscore would mark a mnemonic, so each is doubled.
  static std::string label(const std::string& title);
  // The panel icon for a menu: input not permitted, a phone connected, or no phone.
  static std::string iconName(const Menu& menu);

 private:
  std::uint32_t revision_ = 0;
  std::int32_t nextId_ = 1;
  std::vector<Entry> entries_;
};

}  // namespace quib
