#include "server/QuibServer.h"

#include <malloc.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <unordered_set>

#include "crypto/Base64.h"
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

void QuibServer::listen() {
  asio::ip::tcp::acceptor acceptor(io_);
  asio::error_code ec;
  // Every interface, IPv6 and IPv4 alike; IPv4 only where the machine has no IPv6.
  asio::ip::tcp protocol = asio::ip::tcp::v6();
  acceptor.open(protocol, ec);
  if (ec) {
    protocol = asio::ip::tcp::v4();
    ec.clear();
    acceptor.open(protocol, ec);
  }
  if (ec) {
    reportState("시작 실패: " + ec.message());
    return;
  }
  if (protocol == asio::ip::tcp::v6()) acceptor.set_option(asio::ip::v6_only(false), ec);
  acceptor.set_option(asio::socket_base::reuse_address(true), ec);
  ec.clear();
  acceptor.bind(asio::ip::tcp::endpoint(protocol, options_.port), ec);
  if (!ec) acceptor.listen(asio::socket_base::max_listen_connections, ec);
  if (ec) {
    reportState("실패: " + ec.message());
    return;
  }
  const std::uint16_t port = acceptor.local_endpoint(ec).port();
  boundPort_ = port;
  listener_.emplace(std::move(acceptor));
  // The configured port, except that "any free port" names the one the system chose.
  reportState("대기 중 (포트 " + std::to_string(options_.port ? options_.port : port) + ")");
  if (options_.advertise) advertiser_.start(hostNameOrMac(), std::string(QuibService::bonjourType), port);
  acceptNext();
}

void QuibServer::acceptNext() {
  if (!listener_) return;
  listener_->async_accept([this](const asio::error_code& ec, asio::ip::tcp::socket socket) {
    if (ec == asio::error::operation_aborted || !listener_) return;
    if (ec) {
      onAcceptError(ec);
      return;
    }
    accept(std::move(socket));
    acceptNext();
  });
}

void QuibServer::onAcceptError(const asio::error_code& ec) {
  // Out of descriptors or memory: the waiting connection stays in the backlog and the listener
  // stays readable, so accepting again at once would spin. Pause, serve what is open, resume.
  const int e = ec.value();
  if (e == EMFILE || e == ENFILE || e == ENOBUFS || e == ENOMEM) {
    acceptRetry_.expires_after(std::chrono::milliseconds(100));
    acceptRetry_.async_wait([this](const asio::error_code& waitError) {
      if (!waitError) acceptNext();
    });
    return;
  }
  // Other failures (the peer reset before we took it) concern that connection only.
  acceptNext();
}

void QuibServer::accept(asio::ip::tcp::socket socket) {
  auto connection = std::make_shared<Connection>(std::move(socket), nextConnectionId_++,
                                                 std::span<char>(readBuffer_.data(), readBuffer_.size()));
  std::weak_ptr<Connection> weak = connection;
  connection->onMessage = [this, weak](std::string_view line) {
    if (auto c = weak.lock()) handle(line, c);
  };
  connection->onOversizedLine = [this, weak] {
    if (auto c = weak.lock()) handleOversized(*c);
  };
  connection->onChunkHandled = [this] { handOverActions(); };
  const std::uint64_t id = connection->id;
  connection->onEnded = [this, id] { connectionEnded(id); };
  connection->onClose = [this, id] { removeConnection(id); };
  connections_.emplace(id, connection);
  keyless_.insert(id);
  notifyCount();
  shedIfOverCap();
  if (connection->isClosed()) return;
  connection->start();

  ServerMessage hello;
  hello.type = ServerMessage::Kind::hello;
  hello.hostName = hostNameOrMac();
  hello.needsPairing = true;
  hello.accessibilityGranted = platform_.accessibility.isTrusted();
  hello.salt = Base64::encode(connection->salt);
  send(hello, *connection);
}

void QuibServer::shedIfOverCap() {
  while (keyless_.size() + lingering_.size() > options_.maxKeylessConnections) {
    ConnectionPtr victim;
    if (!lingering_.empty()) {
      victim = lingering_.begin()->second;  // it has ended already: the cheapest to lose
    } else {
      // From the address holding the most keyless connections, its oldest: a flood sheds itself,
      // not a slow phone elsewhere.
      std::map<std::string_view, std::pair<std::size_t, std::uint64_t>> bySource;
      for (std::uint64_t id : keyless_) {
        auto& entry = bySource[connections_.at(id)->source];
        if (entry.first++ == 0) entry.second = id;
      }
      std::size_t most = 0;
      std::uint64_t oldest = 0;
      for (const auto& [source, entry] : bySource)
        if (entry.first > most || (entry.first == most && entry.second < oldest)) {
          most = entry.first;
          oldest = entry.second;
        }
      victim = connections_.at(oldest);
    }
    victim->close();  // its onClose removes it from every table
  }
}

void QuibServer::connectionEnded(std::uint64_t id) {
  auto it = connections_.find(id);
  if (it == connections_.end()) return;
  auto c = std::move(it->second);
  connections_.erase(it);
  keyless_.erase(id);
  notifyCount();
  if (c->isClosed()) return;
  lingering_.emplace(id, std::move(c));
  shedIfOverCap();
}

void QuibServer::removeConnection(std::uint64_t id) {
  // After a flood of connections the allocator keeps their memory unless asked to give it back.
  if (++closedSinceTrim_ >= 256 && !trimArmed_) {
    trimArmed_ = true;
    trimTimer_.expires_after(std::chrono::seconds(5));
    trimTimer_.async_wait([this](const asio::error_code& ec) {
      trimArmed_ = false;
      if (ec) return;
      closedSinceTrim_ = 0;
      malloc_trim(0);
    });
  }
  lingering_.erase(id);
  keyless_.erase(id);
  auto it = connections_.find(id);
  if (it == connections_.end()) return;
  auto c = std::move(it->second);
  connections_.erase(it);
  notifyCount();
}

void QuibServer::closeAll() {
  auto all = std::move(connections_);
  connections_.clear();
  keyless_.clear();
  auto ended = std::move(lingering_);
  lingering_.clear();
  for (auto& [id, c] : all) c->close();
  for (auto& [id, c] : ended) c->close();
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
