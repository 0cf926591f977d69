#pragma once
// A TCP server on loopback that accepts connections and never answers, for searches that stall.
#include <asio.hpp>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <thread>
#include <vector>

namespace quib::test {

class SilentServer {
 public:
  SilentServer();
  ~SilentServer();
  std::uint16_t port() const { return port_; }
  int accepted() const { return accepted_; }
  // Waits (bounded, in real time) until n connections have been accepted.
  bool waitForConnections(int n, std::chrono::seconds limit = std::chrono::seconds(30)) const;

 private:
  void acceptNext();
  asio::io_context io_;
  asio::ip::tcp::acceptor acceptor_{io_};
  std::uint16_t port_ = 0;
  std::vector<std::shared_ptr<asio::ip::tcp::socket>> held_;  // io thread only
  std::atomic<int> accepted_{0};
  std::thread thread_;
};

}  // namespace quib::test
