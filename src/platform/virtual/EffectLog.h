#pragma once
// Where the virtual desktop's services tell what they did: one readable line per effect (for
// example "key down 8 flags command"), given to one observer on the thread that caused it. The
// program prints them; tests may collect them. Thread-safe.
#include <functional>
#include <mutex>
#include <string>

namespace quib {

class EffectLog {
 public:
  void setObserver(std::function<void(const std::string&)> observer) {
    std::lock_guard lock(mutex_);
    observer_ = std::move(observer);
  }
  void emit(const std::string& effect) {
    std::function<void(const std::string&)> observer;
    {
      std::lock_guard lock(mutex_);
      observer = observer_;
    }
    if (observer) observer(effect);
  }

 private:
  std::mutex mutex_;  // guards observer_
  std::function<void(const std::string&)> observer_;
};

}  // namespace quib
