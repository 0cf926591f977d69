// The listener, the greeting, framing and the plain fallback, through real TCP.
#include <gtest/gtest.h>

#include "crypto/Base64.h"
#include "server/QuibCodec.h"
#include "support/TestServer.h"

namespace quib::test {
namespace {

TEST(ListenerTest, GreetsWithPlainHelloAndFreshSalt) {
  TestServer t;
  t.desktop().host().setHostName("Studio");
  t.desktop().accessibility().setTrusted(false);
  QuibClient a, b;
  a.connect("127.0.0.1", t.port());
  b.connect("127.0.0.1", t.port());
  const ServerMessage& hello = a.hello();
  EXPECT_EQ(hello.type, ServerMessage::Kind::hello);
  EXPECT_EQ(hello.hostName, "Studio");
  EXPECT_EQ(hello.needsPairing, true);
  EXPECT_EQ(hello.accessibilityGranted, false);
  ASSERT_TRUE(hello.salt);
  EXPECT_EQ(hello.salt->size(), 24u);
  EXPECT_EQ(Base64::decode(*hello.salt)->size(), 16u);
  EXPECT_FALSE(hello.requestId || hello.ok || hello.token);
  EXPECT_NE(a.salt(), b.salt());
  t.desktop().host().setHostName(std::nullopt);
  EXPECT_EQ(t.connect()->hello().hostName, "Mac");
}

TEST(ListenerTest, ReportsReadyStateAndCounts) {
  TestServer t;
  EXPECT_EQ(t.states(), std::vector<std::string>{"대기 중 (포트 " + std::to_string(t.port()) + ")"});
  auto a = t.connect();
  ASSERT_TRUE(t.waitForCount(1));
  auto b = t.connect();
  ASSERT_TRUE(t.waitForCount(2));
  b->close();
  ASSERT_TRUE(t.waitForCount(1));
  t.server().stop();
  ASSERT_TRUE(t.waitForCount(0));
  EXPECT_EQ(t.states().back(), "중지됨");
  EXPECT_TRUE(a->waitForClose());
}

TEST(ListenerTest, PortTakenIsReported) {
  TestServer first;
  SqliteDefaults defaults(first.dataDir(), "other");
  VirtualDesktop desktop;
  MainQueue queue;
  QuibServer::Options options;
  options.port = first.port();
  options.advertise = false;
  QuibServer second(desktop.platform(), defaults, queue, options);
  std::vector<std::string> states;
  second.onStateChange = [&](const std::string& s) { states.push_back(s); };
  second.start();
  ASSERT_EQ(states.size(), 1u);
  EXPECT_EQ(states[0], "실패: Address already in use");
}

TEST(ListenerTest, PlainPingIsTheOnlyPlainRequest) {
  TestServer t;
  auto c = t.connect();
  c->sendRaw("{\"type\":\"ping\",\"requestId\":\"9\"}\n");
  EXPECT_EQ(c->readLine(), R"({"type":"ack","requestId":"9","ok":true})");
  c->sendRaw("{\"type\":\"ping\"}\n");
  EXPECT_EQ(c->readLine(), R"({"type":"ack","ok":true})");
  // Anything else plain is answered as HostilePeersTest's unopenable lines are.
}

TEST(ListenerTest, FramingAcrossWritesAndEmptyLines) {
  TestServer t;
  auto c = t.connect();
  c->sendRaw(
      "{\"type\":\"ping\",\"requestId\":\"1\"}\n{\"type\":\"ping\",\"requestId\":\"2\"}\n\n\n{\"type\":\"pi");
  EXPECT_EQ(c->readReply().requestId, "1");
  EXPECT_EQ(c->readReply().requestId, "2");
  c->sendRaw("ng\",\"requestId\":\"3\"}");
  c->sendRaw("\n");
  EXPECT_EQ(c->readReply().requestId, "3");
  // A final line followed by half-close is still answered.
  c->sendRaw("{\"type\":\"ping\",\"requestId\":\"4\"}\n");
  c->shutdownSend();
  EXPECT_EQ(c->readReply().requestId, "4");
  EXPECT_TRUE(c->waitForClose());
}

TEST(ListenerTest, SealedPingOnPairingKey) {
  TestServer t;
  auto c = t.connect();
  c->usePairingCode(t.server().pairingCode());
  auto reply = c->request(request(ClientMessage::Kind::ping, "s1"));
  EXPECT_EQ(reply.type, ServerMessage::Kind::ack);
  EXPECT_EQ(reply.requestId, "s1");
  EXPECT_EQ(reply.ok, true);
  // The same plain ping on a keyed connection is answered sealed.
  c->sendRaw("{\"type\":\"ping\",\"requestId\":\"p\"}\n");
  std::string line = c->readLine();
  EXPECT_TRUE(SecureChannel::isEncrypted(line));
}

}  // namespace
}  // namespace quib::test
