#pragma once
// Bounds on guessing the pairing code. Each connection already stops trying the code after five
// failures of its own; this guard also counts failures across connections, so that opening new
// connections does not buy new guesses.
//
// Only a well-formed sealed line that opens under no key is a guess. Guesses are counted per
// source address first: an address that spends its own budget within kWindow is refused for
// kWindow (nothing it seals is tried, so its lines cost nothing either), before it can spend the
// global budget. The global bound caps what many addresses try together: after kMaxFailures
// guesses within kWindow the pairing key is tried on no connection for a lockout that starts at
// kWindow and doubles with each repeat. A fresh code (reset) opens everything again.
//
// Token keys are never refused: a phone sharing an address with a guesser (or a guesser's own
// phone) must keep its pairing. A refused address only has its lines tried under the tokens at a
// bounded rate, so that its noise costs little; a line past that rate is not tried at all.
// Runs on the server queue only.
#include <chrono>
#include <deque>
#include <optional>
#include <string>
#include <unordered_map>

#include "platform/Clock.h"

namespace quib {

class PairingGuard {
 public:
  static constexpr int kMaxFailures = 20;
  static constexpr int kMaxFailuresPerSource = 8;
  static constexpr std::chrono::minutes kWindow{10};
  // Addresses remembered at most; beyond this the ones without a recent guess are forgotten first.
  static constexpr std::size_t kMaxSources = 4096;
  // A refused address has at most one line tried under the tokens per this interval.
  static constexpr std::chrono::milliseconds kRefusedTrialInterval{250};

  explicit PairingGuard(Clock& clock) : clock_(clock) {}

  // Pairing is open globally.
  bool isOpen();
  // The address has spent its budget and is refused for now.
  bool isBlocked(const std::string& source);
  // Whether a line from the address may be tried under the tokens now; a refused address spends
  // its rate with each yes.
  bool mayTryTokens(const std::string& source);
  // One guess from the address; countsGlobally: the pairing key was tried on it. True when this
  // guess closed pairing globally or lengthened the closure.
  bool recordFailure(const std::string& source, bool countsGlobally = true);
  void reset();
  // While pairing is closed globally: when it opens again.
  std::optional<Clock::TimePoint> closedUntil();

 private:
  struct Source {
    std::deque<Clock::TimePoint> failures;  // within the window, fewer than kMaxFailuresPerSource
    Clock::TimePoint blockedUntil{};
    Clock::TimePoint nextTokenTrial{};  // while refused
    Clock::TimePoint last{};
  };
  void makeRoom(Clock::TimePoint now);

  Clock& clock_;
  std::deque<Clock::TimePoint> failures_;  // within the window, at most kMaxFailures
  Clock::TimePoint closedUntil_{};
  bool closed_ = false;
  int lockouts_ = 0;
  std::unordered_map<std::string, Source> sources_;
};

}  // namespace quib
