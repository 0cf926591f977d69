#pragma once
// What the Wayland tests share: one connection to the test compositor (sway, headless, started by
// with-sway.sh), and a watch on the main loop that our connection's events are dispatched from.
#include <chrono>

#include "platform/wayland/WaylandConnection.h"

namespace quib::test {

// The test compositor's connection, opened once for the binary; null when it does not open.
WaylandConnection* testConnection();

// The longest the default main context went without turning while this watched it (a 5 ms timer).
class LoopWatch {
 public:
  LoopWatch();
  ~LoopWatch();
  LoopWatch(const LoopWatch&) = delete;  // the timer holds this address
  LoopWatch& operator=(const LoopWatch&) = delete;
  std::chrono::steady_clock::duration longest() const { return longest_; }

 private:
  std::chrono::steady_clock::time_point last_ = std::chrono::steady_clock::now();
  std::chrono::steady_clock::duration longest_{};
  unsigned source_;
};

}  // namespace quib::test
