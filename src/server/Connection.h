#pragma once
// One phone connection: its socket, receive loop, ordered write queue and pairing state.
// Everything here runs on the server queue (the io_context thread); other threads reach a
// connection only by posting there.
//
// An idle connection holds almost nothing: it waits for readability and then reads into a buffer
// that the server thread owns and lends to whichever connection is being served.
#include <asio.hpp>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "server/LineBuffer.h"
#include "server/SealedLine.h"

namespace quib {

class Connection : public std::enable_shared_from_this<Connection> {
 public:
  static constexpr std::size_t kReadChunk = 65536;
  // What one turn of the server queue reads from a connection without a key.
  static constexpr std::size_t kKeylessReadBytes = 8192;
  // Before a connection has a key its line is a pairing, a ping or a returning phone's first
  // request, which may carry a typed text of 20,000 characters (80 KB of UTF-8 at most, sealed and
  // in base64 about 107 KB). Every stored token is tried on such a line, so it is kept to that.
  static constexpr std::size_t kMaxLineBeforeKey = 112 * 1024;
  // A keyed line is opened and parsed on the server queue: large enough for any text a phone
  // types or puts on the clipboard, small enough that one line costs about a millisecond.
  static constexpr std::size_t kMaxLineWithKey = 512 * 1024;
  // Backpressure, checked after every line: a keyed peer with this much unsent output or these
  // many unanswered actions is not read further until it catches up.
  static constexpr std::size_t kMaxPendingOutput = 4 * 1024 * 1024;
  static constexpr int kMaxPendingActions = 256;
  // A peer without a key only ever gets short error and ping replies; one that lets this much pile
  // up without reading is cut off.
  static constexpr std::size_t kMaxPendingOutputBeforeKey = 64 * 1024;

  // readBuffer: the server thread's read buffer, outliving every connection.
  Connection(asio::ip::tcp::socket socket, std::uint64_t id, std::span<char> readBuffer);
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
  // The peer has ended its stream; queued replies are still being written.
  bool hasEnded() const { return readDone_; }

  // Work whose reply is still to come (an action, a site icon) started / its reply was queued.
  void workStarted() { ++pendingWork_; }
  void workFinished();

  // No further line is handled until resumeLines(): the last one is being worked on elsewhere
  // and its reply must come first. Counts as work in flight.
  void suspendLines();
  void resumeLines();

  void setKey(const SymmetricKey& k);
  std::size_t pendingOutput() const { return outbox_.size() + writing_.size() + heldBytes_; }

  std::function<void(std::string_view line)> onMessage;
  std::function<void()> onOversizedLine;
  // After the lines of one received chunk have been handled.
  std::function<void()> onChunkHandled;
  // The peer ended its stream (the connection lingers to flush its replies).
  std::function<void()> onEnded;
  // The socket is closed; called once.
  std::function<void()> onClose;

  // Pairing state.
  const std::uint64_t id;
  const Bytes salt;
  const std::string source;  // the peer's address
  std::optional<SymmetricKey> key;
  bool isAuthorized = false;
  std::optional<std::string> token;
  std::optional<std::string> deviceName;
  int failedAttempts = 0;

 private:
  bool mayRead() const;
  bool overBacklog() const;
  void receive();
  void readReady();
  // Handles lines held back by backpressure; false while it must still wait.
  bool drainHeld();
  bool handleLine(std::string_view line);
  void maybeResume();
  void writeNext();
  void finish();  // end of stream: close once the queued replies and pending work are done
  void closeIfFinished();

  asio::ip::tcp::socket socket_;
  asio::steady_timer lingerTimer_;
  std::span<char> readBuffer_;
  LineBuffer lineBuffer_{kMaxLineBeforeKey};
  std::string outbox_;   // queued, not yet handed to the socket
  std::string writing_;  // being written
  bool waiting_ = false;
  std::deque<std::optional<std::string>> held_;  // replies from the oldest unfilled slot on
  std::uint64_t firstHeld_ = 0;                  // the slot number of held_.front()
  std::size_t heldBytes_ = 0;
  bool readDone_ = false;
  bool eofHeld_ = false;  // end of stream seen while lines were still held back
  bool closed_ = false;
  bool closeWhenFlushed_ = false;
  bool suspended_ = false;
  int pendingWork_ = 0;
};

}  // namespace quib
