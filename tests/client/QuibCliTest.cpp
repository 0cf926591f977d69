// quib against a running quibbleton on loopback, whose virtual desktop prints every effect.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <thread>

#include "client/QuibClient.h"
#include "icons/ImageCodec.h"
#include "support/ChildProcess.h"
#include "support/TempDir.h"
#include "support/TestImages.h"

namespace quib::test {
namespace {

TEST(QuibCliTest, PairDriveQueryAndRefusals) {
  TempDir data, config;
  // The program's virtual desktop keeps its disk under DATA-DIR/virtual-desktop.
  const auto bundle = data.path() / "virtual-desktop/Applications/Safari.app";
  std::filesystem::create_directories(bundle);
  std::ofstream(bundle / "icon.png", std::ios::binary) << pngBytes(solid(64, 64, kRed));
  auto server = std::make_unique<ChildProcess>(
      std::vector<std::string>{QUIBBLETON_BINARY, "--port", "0", "--data-dir", data.path().string()});
  const StartedProgram started = readStart(*server);
  ASSERT_NE(started.port, 0);
  const std::string port = std::to_string(started.port), code = started.code;
  struct Run {
    int status;
    std::string output;
  };
  auto quib = [&](std::vector<std::string> args) {
    args.insert(args.begin(), {QUIB_BINARY, "--config-dir", config.path().string(), "--timeout", "10"});
    ChildProcess p(args);
    const int status = p.wait();
    return Run{status, p.output()};
  };

  EXPECT_EQ(quib({"key", "c"}).status, 3);  // not paired yet
  const std::string wrongCode = code == "000000" ? "111111" : "000000";
  EXPECT_EQ(quib({"pair", wrongCode, "--host", "127.0.0.1", "--port", port}).status, 1);
  auto paired = quib({"pair", code, "--host", "127.0.0.1", "--port", port, "--name", "cli"});
  ASSERT_EQ(paired.status, 0) << paired.output;
  char host[256] = {};  // the name the computer gave, as stored for later runs
  gethostname(host, sizeof host - 1);
  EXPECT_EQ(paired.output, "페어링됨: " + std::string(host) + "\n");
  auto key = quib({"key", "c", "--mod", "command"});
  EXPECT_EQ(key.status, 0);
  EXPECT_EQ(key.output, "command c\n");
  EXPECT_TRUE(server->waitFor("효과: key down 8 flags command"));
  EXPECT_EQ(quib({"type", "héllo"}).output, "입력함 (5자)\n");
  EXPECT_TRUE(server->waitFor("효과: clipboard héllo"));
  auto status = quib({"status"});
  EXPECT_NE(status.output.find("127.0.0.1:" + port), std::string::npos);
  EXPECT_NE(status.output.find("마지막 결과: 입력함 (5자)"), std::string::npos);
  EXPECT_EQ(quib({"launch", "Nowhere"}).status, 1);  // a refusal from the computer
  EXPECT_EQ(quib({"pause"}).status, 0);
  EXPECT_EQ(quib({"key", "a"}).status, 3);
  EXPECT_EQ(quib({"resume"}).status, 0);
  EXPECT_EQ(quib({"key", "a"}).status, 0);

  const std::string out = (config.path() / "safari.png").string();
  auto icon = quib({"icon", "app", "Safari", "--size", "96", "-o", out});
  ASSERT_EQ(icon.status, 0) << icon.output;
  std::ifstream f(out, std::ios::binary);
  auto image = ImageCodec::decode(std::string(std::istreambuf_iterator<char>(f), {}));
  EXPECT_EQ(image ? image->width : 0, 96);
  EXPECT_EQ(quib({"apps"}).output, "Safari\n1개\n");
  EXPECT_EQ(quib({"apps", "--check", "Safari", "--check", "Nope"}).output, "Safari\n1개\n");
  const std::string added = quib({"snippet", "add", "Greeting", "hi there", "--clipboard"}).output;
  EXPECT_NE(quib({"snippet", "list"}).output.find("\tGreeting\tclipboard\thi there\n"), std::string::npos);
  // Running and deleting a snippet once crashed, every time.
  const std::string id = added.substr(5, 36);
  EXPECT_EQ(quib({"snippet", "run", id}).status, 0) << added;
  EXPECT_TRUE(server->waitFor("효과: clipboard hi there"));
  EXPECT_EQ(quib({"snippet", "delete", id}).status, 0);
  EXPECT_EQ(quib({"snippet", "list"}).output, "");

  // Bytes that are not UTF-8 get one line, and exit 2 as usage errors do.
  auto latin1 = quib({"type", "caf\xE9"});
  EXPECT_EQ(latin1.status, 2);
  EXPECT_EQ(std::count(latin1.output.begin(), latin1.output.end(), '\n'), 1) << latin1.output;
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"no-such-command"}, {"volume", "sideways"}})
    EXPECT_EQ(quib(args).status, 2) << args[0];
  server.reset();  // nobody listens there any more
  EXPECT_EQ(quib({"pair", code, "--host", "127.0.0.1", "--port", port}).status, 4);
}

// A peer that greets and then trickles a reply, a byte every 20 ms, without ever finishing it.
TEST(QuibClientDeadlineTest, TricklingPeerCannotStretchTheDeadline) {
  asio::io_context io;
  asio::ip::tcp::acceptor acceptor(io, {asio::ip::make_address("127.0.0.1"), 0});
  std::atomic<bool> done{false};
  std::thread peer([&] {
    auto s = acceptor.accept();
    asio::error_code ec;
    asio::write(s, asio::buffer(std::string(R"({"type":"hello","salt":"AAAAAAAAAAAAAAAAAAAAAA=="})") + "\n"),
                ec);
    for (int i = 0; i < 400 && !done && !ec; ++i) {
      asio::write(s, asio::buffer("x", 1), ec);
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  });
  QuibClient client;
  client.connect("127.0.0.1", acceptor.local_endpoint().port());
  EXPECT_THROW(client.readLine(std::chrono::milliseconds(300)), ClientTimeout);
  done = true;
  peer.join();
}

}  // namespace
}  // namespace quib::test
