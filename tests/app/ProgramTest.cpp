// The quibbleton program end to end, also under rough handling: out of descriptors, killed at any
// moment. ("q" and "1" are typed into its terminal menu.)
#include <gtest/gtest.h>
#include <signal.h>

#include <random>
#include <thread>

#include "support/ChildProcess.h"
#include "support/TempDir.h"
#include "support/TestServer.h"

namespace quib::test {
namespace {

using namespace std::chrono_literals;

std::vector<std::string> serverArgs(const TempDir& data) {
  return {QUIBBLETON_BINARY, "--port", "0", "--data-dir", data.path().string()};
}

// As a service manager runs it: its log never holds the pairing code, the end of its input (without
// --exit-on-eof) does not end it, and SIGTERM ends it with 0.
TEST(ProgramTest, UnderAServiceManagerTheCodeStaysOutOfTheLogAndSigtermEndsWithZero) {
  TempDir data;
  ChildProcess p(serverArgs(data), ChildProcess::Output::pipe);
  const StartedProgram s = readStart(p);
  ASSERT_NE(s.port, 0) << p.output();
  EXPECT_EQ(s.code, "******");
  p.closeInput();
  EXPECT_EQ(QuibClient().connect("127.0.0.1", s.port).type, ServerMessage::Kind::hello);
  p.signal(SIGTERM);
  EXPECT_EQ(p.wait(), 0) << p.output();
}

TEST(ProgramTest, OutOfDescriptorsKeepsServingAndResumes) {
  TempDir data;
  auto args = serverArgs(data);
  args.insert(args.begin(), {"/usr/bin/prlimit", "--nofile=48:48", "--"});
  ChildProcess p(args);
  const StartedProgram s = readStart(p);
  ASSERT_NE(s.port, 0) << p.output();
  QuibClient phone;
  phone.connect("127.0.0.1", s.port);
  ASSERT_EQ(phone.pair(s.code, "p").type, ServerMessage::Kind::paired);
  // Far more connections than descriptors: the kernel queues them, the server cannot take them.
  asio::io_context io;
  std::vector<asio::ip::tcp::socket> flood;
  for (int i = 0; i < 80; ++i) {
    flood.emplace_back(io);
    flood.back().connect({asio::ip::make_address("127.0.0.1"), s.port});
  }
  EXPECT_EQ(phone.request(request(ClientMessage::Kind::ping, "still here")).requestId, "still here");
  flood.clear();
  // Descriptors come back as the flood goes; a newcomer is greeted again.
  QuibClient newcomer;
  EXPECT_EQ(newcomer.connect("127.0.0.1", s.port, 15s).type, ServerMessage::Kind::hello);
  p.write("q\n");
  EXPECT_EQ(p.wait(), 0);
}

TEST(ProgramTest, KillAtAnyMomentLosesNoAcknowledgedToken) {
  TempDir data;
  std::vector<std::string> acknowledged;
  std::mt19937 random(15);
  for (int round = 0; round < 12; ++round) {
    ChildProcess p(serverArgs(data));
    StartedProgram s = readStart(p);
    ASSERT_NE(s.port, 0) << "round " << round << ": the registry did not open\n" << p.output();
    // Every token acknowledged so far still opens lines.
    for (const auto& token : acknowledged) {
      QuibClient phone;
      phone.connect("127.0.0.1", s.port);
      phone.useToken(token);
      EXPECT_EQ(phone.request(request(ClientMessage::Kind::ping, "r")).type, ServerMessage::Kind::ack)
          << "round " << round;
    }
    // Pairings, unpairings and name changes in flight when the kill comes.
    QuibClient phones[3];
    ClientMessage pair = request(ClientMessage::Kind::pair);
    pair.code = s.code;
    pair.deviceName = "phone " + std::to_string(round);
    for (auto& phone : phones) {
      phone.connect("127.0.0.1", s.port);
      phone.usePairingCode(s.code);
    }
    ServerMessage reply = phones[0].request(pair);
    ASSERT_EQ(reply.type, ServerMessage::Kind::paired);
    acknowledged.push_back(*reply.token);
    phones[1].send(pair);
    phones[2].send(pair);
    const bool unpairing = round % 3 == 1;
    if (unpairing) p.write("1\n");  // unpair the first listed device, maybe mid-write
    // The kill lands at a different point of that work every round.
    std::this_thread::sleep_for(
        std::chrono::microseconds(std::uniform_int_distribution<int>(0, 20000)(random)));
    p.signal(SIGKILL);
    EXPECT_EQ(p.wait(), 128 + SIGKILL);
    if (unpairing) acknowledged.clear();  // one of them may have been unpaired on purpose
    // A reply that reached the phone before the kill is an acknowledged token too.
    for (int i = 1; i < 3; ++i) {
      try {
        auto late = phones[i].readReply(500ms);
        if (late.type == ServerMessage::Kind::paired && late.token && !unpairing)
          acknowledged.push_back(*late.token);
      } catch (const ClientError&) {
      }
    }
  }
}

}  // namespace
}  // namespace quib::test
