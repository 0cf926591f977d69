#include "client/QuibClient.h"

#include <algorithm>

#include "crypto/Base64.h"
#include "server/QuibCodec.h"

namespace quib {

QuibClient::QuibClient() : socket_(io_) {}
QuibClient::~QuibClient() {
  close();
}

template <typename Op>
void QuibClient::runWithTimeout(Op&& start, Duration timeout) {
  asio::error_code result = asio::error::would_block;
  start(result);
  io_.restart();
  io_.run_for(timeout);
  if (result == asio::error::would_block) {
    asio::error_code ignored;
    socket_.cancel(ignored);
    io_.restart();
    io_.run();
    throw ClientTimeout("timed out");
  }
  if (result) throw ClientError(result.message());
}

const ServerMessage& QuibClient::connect(const std::string& host, std::uint16_t port, Duration timeout) {
  close();
  asio::ip::tcp::resolver resolver(io_);
  asio::error_code ec;
  auto endpoints = resolver.resolve(host, std::to_string(port), ec);
  if (ec) throw ClientError("cannot resolve " + host + ": " + ec.message());
  if (localAddress_) {
    // From a chosen local address (a test speaking as several machines over loopback).
    const asio::ip::tcp::endpoint local(asio::ip::make_address(*localAddress_, ec), 0);
    if (ec) throw ClientError("bad local address " + *localAddress_);
    auto target = std::find_if(endpoints.begin(), endpoints.end(),
                               [&](const auto& e) { return e.endpoint().protocol() == local.protocol(); });
    if (target == endpoints.end()) throw ClientError("no address of the local address's family");
    socket_.open(local.protocol(), ec);
    if (!ec) socket_.bind(local, ec);
    if (ec) throw ClientError("cannot bind " + *localAddress_ + ": " + ec.message());
    runWithTimeout(
        [&](asio::error_code& result) {
          socket_.async_connect(target->endpoint(), [&result](const asio::error_code& e) { result = e; });
        },
        timeout);
  } else {
    runWithTimeout(
        [&](asio::error_code& result) {
          asio::async_connect(
              socket_, endpoints,
              [&result](const asio::error_code& e, const asio::ip::tcp::endpoint&) { result = e; });
        },
        timeout);
  }
  socket_.set_option(asio::ip::tcp::no_delay(true), ec);
  buffer_.clear();
  key_.reset();
  try {
    hello_ = QuibCodec::decode<ServerMessage>(readLine(timeout));
  } catch (const DecodeError& e) {
    throw ClientError(std::string("unreadable greeting: ") + e.what());
  }
  auto salt = hello_.salt ? Base64::decode(*hello_.salt) : std::nullopt;
  if (hello_.type != ServerMessage::Kind::hello || !salt) throw ClientError("the greeting carries no salt");
  salt_ = std::move(*salt);
  return hello_;
}

void QuibClient::sendRaw(const std::string& bytes) {
  asio::error_code ec;
  asio::write(socket_, asio::buffer(bytes), ec);
  if (ec) throw ClientError("send failed: " + ec.message());
}

void QuibClient::send(const ClientMessage& message) {
  sendRaw(key_ ? sealLine(message, *key_) : QuibCodec::encodeLine(message));
}

void QuibClient::sendTogether(const std::vector<ClientMessage>& messages) {
  std::string bytes;
  for (const auto& m : messages) bytes += key_ ? sealLine(m, *key_) : QuibCodec::encodeLine(m);
  sendRaw(bytes);
}

std::string QuibClient::readLine(Duration timeout) {
  // One deadline for the whole line: a peer that trickles bytes cannot stretch it.
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    auto nl = buffer_.find('\n');
    if (nl != std::string::npos) {
      std::string line = buffer_.substr(0, nl);
      buffer_.erase(0, nl + 1);
      return line;
    }
    const auto left = std::chrono::duration_cast<Duration>(deadline - std::chrono::steady_clock::now());
    if (left <= Duration::zero()) throw ClientTimeout("timed out");
    char chunk[65536];
    std::size_t got = 0;
    runWithTimeout(
        [&](asio::error_code& result) {
          socket_.async_read_some(asio::buffer(chunk), [&](const asio::error_code& e, std::size_t n) {
            got = n;
            result = e;
          });
        },
        left);
    buffer_.append(chunk, got);
  }
}

ServerMessage QuibClient::readReply(Duration timeout) {
  std::string line = readLine(timeout);
  if (SecureChannel::isEncrypted(line)) {
    if (!key_) throw ClientError("sealed reply but no key");
    auto m = openLine<ServerMessage>(line, *key_);
    if (!m) throw ClientError("reply does not open under our key");
    return *m;
  }
  try {
    return QuibCodec::decode<ServerMessage>(line);
  } catch (const DecodeError& e) {
    throw ClientError(std::string("unreadable reply: ") + e.what());
  }
}

ServerMessage QuibClient::request(const ClientMessage& message, Duration timeout) {
  send(message);
  return readReply(timeout);
}

ServerMessage QuibClient::pair(const std::string& code, std::optional<std::string> deviceName,
                               Duration timeout) {
  usePairingCode(code);
  ClientMessage m;
  m.type = ClientMessage::Kind::pair;
  m.code = code;
  m.requestId = "pair";
  m.deviceName = std::move(deviceName);
  return request(m, timeout);
}

void QuibClient::shutdownSend() {
  asio::error_code ec;
  socket_.shutdown(asio::ip::tcp::socket::shutdown_send, ec);
}

bool QuibClient::waitForClose(Duration timeout) {
  try {
    for (;;) readLine(timeout);
  } catch (const ClientTimeout&) {
    return false;
  } catch (const ClientError&) {
    return true;
  }
}

void QuibClient::close() {
  asio::error_code ec;
  if (socket_.is_open()) socket_.close(ec);
}

}  // namespace quib
