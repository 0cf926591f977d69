#include "server/PairingGuard.h"

namespace quib {

bool PairingGuard::isOpen() {
  if (closed_ && clock_.now() >= closedUntil_) {
    closed_ = false;
    failures_.clear();
  }
  return !closed_;
}

void PairingGuard::recordFailure() {
  if (!isOpen()) return;
  const auto now = clock_.now();
  while (!failures_.empty() && now - failures_.front() >= kWindow) failures_.pop_front();
  failures_.push_back(now);
  if (static_cast<int>(failures_.size()) < kMaxFailures) return;
  // Cap the doubling so the lockout stays a sane duration (10 min * 2^6, about 10 hours).
  const int shift = lockouts_ < 6 ? lockouts_ : 6;
  closedUntil_ = now + kWindow * (1 << shift);
  closed_ = true;
  ++lockouts_;
  failures_.clear();
}

void PairingGuard::reset() {
  failures_.clear();
  closed_ = false;
  lockouts_ = 0;
}

}  // namespace quib
