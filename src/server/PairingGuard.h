#pragma once
// A process-wide bound on guessing the pairing code. Each connection already stops trying the code
// after five failures of its own; this guard also counts failures across all connections, so that
// opening new connections does not buy new guesses. After kMaxFailures failures within kWindow the
// pairing key is tried on no connection for a lockout that starts at kWindow and doubles with each
// repeat; a fresh code (reset) opens it again. Token keys are never affected.
// Runs on the server queue only.
#include <chrono>
#include <deque>

#include "platform/Clock.h"

namespace quib {

class PairingGuard {
 public:
  static constexpr int kMaxFailures = 20;
  static constexpr std::chrono::minutes kWindow{10};

  explicit PairingGuard(Clock& clock) : clock_(clock) {}

  bool isOpen();
  void recordFailure();
  void reset();

 private:
  Clock& clock_;
  std::deque<Clock::TimePoint> failures_;  // within the window, at most kMaxFailures
  Clock::TimePoint closedUntil_{};
  bool closed_ = false;
  int lockouts_ = 0;
};

}  // namespace quib
