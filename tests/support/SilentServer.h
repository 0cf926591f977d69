#pragma once
// A TCP server on loopback that accepts connections and never answers, for searches that stall.
#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "support/LoopbackListener.h"

namespace quib::test {

class SilentServer {
 public:
  SilentServer() : port_(listenOnLoopback(acceptor_)) {
    acceptNext();
    thread_ = std::thread([this] { io_.run(); });
  }
  ~SilentServer() {
    io_.stop();
    thread_.join();
  }
  std::uint16_t port() const { return port_; }
  int accepted() const { return accepted_; }
  // Waits (bounded, in real time) until n connections have been accepted.
  bool waitForConnections(int n, std::chrono::seconds limit = std::chrono::seconds(30)) const {
    const auto until = std::chrono::steady_clock::now() + limit;
    while (accepted_ < n && std::chrono::steady_clock::now() < until) std::this_thread::yield();
    return accepted_ >= n;
  }

 private:
  void acceptNext() {
    auto socket = std::make_shared<asio::ip::tcp::socket>(io_);
    acceptor_.async_accept(*socket, [this, socket](const asio::error_code& ec) {
      if (ec) return;
      held_.push_back(socket);
      ++accepted_;
      acceptNext();
    });
  }
  asio::io_context io_;
  asio::ip::tcp::acceptor acceptor_{io_};
  std::uint16_t port_;
  std::vector<std::shared_ptr<asio::ip::tcp::socket>> held_;  // io thread only
  std::atomic<int> accepted_{0};
  std::thread thread_;
};

}  // namespace quib::test
