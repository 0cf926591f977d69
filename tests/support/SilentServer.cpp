#include "support/SilentServer.h"

namespace quib::test {

SilentServer::SilentServer() {
  asio::ip::tcp::endpoint endpoint(asio::ip::make_address("127.0.0.1"), 0);
  acceptor_.open(endpoint.protocol());
  acceptor_.bind(endpoint);
  acceptor_.listen();
  port_ = acceptor_.local_endpoint().port();
  acceptNext();
  thread_ = std::thread([this] { io_.run(); });
}

SilentServer::~SilentServer() {
  io_.stop();
  thread_.join();
}

void SilentServer::acceptNext() {
  auto socket = std::make_shared<asio::ip::tcp::socket>(io_);
  acceptor_.async_accept(*socket, [this, socket](const asio::error_code& ec) {
    if (ec) return;
    held_.push_back(socket);
    ++accepted_;
    acceptNext();
  });
}

bool SilentServer::waitForConnections(int n, std::chrono::seconds limit) const {
  const auto until = std::chrono::steady_clock::now() + limit;
  while (accepted_ < n) {
    if (std::chrono::steady_clock::now() >= until) return false;
    std::this_thread::yield();
  }
  return true;
}

}  // namespace quib::test
