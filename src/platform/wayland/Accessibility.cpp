#include "platform/wayland/Accessibility.h"

namespace quib {

void WaylandAccessibility::refresh() {
  const bool lost = lost_ && lost_();
  const bool now = lost || (sink_ && sink_->ready());
  const bool lostChanged = connectionLost_.exchange(lost) != lost;
  if ((trusted_.exchange(now) != now || lostChanged) && onChange_) onChange_();
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
