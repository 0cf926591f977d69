#include "platform/wayland/Accessibility.h"

namespace quib {

void WaylandAccessibility::refresh() {
  const bool now = sink_ && sink_->ready();
  if (trusted_.exchange(now) != now && onChange_) onChange_();
}

bool WaylandAccessibility::isTrustedPrompting() {
  refresh();
  if (!trusted_ && sink_) {
    sink_->requestAccess();
    refresh();
  }
  return trusted_;
}

}  // namespace quib
