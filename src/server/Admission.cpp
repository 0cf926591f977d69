// Accepting phones, admitting them and shedding past the caps: the listener and its retries when
// descriptors run out, the connection table, and which connection goes when keyless ones pile up.
// Server queue only.
#include <malloc.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "crypto/Base64.h"
#include "server/Connection.h"
#include "server/QuibServer.h"

namespace quib {

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

}  // namespace quib
