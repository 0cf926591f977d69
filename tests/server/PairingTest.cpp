// Over TCP: the listener, greeting and framing; pairing, tokens, the device registry, authorization.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "crypto/Base64.h"
#include "server/DeviceRegistry.h"
#include "support/TestServer.h"

namespace quib::test {
namespace {

using Names = std::map<std::string, std::string>;
using Tokens = std::vector<std::string>;
using Devices = std::vector<QuibServer::ConnectedDevice>;

struct RecordingActions : ActionPerformer {
  ActionResult perform(const QuibAction&) override { return {true, "done " + std::to_string(++performed)}; }
  std::atomic<int> performed = 0;
};

TEST(ListenerTest, GreetingFramingAndReports) {
  TestServer t;
  QuibServer::Options taken;  // a second server on the same port says why it cannot serve
  taken.port = t.port();
  EXPECT_EQ(TestServer(taken).states(), std::vector<std::string>{"실패: Address already in use"});
  t.desktop().host().setHostName("Studio");
  t.desktop().accessibility().setTrusted(false);
  auto a = t.connect(), b = t.connect();
  EXPECT_EQ(wire(a->hello()), R"({"type":"hello","hostName":"Studio","needsPairing":true,)"
                              R"("accessibilityGranted":false,"salt":")" +
                                  Base64::encode(a->salt()) + "\"}");
  EXPECT_NE(a->salt(), b->salt());

  // A plain ping is the one plain request; lines may split across writes, empty ones are skipped.
  a->sendRaw("{\"type\":\"ping\",\"requestId\":\"1\"}\n\n\n{\"type\":\"ping\"}\n{\"type\":\"pi");
  EXPECT_EQ(a->readLine(), R"({"type":"ack","requestId":"1","ok":true})");
  EXPECT_EQ(a->readLine(), R"({"type":"ack","ok":true})");
  a->sendRaw("ng\",\"requestId\":\"3\"}\n");
  EXPECT_EQ(a->readReply().requestId, "3");

  t.server().stop();
  ASSERT_TRUE(t.waitForCount(0));
  EXPECT_EQ(t.states().back(), "중지됨");
  EXPECT_TRUE(b->waitForClose());
}

TEST(PairingTest, PairReturnRenameUnpairAndRevoke) {
  TestServer t;
  t.desktop().host().setHostName("Studio");
  auto first = t.connect();
  auto reply = first->pair(t.server().pairingCode(), "Pixel");
  // Upper-case hexadecimal, version 4, RFC 4122 variant.
  const std::string token = reply.token.value_or("");
  EXPECT_THAT(token,
              testing::MatchesRegex("[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}"));
  EXPECT_EQ(wire(reply), R"({"type":"paired","hostName":"Studio","token":")" + token +
                             R"(","requestId":"pair","ok":true,"accessibilityGranted":true})");

  // A returning phone needs no code, and a name in its first line replaces the stored one.
  auto renamed = t.connect();
  renamed->useToken(token);
  auto clip = request(ClientMessage::Kind::clipboard, "c1");
  clip.deviceName = "New name";
  EXPECT_EQ(renamed->request(clip).type, ServerMessage::Kind::clipboard);
  EXPECT_EQ(t.defaults().stringArray(DeviceRegistry::kTokensKey), Tokens{token});
  EXPECT_EQ(t.defaults().stringDictionary(DeviceRegistry::kNamesKey), (Names{{token, "New name"}}));

  auto nameless = t.connect();
  auto second = nameless->pair(t.server().pairingCode(), std::nullopt);
  const std::string other = second.token.value_or("");
  // Unpairing one device closes its connections and keeps the others.
  t.server().disconnect(token);
  for (auto* c : {first.get(), renamed.get()}) EXPECT_TRUE(c->waitForClose());
  EXPECT_EQ(t.defaults().stringArray(DeviceRegistry::kTokensKey), Tokens{other});
  EXPECT_EQ(t.defaults().stringDictionary(DeviceRegistry::kNamesKey), Names{});
  EXPECT_EQ(t.server().connectedDevices(), (Devices{{"이름 없는 기기", other}}));
  EXPECT_EQ(nameless->request(request(ClientMessage::Kind::ping, "still")).requestId, "still");

  auto unkeyed = t.connect();
  t.server().forgetPairedDevices();
  EXPECT_TRUE(nameless->waitForClose());
  EXPECT_TRUE(unkeyed->waitForClose());
  EXPECT_EQ(t.defaults().stringArray(DeviceRegistry::kTokensKey), Tokens{});
  EXPECT_EQ(t.defaults().stringDictionary(DeviceRegistry::kNamesKey), Names{});
  ASSERT_TRUE(t.waitForCount(0));

  // Phones still using an unpaired token, and lines that open under no key, are told to pair again
  // and never count as guesses: only a sealed box that opens under none of the keys does.
  for (int i = 0; i < 30; ++i) {
    auto c = t.connect();
    c->useToken(i % 2 ? token : other);
    EXPECT_EQ(wire(c->request(request(ClientMessage::Kind::ping, "p"))), kPairAgain);
    for (const char* line :
         {"e:!!!!", "e:AAAA", "garbage",
          "{\"type\":\"action\",\"requestId\":\"3\",\"action\":{\"kind\":\"mute\",\"modifiers\":[]}}"}) {
      c->sendRaw(std::string(line) + "\n");
      EXPECT_EQ(wire(c->readReply()), kPairAgain) << line;
    }
  }
  EXPECT_EQ(t.connect()->pair(t.server().pairingCode(), "A").type, ServerMessage::Kind::paired);
}

TEST(PairingTest, WrongCodesNewCodesAndAuthorization) {
  for (int i = 0; i < 200; ++i) ASSERT_THAT(QuibServer::makePairingCode(), testing::MatchesRegex("[0-9]{6}"));
  TestServer t;
  const std::string code = t.server().pairingCode();
  auto keyed = t.connect();
  keyed->usePairingCode(code);
  EXPECT_EQ(keyed->request(request(ClientMessage::Kind::ping, "1")).type, ServerMessage::Kind::ack);
  // Five wrong keys lock that connection, even against the right code.
  auto c = t.connect();
  for (int i = 0; i < 5; ++i) EXPECT_EQ(wire(c->pair(otherCode(code), "x")), kPairAgain);
  EXPECT_EQ(wire(c->pair(code, "x")), kPairAgain);
  // A new code keeps keyed connections and governs every pair request from then on.
  t.server().setPairingCode("000042");
  EXPECT_EQ(keyed->request(request(ClientMessage::Kind::ping, "2")).type, ServerMessage::Kind::ack);
  EXPECT_EQ(t.connect()->pair(code, "x").message, kWrongKey);
  auto fresh = t.connect()->pair("000042", "x");
  ASSERT_EQ(fresh.type, ServerMessage::Kind::paired);

  // Authorization asks for a token, not only the pairing key.
  RecordingActions actions;
  t.server().setActionPerformer(&actions);
  t.desktop().accessibility().setTrusted(false);
  const std::string token = *fresh.token;
  c = t.connect();
  c->usePairingCode(t.server().pairingCode());
  for (auto type :
       {ClientMessage::Kind::action, ClientMessage::Kind::clipboard, ClientMessage::Kind::appList}) {
    auto m = actionRequest("r");
    m.type = type;
    EXPECT_EQ(wire(c->request(m)),
              R"({"type":"error","requestId":"r","message":"페어링이 필요합니다","needsPairing":true})");
  }
  EXPECT_EQ(c->request(request(ClientMessage::Kind::appIcon)).type, ServerMessage::Kind::appIcon);
  // A paired token in a request serves it and authorizes the connection from then on.
  auto withToken = actionRequest("a1");
  withToken.token = token;
  EXPECT_EQ(c->request(withToken).message, "done 1");
  EXPECT_EQ(c->request(actionRequest("a2")).message, "done 2");

  // A returning phone's first line is tried under the tokens off the queue; the actions that came
  // in the same write wait for that trial and then run in order, each once.
  auto d = t.connect();
  d->useToken(token);
  d->sendTogether({actionRequest("1"), actionRequest("2"), actionRequest("3")});
  for (int i = 1; i <= 3; ++i) {
    EXPECT_EQ(wire(d->readReply()), R"({"type":"ack","requestId":")" + std::to_string(i) +
                                        R"(","ok":true,"message":"done )" + std::to_string(i + 2) +
                                        R"(","accessibilityGranted":false})");
  }
  EXPECT_EQ(wire(d->request(request(ClientMessage::Kind::action, "e"))),
            R"({"type":"error","requestId":"e","message":"동작이 비어 있음"})");
}

}  // namespace
}  // namespace quib::test
