// What strangers on the network and careless phones can do to the server, through real TCP:
// revoked tokens, guesses per address and in all, the cost bounds on lines, the caps on
// unauthenticated connections and their replies.
#include <gtest/gtest.h>

#include <latch>
#include <semaphore>

#include "server/Connection.h"
#include "server/DeviceRegistry.h"
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

// Holds every action until released, so that a test can keep a reply back.
struct GatedActions : ActionPerformer {
  ActionResult perform(const QuibAction&) override {
    started.release();
    open.wait();
    return {true, "done"};
  }
  std::counting_semaphore<> started{0};
  std::latch open{1};
};

// Lines that open under no key are answered without their id and never count as guesses, with
// one exception only: a sealed box that opens under none of the keys.
TEST(HostilePeersTest, RevokedTokensAndUnopenableLinesAreNoGuesses) {
  TestServer t;
  std::string unpaired, forgotten, kept;
  t.connectPaired("A", &unpaired);
  t.server().disconnect(unpaired);
  EXPECT_EQ(DeviceRegistry(t.defaults()).revokedTokens(), std::vector<std::string>{unpaired});
  // Far more tries than the guard allows guesses, from one address and in all.
  for (int i = 0; i < 30; ++i) {
    auto c = t.connect();
    c->useToken(unpaired);
    auto reply = c->request(request(ClientMessage::Kind::ping, "p"));
    EXPECT_EQ(reply.message, kWrongKey);
    EXPECT_EQ(reply.needsPairing, true);
    for (const char* line :
         {"e:!!!!", "e:AAAA", "e:", "garbage", "{\"type\":\"Ping\",\"requestId\":\"4\"}",
          "{\"type\":\"action\",\"requestId\":\"3\",\"action\":{\"kind\":\"mute\",\"modifiers\":[]}}"}) {
      c->sendRaw(std::string(line) + "\n");
      auto answer = c->readReply();
      EXPECT_EQ(answer.message, kWrongKey) << line;
      EXPECT_EQ(answer.needsPairing, true);
      EXPECT_EQ(answer.requestId, std::nullopt);
    }
  }
  EXPECT_EQ(t.connect()->pair(t.server().pairingCode(), "A").type, ServerMessage::Kind::paired);

  // "Forget all" remembers every token it drops, and the list survives a restart of the server, as
  // do the devices paired since: a phone returns with its token alone.
  t.connectPaired("B", &forgotten);
  t.server().forgetPairedDevices();
  t.connectPaired("C", &kept);
  VirtualDesktop desktop;
  MainQueue queue;
  QuibServer::Options options;
  options.port = 0;
  options.advertise = false;
  QuibServer restarted(desktop.platform(), t.defaults(), queue, options);
  restarted.start();
  auto connect = [&](const std::string& token) {
    auto c = std::make_unique<QuibClient>();
    c->connect("127.0.0.1", restarted.boundPort());
    c->useToken(token);
    return c;
  };
  EXPECT_EQ(connect(forgotten)->request(request(ClientMessage::Kind::ping)).needsPairing, true);
  auto returning = connect(kept);
  EXPECT_EQ(returning->request(request(ClientMessage::Kind::clipboard)).type, ServerMessage::Kind::clipboard);
  EXPECT_EQ(restarted.connectedDevices(), (std::vector<QuibServer::ConnectedDevice>{{"C", kept}}));
  restarted.stop();
}

TEST(HostilePeersTest, GuessesAreBoundedPerAddressAndInAll) {
  TestServer t;
  std::string token;
  t.connectPaired("A", &token);
  // One address spends its own budget and is refused, even the right code; others are not.
  guess(t, "127.0.0.2", PairingGuard::kMaxFailuresPerSource);
  EXPECT_EQ(pairFrom(t, "127.0.0.2").message, kWrongKey);
  EXPECT_EQ(pairFrom(t, "127.0.0.3").type, ServerMessage::Kind::paired);
  // Its tokens still open, at a bounded rate; a line past the rate is not tried and must not
  // make the phone drop its token.
  t.clock().advance(PairingGuard::kRefusedTrialInterval);
  for (const bool tried : {true, false}) {
    auto phone = t.connectFrom("127.0.0.2");
    phone->useToken(token);
    auto reply = phone->request(request(ClientMessage::Kind::ping, "t"));
    EXPECT_EQ(reply.type, tried ? ServerMessage::Kind::ack : ServerMessage::Kind::error);
    EXPECT_EQ(reply.message, tried ? std::nullopt : std::optional<std::string>("잠시 후 다시 시도하세요"));
    EXPECT_EQ(reply.needsPairing, std::nullopt);
  }
  // Its budget comes back after the window.
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
  EXPECT_TRUE(t.server().pairingClosedUntil().has_value());
  EXPECT_EQ(pairFrom(t, "127.0.0.40").message, kWrongKey);
  auto returning = t.connectFrom("127.0.0.10");
  returning->useToken(token);
  EXPECT_EQ(returning->request(request(ClientMessage::Kind::ping, "t")).type, ServerMessage::Kind::ack);
  // The right code while pairing is closed is refused but charged to no one: once pairing opens,
  // that address pairs at once.
  t.clock().advance(1min);
  for (int i = 0; i < PairingGuard::kMaxFailuresPerSource; ++i)
    EXPECT_EQ(pairFrom(t, "127.0.0.41").message, kWrongKey);
  t.clock().advance(PairingGuard::kWindow - 1min);
  EXPECT_FALSE(t.server().pairingClosedUntil().has_value());
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
  EXPECT_FALSE(t.server().pairingClosedUntil().has_value());
  EXPECT_EQ(pairFrom(t, "127.0.0.2").type, ServerMessage::Kind::paired);
}

TEST(HostilePeersTest, LineSizeShapeAndReplyBounds) {
  TestServer t;
  std::string token;
  auto keyed = t.connectPaired("A", &token);
  const SymmetricKey key = SecureChannel::pairKey(t.server().pairingCode(), keyed->salt());
  // Too long on a keyed connection: the size error, but not "pair again".
  keyed->sendRaw(std::string(Connection::kMaxLineWithKey + 1, 'x') + "\n");
  auto oversized = keyed->readReply();
  EXPECT_EQ(oversized.message, kWrongKey);
  EXPECT_EQ(oversized.needsPairing, std::nullopt);
  // Nesting and element counts past what any request needs are unreadable, sealed or plain.
  std::string wide = "{\"type\":\"ping\",\"x\":[0";
  for (int i = 0; i < 5000; ++i) wide += ",0";
  for (const std::string& json :
       {"{\"type\":\"ping\",\"x\":" + std::string(5000, '[') + std::string(5000, ']') + "}", wide + "]}"}) {
    keyed->sendRaw(SecureChannel::sealText(json, key));
    EXPECT_EQ(keyed->readReply().message, kWrongKey);
    auto plain = t.connect();
    plain->sendRaw(json + "\n");
    EXPECT_EQ(plain->readReply().message, kWrongKey);
  }
  EXPECT_EQ(keyed->request(request(ClientMessage::Kind::ping, "after")).requestId, "after");

  // A returning phone's first line may carry a text of 20,000 four-byte characters...
  std::string text;
  for (int i = 0; i < 20000; ++i) text += "\xF0\x9F\x98\x80";
  auto returning = t.connect();
  returning->useToken(token);
  EXPECT_EQ(returning->request(request(ClientMessage::Kind::ping, text)).requestId, text);
  // Tokens are passed over on the line's first byte: one whose request opens with white space
  // is still found, one that opens to anything but an object is not a request.
  for (const auto& [json, id] :
       {std::pair{" \n{\"type\":\"ping\",\"requestId\":\"s\"}", std::optional<std::string>("s")},
        std::pair{"[{\"type\":\"ping\"}]", std::optional<std::string>()}}) {
    auto c = t.connect();
    c->sendRaw(SecureChannel::sealText(json, SecureChannel::tokenKey(token, c->salt())));
    c->useToken(token);
    auto reply = c->readReply();
    EXPECT_EQ(reply.requestId, id) << json;
    EXPECT_EQ(reply.message, id ? std::nullopt : std::optional<std::string>(kWrongKey));
  }
  // ...but a first line much longer than that is refused unopened, with one error, and the
  // connection lives.
  auto stranger = t.connect();
  stranger->sendRaw("e:" + std::string(Connection::kMaxLineBeforeKey, 'A') + "\n");
  auto refused = stranger->readReply();
  EXPECT_EQ(refused.message, kWrongKey);
  EXPECT_EQ(refused.needsPairing, true);
  stranger->sendRaw("{\"type\":\"ping\",\"requestId\":\"after\"}\n");
  EXPECT_EQ(stranger->readReply().requestId, "after");

  // A peer that never reads is cut off at the reply cap.
  asio::io_context io;
  asio::ip::tcp::socket s(io);
  s.open(asio::ip::tcp::v4());
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

TEST(HostilePeersTest, UnauthenticatedConnectionsShedTheBusiestAddress) {
  QuibServer::Options options;
  options.maxKeylessConnections = 4;
  TestServer t(options);
  auto keyed = t.connect();  // a connection with a key is never shed
  keyed->usePairingCode(t.server().pairingCode());
  keyed->request(request(ClientMessage::Kind::ping));
  auto slowPhone = t.connectFrom("127.0.0.2");  // greeted, has not answered yet
  std::vector<std::unique_ptr<QuibClient>> flood;
  for (int i = 0; i < 8; ++i) flood.push_back(t.connectFrom("127.0.0.3"));
  for (int i = 0; i < 5; ++i) EXPECT_TRUE(flood[i]->waitForClose(5s)) << i;
  EXPECT_EQ(slowPhone->pair(t.server().pairingCode(), "slow").type, ServerMessage::Kind::paired);
  flood.back()->sendRaw("{\"type\":\"ping\",\"requestId\":\"newest\"}\n");
  EXPECT_EQ(flood.back()->readReply().requestId, "newest");
  EXPECT_EQ(keyed->request(request(ClientMessage::Kind::ping, "k")).requestId, "k");
}

// Phones that send their last requests and end their stream linger until the replies are out,
// a large one included, and count against the cap meanwhile: past it the oldest are let go.
TEST(HostilePeersTest, EndedConnectionsFlushTheirRepliesWithinTheCap) {
  QuibServer::Options options;
  options.maxKeylessConnections = 3;
  TestServer t(options);
  GatedActions gate;
  t.server().setActionPerformer(&gate);
  std::filesystem::create_directories(t.desktop().files().onDisk("/Applications/Noise.app"));
  Image noise = solid(256, 256, kWhite);
  for (int y = 0; y < 256; ++y)
    for (int x = 0; x < 256; ++x)
      setPixel(noise, x, y,
               {static_cast<std::uint8_t>(x * 7 + y * 13), static_cast<std::uint8_t>(x * y), 90, 255});
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
