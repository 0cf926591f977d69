#pragma once
// One phone connection: its socket, receive loop, ordered write queue and pairing state.
// Everything here runs on the server queue (the io_context thread); other threads reach a
// connection only by posting there.
#include <array>
#include <asio.hpp>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "crypto/SecureChannel.h"
#include "server/LineBuffer.h"

namespace quib {

class Connection : public std::enable_shared_from_this<Connection> {
 public:
  static constexpr std::size_t kReadChunk = 65536;
  // Before a connection has a key, a line is a pairing, a ping or a returning phone's first request:
  // short, but the first request may carry typed text, so the cap leaves room for it.
  static constexpr std::size_t kMaxLineBeforeKey = 256 * 1024;
  static constexpr std::size_t kMaxLineWithKey = LineBuffer::kDefaultMaxLineBytes;
  // Backpressure: reading pauses while a peer has this much unsent output or unanswered actions.
  static constexpr std::size_t kMaxPendingOutput = 4 * 1024 * 1024;
  static constexpr int kMaxPendingActions = 256;

  Connection(asio::ip::tcp::socket socket, std::uint64_t id);
  ~Connection();

  void start();
  // Queues one complete line; writes never interleave and keep their order.
  void sendLine(std::string line);
  // A reply that will be made later keeps its place: every line sent after reserveSlot() waits
  // until the slot is filled, so the peer still reads its replies in request order.
  std::uint64_t reserveSlot();
  void fillSlot(std::uint64_t slot, std::string line);
  // Closes the socket at once; pending writes are dropped. Idempotent.
  void close();
  bool isClosed() const { return closed_; }

  // An action was handed off / its reply was queued.
  void actionStarted() { ++pendingActions_; }
  void actionFinished();

  void setKey(const SymmetricKey& k);

  std::function<void(std::string_view line)> onMessage;
  std::function<void()> onOversizedLine;
  // After the lines of one received chunk have been handled.
  std::function<void()> onChunkHandled;
  std::function<void()> onClose;

  // Pairing state.
  const std::uint64_t id;
  const Bytes salt;
  std::optional<SymmetricKey> key;
  bool isAuthorized = false;
  std::optional<std::string> token;
  std::optional<std::string> deviceName;
  int failedAttempts = 0;

 private:
  void receive();
  void maybeResume();
  void writeNext();
  void finish();  // end of stream: close once the queued replies and pending actions are done
  void closeIfFinished();

  asio::ip::tcp::socket socket_;
  asio::steady_timer lingerTimer_;
  LineBuffer lineBuffer_{kMaxLineBeforeKey};
  std::array<char, kReadChunk> readBuffer_{};
  std::string outbox_;                           // queued, not yet handed to the socket
  std::string writing_;                          // being written
  std::deque<std::optional<std::string>> held_;  // from the oldest unfilled slot on
  std::uint64_t firstHeld_ = 0;                  // the slot number of held_.front()
  std::size_t heldBytes_ = 0;
  bool reading_ = false;
  bool readDone_ = false;
  bool closed_ = false;
  bool closeWhenFlushed_ = false;
  int pendingActions_ = 0;
};

}  // namespace quib
