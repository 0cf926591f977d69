#pragma once
// The phone's side of the line protocol: connect, read the greeting, derive the key from the code
// or a token and the greeting's salt, seal requests and open replies. Blocking, one thread at a time.
#include <asio.hpp>
#include <chrono>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "server/ClientMessage.h"
#include "server/SealedLine.h"
#include "server/ServerMessage.h"

namespace quib {

struct ClientError : std::runtime_error {
  using std::runtime_error::runtime_error;
};
struct ClientTimeout : ClientError {
  using ClientError::ClientError;
};

class QuibClient {
 public:
  using Duration = std::chrono::milliseconds;
  static constexpr Duration kDefaultTimeout{10000};

  QuibClient();
  ~QuibClient();

  // Connects and reads the plain greeting. Throws ClientError (ClientTimeout on time-out).
  const ServerMessage& connect(const std::string& host, std::uint16_t port,
                               Duration timeout = kDefaultTimeout);
  const ServerMessage& hello() const { return hello_; }
  // Connect from this local address (for example 127.0.0.2) instead of the one the system picks.
  void setLocalAddress(std::string address) { localAddress_ = std::move(address); }
  const Bytes& salt() const { return salt_; }

  void usePairingCode(const std::string& code) { key_ = SecureChannel::pairKey(code, salt_); }
  void useToken(const std::string& token) { key_ = SecureChannel::tokenKey(token, salt_); }
  void clearKey() { key_.reset(); }
  bool hasKey() const { return key_.has_value(); }

  // Sealed when a key is set, plain otherwise.
  void send(const ClientMessage& message);
  void sendRaw(const std::string& bytes);
  // All of them in one write, as a phone that queues its requests sends them.
  void sendTogether(const std::vector<ClientMessage>& messages);
  // Next line without its line feed. Throws ClientError when the peer closes, ClientTimeout.
  std::string readLine(Duration timeout = kDefaultTimeout);
  // Next reply: sealed lines are opened with the key, plain lines read as JSON.
  ServerMessage readReply(Duration timeout = kDefaultTimeout);
  ServerMessage request(const ClientMessage& message, Duration timeout = kDefaultTimeout);

  // Pairs with the code: derives the pairing key and sends a pair request.
  ServerMessage pair(const std::string& code, std::optional<std::string> deviceName,
                     Duration timeout = kDefaultTimeout);

  // Ends our sending side; replies can still be read.
  void shutdownSend();
  // True when the peer closes the connection within the timeout (bytes before that are discarded).
  bool waitForClose(Duration timeout = kDefaultTimeout);
  void close();

 private:
  template <typename Op>
  void runWithTimeout(Op&& start, Duration timeout);

  asio::io_context io_;
  asio::ip::tcp::socket socket_;
  std::string buffer_;
  ServerMessage hello_;
  Bytes salt_;
  std::optional<SymmetricKey> key_;
  std::optional<std::string> localAddress_;
};

}  // namespace quib
