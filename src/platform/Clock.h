#pragma once
// Time source for timers and guards, passed in so that tests can run time by hand.
#include <chrono>
#include <functional>
#include <mutex>
#include <vector>

namespace quib {

class Clock {
 public:
  using Duration = std::chrono::steady_clock::duration;
  using TimePoint = std::chrono::steady_clock::time_point;
  virtual ~Clock() = default;
  virtual TimePoint now() const = 0;
  // True when time moves only by advance(); waiters then sleep until woken instead of until a deadline.
  virtual bool isManual() const { return false; }
  // Called (on the advancing thread) after the time has moved.
  virtual void subscribe(std::function<void()>) {}
};

class SteadyClock final : public Clock {
 public:
  TimePoint now() const override { return std::chrono::steady_clock::now(); }
  static SteadyClock& instance();
};

// A clock that moves only when a test says so. Thread-safe.
class ManualClock final : public Clock {
 public:
  TimePoint now() const override;
  bool isManual() const override { return true; }
  void subscribe(std::function<void()> onAdvance) override;
  void advance(Duration d);

 private:
  mutable std::mutex mutex_;
  TimePoint now_{std::chrono::hours(1)};
  std::vector<std::function<void()>> subscribers_;
};

}  // namespace quib
