// The query requests over TCP, answered from the virtual desktop and a local HTTPS site.
#include <gtest/gtest.h>

#include "support/TestHttpsServer.h"
#include "support/TestImages.h"
#include "support/TestServer.h"

namespace quib::test {
namespace {

class QueriesOverWireTest : public ::testing::Test {
 protected:
  QueriesOverWireTest() { c->usePairingCode(t.server().pairingCode()); }  // no pairing needed for these
  HttpFetcher::Options fetch() {
    HttpFetcher::Options o;
    o.caFile = site.caFile();
    o.connectTo = site.connectTo();
    return o;
  }
  void makeApp(const std::string& path, int iconSide = 0) {
    std::filesystem::create_directories(t.desktop().files().onDisk(path));
    if (iconSide) t.desktop().applications().setIcon(path, pngBytes(solid(iconSide, iconSide, kRed)));
  }
  TestHttpsServer site;
  TestServer t{{}, true, fetch()};
  std::unique_ptr<QuibClient> c = t.connect();
};

TEST_F(QueriesOverWireTest, AppsClipboardAndSites) {
  makeApp("/Applications/Safari.app", 64);
  makeApp("/Applications/zed.app");
  makeApp("/System/Applications/Notes.app");
  makeApp("/Users/me/Applications/Safari.app");
  makeApp("/Users/me/Applications/Alpha.app");
  std::filesystem::create_directories(t.desktop().files().onDisk("/Applications/NotAnApp"));
  auto icon = request(ClientMessage::Kind::appIcon, "i");
  icon.appName = "Safari";
  icon.iconSize = 128;
  auto reply = c->request(icon);
  EXPECT_EQ(reply.type, ServerMessage::Kind::appIcon);
  EXPECT_EQ(reply.ok, true);
  EXPECT_EQ(reply.appName, "Safari");
  EXPECT_EQ(fromBase64(reply.iconPNGBase64).width, 128);
  auto missing = c->request(request(ClientMessage::Kind::appIcon, "m"));
  EXPECT_EQ(missing.ok, false);
  EXPECT_EQ(missing.appName, "");
  EXPECT_FALSE(missing.iconPNGBase64);

  auto check = request(ClientMessage::Kind::appCheck, "c");
  check.appNames = std::vector<std::string>{"Nope", "Notes", "Safari", "Notes"};
  EXPECT_EQ(c->request(check).installedApps, (std::vector<std::string>{"Notes", "Safari", "Notes"}));
  check.appNames = std::vector<std::string>{"Nope"};
  auto none = c->request(check);
  EXPECT_EQ(none.ok, true);
  EXPECT_EQ(none.installedApps, std::vector<std::string>{});
  check.appNames = std::vector<std::string>(QuibServer::kMaxAppNames + 1, "Notes");
  auto tooMany = c->request(check);
  EXPECT_EQ(tooMany.type, ServerMessage::Kind::error);
  EXPECT_EQ(tooMany.requestId, "c");
  EXPECT_EQ(tooMany.message, "앱 이름이 너무 많습니다 (최대 256개)");

  auto paired = t.connectPaired("phone");
  auto list = paired->request(request(ClientMessage::Kind::appList, "l"));
  EXPECT_EQ(list.installedApps, (std::vector<std::string>{"Alpha", "Notes", "Safari", "zed"}));

  t.onMain([&] {
    t.desktop().pasteboard().copyText("first");
    t.clipboard().tick();
    t.desktop().pasteboard().copyText("second");
    t.clipboard().tick();
  });
  auto history = paired->request(request(ClientMessage::Kind::clipboard, "h"));
  EXPECT_EQ(history.ok, true);
  EXPECT_EQ(history.clipboardItems, (std::vector<std::string>{"second", "first"}));

  site.route("/", 200, R"(<link rel="apple-touch-icon" href="/touch.png" sizes="180x180">)");
  site.route("/touch.png", 200, pngBytes(solid(180, 180, kRed)));
  auto m = request(ClientMessage::Kind::siteIcon, "s");
  m.url = "https://site.test/";
  m.iconSize = 32;  // not used: site icons come at up to 256
  auto siteIcon = c->request(m, std::chrono::seconds(30));
  EXPECT_EQ(siteIcon.type, ServerMessage::Kind::siteIcon);
  EXPECT_EQ(siteIcon.ok, true);
  EXPECT_EQ(siteIcon.url, "https://site.test/");
  EXPECT_EQ(fromBase64(siteIcon.iconPNGBase64).width, 180);

  m.url = "definitely not a url";
  auto bad = c->request(m);
  EXPECT_EQ(bad.ok, false);
  EXPECT_EQ(bad.url, "definitely not a url");
  EXPECT_FALSE(bad.iconPNGBase64);
  m.url.reset();
  EXPECT_EQ(c->request(m).url, "");
}

// Cold icons are rendered off the server queue, yet one phone still reads its replies in the order
// it asked; a request without iconSize gets 256 pixels.
TEST_F(QueriesOverWireTest, AppIconRepliesKeepTheirPlace) {
  makeApp("/Applications/One.app", 512);
  makeApp("/Applications/Two.app", 512);
  auto one = request(ClientMessage::Kind::appIcon, "icon-1");
  one.appName = "One";
  auto two = request(ClientMessage::Kind::appIcon, "icon-2");
  two.appName = "Two";
  two.iconSize = 48;
  c->send(one);
  c->send(request(ClientMessage::Kind::ping, "ping-1"));
  c->send(two);
  c->send(request(ClientMessage::Kind::ping, "ping-2"));
  c->send(one);  // cached by now or not, it still comes last
  std::vector<ServerMessage> replies;
  for (int i = 0; i < 5; ++i) replies.push_back(c->readReply(std::chrono::seconds(30)));
  std::vector<std::string> ids;
  for (const auto& r : replies) ids.push_back(r.requestId.value_or(""));
  EXPECT_EQ(ids, (std::vector<std::string>{"icon-1", "ping-1", "icon-2", "ping-2", "icon-1"}));
  EXPECT_EQ(fromBase64(replies[0].iconPNGBase64).width, 256);
  EXPECT_EQ(fromBase64(replies[2].iconPNGBase64).width, 48);
  EXPECT_EQ(replies[4].iconPNGBase64, replies[0].iconPNGBase64);
}

}  // namespace
}  // namespace quib::test
