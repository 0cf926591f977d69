#pragma once
// Test servers listen on loopback only, on a port the system picks.
#include <asio.hpp>
#include <cstdint>

namespace quib::test {

// Opens, binds and listens `acceptor` on 127.0.0.1; the port it got.
inline std::uint16_t listenOnLoopback(asio::ip::tcp::acceptor& acceptor) {
  asio::ip::tcp::endpoint endpoint(asio::ip::make_address("127.0.0.1"), 0);
  acceptor.open(endpoint.protocol());
  acceptor.bind(endpoint);
  acceptor.listen();
  return acceptor.local_endpoint().port();
}

}  // namespace quib::test
