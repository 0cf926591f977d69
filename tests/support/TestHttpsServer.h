#pragma once
// https_server.py on loopback for the site-icon tests: one self-signed certificate for "site.test" and
// the other test names, the same for every server of the process (its CA file is what libcurl is told
// to trust), and fixed answers per path.
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "support/ChildProcess.h"
#include "support/TempDir.h"

namespace quib::test {

class TestHttpsServer {
 public:
  TestHttpsServer();

  // Takes effect for the next request to `path`.
  void route(const std::string& path, int status, const std::string& body, const std::string& location = {},
             std::chrono::milliseconds delay = {});
  std::uint16_t port() const { return port_; }
  static std::string caFile();
  // CONNECT_TO entries that send https://site.test (and other names) here.
  std::vector<std::string> connectTo(const std::vector<std::string>& hosts = {"site.test"}) const;
  // The request heads so far, in order (request line and headers), and the paths they asked for.
  std::vector<std::string> heads() const;
  std::vector<std::string> requests() const;

 private:
  TempDir dir_;
  ChildProcess process_;
  std::uint16_t port_ = 0;
};

}  // namespace quib::test
