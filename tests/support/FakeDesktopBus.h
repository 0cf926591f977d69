#pragma once
// The desktop's side of the session bus, played by the test: a panel's StatusNotifierWatcher that
// records the items registering with it, a notification server that records each Notify, and a
// reader for an item's dbusmenu. Everything runs on the test thread (SessionBus::pump).
#include <gio/gio.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "support/SessionBus.h"

namespace quib::test {

class FakeWatcher {
 public:
  explicit FakeWatcher(SessionBus& bus);  // owns org.kde.StatusNotifierWatcher
  ~FakeWatcher();
  bool owned() const { return owned_; }
  // Bus names (or paths) items registered, in order.
  std::vector<std::string> items;

 private:
  SessionBus& bus_;
  guint registration_ = 0;
  guint owner_ = 0;
  bool owned_ = false;
};

class FakeNotifications {
 public:
  struct Notice {
    std::string appName, summary, body;
  };
  explicit FakeNotifications(SessionBus& bus);  // owns org.freedesktop.Notifications
  ~FakeNotifications();
  bool owned() const { return owned_; }
  std::vector<Notice> notices;

 private:
  SessionBus& bus_;
  guint registration_ = 0;
  guint owner_ = 0;
  bool owned_ = false;
};

// One item of a menu read with GetLayout.
struct ShownItem {
  std::int32_t id = 0;
  std::string type;  // "standard" or "separator"
  std::string label;
  bool enabled = true;
  std::string accessibleDesc;
  std::vector<std::vector<std::string>> shortcut;
  // "---" for a separator; the label, with " (off)" when disabled.
  std::string summary() const;
};

struct ShownMenu {
  std::uint32_t revision = 0;
  std::vector<ShownItem> items;
  std::vector<std::string> summaries() const;
  const ShownItem* withLabel(const std::string& label) const;
};

// Calls GetLayout on `service`'s menu at `path`; none when the call fails.
std::optional<ShownMenu> readMenu(SessionBus& bus, const std::string& service, const std::string& path);
// Sends Event(id, "clicked"); false when the item refuses it (an unknown id).
bool click(SessionBus& bus, const std::string& service, const std::string& path, std::int32_t id);
// A property of org.kde.StatusNotifierItem at /StatusNotifierItem.
GVariant* itemProperty(SessionBus& bus, const std::string& service, const char* name);

}  // namespace quib::test
