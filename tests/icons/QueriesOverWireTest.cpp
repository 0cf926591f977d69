// The query requests over TCP, answered from the virtual desktop and a local HTTPS site.
#include <gtest/gtest.h>

#include "support/TestHttpsServer.h"
#include "support/TestImages.h"
#include "support/TestServer.h"

namespace quib::test {
namespace {

using Names = std::vector<std::string>;
using Kind = ClientMessage::Kind;

TEST(QueriesOverWireTest, AppsAndSites) {
  TestHttpsServer site;
  TestServer t{{}, true, {.caFile = site.caFile(), .connectTo = site.connectTo(), .publicLoopbackPorts = {}}};
  auto c = t.connect();
  c->usePairingCode(t.server().pairingCode());  // no pairing needed for these
  for (const char* path :
       {"/Applications/Safari.app", "/Applications/zed.app", "/System/Applications/Notes.app",
        "/Users/me/Applications/Safari.app", "/Users/me/Applications/Alpha.app"})
    std::filesystem::create_directories(t.desktop().files().onDisk(path));
  for (const char* path : {"/Applications/Safari.app", "/System/Applications/Notes.app"})
    t.desktop().applications().setIcon(path, pngBytes(solid(512, 512, kRed)));
  // Cold icons are rendered off the server queue, yet one phone still reads its replies in the order
  // it asked; a request without iconSize gets 256 pixels.
  auto safari = request(Kind::appIcon, "icon-1"), notes = request(Kind::appIcon, "icon-2");
  safari.appName = "Safari";
  notes.appName = "Notes";
  notes.iconSize = 48;
  for (const auto& m : {safari, request(Kind::ping, "ping-1"), notes, request(Kind::ping, "ping-2"), safari,
                        request(Kind::appIcon, "none")})
    c->send(m);  // the second Safari, cached by now or not, still comes in its place
  std::vector<ServerMessage> replies;
  Names ids;
  for (int i = 0; i < 6; ++i) {
    replies.push_back(c->readReply(std::chrono::seconds(30)));
    ids.push_back(replies.back().requestId.value_or(""));
  }
  EXPECT_EQ(ids, (Names{"icon-1", "ping-1", "icon-2", "ping-2", "icon-1", "none"}));
  EXPECT_EQ(std::tuple(replies[0].type, replies[0].ok, replies[0].appName),
            std::tuple(ServerMessage::Kind::appIcon, true, "Safari"));
  EXPECT_EQ(fromBase64(replies[0].iconPNGBase64).width, 256);
  EXPECT_EQ(fromBase64(replies[2].iconPNGBase64).width, 48);
  EXPECT_EQ(replies[4].iconPNGBase64, replies[0].iconPNGBase64);
  EXPECT_EQ(std::tuple(replies[5].ok, replies[5].appName, replies[5].iconPNGBase64.has_value()),
            std::tuple(false, "", false));

  auto check = request(Kind::appCheck, "c");
  check.appNames = Names(QuibServer::kMaxAppNames + 1, "Notes");
  auto tooMany = c->request(check);
  EXPECT_EQ(std::tuple(tooMany.type, tooMany.requestId, tooMany.message),
            std::tuple(ServerMessage::Kind::error, "c", "앱 이름이 너무 많습니다 (최대 256개)"));

  EXPECT_EQ(t.connectPaired("phone")->request(request(Kind::appList, "l")).installedApps,
            (Names{"Alpha", "Notes", "Safari", "zed"}));

  site.route("/", 200, R"(<link rel="apple-touch-icon" href="/touch.png" sizes="180x180">)");
  site.route("/touch.png", 200, pngBytes(solid(180, 180, kRed)));
  auto m = request(Kind::siteIcon, "s");
  m.url = "https://site.test/";
  m.iconSize = 32;  // not used: site icons come at up to 256
  auto siteIcon = c->request(m, std::chrono::seconds(30));
  EXPECT_EQ(std::tuple(siteIcon.type, siteIcon.ok, siteIcon.url),
            std::tuple(ServerMessage::Kind::siteIcon, true, "https://site.test/"));
  EXPECT_EQ(fromBase64(siteIcon.iconPNGBase64).width, 180);
  m.url = "definitely not a url";
  auto bad = c->request(m);
  EXPECT_EQ(std::tuple(bad.ok, bad.url, bad.iconPNGBase64.has_value()),
            std::tuple(false, "definitely not a url", false));
}

}  // namespace
}  // namespace quib::test
