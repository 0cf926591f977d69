#include "client/PhoneSession.h"

#include <algorithm>

namespace quib {

std::string PhoneSession::host() const {
  return target_.host.value_or(store_.lastHost().value_or("localhost"));
}
std::uint16_t PhoneSession::port() const {
  return target_.port.value_or(store_.lastPort());
}

void PhoneSession::connect() {
  if (connected_) return;
  try {
    client_.connect(host(), port(), target_.timeout);
  } catch (const ClientError& e) {
    throw CliError(CliError::unreachable, "컴퓨터에 연결할 수 없습니다 (" + host() + ":" +
                                              std::to_string(port()) + "): " + e.what());
  }
  connected_ = true;
}

ServerMessage PhoneSession::awaitReply(const std::function<void()>& onProgress) {
  using namespace std::chrono;
  const auto deadline = steady_clock::now() + target_.timeout;
  for (;;) {
    const auto left = duration_cast<milliseconds>(deadline - steady_clock::now());
    if (left <= milliseconds::zero()) throw CliError(CliError::unreachable, "응답을 기다리다 시간이 지났습니다");
    const auto slice = onProgress ? std::min(milliseconds(500), left) : left;
    try {
      return client_.readReply(slice);
    } catch (const ClientTimeout&) {
      if (steady_clock::now() >= deadline)
        throw CliError(CliError::unreachable, "응답을 기다리다 시간이 지났습니다");
      if (onProgress) onProgress();
    } catch (const ClientError& e) {
      throw CliError(CliError::unreachable, std::string("연결이 끊어졌습니다: ") + e.what());
    }
  }
}

void PhoneSession::send(const ClientMessage& message) {
  try {
    client_.send(message);
  } catch (const ClientError& e) {
    throw CliError(CliError::unreachable, e.what());
  } catch (const EncodeError&) {
    throw CliError(CliError::usage, "보낼 글이 UTF-8이 아닙니다");
  }
}

ServerMessage PhoneSession::pair(const std::string& code, const std::optional<std::string>& deviceName) {
  connect();
  client_.usePairingCode(code);
  ClientMessage m;
  m.type = ClientMessage::Kind::pair;
  m.code = code;
  m.deviceName = deviceName;
  m.requestId = "quib-pair";
  send(m);
  ServerMessage reply = awaitReply({});
  if (reply.type != ServerMessage::Kind::paired || !reply.token)
    throw CliError(CliError::refused, "페어링 실패: " + reply.message.value_or("알 수 없는 응답"));
  store_.setToken(*reply.token);
  store_.setLastHost(host());
  store_.setLastPort(port());
  store_.setMacName(reply.hostName ? reply.hostName : client_.hello().hostName);
  return reply;
}

ServerMessage PhoneSession::request(ClientMessage message, const std::function<void()>& onProgress) {
  if (store_.connectionPaused())
    throw CliError(CliError::notPaired, "연결이 일시 중지되어 있습니다 (quib resume 으로 다시 켜세요)");
  auto token = store_.token();
  if (!token) throw CliError(CliError::notPaired, "페어링되지 않았습니다: 먼저 quib pair CODE 를 실행하세요");
  connect();
  client_.useToken(*token);
  message.requestId = "quib-" + std::to_string(nextId_++);
  send(message);
  ServerMessage reply = awaitReply(onProgress);
  if (reply.type == ServerMessage::Kind::error) {
    const std::string text = reply.message.value_or("오류");
    if (reply.needsPairing == true)
      throw CliError(CliError::notPaired, text + " (quib pair CODE 로 다시 페어링하세요)");
    throw CliError(CliError::refused, text);
  }
  return reply;
}

}  // namespace quib
