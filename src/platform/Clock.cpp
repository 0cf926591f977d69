#include "platform/Clock.h"

namespace quib {

SteadyClock& SteadyClock::instance() {
  static SteadyClock clock;
  return clock;
}

Clock::TimePoint ManualClock::now() const {
  std::lock_guard lock(mutex_);
  return now_;
}

void ManualClock::subscribe(std::function<void()> onAdvance) {
  std::lock_guard lock(mutex_);
  subscribers_.push_back(std::move(onAdvance));
}

void ManualClock::advance(Duration d) {
  std::vector<std::function<void()>> subs;
  {
    std::lock_guard lock(mutex_);
    now_ += d;
    subs = subscribers_;
  }
  for (auto& s : subs) s();
}

}  // namespace quib
