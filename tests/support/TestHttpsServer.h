#pragma once
// A small HTTPS server on loopback for site-icon tests: a self-signed certificate for "site.test"
// and the other test names (written to a CA file that libcurl is told to trust), the same for every
// server of the process, and fixed answers per path.
#include <asio.hpp>
#include <asio/ssl.hpp>
#include <chrono>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace quib::test {

class TestHttpsServer {
 public:
  struct Response {
    int status = 200;
    std::string body;
    std::string location;  // for redirects
    std::chrono::milliseconds delay{0};
  };

  TestHttpsServer();
  ~TestHttpsServer();

  void route(const std::string& path, int status, std::string body, std::string location = {},
             std::chrono::milliseconds delay = {});
  std::uint16_t port() const { return port_; }
  static std::string caFile();
  // CONNECT_TO entries that send https://site.test (and other names) here.
  std::vector<std::string> connectTo(const std::vector<std::string>& hosts = {"site.test"}) const;
  // Paths requested so far, in order, and the request heads (request line and headers).
  std::vector<std::string> requests();
  std::vector<std::string> heads();

 private:
  void acceptNext();
  void serve(std::shared_ptr<asio::ssl::stream<asio::ip::tcp::socket>> stream);

  asio::io_context io_;
  asio::ssl::context ssl_{asio::ssl::context::tls_server};
  asio::ip::tcp::acceptor acceptor_{io_};
  std::uint16_t port_ = 0;
  std::mutex mutex_;
  std::map<std::string, Response> routes_;
  std::vector<std::string> heads_;
  std::thread thread_;
};

}  // namespace quib::test
