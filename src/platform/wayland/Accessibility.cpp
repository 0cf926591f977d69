#include "platform/wayland/Accessibility.h"

namespace quib {

void WaylandAccessibility::refresh() {
  trusted_ = sink_ && sink_->ready();
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
