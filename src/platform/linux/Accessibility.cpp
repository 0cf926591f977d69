#include "platform/linux/Accessibility.h"

#include <X11/extensions/XTest.h>

#include <cstdlib>
#include <cstring>

namespace quib {

namespace {
bool hasXTest(Display* display) {
  if (!display) return false;
  int eventBase = 0, errorBase = 0, major = 0, minor = 0;
  return XTestQueryExtension(display, &eventBase, &errorBase, &major, &minor);
}
}  // namespace

LinuxAccessibility::LinuxAccessibility(Display* display)
    : trusted_(trusted(hasXTest(display), std::getenv("XDG_SESSION_TYPE"), std::getenv("WAYLAND_DISPLAY"))) {}

bool LinuxAccessibility::trusted(bool displayHasXTest, const char* sessionType, const char* waylandDisplay) {
  if (!displayHasXTest) return false;
  if (sessionType && std::strcmp(sessionType, "wayland") == 0) return false;
  return !(waylandDisplay && *waylandDisplay);
}

}  // namespace quib
