#include "server/PairingGuard.h"

#include <algorithm>

namespace quib {

bool PairingGuard::isOpen() {
  if (closed_ && clock_.now() >= closedUntil_) {
    closed_ = false;
    failures_.clear();
  }
  return !closed_;
}

std::optional<Clock::TimePoint> PairingGuard::closedUntil() {
  if (isOpen()) return std::nullopt;
  return closedUntil_;
}

bool PairingGuard::isBlocked(const std::string& source) {
  auto it = sources_.find(source);
  return it != sources_.end() && clock_.now() < it->second.blockedUntil;
}

bool PairingGuard::mayTryTokens(const std::string& source) {
  auto it = sources_.find(source);
  const auto now = clock_.now();
  if (it == sources_.end() || now >= it->second.blockedUntil) return true;
  if (now < it->second.nextTokenTrial) return false;
  it->second.nextTokenTrial = now + kRefusedTrialInterval;
  return true;
}

void PairingGuard::makeRoom(Clock::TimePoint now) {
  if (sources_.size() < kMaxSources) return;
  std::erase_if(sources_, [&](const auto& entry) {
    const Source& s = entry.second;
    return now >= s.blockedUntil && (s.failures.empty() || now - s.failures.back() >= kWindow);
  });
  // Still full of recent guessers: forget the one heard from longest ago.
  while (sources_.size() >= kMaxSources) {
    auto oldest = sources_.begin();
    for (auto it = sources_.begin(); it != sources_.end(); ++it)
      if (it->second.last < oldest->second.last) oldest = it;
    sources_.erase(oldest);
  }
}

bool PairingGuard::recordFailure(const std::string& source, bool countsGlobally) {
  const auto now = clock_.now();
  if (isBlocked(source)) return false;
  if (!sources_.contains(source)) makeRoom(now);
  Source& s = sources_[source];
  s.last = now;
  while (!s.failures.empty() && now - s.failures.front() >= kWindow) s.failures.pop_front();
  s.failures.push_back(now);
  if (static_cast<int>(s.failures.size()) >= kMaxFailuresPerSource) {
    s.failures.clear();
    s.blockedUntil = now + kWindow;
  }
  if (!countsGlobally) return false;
  // Guesses go on counting while pairing is closed and lengthen the lockout: the code is tried
  // then too (a right one is not charged), so what is refused must not become free to test.
  isOpen();
  while (!failures_.empty() && now - failures_.front() >= kWindow) failures_.pop_front();
  failures_.push_back(now);
  if (static_cast<int>(failures_.size()) < kMaxFailures) return false;
  // Cap the doubling so the lockout stays a sane duration (10 min * 2^6, about 10 hours).
  const int shift = lockouts_ < 6 ? lockouts_ : 6;
  closedUntil_ = std::max(closedUntil_, now + kWindow * (1 << shift));
  closed_ = true;
  ++lockouts_;
  failures_.clear();
  return true;
}

void PairingGuard::reset() {
  failures_.clear();
  closed_ = false;
  lockouts_ = 0;
  sources_.clear();
}

}  // namespace quib
