#include "platform/wayland/Accessibility.h"

namespace quib {

void WaylandAccessibility::refresh() {
  connectionLost_ = lost_ && lost_();
  trusted_ = connectionLost_ || (sink_ && sink_->ready());
}

std::string WaylandAccessibility::problem() {
  return connectionLost_ ? "디스플레이 서버와의 연결이 끊어졌습니다 (프로그램을 다시 시작하세요)" : "";
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
