// What strangers and careless phones can do to the server over TCP: guesses per address and in all,
// the cost bounds on lines, the caps on connections without a key and on their replies.
#include <gtest/gtest.h>

#include <latch>
#include <random>
#include <semaphore>

#include "server/Connection.h"
#include "support/TestImages.h"
#include "support/TestServer.h"

namespace quib::test {
namespace {

using namespace std::chrono_literals;

// Spends n wrong-code guesses from one address, a fresh connection per five.
void guess(TestServer& t, const std::string& local, int n) {
  const std::string wrong = otherCode(t.server().pairingCode());
  std::unique_ptr<QuibClient> c;
  for (int i = 0; i < n; ++i) {
    if (i % 5 == 0) c = t.connectFrom(local);
    EXPECT_EQ(c->pair(wrong, "x").message, kWrongKey);
  }
}

ServerMessage pairFrom(TestServer& t, const std::string& local) {
  return t.connectFrom(local)->pair(t.server().pairingCode(), "phone");
}

struct GatedActions : ActionPerformer {
  ActionResult perform(const QuibAction&) override {
    started.release();
    open.wait();
    return {true, "done"};
  }
  std::counting_semaphore<> started{0};
  std::latch open{1};
};

TEST(HostilePeersTest, GuessesLineSizesAndShapesAreBounded) {
  TestServer t;
  std::string token;
  t.connectPaired("A", &token);
  // One address spends its own budget and is refused, even the right code; others are not.
  guess(t, "127.0.0.2", PairingGuard::kMaxFailuresPerSource);
  EXPECT_EQ(pairFrom(t, "127.0.0.2").message, kWrongKey);
  EXPECT_EQ(pairFrom(t, "127.0.0.3").type, ServerMessage::Kind::paired);
  // Its tokens still open, at a bounded rate; a line past it is not tried, nor told to pair again.
  t.clock().advance(PairingGuard::kRefusedTrialInterval);
  for (const char* expected : {R"({"type":"ack","requestId":"t","ok":true})",
                               R"({"type":"error","message":"잠시 후 다시 시도하세요"})"}) {
    auto phone = t.connectFrom("127.0.0.2");
    phone->useToken(token);
    EXPECT_EQ(wire(phone->request(request(ClientMessage::Kind::ping, "t"))), expected);
  }
  t.clock().advance(PairingGuard::kWindow);
  EXPECT_EQ(pairFrom(t, "127.0.0.2").type, ServerMessage::Kind::paired);

  // Many addresses together close pairing for everyone; tokens keep working.
  auto closePairing = [&](int a) {
    for (int spent = 0; spent < PairingGuard::kMaxFailures; ++a) {
      const int n = std::min(PairingGuard::kMaxFailuresPerSource - 1, PairingGuard::kMaxFailures - spent);
      guess(t, "127.0.0." + std::to_string(a), n);
      spent += n;
    }
  };
  closePairing(10);
  EXPECT_EQ(pairFrom(t, "127.0.0.40").message, kWrongKey);
  auto returning = t.connectFrom("127.0.0.10");
  returning->useToken(token);
  EXPECT_EQ(returning->request(request(ClientMessage::Kind::ping, "t")).type, ServerMessage::Kind::ack);
  // The right code while pairing is closed is refused but charged to no one.
  t.clock().advance(1min);
  for (int i = 0; i < PairingGuard::kMaxFailuresPerSource; ++i)
    EXPECT_EQ(pairFrom(t, "127.0.0.41").message, kWrongKey);
  t.clock().advance(PairingGuard::kWindow - 1min);
  EXPECT_EQ(pairFrom(t, "127.0.0.41").type, ServerMessage::Kind::paired);
  // A second lockout lasts twice as long.
  closePairing(50);
  t.clock().advance(PairingGuard::kWindow);
  EXPECT_EQ(pairFrom(t, "127.0.0.42").message, kWrongKey);
  t.clock().advance(PairingGuard::kWindow);
  EXPECT_EQ(pairFrom(t, "127.0.0.42").type, ServerMessage::Kind::paired);
  // A new code reopens pairing at once, per address too.
  guess(t, "127.0.0.2", PairingGuard::kMaxFailuresPerSource);
  closePairing(70);
  t.server().setPairingCode("123456");
  EXPECT_EQ(pairFrom(t, "127.0.0.2").type, ServerMessage::Kind::paired);

  // Too long on a keyed connection: the size error, not "pair again"; a line at the bound is read.
  auto keyed = t.connectPaired("B");
  keyed->sendRaw(std::string(Connection::kMaxLineWithKey, 'x') + "\n");
  EXPECT_EQ(wire(keyed->readReply()), kPairAgain);
  keyed->sendRaw(std::string(Connection::kMaxLineWithKey + 1, 'x') + "\n");
  EXPECT_EQ(wire(keyed->readReply()), R"({"type":"error","message":")" + std::string(kWrongKey) + "\"}");
  EXPECT_EQ(keyed->request(request(ClientMessage::Kind::ping, "after")).requestId, "after");

  // A returning phone's first line may carry a text of 20,000 four-byte characters...
  std::string text;
  for (int i = 0; i < 20000; ++i) text += "\xF0\x9F\x98\x80";
  returning = t.connect();
  returning->useToken(token);
  EXPECT_EQ(returning->request(request(ClientMessage::Kind::ping, text)).requestId, text);
  // ...but a much longer first line is refused unopened, with one error, and the connection lives.
  auto stranger = t.connect();
  stranger->sendRaw("e:" + std::string(Connection::kMaxLineBeforeKey, 'A') + "\n");
  EXPECT_EQ(wire(stranger->readReply()), kPairAgain);
  stranger->sendRaw("{\"type\":\"ping\",\"requestId\":\"after\"}\n");
  EXPECT_EQ(stranger->readReply().requestId, "after");

  // A peer that never reads is cut off at the reply cap.
  asio::io_context io;
  asio::ip::tcp::socket s(io, asio::ip::tcp::v4());
  s.set_option(asio::socket_base::receive_buffer_size(4096));
  s.connect({asio::ip::make_address("127.0.0.1"), t.port()});
  // One chunk of 2-byte garbage lines: 32,768 error replies of about 80 bytes each.
  std::string chunk;
  while (chunk.size() < 65536) chunk += "x\n";
  asio::write(s, asio::buffer(chunk));
  std::size_t received = 0;
  std::array<char, 65536> buffer;
  asio::error_code ec;
  while (!ec) received += s.read_some(asio::buffer(buffer), ec);
  EXPECT_LT(received, 1024u * 1024u);  // far less than the 2.6 MB it asked for
}

// Connections without a key past the cap shed the busiest address first, never a keyed one. Phones
// that end their stream linger until their replies are out, and count against the cap meanwhile.
TEST(HostilePeersTest, ConnectionsPastTheCapAreShed) {
  QuibServer::Options options;
  options.maxKeylessConnections = 3;
  TestServer t(options);
  auto keyed = t.connect();
  keyed->usePairingCode(t.server().pairingCode());
  keyed->request(request(ClientMessage::Kind::ping));
  auto slowPhone = t.connectFrom("127.0.0.2");  // greeted, has not answered yet
  std::vector<std::unique_ptr<QuibClient>> flood;
  for (int i = 0; i < 8; ++i) flood.push_back(t.connectFrom("127.0.0.3"));
  for (int i = 0; i < 6; ++i) EXPECT_TRUE(flood[i]->waitForClose(5s)) << i;
  EXPECT_EQ(slowPhone->pair(t.server().pairingCode(), "slow").type, ServerMessage::Kind::paired);
  flood.back()->sendRaw("{\"type\":\"ping\",\"requestId\":\"newest\"}\n");
  EXPECT_EQ(flood.back()->readReply().requestId, "newest");
  EXPECT_EQ(keyed->request(request(ClientMessage::Kind::ping, "k")).requestId, "k");
  flood.clear();
  slowPhone.reset();
  ASSERT_TRUE(t.waitForCount(1));

  GatedActions gate;
  t.server().setActionPerformer(&gate);
  std::filesystem::create_directories(t.desktop().files().onDisk("/Applications/Noise.app"));
  Image noise = solid(256, 256, kWhite);
  std::minstd_rand random(7);
  for (std::size_t i = 0; i < noise.rgba.size(); ++i)
    if (i % 4 != 3) noise.rgba[i] = static_cast<std::uint8_t>(random());
  t.desktop().applications().setIcon("/Applications/Noise.app", pngBytes(noise));
  auto iconRequest = request(ClientMessage::Kind::appIcon, "icon");
  iconRequest.appName = "Noise";
  iconRequest.iconSize = 1024;
  std::vector<std::unique_ptr<QuibClient>> ended;
  for (int i = 0; i < 5; ++i) {
    ended.push_back(t.connectPaired("p"));
    if (i == 4) ended.back()->send(iconRequest);
    ended.back()->send(actionRequest(std::to_string(i)));
    ended.back()->shutdownSend();
  }
  ASSERT_TRUE(gate.started.try_acquire_for(10s));
  for (int i = 0; i < 2; ++i) EXPECT_TRUE(ended[i]->waitForClose(5s)) << i;
  auto icon = ended[4]->readReply();
  EXPECT_EQ(icon.requestId, "icon");
  EXPECT_EQ(icon.ok, true);
  gate.open.count_down();
  for (int i = 2; i < 5; ++i) {
    auto reply = ended[i]->readReply();
    EXPECT_EQ(reply.requestId, std::to_string(i));
    EXPECT_EQ(reply.message, "done");
    EXPECT_TRUE(ended[i]->waitForClose(5s));
  }
}

}  // namespace
}  // namespace quib::test
