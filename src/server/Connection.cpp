#include "server/Connection.h"

namespace quib {

namespace {
// How long a peer that ended its stream gets to read the replies still queued for it.
constexpr std::chrono::seconds kLinger{5};
}  // namespace

Connection::Connection(asio::ip::tcp::socket socket, std::uint64_t id)
    : id(id),
      salt(SecureChannel::makeSalt()),
      socket_(std::move(socket)),
      lingerTimer_(socket_.get_executor()) {
  asio::error_code ec;
  socket_.set_option(asio::ip::tcp::no_delay(true), ec);
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

void Connection::receive() {
  if (closed_ || readDone_ || reading_) return;
  if (outbox_.size() + writing_.size() + heldBytes_ > kMaxPendingOutput ||
      pendingActions_ >= kMaxPendingActions)
    return;
  reading_ = true;
  std::weak_ptr<Connection> weak = weak_from_this();
  socket_.async_read_some(asio::buffer(readBuffer_), [weak](const asio::error_code& ec, std::size_t n) {
    auto self = weak.lock();
    if (!self) return;
    self->reading_ = false;
    if (self->closed_) return;
    if (n > 0) {
      self->lineBuffer_.append(
          std::string_view(self->readBuffer_.data(), n),
          [&](std::string_view line) {
            if (!self->closed_ && self->onMessage) self->onMessage(line);
          },
          [&] {
            if (!self->closed_ && self->onOversizedLine) self->onOversizedLine();
          });
    }
    if (n > 0 && self->onChunkHandled) self->onChunkHandled();
    if (self->closed_) return;
    if (ec == asio::error::eof) {
      self->finish();
    } else if (ec) {
      self->close();
    } else {
      self->receive();
    }
  });
}

void Connection::maybeResume() {
  if (!reading_) receive();
}

void Connection::actionFinished() {
  if (pendingActions_ > 0) --pendingActions_;
  closeIfFinished();
  maybeResume();
}

void Connection::closeIfFinished() {
  if (closeWhenFlushed_ && outbox_.empty() && writing_.empty() && pendingActions_ == 0) close();
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
    if (closeWhenFlushed_)
      closeIfFinished();
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
    if (ec) {
      self->close();
      return;
    }
    self->writeNext();
  });
}

void Connection::finish() {
  readDone_ = true;
  auto cb = std::move(onClose);
  onClose = nullptr;
  if (cb) cb();
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
  outbox_.clear();
  auto cb = std::move(onClose);
  onClose = nullptr;
  if (cb) cb();
}

}  // namespace quib
