// Pairing, tokens, the device registry and authorization, through real TCP.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "server/DeviceRegistry.h"
#include "support/TestServer.h"

namespace quib::test {
namespace {

using Names = std::map<std::string, std::string>;
using Tokens = std::vector<std::string>;
using Devices = std::vector<QuibServer::ConnectedDevice>;
constexpr const char* kCodeMismatch = "코드가 맞지 않습니다";

class RecordingActions : public ActionPerformer {
 public:
  ActionResult perform(const QuibAction&) override { return {true, "done " + std::to_string(++performed)}; }
  std::atomic<int> performed = 0;
};

TEST(PairingTest, PairReturnRenameAndUnpair) {
  TestServer t;
  t.desktop().host().setHostName("Studio");
  auto first = t.connect();
  auto reply = first->pair(t.server().pairingCode(), "Pixel");
  EXPECT_EQ(reply.type, ServerMessage::Kind::paired);
  EXPECT_EQ(reply.hostName, "Studio");
  EXPECT_EQ(reply.requestId, "pair");
  EXPECT_EQ(reply.ok, true);
  EXPECT_EQ(reply.accessibilityGranted, true);
  // Upper-case hexadecimal, version 4, RFC 4122 variant.
  const std::string token = reply.token.value_or("");
  EXPECT_THAT(token,
              testing::MatchesRegex("[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}"));

  // A returning phone needs no code, and a name in its first line replaces the stored one; all
  // connections under one token are one device, listed under the name it paired with.
  auto renamed = t.connect();
  renamed->useToken(token);
  auto clip = request(ClientMessage::Kind::clipboard, "c1");
  clip.deviceName = "New name";
  EXPECT_EQ(renamed->request(clip).type, ServerMessage::Kind::clipboard);
  auto plain = t.connect();
  plain->useToken(token);
  EXPECT_EQ(plain->request(request(ClientMessage::Kind::ping)).type, ServerMessage::Kind::ack);
  EXPECT_EQ(t.defaults().stringArray(DeviceRegistry::kTokensKey), Tokens{token});
  EXPECT_EQ(t.defaults().stringDictionary(DeviceRegistry::kNamesKey), (Names{{token, "New name"}}));
  EXPECT_EQ(t.server().connectedDevices(), (Devices{{"Pixel", token}}));

  t.desktop().host().setHostName(std::nullopt);
  auto nameless = t.connect();
  auto second = nameless->pair(t.server().pairingCode(), std::nullopt);
  EXPECT_EQ(second.hostName, std::nullopt);  // no "Mac" stand-in here
  const std::string other = second.token.value_or("");
  // Unpairing one device closes its connections and keeps the others; an unknown token changes nothing.
  t.server().disconnect(token);
  t.server().disconnect("NOT-STORED");
  for (auto* c : {first.get(), renamed.get(), plain.get()}) EXPECT_TRUE(c->waitForClose());
  EXPECT_EQ(t.defaults().stringArray(DeviceRegistry::kTokensKey), Tokens{other});
  EXPECT_EQ(t.defaults().stringDictionary(DeviceRegistry::kNamesKey), Names{});
  EXPECT_EQ(t.server().connectedDevices(), (Devices{{"이름 없는 기기", other}}));
  EXPECT_EQ(nameless->request(request(ClientMessage::Kind::ping, "still")).requestId, "still");

  // The names are a label store another program may write: one number anywhere in them makes
  // every name absent, never a crash or a wrong name.
  DeviceRegistry registry(t.defaults());
  t.defaults().set(DeviceRegistry::kNamesKey, DefaultsValue::of(nlohmann::json{{"T", "A"}, {"x", "B"}}));
  EXPECT_EQ(registry.name("T"), "A");
  t.defaults().set(DeviceRegistry::kNamesKey, DefaultsValue::of(nlohmann::json{{"T", "A"}, {"x", 5}}));
  EXPECT_EQ(registry.name("T"), std::nullopt);
  EXPECT_TRUE(registry.names().empty());

  auto unkeyed = t.connect();
  t.server().forgetPairedDevices();
  EXPECT_TRUE(nameless->waitForClose());
  EXPECT_TRUE(unkeyed->waitForClose());
  EXPECT_EQ(t.defaults().stringArray(DeviceRegistry::kTokensKey), Tokens{});
  EXPECT_EQ(t.defaults().stringDictionary(DeviceRegistry::kNamesKey), Names{});
  ASSERT_TRUE(t.waitForCount(0));
}

TEST(PairingTest, WrongCodesAndNewCodes) {
  for (int i = 0; i < 200; ++i) ASSERT_THAT(QuibServer::makePairingCode(), testing::MatchesRegex("[0-9]{6}"));
  TestServer t;
  const std::string code = t.server().pairingCode();
  // Sealed under the right key but naming another code: refused with its id, and no guess.
  auto keyed = t.connect();
  keyed->usePairingCode(code);
  auto bad = request(ClientMessage::Kind::pair, "x");
  bad.code = otherCode(code);
  auto refused = keyed->request(bad);
  EXPECT_EQ(refused.type, ServerMessage::Kind::error);
  EXPECT_EQ(refused.message, kCodeMismatch);
  EXPECT_EQ(refused.requestId, "x");
  EXPECT_EQ(refused.needsPairing, std::nullopt);
  // Five wrong keys lock that connection, even against the right code.
  auto c = t.connect();
  for (int i = 0; i < 5; ++i) {
    auto reply = c->pair(otherCode(code), "x");
    EXPECT_EQ(reply.message, kWrongKey);
    EXPECT_EQ(reply.needsPairing, true);
    EXPECT_EQ(reply.requestId, std::nullopt);
  }
  EXPECT_EQ(c->pair(code, "x").message, kWrongKey);
  // A new code keeps keyed connections (the old key still opens their lines) and governs every
  // pair request from then on.
  t.server().setPairingCode("000042");
  EXPECT_EQ(keyed->request(request(ClientMessage::Kind::ping, "2")).type, ServerMessage::Kind::ack);
  auto pairOld = request(ClientMessage::Kind::pair, "3");
  pairOld.code = code;
  EXPECT_EQ(keyed->request(pairOld).message, kCodeMismatch);
  EXPECT_EQ(t.connect()->pair(code, "x").message, kWrongKey);
  auto fresh = t.connect()->pair("000042", "x");
  ASSERT_EQ(fresh.type, ServerMessage::Kind::paired);
  // A line sealed under another key is answered under the connection's own.
  keyed->useToken(*fresh.token);
  keyed->send(request(ClientMessage::Kind::ping));
  keyed->usePairingCode(code);
  EXPECT_EQ(keyed->readReply().message, kWrongKey);
}

TEST(PairingTest, PairingKeyAuthorizesOnlyWithAToken) {
  TestServer t;
  RecordingActions actions;
  t.server().setActionPerformer(&actions);
  t.desktop().accessibility().setTrusted(false);
  std::string token;
  t.connectPaired("A", &token);
  auto c = t.connect();
  c->usePairingCode(t.server().pairingCode());
  for (auto type :
       {ClientMessage::Kind::action, ClientMessage::Kind::clipboard, ClientMessage::Kind::appList}) {
    auto m = actionRequest("r");
    m.type = type;
    auto reply = c->request(m);
    EXPECT_EQ(reply.type, ServerMessage::Kind::error);
    EXPECT_EQ(reply.message, "페어링이 필요합니다");
    EXPECT_EQ(reply.needsPairing, true);
    EXPECT_EQ(reply.requestId, "r");
  }
  EXPECT_EQ(c->request(request(ClientMessage::Kind::appIcon)).type, ServerMessage::Kind::appIcon);
  // A paired token in a request serves it and authorizes the connection from then on, which is
  // then listed without a token.
  auto withToken = actionRequest("a1");
  withToken.token = token;
  EXPECT_EQ(c->request(withToken).message, "done 1");
  EXPECT_EQ(c->request(actionRequest("a2")).message, "done 2");
  bool anonymous = false;
  for (const auto& d : t.server().connectedDevices()) anonymous |= !d.token;
  EXPECT_TRUE(anonymous);

  // A returning phone's first line is tried under the tokens off the queue; the actions that came
  // in the same write wait for that trial and then run in order, each once.
  auto d = t.connect();
  d->useToken(token);
  d->sendTogether({actionRequest("1"), actionRequest("2"), actionRequest("3")});
  for (int i = 1; i <= 3; ++i) {
    auto reply = d->readReply();
    EXPECT_EQ(reply.requestId, std::to_string(i));
    EXPECT_EQ(reply.message, "done " + std::to_string(i + 2));
    EXPECT_EQ(reply.accessibilityGranted, false);
  }
  auto empty = d->request(request(ClientMessage::Kind::action, "e"));
  EXPECT_EQ(empty.type, ServerMessage::Kind::error);
  EXPECT_EQ(empty.message, "동작이 비어 있음");
  EXPECT_EQ(empty.requestId, "e");
  EXPECT_EQ(empty.needsPairing, std::nullopt);
}

}  // namespace
}  // namespace quib::test
