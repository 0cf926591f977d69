// Pairing, tokens, the device registry and authorization, through real TCP.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "server/DeviceRegistry.h"
#include "support/TestServer.h"

namespace quib::test {
namespace {

using namespace std::chrono_literals;
constexpr const char* kNeedsPairing = "페어링이 필요합니다";

class RecordingActions : public ActionPerformer {
 public:
  ActionResult perform(const QuibAction& a) override {
    std::lock_guard lock(mutex);
    performed.push_back(a);
    return {true, "done " + std::to_string(performed.size())};
  }
  std::mutex mutex;
  std::vector<QuibAction> performed;
};

TEST(PairingTest, FirstPairingIssuesAndStoresToken) {
  TestServer t;
  t.desktop().host().setHostName("Studio");
  auto c = t.connect();
  auto reply = c->pair(t.server().pairingCode(), "Pixel");
  EXPECT_EQ(reply.type, ServerMessage::Kind::paired);
  EXPECT_EQ(reply.hostName, "Studio");
  EXPECT_EQ(reply.requestId, "pair");
  EXPECT_EQ(reply.ok, true);
  EXPECT_EQ(reply.accessibilityGranted, true);
  ASSERT_TRUE(reply.token);
  // Upper-case hexadecimal, version 4, RFC 4122 variant.
  EXPECT_THAT(*reply.token,
              testing::MatchesRegex("[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}"));
  EXPECT_EQ(t.defaults().stringArray(DeviceRegistry::kTokensKey), std::vector<std::string>{*reply.token});
  EXPECT_EQ(t.defaults().stringDictionary(DeviceRegistry::kNamesKey),
            (std::map<std::string, std::string>{{*reply.token, "Pixel"}}));
  EXPECT_EQ(t.server().connectedDevices(),
            (std::vector<QuibServer::ConnectedDevice>{{"Pixel", *reply.token}}));
}

TEST(PairingTest, PairingWithoutNameAndWithWrongCodeField) {
  TestServer t;
  t.desktop().host().setHostName(std::nullopt);
  auto c = t.connect();
  // Sealed under the right key but naming another code: refused, not counted.
  c->usePairingCode(t.server().pairingCode());
  auto bad = request(ClientMessage::Kind::pair, "x");
  bad.code = otherCode(t.server().pairingCode());
  auto refused = c->request(bad);
  EXPECT_EQ(refused.type, ServerMessage::Kind::error);
  EXPECT_EQ(refused.message, "코드가 맞지 않습니다");
  EXPECT_EQ(refused.requestId, "x");
  EXPECT_EQ(refused.needsPairing, std::nullopt);

  auto reply = c->pair(t.server().pairingCode(), std::nullopt);
  ASSERT_EQ(reply.type, ServerMessage::Kind::paired);
  EXPECT_EQ(reply.hostName, std::nullopt);  // no "Mac" stand-in here
  EXPECT_EQ(t.defaults().stringArray(DeviceRegistry::kTokensKey)->size(), 1u);
  EXPECT_FALSE(t.defaults().stringDictionary(DeviceRegistry::kNamesKey));
  auto devices = t.server().connectedDevices();
  ASSERT_EQ(devices.size(), 1u);
  EXPECT_EQ(devices[0].name, "이름 없는 기기");
}

TEST(PairingTest, ReturningPhoneUsesTokenAndUpdatesChangedName) {
  TestServer t;
  std::string token;
  auto first = t.connectPaired("Old name", &token);
  auto c = t.connect();
  c->useToken(token);
  auto clip = request(ClientMessage::Kind::clipboard, "c1");
  clip.deviceName = "New name";
  auto reply = c->request(clip);
  EXPECT_EQ(reply.type, ServerMessage::Kind::clipboard);  // authorized without the code
  EXPECT_EQ(reply.requestId, "c1");
  EXPECT_EQ(t.defaults().stringDictionary(DeviceRegistry::kNamesKey)->at(token), "New name");

  // Without a name in the first line the stored one is used.
  auto d = t.connect();
  d->useToken(token);
  EXPECT_EQ(d->request(request(ClientMessage::Kind::ping, "p")).type, ServerMessage::Kind::ack);
  // Three connections under one token are one device: the first in the table, named when it paired.
  EXPECT_EQ(t.server().connectedDevices(), (std::vector<QuibServer::ConnectedDevice>{{"Old name", token}}));
}

TEST(PairingTest, FiveWrongCodesLockTheConnectionNotOthers) {
  TestServer t;
  const std::string code = t.server().pairingCode();
  auto c = t.connect();
  for (int i = 0; i < 5; ++i) {
    auto reply = c->pair(otherCode(code), "x");
    EXPECT_EQ(reply.message, kWrongKey);
    EXPECT_EQ(reply.needsPairing, true);
    EXPECT_EQ(reply.requestId, std::nullopt);
  }
  auto sixth = c->pair(code, "x");
  EXPECT_EQ(sixth.type, ServerMessage::Kind::error);
  EXPECT_EQ(sixth.message, kWrongKey);
  auto fresh = t.connect();
  EXPECT_EQ(fresh->pair(code, "x").type, ServerMessage::Kind::paired);
}

TEST(PairingTest, NewCodeKeepsKeyedConnectionsAndGovernsNewPairings) {
  TestServer t;
  const std::string old = t.server().pairingCode();
  auto keyed = t.connect();
  keyed->usePairingCode(old);
  EXPECT_EQ(keyed->request(request(ClientMessage::Kind::ping, "1")).type, ServerMessage::Kind::ack);
  t.server().setPairingCode("000042");
  EXPECT_EQ(t.server().pairingCode(), "000042");
  EXPECT_EQ(keyed->request(request(ClientMessage::Kind::ping, "2")).type, ServerMessage::Kind::ack);
  // The old key still opens this connection's lines, but the pair request must name the new code.
  auto pairOld = request(ClientMessage::Kind::pair, "3");
  pairOld.code = old;
  EXPECT_EQ(keyed->request(pairOld).message, "코드가 맞지 않습니다");
  EXPECT_EQ(t.connect()->pair(old, "x").message, kWrongKey);
  EXPECT_EQ(t.connect()->pair("000042", "x").type, ServerMessage::Kind::paired);
}

TEST(PairingTest, CodesAreSixDigits) {
  for (int i = 0; i < 200; ++i) {
    ASSERT_THAT(QuibServer::makePairingCode(), testing::MatchesRegex("[0-9]{6}"));
  }
}

// Unpairing one device closes its connections and keeps the others; forgetting all closes
// everything. That the dropped tokens open nothing any more is HostilePeersTest's.
TEST(PairingTest, UnpairingClosesConnectionsAndEmptiesTheRegistry) {
  TestServer t;
  std::string token, other;
  auto a = t.connectPaired("A", &token);
  auto b = t.connect();
  b->useToken(token);
  b->request(request(ClientMessage::Kind::ping));
  auto keep = t.connectPaired("B", &other);
  t.server().disconnect(token);
  EXPECT_TRUE(a->waitForClose());
  EXPECT_TRUE(b->waitForClose());
  EXPECT_EQ(t.defaults().stringArray(DeviceRegistry::kTokensKey), std::vector<std::string>{other});
  EXPECT_EQ(t.defaults().stringDictionary(DeviceRegistry::kNamesKey),
            (std::map<std::string, std::string>{{other, "B"}}));
  EXPECT_EQ(keep->request(request(ClientMessage::Kind::ping, "still")).requestId, "still");
  // A token that is not stored: the registry stays.
  t.server().disconnect("NOT-STORED");
  EXPECT_EQ(t.defaults().stringArray(DeviceRegistry::kTokensKey), std::vector<std::string>{other});

  auto plain = t.connect();
  t.server().forgetPairedDevices();
  EXPECT_TRUE(keep->waitForClose());
  EXPECT_TRUE(plain->waitForClose());
  EXPECT_EQ(t.defaults().stringArray(DeviceRegistry::kTokensKey), std::vector<std::string>{});
  EXPECT_EQ(t.defaults().stringDictionary(DeviceRegistry::kNamesKey), (std::map<std::string, std::string>{}));
  ASSERT_TRUE(t.waitForCount(0));
}

// The names are a label store another program may write: one number anywhere in them makes every
// name absent (the device is then listed unnamed), never a crash or a wrong name.
TEST(PairingTest, NamesDictionaryWithANumberReadsEmpty) {
  TempDir dir;
  SqliteDefaults defaults(dir.path(), "quibbleton");
  DeviceRegistry registry(defaults);
  defaults.set(DeviceRegistry::kNamesKey, DefaultsValue::of(nlohmann::json{{"T", "A"}, {"x", "B"}}));
  EXPECT_EQ(registry.name("T"), "A");
  defaults.set(DeviceRegistry::kNamesKey, DefaultsValue::of(nlohmann::json{{"T", "A"}, {"x", 5}}));
  EXPECT_EQ(registry.name("T"), std::nullopt);
  EXPECT_TRUE(registry.names().empty());
}

TEST(PairingTest, AuthorizationRuleOnPairingKey) {
  TestServer t;
  RecordingActions actions;
  t.server().setActionPerformer(&actions);
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
    EXPECT_EQ(reply.message, kNeedsPairing);
    EXPECT_EQ(reply.needsPairing, true);
    EXPECT_EQ(reply.requestId, "r");
  }
  auto icon = request(ClientMessage::Kind::appIcon, "i");
  EXPECT_EQ(c->request(icon).type, ServerMessage::Kind::appIcon);
  // A paired token in the request serves it and authorizes the connection from then on.
  auto withToken = actionRequest("a1");
  withToken.token = token;
  auto served = c->request(withToken);
  EXPECT_EQ(served.type, ServerMessage::Kind::ack);
  EXPECT_EQ(served.ok, true);
  EXPECT_EQ(c->request(actionRequest("a2")).type, ServerMessage::Kind::ack);
  EXPECT_EQ(c->request(request(ClientMessage::Kind::clipboard)).type, ServerMessage::Kind::clipboard);
  // The connection was authorized without a token: listed without one.
  bool anonymous = false;
  for (const auto& d : t.server().connectedDevices()) anonymous |= !d.token;
  EXPECT_TRUE(anonymous);
}

TEST(PairingTest, ActionsRunInOrderWithOneAckEach) {
  TestServer t;
  RecordingActions actions;
  t.server().setActionPerformer(&actions);
  t.desktop().accessibility().setTrusted(false);
  std::string token;
  auto paired = t.connectPaired("A", &token);
  // A returning phone's first line is tried under the tokens off the queue; the actions that came
  // in the same write wait for that trial and then run in order, each once.
  auto c = t.connect();
  c->useToken(token);
  c->sendTogether({actionRequest("1"), actionRequest("2"), actionRequest("3")});
  for (int i = 1; i <= 3; ++i) {
    auto reply = c->readReply();
    EXPECT_EQ(reply.requestId, std::to_string(i));
    EXPECT_EQ(reply.message, "done " + std::to_string(i));
    EXPECT_EQ(reply.accessibilityGranted, false);
  }

  auto empty = request(ClientMessage::Kind::action, "e");
  auto reply = c->request(empty);
  EXPECT_EQ(reply.type, ServerMessage::Kind::error);
  EXPECT_EQ(reply.message, "동작이 비어 있음");
  EXPECT_EQ(reply.requestId, "e");
  EXPECT_EQ(reply.needsPairing, std::nullopt);
}

TEST(PairingTest, KeyedConnectionIgnoresOtherKeys) {
  TestServer t;
  std::string token;
  auto c = t.connectPaired("A", &token);
  // A line sealed under another key gets the error sealed under the connection's own key.
  c->useToken(token);
  c->send(request(ClientMessage::Kind::ping));
  c->usePairingCode(t.server().pairingCode());
  auto reply = c->readReply();
  EXPECT_EQ(reply.message, kWrongKey);
}

}  // namespace
}  // namespace quib::test
