// Key selection for incoming lines and the pair request. Runs on the server queue.
#include "crypto/Random.h"
#include "server/Connection.h"
#include "server/QuibServer.h"

namespace quib {

namespace {
constexpr int kMaxFailedAttemptsPerConnection = 5;
}

std::optional<ClientMessage> QuibServer::decrypt(std::string_view line, Connection& c) {
  if (!SecureChannel::isEncrypted(line)) return std::nullopt;
  if (c.key) return SecureChannel::openLine<ClientMessage>(line, *c.key);

  for (const auto& token : registry_.tokens()) {
    const SymmetricKey key = SecureChannel::tokenKey(token, c.salt);
    auto message = SecureChannel::openLine<ClientMessage>(line, key);
    if (!message) continue;
    c.setKey(key);
    c.isAuthorized = true;
    c.token = token;
    if (message->deviceName) {
      c.deviceName = message->deviceName;
      registry_.setNameIfChanged(token, *message->deviceName);
    } else {
      c.deviceName = registry_.name(token);
    }
    return message;
  }

  std::string code;
  {
    std::lock_guard lock(codeMutex_);
    code = pairingCode_;
    if (guardResetPending_) {
      guard_.reset();
      guardResetPending_ = false;
    }
  }
  if (c.failedAttempts >= kMaxFailedAttemptsPerConnection || !guard_.isOpen()) return std::nullopt;
  const SymmetricKey key = SecureChannel::pairKey(code, c.salt);
  auto message = SecureChannel::openLine<ClientMessage>(line, key);
  if (!message) {
    ++c.failedAttempts;
    guard_.recordFailure();
    return std::nullopt;
  }
  c.setKey(key);
  return message;
}

void QuibServer::handlePair(const ClientMessage& request, Connection& c) {
  ServerMessage reply;
  reply.requestId = request.requestId;
  if (!request.code || *request.code != pairingCode()) {
    reply.type = ServerMessage::Kind::error;
    reply.message = "코드가 맞지 않습니다";
    send(reply, c);
    return;
  }
  const std::string token = Random::uuidString();
  registry_.addToken(token);
  c.isAuthorized = true;
  c.token = token;
  c.deviceName = request.deviceName;
  if (request.deviceName) registry_.setNameIfChanged(token, *request.deviceName);

  reply.type = ServerMessage::Kind::paired;
  reply.hostName = platform_.host.localizedHostName();
  reply.token = token;
  reply.ok = true;
  reply.accessibilityGranted = platform_.accessibility.isTrusted();
  send(reply, c);
  if (onDevicePaired) onDevicePaired(request.deviceName);
}

}  // namespace quib
