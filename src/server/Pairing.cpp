// Key selection for incoming lines and the pair request. Runs on the server queue.
#include <algorithm>
#include <unordered_map>

#include "crypto/Random.h"
#include "server/Connection.h"
#include "server/QuibServer.h"

namespace quib {

namespace {
constexpr int kMaxFailedAttemptsPerConnection = 5;
// Tokens whose last use is remembered for ordering; beyond this the least recent are forgotten.
constexpr std::size_t kMaxRecentTokens = 4096;
}  // namespace

void QuibServer::setConnectionKey(Connection& c, const SymmetricKey& key) {
  c.setKey(key);
  keyless_.erase(c.id);
}

std::vector<std::string> QuibServer::tokensByRecentUse() {
  return TokenTrial::ordered(registry_.tokens(), recentTokens_);
}

void QuibServer::noteTokenUsed(const std::string& token) {
  std::erase(recentTokens_, token);
  recentTokens_.push_back(token);
  if (recentTokens_.size() > kMaxRecentTokens) recentTokens_.erase(recentTokens_.begin());
  recentSnapshot_ = std::make_shared<const std::vector<std::string>>(recentTokens_);
}

void QuibServer::applyPendingGuardReset() {
  std::lock_guard lock(codeMutex_);
  if (guardResetPending_) {
    guard_.reset();
    guardResetPending_ = false;
  }
}

void QuibServer::openKeyless(Bytes box, const ConnectionPtr& connection) {
  Connection& c = *connection;
  applyPendingGuardReset();
  // A refused address's lines are tried at a bounded rate; one past it is answered untried,
  // without telling a phone that may hold a good token to pair again.
  if (!guard_.mayTryTokens(c.source)) {
    refuseUntried(c);
    return;
  }
  std::weak_ptr<Connection> weak = connection;
  const bool queued =
      trial_->submit(std::move(box), c.salt, recentSnapshot_,
                     [life = std::weak_ptr<Life>(postLife_), weak](TokenTrial::Result result) mutable {
                       withServer(life, [&](QuibServer& server) {
                         asio::post(server.io_, [&server, weak, result = std::move(result)]() mutable {
                           server.finishTokenTrial(weak, std::move(result));
                         });
                       });
                     });
  if (queued) {
    c.suspendLines();
    return;
  }
  // Too many first lines waiting already: this one is tried here (a returning phone must not be
  // told to pair again only because strangers keep the trial busy).
  auto result = TokenTrial::run(std::move(box), c.salt, tokensByRecentUse(), registry_.revokedTokens());
  dispatch(concludeTrial(c, std::move(result)), {}, connection);
}

void QuibServer::finishTokenTrial(const std::weak_ptr<Connection>& weak, TokenTrial::Result result) {
  auto connection = weak.lock();
  if (!connection || connection->isClosed()) return;
  dispatch(concludeTrial(*connection, std::move(result)), {}, connection);
  handOverActions();
  connection->resumeLines();
}

std::optional<ClientMessage> QuibServer::concludeTrial(Connection& c, TokenTrial::Result result) {
  if (result.token && result.message && registry_.isPaired(*result.token)) {
    adoptToken(c, *result.token, SecureChannel::tokenKey(*result.token, c.salt), *result.message);
    return std::move(result.message);
  }
  // An unpaired phone still using its old token must pair again; that is no guess. A refused
  // address has no pairing key tried. Anything else may be a pairing request.
  if (result.revoked || guard_.isBlocked(c.source)) return std::nullopt;
  return tryPairingKey(c, result.box);
}

void QuibServer::adoptToken(Connection& c, const std::string& token, const SymmetricKey& key,
                            const ClientMessage& message) {
  setConnectionKey(c, key);
  c.isAuthorized = true;
  c.token = token;
  noteTokenUsed(token);
  if (message.deviceName) {
    c.deviceName = message.deviceName;
    registry_.setNameIfChanged(token, *message.deviceName);
  } else {
    c.deviceName = registry_.name(token);
  }
  notifyCount();  // the menu lists the device now
}

std::optional<ClientMessage> QuibServer::tryPairingKey(Connection& c, const Bytes& box) {
  if (c.failedAttempts >= kMaxFailedAttemptsPerConnection) {
    recordGuessFailure(c.source, false);
    return std::nullopt;
  }
  const SymmetricKey key = SecureChannel::pairKey(pairingCode(), c.salt);
  auto message = recordFromPlaintext<ClientMessage>(SecureChannel::openBox(box, key));
  if (!message) {
    ++c.failedAttempts;
    recordGuessFailure(c.source, true);
    return std::nullopt;
  }
  // The right code while too many guesses keep pairing closed: refused, but no guess, so the
  // sender's address (perhaps a paired phone's) is not charged for it.
  if (!guard_.isOpen()) return std::nullopt;
  setConnectionKey(c, key);
  return message;
}

void QuibServer::recordGuessFailure(const std::string& source, bool triedPairingKey) {
  if (guard_.recordFailure(source, triedPairingKey))
    mainQueue_.post([life = std::weak_ptr<Life>(life_)] {
      withServer(life, [](QuibServer& server) {
        if (server.onPairingGuardChange) server.onPairingGuardChange();
      });
    });
}

std::optional<ClientMessage> QuibServer::decrypt(std::string_view line, Connection& c) {
  if (!SecureChannel::isEncrypted(line)) return std::nullopt;
  if (c.key) return openLine<ClientMessage>(line, *c.key);
  // Not even a sealed box (those go to openKeyless): no key can open it, so none is tried and no
  // guard is charged; it still counts against this connection's own tries.
  if (c.failedAttempts < kMaxFailedAttemptsPerConnection) ++c.failedAttempts;
  return std::nullopt;
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
  noteTokenUsed(token);
  c.isAuthorized = true;
  c.token = token;
  c.deviceName = request.deviceName;
  if (request.deviceName) registry_.setNameIfChanged(token, *request.deviceName);
  notifyCount();  // the menu lists the device now

  reply.type = ServerMessage::Kind::paired;
  reply.hostName = platform_.host.localizedHostName();
  reply.token = token;
  reply.ok = true;
  reply.accessibilityGranted = platform_.accessibility.isTrusted();
  send(reply, c);
  if (onDevicePaired) onDevicePaired(request.deviceName);
}

}  // namespace quib
