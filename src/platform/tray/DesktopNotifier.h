#pragma once
// Desktop notifications (org.freedesktop.Notifications on the session bus) for what the user should
// not miss while the menu is closed. Sends and forgets: no reply is awaited, so it needs no loop.
// Main thread.
#include <gio/gio.h>

#include <optional>
#include <string>

namespace quib {

class DesktopNotifier {
 public:
  DesktopNotifier();  // without a session bus every notice is dropped
  ~DesktopNotifier();
  DesktopNotifier(const DesktopNotifier&) = delete;
  DesktopNotifier& operator=(const DesktopNotifier&) = delete;

  // A phone has just paired: a pairing the user did not make must not go unnoticed.
  void devicePaired(const std::optional<std::string>& deviceName);

  // The body for a pairing notice; notification servers read markup, so the phone's name is escaped.
  static std::string pairedBody(const std::optional<std::string>& deviceName);
  static constexpr const char* kPairedSummary = "새 기기가 페어링되었습니다";

 private:
  GDBusConnection* connection_ = nullptr;
};

}  // namespace quib
