#include "server/QuibServer.h"

#include <algorithm>
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
      registry_(defaults),
      guard_(options.clock ? *options.clock : SteadyClock::instance()),
      pairingCode_(makePairingCode()),
      life_(std::make_shared<Life>(this)),
      postLife_(std::make_shared<Life>(this)),
      work_(asio::make_work_guard(io_)) {
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
  stop();
  work_.reset();
  io_.stop();
  thread_.join();
  // Sockets must go before io_: drop every connection still held here.
  connections_.clear();
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
    if (!ec) accept(std::move(socket));
    // Transient failures (for example no descriptors left) must not end accepting.
    acceptNext();
  });
}

void QuibServer::accept(asio::ip::tcp::socket socket) {
  auto connection = std::make_shared<Connection>(std::move(socket), nextConnectionId_++);
  connections_.emplace(connection->id, connection);
  dropOldestKeylessIfOverCap();
  notifyCount();
  std::weak_ptr<Connection> weak = connection;
  connection->onMessage = [this, weak](std::string_view line) {
    if (auto c = weak.lock()) handle(line, c);
  };
  connection->onOversizedLine = [this, weak] {
    if (auto c = weak.lock()) handleOversized(*c);
  };
  connection->onChunkHandled = [this] { handOverActions(); };
  const std::uint64_t id = connection->id;
  connection->onClose = [this, id] { removeConnection(id); };
  connection->start();

  ServerMessage hello;
  hello.type = ServerMessage::Kind::hello;
  hello.hostName = hostNameOrMac();
  hello.needsPairing = true;
  hello.accessibilityGranted = platform_.accessibility.isTrusted();
  hello.salt = Base64::encode(connection->salt);
  send(hello, *connection);
}

void QuibServer::dropOldestKeylessIfOverCap() {
  std::size_t keyless = 0;
  for (const auto& [id, c] : connections_)
    if (!c->key) ++keyless;
  for (auto it = connections_.begin();
       keyless > options_.maxKeylessConnections && it != connections_.end();) {
    auto c = it->second;
    ++it;
    if (c->key) continue;
    connections_.erase(c->id);
    c->close();
    --keyless;
  }
}

void QuibServer::removeConnection(std::uint64_t id) {
  auto it = connections_.find(id);
  if (it == connections_.end()) return;
  auto c = std::move(it->second);
  connections_.erase(it);
  notifyCount();
}

void QuibServer::closeAll() {
  auto all = std::move(connections_);
  connections_.clear();
  for (auto& [id, c] : all) c->close();
}

void QuibServer::notifyCount() {
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
    notifyCount();
  });
}

std::optional<std::string> QuibServer::encode(const ServerMessage& message, Connection& connection) {
  try {
    return connection.key ? SecureChannel::sealLine(message, *connection.key)
                          : QuibCodec::encodeLine(message);
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
    connection->actionFinished();
    connection.reset();
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
    registry_.removeToken(token);
    registry_.removeName(token);
    for (auto it = connections_.begin(); it != connections_.end();) {
      auto c = it->second;
      if (c->token == token) {
        it = connections_.erase(it);
        c->close();
      } else {
        ++it;
      }
    }
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
