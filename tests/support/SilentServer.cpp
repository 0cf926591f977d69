#include "support/SilentServer.h"

#include "support/LoopbackListener.h"

namespace quib::test {

SilentServer::SilentServer() {
  port_ = listenOnLoopback(acceptor_);
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
