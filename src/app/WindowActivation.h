#pragma once
// One status window per user, reached over the session bus: while the program has a window to
// show it owns kBusName and answers org.freedesktop.Application.Activate there by presenting it.
// Starting the program again (the desktop entry) then asks the running one instead. Main thread,
// which runs the default main context.
#include <gio/gio.h>

#include <functional>
#include <string>

namespace quib {

class WindowActivation {
 public:
  // The desktop entry's application id: the name on the bus and the object's path.
  static constexpr const char* kBusName = "org.example.Quibbleton";
  static constexpr const char* kObjectPath = "/org/example/Quibbleton";

  // Exports the object and takes the name now, so that a start that follows finds it; without a
  // session bus, or with the name held by another instance (a second port), nothing is exported.
  explicit WindowActivation(std::function<void()> onActivate);
  ~WindowActivation();
  WindowActivation(const WindowActivation&) = delete;
  WindowActivation& operator=(const WindowActivation&) = delete;

  bool owned() const { return owned_; }

  // A second start: asks the running instance to present its window. True once it has answered
  // that it did; false, with the reason in *error, when no instance owns the name or it failed.
  static bool activateRunning(std::string* error);

 private:
  static void onCall(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* method,
                     GVariant*, GDBusMethodInvocation* invocation, gpointer self);

  std::function<void()> onActivate_;
  GDBusConnection* connection_ = nullptr;
  guint registration_ = 0;
  bool owned_ = false;
};

}  // namespace quib
