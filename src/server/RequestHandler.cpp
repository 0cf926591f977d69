// The dispatcher: one reply for every line. Runs on the server queue; actions go to the main queue.
#include "server/Connection.h"
#include "server/QuibCodec.h"
#include "server/QuibServer.h"

namespace quib {

namespace {

constexpr const char* kWrongKey = "암호화되지 않았거나 키가 틀립니다";
constexpr const char* kNeedsPairing = "페어링이 필요합니다";
constexpr const char* kEmptyAction = "동작이 비어 있음";
// A line from a refused address past its rate: not tried, so the phone keeps its token and retries.
constexpr const char* kNotTried = "잠시 후 다시 시도하세요";
constexpr const char* kTextTooLong = "텍스트가 너무 깁니다 (최대 20000자)";
constexpr const char* kTooManyNames = "앱 이름이 너무 많습니다 (최대 256개)";
constexpr const char* kNoActions = "이 컴퓨터에서 동작을 실행할 수 없습니다";

// More than `limit` code points; reads no further than it must.
bool longerThan(std::string_view utf8, std::size_t limit) {
  if (utf8.size() <= limit) return false;
  std::size_t count = 0;
  for (unsigned char byte : utf8)
    if ((byte & 0xC0) != 0x80 && ++count > limit) return true;
  return false;
}

ServerMessage errorReply(std::optional<std::string> requestId, const char* text, bool needsPairing) {
  ServerMessage m;
  m.type = ServerMessage::Kind::error;
  m.requestId = std::move(requestId);
  m.message = text;
  if (needsPairing) m.needsPairing = true;
  return m;
}

ServerMessage reply(ServerMessage::Kind type, const ClientMessage& request) {
  ServerMessage m;
  m.type = type;
  m.requestId = request.requestId;
  return m;
}

ServerMessage pingAck(const ClientMessage& ping) {
  ServerMessage ack = reply(ServerMessage::Kind::ack, ping);
  ack.ok = true;
  return ack;
}

}  // namespace

void QuibServer::handleOversized(Connection& connection) {
  // A keyed phone must not read a size error as "pair again" and drop its token.
  send(errorReply(std::nullopt, kWrongKey, !connection.key), connection);
}

void QuibServer::refuseUntried(Connection& connection) {
  send(errorReply(std::nullopt, kNotTried, false), connection);
}

void QuibServer::handle(std::string_view line, const ConnectionPtr& connection) {
  // A keyless connection's sealed line may have to be tried under every stored token: that is
  // done off this queue, and the connection's next lines wait for its answer.
  if (!connection->key && SecureChannel::isEncrypted(line))
    if (auto box = SecureChannel::sealedBox(line)) return openKeyless(std::move(*box), connection);
  dispatch(decrypt(line, *connection), line, connection);
}

void QuibServer::dispatch(std::optional<ClientMessage> message, std::string_view line,
                          const ConnectionPtr& connection) {
  Connection& c = *connection;
  if (!message) {
    try {
      auto plain = QuibCodec::decode<ClientMessage>(line);
      if (plain.type == ClientMessage::Kind::ping) {
        send(pingAck(plain), c);
        return;
      }
    } catch (const DecodeError&) {
    }
    send(errorReply(std::nullopt, kWrongKey, true), c);
    return;
  }

  switch (message->type) {
    case ClientMessage::Kind::pair:
      handlePair(*message, c);
      return;
    case ClientMessage::Kind::ping:
      send(pingAck(*message), c);
      return;
    case ClientMessage::Kind::action:
      if (!authorize(*message, c)) return;
      handleAction(*message, connection);
      return;
    case ClientMessage::Kind::clipboard:
    case ClientMessage::Kind::appList:
      if (!authorize(*message, c)) return;
      handleQuery(*message, connection);
      return;
    case ClientMessage::Kind::appIcon:
    case ClientMessage::Kind::siteIcon:
    case ClientMessage::Kind::appCheck:
      handleQuery(*message, connection);
      return;
  }
}

bool QuibServer::authorize(const ClientMessage& request, Connection& c) {
  if (c.isAuthorized) return true;
  if (request.token && registry_.isPaired(*request.token)) {
    c.isAuthorized = true;
    notifyCount();  // the menu lists the device now
    return true;
  }
  send(errorReply(request.requestId, kNeedsPairing, true), c);
  return false;
}

void QuibServer::handleAction(const ClientMessage& request, const ConnectionPtr& connection) {
  if (!request.action) {
    send(errorReply(request.requestId, kEmptyAction, false), *connection);
    return;
  }
  connection->workStarted();
  // Refused here, before the text reaches the desktop, yet answered in its turn among the actions.
  if (request.action->kind == QuibActionKind::typeText &&
      longerThan(request.action->value.value_or(""), kMaxTypedCharacters)) {
    chunkActions_.push_back({connection, QuibAction{QuibActionKind::typeText, {}, {}, {}, {}, {}, {}},
                             request.requestId, ActionResult{false, kTextTooLong}});
    return;
  }
  chunkActions_.push_back({connection, *request.action, request.requestId, std::nullopt});
}

void QuibServer::handOverActions() {
  if (chunkActions_.empty()) return;
  bool wasEmpty;
  {
    std::lock_guard lock(actionsMutex_);
    wasEmpty = pendingActions_.empty();
    std::move(chunkActions_.begin(), chunkActions_.end(), std::back_inserter(pendingActions_));
  }
  chunkActions_.clear();
  if (wasEmpty)
    mainQueue_.post([life = std::weak_ptr<Life>(life_)] {
      withServer(life, [](QuibServer& server) { server.performPendingActions(); });
    });
}

void QuibServer::performPendingActions() {
  std::vector<PendingAction> batch;
  {
    std::lock_guard lock(actionsMutex_);
    batch.swap(pendingActions_);
  }
  std::vector<std::pair<ConnectionPtr, ServerMessage>> replies;
  replies.reserve(batch.size());
  for (auto& next : batch) {
    ActionResult result = next.refused ? std::move(*next.refused)
                          : actions_   ? actions_->perform(next.action)
                                       : ActionResult{false, kNoActions};
    ServerMessage ack;
    ack.type = ServerMessage::Kind::ack;
    ack.requestId = std::move(next.requestId);
    ack.ok = result.ok;
    ack.message = std::move(result.message);
    ack.accessibilityGranted = platform_.accessibility.isTrusted();
    replies.emplace_back(std::move(next.connection), std::move(ack));
  }
  // Held-back pointer moves go out once per burst rather than once per move.
  platform_.events.flush();
  bool wasEmpty;
  {
    std::lock_guard lock(repliesMutex_);
    wasEmpty = pendingReplies_.empty();
    std::move(replies.begin(), replies.end(), std::back_inserter(pendingReplies_));
  }
  if (wasEmpty) asio::post(io_, [this] { flushReplies(); });
}

void QuibServer::flushReplies() {
  std::vector<std::pair<ConnectionPtr, ServerMessage>> replies;
  {
    std::lock_guard lock(repliesMutex_);
    replies.swap(pendingReplies_);
  }
  // Connections are released here, on the server queue, with their sockets.
  for (auto& [connection, reply] : replies) {
    send(reply, *connection);
    connection->workFinished();
  }
}

void QuibServer::handleQuery(const ClientMessage& request, const ConnectionPtr& connection) {
  Connection& c = *connection;
  switch (request.type) {
    case ClientMessage::Kind::appIcon: {
      auto m = reply(ServerMessage::Kind::appIcon, request);
      m.appName = request.appName.value_or("");
      if (!queries_) {
        m.ok = false;
        send(m, c);
        return;
      }
      const double size = request.iconSize ? static_cast<double>(*request.iconSize) : 256.0;
      // Rendered elsewhere; the reply keeps its place among this connection's replies.
      const std::uint64_t slot = c.reserveSlot();
      c.workStarted();
      std::weak_ptr<Connection> weak = connection;
      queries_->appIconBase64(
          *m.appName, size,
          [life = std::weak_ptr<Life>(postLife_), weak, m, slot](std::optional<std::string> icon) mutable {
            withServer(life, [&](QuibServer& server) {
              auto conn = weak.lock();
              if (!conn) return;
              m.ok = icon.has_value();
              m.iconPNGBase64 = std::move(icon);
              server.sendFromAnyThread(std::move(m), std::move(conn), slot);
            });
          });
      return;
    }
    case ClientMessage::Kind::siteIcon: {
      auto m = reply(ServerMessage::Kind::siteIcon, request);
      m.url = request.url.value_or("");
      if (!queries_) {
        m.ok = false;
        send(m, c);
        return;
      }
      std::weak_ptr<Connection> weak = connection;
      // Counted with the actions: a phone's unanswered searches pause its reading, and a peer that
      // ends its stream now still gets this reply.
      connection->workStarted();
      queries_->siteIconBase64(
          *m.url, c.id,
          [life = std::weak_ptr<Life>(postLife_), weak, m](std::optional<std::string> icon) mutable {
            withServer(life, [&](QuibServer& server) {
              auto conn = weak.lock();
              if (!conn) return;
              m.ok = icon.has_value();
              m.iconPNGBase64 = std::move(icon);
              server.sendFromAnyThread(std::move(m), std::move(conn));
            });
          });
      return;
    }
    case ClientMessage::Kind::appCheck: {
      // Each name is one search of the application index on this queue.
      if (request.appNames && request.appNames->size() > kMaxAppNames) {
        send(errorReply(request.requestId, kTooManyNames, false), c);
        return;
      }
      auto m = reply(ServerMessage::Kind::appCheck, request);
      std::vector<std::string> installed;
      if (queries_ && request.appNames)
        for (const auto& name : *request.appNames)
          if (queries_->isAppInstalled(name)) installed.push_back(name);
      m.ok = queries_ != nullptr;
      m.installedApps = std::move(installed);
      send(m, c);
      return;
    }
    case ClientMessage::Kind::clipboard: {
      auto m = reply(ServerMessage::Kind::clipboard, request);
      auto history = queries_ ? queries_->clipboardHistory() : std::nullopt;
      m.ok = history.has_value();
      m.clipboardItems = std::move(history).value_or(std::vector<std::string>{});
      send(m, c);
      return;
    }
    case ClientMessage::Kind::appList: {
      auto m = reply(ServerMessage::Kind::appList, request);
      m.ok = queries_ != nullptr;
      m.installedApps = queries_ ? queries_->installedApps() : std::vector<std::string>{};
      send(m, c);
      return;
    }
    default:
      return;
  }
}

}  // namespace quib
