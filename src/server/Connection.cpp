#include "server/Connection.h"

#include <algorithm>

namespace quib {

namespace {
// How long a peer that ended its stream gets to read the replies still queued for it.
constexpr std::chrono::seconds kLinger{10};
// Write buffers above this are given back once written, so that a connection that once sent a
// large reply does not keep its memory while idle.
constexpr std::size_t kKeepCapacity = 4096;

std::string peerAddress(const asio::ip::tcp::socket& socket) {
  asio::error_code ec;
  auto endpoint = socket.remote_endpoint(ec);
  if (ec) return "?";
  auto address = endpoint.address();
  if (address.is_v6() && address.to_v6().is_v4_mapped())
    return asio::ip::make_address_v4(asio::ip::v4_mapped, address.to_v6()).to_string();
  return address.to_string();
}

void release(std::string& s) {
  if (s.capacity() > kKeepCapacity) std::string().swap(s);
}
}  // namespace

Connection::Connection(asio::ip::tcp::socket socket, std::uint64_t id, std::span<char> readBuffer)
    : id(id),
      salt(SecureChannel::makeSalt()),
      source(peerAddress(socket)),
      socket_(std::move(socket)),
      lingerTimer_(socket_.get_executor()),
      readBuffer_(readBuffer) {
  asio::error_code ec;
  socket_.set_option(asio::ip::tcp::no_delay(true), ec);
  socket_.non_blocking(true, ec);
}

Connection::~Connection() {
  asio::error_code ec;
  socket_.close(ec);
}

void Connection::start() {
  receive();
}

void Connection::setKey(const SymmetricKey& k) {
  key = k;
  lineBuffer_.setMaxLineBytes(kMaxLineWithKey);
}

bool Connection::overBacklog() const {
  return pendingOutput() > kMaxPendingOutput || pendingWork_ >= kMaxPendingActions;
}

bool Connection::mayRead() const {
  return !closed_ && !readDone_ && !eofHeld_ && !suspended_ && !lineBuffer_.hasHeld() && !overBacklog();
}

void Connection::suspendLines() {
  suspended_ = true;
  ++pendingWork_;
}

void Connection::resumeLines() {
  if (!suspended_) return;
  suspended_ = false;
  workFinished();
}

void Connection::receive() {
  if (waiting_ || !mayRead()) return;
  waiting_ = true;
  std::weak_ptr<Connection> weak = weak_from_this();
  socket_.async_wait(asio::socket_base::wait_read, [weak](const asio::error_code& ec) {
    auto self = weak.lock();
    if (!self) return;
    self->waiting_ = false;
    if (self->closed_) return;
    if (ec) {
      self->close();
      return;
    }
    self->readReady();
  });
}

bool Connection::handleLine(std::string_view line) {
  if (closed_) return false;
  if (onMessage) onMessage(line);
  if (closed_) return false;
  if (!key && pendingOutput() > kMaxPendingOutputBeforeKey) {
    close();
    return false;
  }
  return !suspended_ && !overBacklog();
}

void Connection::readReady() {
  asio::error_code ec;
  // Before a key, a turn reads a small slice: a flood of keyless connections then shares the
  // server's queue in short turns, and a phone's line never waits behind a full buffer of each.
  const std::size_t want = key ? readBuffer_.size() : std::min(readBuffer_.size(), kKeylessReadBytes);
  const std::size_t n = socket_.read_some(asio::buffer(readBuffer_.data(), want), ec);
  if (ec == asio::error::would_block || ec == asio::error::try_again) {
    receive();
    return;
  }
  if (n > 0) {
    lineBuffer_.append(
        std::string_view(readBuffer_.data(), n), [this](std::string_view line) { return handleLine(line); },
        [this] {
          if (!closed_ && onOversizedLine) onOversizedLine();
        });
    if (onChunkHandled) onChunkHandled();
  }
  if (closed_) return;
  if (ec == asio::error::eof) {
    if (lineBuffer_.hasHeld()) {
      eofHeld_ = true;  // the held lines come first; the end follows them
      return;
    }
    finish();
  } else if (ec) {
    close();
  } else {
    receive();
  }
}

bool Connection::drainHeld() {
  if (overBacklog()) return false;
  lineBuffer_.resume([this](std::string_view line) { return handleLine(line); },
                     [this] {
                       if (!closed_ && onOversizedLine) onOversizedLine();
                     });
  if (onChunkHandled) onChunkHandled();
  return !closed_ && !suspended_ && !lineBuffer_.hasHeld();
}

void Connection::maybeResume() {
  if (closed_ || readDone_ || suspended_) return;
  if (lineBuffer_.hasHeld() && !drainHeld()) return;
  if (eofHeld_) {
    eofHeld_ = false;
    finish();
    return;
  }
  receive();
}

void Connection::workFinished() {
  if (pendingWork_ > 0) --pendingWork_;
  if (closeWhenFlushed_)
    closeIfFinished();
  else
    maybeResume();
}

void Connection::closeIfFinished() {
  if (closeWhenFlushed_ && outbox_.empty() && writing_.empty() && held_.empty() && pendingWork_ == 0) close();
}

void Connection::sendLine(std::string line) {
  if (closed_) return;
  if (!held_.empty()) {  // behind a reply still being made
    heldBytes_ += line.size();
    held_.emplace_back(std::move(line));
    return;
  }
  outbox_.append(line);
  if (writing_.empty()) writeNext();
}

std::uint64_t Connection::reserveSlot() {
  held_.emplace_back();
  return firstHeld_ + held_.size() - 1;
}

void Connection::fillSlot(std::uint64_t slot, std::string line) {
  if (slot < firstHeld_ || slot - firstHeld_ >= held_.size()) return;
  auto& place = held_[slot - firstHeld_];
  if (place) return;
  heldBytes_ += line.size();
  place = std::move(line);
  bool released = false;
  while (!held_.empty() && held_.front()) {
    heldBytes_ -= held_.front()->size();
    if (!closed_) outbox_.append(*held_.front());
    held_.pop_front();
    ++firstHeld_;
    released = true;
  }
  if (released && !closed_ && writing_.empty()) writeNext();
}

void Connection::writeNext() {
  if (closed_ || !writing_.empty()) return;
  if (outbox_.empty()) {
    release(outbox_);
    if (closeWhenFlushed_)
      closeIfFinished();  // replies of work still in flight keep it open
    else
      maybeResume();
    return;
  }
  writing_.swap(outbox_);
  // The write holds the connection until it completes so that queued replies reach a peer that
  // has ended its stream; close() aborts it.
  auto self = shared_from_this();
  asio::async_write(socket_, asio::buffer(writing_), [self](const asio::error_code& ec, std::size_t) {
    self->writing_.clear();
    release(self->writing_);
    if (ec) {
      self->close();
      return;
    }
    self->writeNext();
  });
}

void Connection::finish() {
  readDone_ = true;
  if (onEnded) onEnded();
  if (closed_) return;
  closeWhenFlushed_ = true;
  closeIfFinished();
  if (closed_) return;
  std::weak_ptr<Connection> weak = weak_from_this();
  lingerTimer_.expires_after(kLinger);
  lingerTimer_.async_wait([weak](const asio::error_code& ec) {
    if (ec) return;
    if (auto self = weak.lock()) self->close();
  });
}

void Connection::close() {
  if (closed_) return;
  closed_ = true;
  asio::error_code ec;
  lingerTimer_.cancel();
  socket_.shutdown(asio::ip::tcp::socket::shutdown_both, ec);
  socket_.close(ec);
  std::string().swap(outbox_);
  auto cb = std::move(onClose);
  onClose = nullptr;
  onEnded = nullptr;
  if (cb) cb();
}

}  // namespace quib
