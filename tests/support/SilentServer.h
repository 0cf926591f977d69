#pragma once
// A TCP server on loopback that takes connections and never reads or answers, for stalled searches.
#include <asio.hpp>
#include <chrono>
#include <thread>
#include <vector>

namespace quib::test {

class SilentServer {
 public:
  SilentServer() { acceptor_.non_blocking(true); }
  std::uint16_t port() const { return acceptor_.local_endpoint().port(); }
  // The connections made so far, taken off the listen queue and held open.
  int accepted() {
    asio::error_code ec;
    for (auto s = acceptor_.accept(ec); !ec; s = acceptor_.accept(ec)) held_.push_back(std::move(s));
    return static_cast<int>(held_.size());
  }
  // Waits (bounded, in real time) until n connections have been made.
  bool waitForConnections(int n, std::chrono::seconds limit = std::chrono::seconds(30)) {
    const auto until = std::chrono::steady_clock::now() + limit;
    while (accepted() < n && std::chrono::steady_clock::now() < until) std::this_thread::yield();
    return accepted() >= n;
  }

 private:
  asio::io_context io_;
  asio::ip::tcp::acceptor acceptor_{io_, {asio::ip::make_address("127.0.0.1"), 0}};
  std::vector<asio::ip::tcp::socket> held_;
};

}  // namespace quib::test
