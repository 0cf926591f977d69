// The listener, the greeting, framing, the plain ping and the state reports, through real TCP.
#include <gtest/gtest.h>

#include "crypto/Base64.h"
#include "server/LineBuffer.h"
#include "support/TestServer.h"

namespace quib::test {
namespace {

using Lines = std::vector<std::string>;

TEST(ListenerTest, GreetingFramingAndReports) {
  TestServer t;
  EXPECT_EQ(t.states(), Lines{"대기 중 (포트 " + std::to_string(t.port()) + ")"});
  {  // a second server on the same port says why it cannot serve
    SqliteDefaults defaults(t.dataDir(), "other");
    VirtualDesktop desktop;
    MainQueue queue;
    QuibServer::Options options;
    options.port = t.port();
    options.advertise = false;
    QuibServer second(desktop.platform(), defaults, queue, options);
    Lines states;
    second.onStateChange = [&](const std::string& s) { states.push_back(s); };
    second.start();
    EXPECT_EQ(states, Lines{"실패: Address already in use"});
  }
  t.desktop().host().setHostName("Studio");
  t.desktop().accessibility().setTrusted(false);
  auto a = t.connect(), b = t.connect();
  const ServerMessage& hello = a->hello();
  EXPECT_EQ(hello.type, ServerMessage::Kind::hello);
  EXPECT_EQ(hello.hostName, "Studio");
  EXPECT_EQ(hello.needsPairing, true);
  EXPECT_EQ(hello.accessibilityGranted, false);
  EXPECT_EQ(Base64::decode(hello.salt.value_or("-"))->size(), 16u);
  EXPECT_FALSE(hello.requestId || hello.ok || hello.token);
  EXPECT_NE(a->salt(), b->salt());
  ASSERT_TRUE(t.waitForCount(2));

  // A plain ping is the one plain request (anything else plain is HostilePeersTest's); lines may
  // split across writes, and empty lines are skipped.
  a->sendRaw("{\"type\":\"ping\",\"requestId\":\"1\"}\n\n\n{\"type\":\"ping\"}\n{\"type\":\"pi");
  EXPECT_EQ(a->readLine(), R"({"type":"ack","requestId":"1","ok":true})");
  EXPECT_EQ(a->readLine(), R"({"type":"ack","ok":true})");
  a->sendRaw("ng\",\"requestId\":\"3\"}");
  a->sendRaw("\n");
  EXPECT_EQ(a->readReply().requestId, "3");
  a->sendRaw("{\"type\":\"ping\",\"requestId\":\"4\"}\n");
  a->shutdownSend();  // a last line followed by a half-close is still answered
  EXPECT_EQ(a->readReply().requestId, "4");
  EXPECT_TRUE(a->waitForClose());

  // On a keyed connection even a plain ping is answered sealed.
  b->usePairingCode(t.server().pairingCode());
  EXPECT_EQ(b->request(request(ClientMessage::Kind::ping, "s")).ok, true);
  b->sendRaw("{\"type\":\"ping\",\"requestId\":\"p\"}\n");
  EXPECT_TRUE(SecureChannel::isEncrypted(b->readLine()));
  t.desktop().host().setHostName(std::nullopt);
  EXPECT_EQ(t.connect()->hello().hostName, "Mac");

  // Count reports are coalesced: one per connect and one per close would be 200.
  const std::size_t before = t.counts().size();
  for (int i = 0; i < 100; ++i) t.connect()->close();
  t.server().stop();
  ASSERT_TRUE(t.waitForCount(0));
  EXPECT_LT(t.counts().size() - before, 40u);
  EXPECT_EQ(t.states().back(), "중지됨");
  EXPECT_TRUE(b->waitForClose());
}

TEST(LineBufferTest, SplitsChunksAndDropsOversizedLines) {
  LineBuffer b(16);
  Lines lines;
  int oversized = 0;
  auto feed = [&](std::string_view data) {
    b.append(
        data, [&](std::string_view l) { lines.emplace_back(l); }, [&] { ++oversized; });
  };
  feed("one\ntw");
  feed("o\n\n\nx\r\n");  // empty lines dropped, a carriage return kept
  EXPECT_EQ(lines, (Lines{"one", "two", "x\r"}));
  EXPECT_EQ(b.pendingBytes(), 0u);
  feed("ok\n0123456789");
  feed("0123456789");  // past the cap: dropped, tail memory released
  EXPECT_EQ(oversized, 1);
  EXPECT_EQ(b.pendingBytes(), 0u);
  feed(std::string(100000, 'x'));  // still the same line
  EXPECT_EQ(oversized, 1);
  feed("rest\nafter\n");
  EXPECT_EQ(lines.back(), "after");
  EXPECT_EQ(lines.size(), 5u);
  feed(std::string(17, 'y') + "\nz\n" + std::string(16, 'w') + "\ntail");  // one oversized, one at the cap
  EXPECT_EQ(oversized, 2);
  EXPECT_EQ(lines.back(), std::string(16, 'w'));
  EXPECT_EQ(b.pendingBytes(), 4u);
}

}  // namespace
}  // namespace quib::test
