#pragma once
// Whether synthetic input reaches the desktop: an X display with the XTEST extension, in a session
// that is not Wayland (there XTest reaches only the windows of XWayland, so input would silently
// miss every native window). Decided once, on the main thread, at construction; the answers are
// then safe on any thread.
#include "platform/Accessibility.h"

typedef struct _XDisplay Display;  // Xlib's, without its macros in every includer

namespace quib {

class LinuxAccessibility final : public Accessibility {
 public:
  // Reads XDG_SESSION_TYPE and WAYLAND_DISPLAY now; `display` (may be null) is only queried here.
  explicit LinuxAccessibility(Display* display);

  bool isTrusted() override { return trusted_; }
  // There is no permission to ask for on X11: the same answer.
  bool isTrustedPrompting() override { return trusted_; }
  // A local page on what to do when input is refused; set once before the menu first asks.
  std::string settingsURL() override { return settingsURL_; }
  void setSettingsURL(std::string url) { settingsURL_ = std::move(url); }

  // The rule itself, from what the constructor reads.
  static bool trusted(bool displayHasXTest, const char* sessionType, const char* waylandDisplay);

 private:
  bool trusted_;
  std::string settingsURL_;
};

}  // namespace quib
