#include "server/QuibServer.h"

#include <algorithm>
#include <cstdio>
#include <unordered_set>

#include "crypto/Random.h"
#include "server/Connection.h"
#include "server/QuibCodec.h"
#include "text/Unicode.h"

namespace quib {

QuibServer::QuibServer(Platform platform, UserDefaults& defaults, MainQueue& mainQueue, Options options)
    : platform_(platform),
      mainQueue_(mainQueue),
      options_(options),
      clock_(options.clock ? *options.clock : SteadyClock::instance()),
      registry_(defaults),
      guard_(clock_),
      pairingCode_(makePairingCode()),
      life_(std::make_shared<Life>(this)),
      postLife_(std::make_shared<Life>(this)),
      work_(asio::make_work_guard(io_)) {
  trial_ = std::make_unique<TokenTrial>(registry_);
  thread_ = std::thread([this] { io_.run(); });
}

QuibServer::~QuibServer() {
  {
    std::lock_guard lock(life_->mutex);
    life_->server = nullptr;
  }
  {
    std::lock_guard lock(postLife_->mutex);
    postLife_->server = nullptr;
  }
  trial_.reset();  // its last result, if any, is dropped: the server is gone for it
  stop();
  work_.reset();
  io_.stop();
  thread_.join();
  // Sockets must go before io_: drop every connection still held here.
  connections_.clear();
  lingering_.clear();
  pendingActions_.clear();
  chunkActions_.clear();
  pendingReplies_.clear();
}

template <typename F>
auto QuibServer::onQueue(F&& f) -> decltype(f()) {
  if (io_.get_executor().running_in_this_thread()) return f();
  std::packaged_task<decltype(f())()> task(std::forward<F>(f));
  auto result = task.get_future();
  asio::post(io_, [&task] { task(); });
  return result.get();
}

std::string QuibServer::makePairingCode() {
  char text[8];
  std::snprintf(text, sizeof text, "%06u", static_cast<unsigned>(Random::uniform(1000000)));
  return text;
}

std::string QuibServer::pairingCode() const {
  std::lock_guard lock(codeMutex_);
  return pairingCode_;
}

void QuibServer::setPairingCode(std::string code) {
  std::lock_guard lock(codeMutex_);
  pairingCode_ = std::move(code);
  guardResetPending_ = true;
}

std::string QuibServer::hostNameOrMac() {
  return platform_.host.localizedHostName().value_or("Mac");
}

void QuibServer::reportState(const std::string& text) {
  if (onStateChange) onStateChange(text);
}

void QuibServer::start() {
  onQueue([this] { listen(); });
}

void QuibServer::notifyCount() {
  countDirty_ = true;
  if (countTimerArmed_) return;
  if (std::chrono::steady_clock::now() >= nextCountPost_) {
    postCount();
    return;
  }
  countTimerArmed_ = true;
  countTimer_.expires_at(nextCountPost_);
  countTimer_.async_wait([this](const asio::error_code& ec) {
    countTimerArmed_ = false;
    if (!ec && countDirty_) postCount();
  });
}

void QuibServer::postCount() {
  countDirty_ = false;
  nextCountPost_ = std::chrono::steady_clock::now() + options_.countInterval;
  const int count = static_cast<int>(connections_.size());
  mainQueue_.post([life = std::weak_ptr<Life>(life_), count] {
    withServer(life, [count](QuibServer& server) {
      if (server.onClientCountChange) server.onClientCountChange(count);
    });
  });
}

void QuibServer::stop() {
  onQueue([this] {
    advertiser_.stop();
    if (listener_) {
      asio::error_code ec;
      listener_->close(ec);
      listener_.reset();
      boundPort_ = 0;
      reportState("중지됨");
    }
    closeAll();
    acceptRetry_.cancel();
    countTimer_.cancel();
    trimTimer_.cancel();
    postCount();  // the final count goes out now, not after the interval
  });
}

std::optional<std::string> QuibServer::encode(const ServerMessage& message, Connection& connection) {
  try {
    return connection.key ? sealLine(message, *connection.key) : QuibCodec::encodeLine(message);
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

void QuibServer::send(const ServerMessage& message, Connection& connection) {
  // A reply that cannot be encoded or sealed is dropped; the connection stays.
  if (auto line = encode(message, connection)) connection.sendLine(std::move(*line));
}

void QuibServer::sendFromAnyThread(ServerMessage message, ConnectionPtr connection,
                                   std::optional<std::uint64_t> slot) {
  // The connection's last reference may be this one; it is released on the queue with the socket.
  asio::post(io_, [this, message = std::move(message), connection = std::move(connection), slot]() mutable {
    if (slot) {
      // A reply that cannot be encoded releases its slot empty, so later replies still go.
      connection->fillSlot(*slot, encode(message, *connection).value_or(""));
    } else {
      send(message, *connection);
    }
    connection->workFinished();
    connection.reset();
  });
}

std::optional<Clock::TimePoint> QuibServer::pairingClosedUntil() {
  return onQueue([this] {
    applyPendingGuardReset();
    return guard_.closedUntil();
  });
}

std::vector<QuibServer::ConnectedDevice> QuibServer::connectedDevices() {
  return onQueue([this] {
    std::vector<ConnectedDevice> devices;
    std::unordered_set<std::string> seenTokens;
    for (const auto& [id, c] : connections_) {
      if (!c->isAuthorized) continue;
      if (c->token && !seenTokens.insert(*c->token).second) continue;
      devices.push_back({c->deviceName.value_or(kUnnamedDevice), c->token});
    }
    std::stable_sort(devices.begin(), devices.end(), [](const ConnectedDevice& a, const ConnectedDevice& b) {
      return Unicode::canonicalLess(a.name, b.name);
    });
    return devices;
  });
}

void QuibServer::disconnect(const std::string& token) {
  onQueue([this, &token] {
    registry_.revoke(token);
    std::vector<ConnectionPtr> holders;
    for (const auto* table : {&connections_, &lingering_})
      for (const auto& [id, c] : *table)
        if (c->token == token) holders.push_back(c);
    for (auto& c : holders) c->close();
    notifyCount();
  });
}

void QuibServer::forgetPairedDevices() {
  onQueue([this] {
    registry_.forgetAll();
    closeAll();
    notifyCount();
  });
}

}  // namespace quib
