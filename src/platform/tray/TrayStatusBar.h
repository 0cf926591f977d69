#pragma once
// The status menu as an icon in the desktop's panel: a StatusNotifierItem whose menu is served over
// com.canonical.dbusmenu on the session bus. The D-Bus side runs on a thread of its own with its
// own GLib main context and connection, so it works whatever loop the main thread runs; setMenu()
// hands the menu to that thread and a click comes back to the main queue.
#include <gio/gio.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "platform/MainQueue.h"
#include "platform/StatusBar.h"
#include "platform/tray/DbusMenuModel.h"

namespace quib {

class TrayStatusBar final : public StatusBar {
 public:
  static constexpr const char* kItemPath = "/StatusNotifierItem";
  static constexpr const char* kMenuPath = "/MenuBar";

  // Connects to the session bus and exports the item; none, with the reason in *error, when there
  // is no session bus. The item registers with the panel's watcher whenever one is on the bus.
  static std::unique_ptr<TrayStatusBar> create(MainQueue& mainQueue, std::string* error);
  // Why the tray cannot be shown now (no session bus, or no watcher on it), or none when it can.
  static std::optional<std::string> unavailableReason();

  ~TrayStatusBar() override;

  // Main thread.
  void setMenu(const Menu& menu) override;
  void setOnChoose(std::function<void(const MenuItem&)> onChoose) override {
    onChoose_ = std::move(onChoose);
  }

  // The well-known name the item is exported under.
  const std::string& busName() const { return busName_; }

 private:
  explicit TrayStatusBar(MainQueue& mainQueue);
  bool setUp(std::string* error);  // tray thread
  void tearDown();                 // tray thread
  void show(const Menu& menu);     // tray thread
  void registerWithWatcher();      // tray thread
  void emit(const char* path, const char* interface, const char* signal, GVariant* args);

  static void onItemCall(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* method,
                         GVariant* params, GDBusMethodInvocation* invocation, gpointer self);
  static GVariant* onItemProperty(GDBusConnection*, const gchar*, const gchar*, const gchar*,
                                  const gchar* property, GError**, gpointer self);
  static void onMenuCall(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* method,
                         GVariant* params, GDBusMethodInvocation* invocation, gpointer self);
  static GVariant* onMenuProperty(GDBusConnection*, const gchar*, const gchar*, const gchar*,
                                  const gchar* property, GError**, gpointer self);
  void clicked(std::int32_t id);  // tray thread

  MainQueue& mainQueue_;
  std::function<void(const MenuItem&)> onChoose_;               // main thread
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);  // main thread
  std::string busName_;

  // Owned by the tray thread.
  GMainContext* context_ = nullptr;
  GMainLoop* loop_ = nullptr;
  GDBusConnection* connection_ = nullptr;
  guint itemRegistration_ = 0;
  guint menuRegistration_ = 0;
  guint watcherWatch_ = 0;
  DbusMenuModel model_;
  std::string iconName_ = DbusMenuModel::iconName({});
  std::string header_;
  std::thread thread_;
};

}  // namespace quib
