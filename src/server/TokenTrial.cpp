#include "server/TokenTrial.h"

#include <set>
#include <string_view>

namespace quib {

TokenTrial::TokenTrial(DeviceRegistry& registry) : registry_(registry), worker_([this] { work(); }) {}

TokenTrial::~TokenTrial() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    jobs_.clear();
  }
  wake_.notify_all();
  worker_.join();
}

bool TokenTrial::submit(Bytes&& box, Bytes salt, std::shared_ptr<const std::vector<std::string>> preferred,
                        Done done) {
  {
    std::lock_guard lock(mutex_);
    if (stopping_ || jobs_.size() >= kMaxWaiting) return false;
    jobs_.push_back({std::move(box), std::move(salt), std::move(preferred), std::move(done)});
  }
  wake_.notify_one();
  return true;
}

void TokenTrial::work() {
  for (;;) {
    Job job;
    {
      std::unique_lock lock(mutex_);
      wake_.wait(lock, [&] { return stopping_ || !jobs_.empty(); });
      if (stopping_) return;
      job = std::move(jobs_.front());
      jobs_.pop_front();
    }
    // The registry is read now, not when the line came: a token paired meanwhile is found too.
    const auto tokens =
        ordered(registry_.tokens(), job.preferred ? *job.preferred : std::vector<std::string>{});
    job.done(run(std::move(job.box), job.salt, tokens, registry_.revokedTokens()));
  }
}

std::vector<std::string> TokenTrial::ordered(const std::set<std::string>& paired,
                                             const std::vector<std::string>& preferred) {
  std::vector<std::string> out;
  out.reserve(paired.size());
  std::set<std::string_view> placed;
  for (auto it = preferred.rbegin(); it != preferred.rend(); ++it)
    if (paired.contains(*it) && placed.insert(*it).second) out.push_back(*it);
  for (const auto& t : paired)
    if (!placed.contains(t)) out.push_back(t);
  return out;
}

namespace {

// A request is a JSON object, so a key under which the line does not begin like one cannot be the
// phone's: it is passed over without the full opening, which costs as much as the line is long.
bool mayOpenToRequest(const Bytes& box, const SymmetricKey& key) {
  const auto first = SecureChannel::firstPlainByte(box, key);
  return first && (*first == '{' || *first == ' ' || *first == '\t' || *first == '\r' || *first == '\n');
}

}  // namespace

TokenTrial::Result TokenTrial::run(Bytes box, const Bytes& salt, const std::vector<std::string>& tokens,
                                   const std::vector<std::string>& revoked) {
  Result r;
  for (const auto& token : tokens) {
    const SymmetricKey key = SecureChannel::tokenKey(token, salt);
    if (!mayOpenToRequest(box, key)) continue;
    auto message = recordFromPlaintext<ClientMessage>(SecureChannel::openBox(box, key));
    if (!message) continue;
    r.token = token;
    r.message = std::move(message);
    r.box = std::move(box);
    return r;
  }
  for (const auto& token : revoked) {
    const SymmetricKey key = SecureChannel::tokenKey(token, salt);
    if (mayOpenToRequest(box, key) && SecureChannel::openBox(box, key)) {
      r.revoked = true;
      break;
    }
  }
  r.box = std::move(box);
  return r;
}

}  // namespace quib
