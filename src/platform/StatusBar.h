#pragma once
// The one status-bar item and its menu: the program's whole user interface. The menu is a plain
// model; a backend shows it and reports which enabled item the user chose. Main thread only.
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace quib {

struct MenuItem {
  enum class Action {
    none,
    copyCode,
    regenerateCode,
    forgetDevices,
    disconnectDevice,
    openAccessibilitySettings,
    quit
  };

  std::string title;
  bool enabled = false;
  Action action = Action::none;
  std::optional<std::string> representedObject;
  std::optional<std::string> toolTip;
  std::string keyEquivalent;
  bool isSeparator = false;

  static MenuItem separator() {
    MenuItem m;
    m.isSeparator = true;
    return m;
  }
  static MenuItem info(std::string title) {
    MenuItem m;
    m.title = std::move(title);
    return m;
  }
  static MenuItem command(std::string title, Action action) {
    MenuItem m;
    m.title = std::move(title);
    m.enabled = true;
    m.action = action;
    return m;
  }
  bool operator==(const MenuItem&) const = default;
};

using Menu = std::vector<MenuItem>;

class StatusBar {
 public:
  virtual ~StatusBar() = default;
  // Replaces the shown menu whole.
  virtual void setMenu(const Menu& menu) = 0;
  // Called on the main thread when the user chooses an enabled item.
  virtual void setOnChoose(std::function<void(const MenuItem&)> onChoose) = 0;
};

}  // namespace quib
