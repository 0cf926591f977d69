#pragma once
// The desktop's side of the session bus, played by the test: a panel's StatusNotifierWatcher that
// records the items registering with it, a notification server that records each Notify, and a
// reader for an item's dbusmenu. Everything runs on the test thread (SessionBus::pump).
#include <gio/gio.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "support/SessionBus.h"

namespace quib::test {

// One object exported on the test's connection under a well-known name.
class FakeService {
 public:
  explicit FakeService(SessionBus& bus) : bus_(bus) {}
  ~FakeService();
  bool owned() const { return owned_; }

 protected:
  // Last in the subclass's constructor: calls may come in while it waits for the name.
  // Every call to the object's one interface is answered with what `answer` returns for its arguments.
  void start(const char* xml, const char* path, const char* name, std::function<GVariant*(GVariant*)> answer);

 private:
  SessionBus& bus_;
  std::function<GVariant*(GVariant*)> answer_;
  guint registration_ = 0;
  guint owner_ = 0;
  bool owned_ = false;
};

class FakeWatcher : public FakeService {
 public:
  explicit FakeWatcher(SessionBus& bus);  // owns org.kde.StatusNotifierWatcher
  std::vector<std::string> items;         // bus names (or paths) items registered, in order
};

class FakeNotifications : public FakeService {
 public:
  struct Notice {
    std::string summary, body;
  };
  explicit FakeNotifications(SessionBus& bus);  // owns org.freedesktop.Notifications
  std::vector<Notice> notices;
};

// One item of a menu read with GetLayout.
struct ShownItem {
  std::int32_t id = 0;
  std::string type;  // "standard" or "separator"
  std::string label;
  bool enabled = true;
};

struct ShownMenu {
  std::uint32_t revision = 0;
  std::vector<ShownItem> items;
  // "---" for a separator, else the label, with " (off)" when disabled.
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
