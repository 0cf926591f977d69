// Site-icon discovery against a local HTTPS server that stands for https://site.test.
#include <gtest/gtest.h>
#include <netdb.h>

#include <algorithm>
#include <atomic>
#include <future>

#include "icons/AddressFilter.h"
#include "icons/SiteIconProvider.h"
#include "platform/Clock.h"
#include "support/TestHttpsServer.h"
#include "support/TestImages.h"

namespace quib::test {
namespace {

using Urls = std::vector<std::string>;
const Urls kFallbacks = {"https://site.test/apple-touch-icon.png",
                         "https://site.test/apple-touch-icon-precomposed.png",
                         "https://site.test/apple-touch-icon-180x180.png", "https://site.test/favicon.ico"};

// `server` stands for https://site.test, other.test and a.test, `www` for www.a.test.
class SiteIconProviderTest : public ::testing::Test {
 protected:
  TestHttpsServer server, www;
  HttpFetcher::Options options() {
    HttpFetcher::Options o{.caFile = server.caFile(),
                           .connectTo = server.connectTo({"site.test", "other.test", "a.test"}),
                           .publicLoopbackPorts = {server.port(), www.port()}};
    for (const auto& c : www.connectTo({"www.a.test"})) o.connectTo.push_back(c);
    return o;
  }
  std::optional<std::string> search(SiteIconProvider& provider, const std::string& site) {
    std::promise<std::optional<std::string>> done;
    provider.iconBase64(site, 256, [&](std::optional<std::string> r) { done.set_value(std::move(r)); });
    auto f = done.get_future();
    EXPECT_EQ(f.wait_for(std::chrono::seconds(30)), std::future_status::ready);
    return f.get();
  }
};

TEST_F(SiteIconProviderTest, FetcherFollowsWebRedirectsWithinItsBounds) {
  HttpFetcher::Options o = options();
  o.maxBodyBytes = 1000;
  o.timeout = std::chrono::milliseconds(300);
  HttpFetcher fetcher(o);
  server.route("/ok", 200, "hello");
  server.route("/moved", 302, "", "/ok");
  server.route("/to-file", 302, "", "file:///etc/passwd");
  server.route("/big", 200, std::string(5000, 'x'));
  server.route("/slow", 200, "late", "", std::chrono::milliseconds(3000));
  const std::pair<std::string, std::optional<std::string>> cases[] = {
      {"https://site.test/ok", "hello"}, {"https://site.test/moved", "hello"},
      {"https://site.test/missing", {}}, {"https://site.test/to-file", {}},
      {"file:///etc/passwd", {}},        {"https://site.test/big", {}},
      {"https://site.test/slow", {}}};
  for (const auto& [url, body] : cases) {
    const auto got = fetcher.get(url);
    EXPECT_EQ(got ? std::optional(got->body) : std::nullopt, body) << url;
  }
  EXPECT_NE(server.heads().front().find(std::string("User-Agent: ") + HttpFetcher::kUserAgent),
            std::string::npos);
}

TEST_F(SiteIconProviderTest, CandidateOrder) {
  SiteIconProvider provider(options(), 1);
  HttpFetcher fetcher(options());
  // Manifest icons first, then the page's, then fallbacks, six in all.
  server.route("/manifest.html", 200,
               R"(<link rel="manifest" href="/m.json"><link rel="icon" href="/a.png">)");
  server.route("/m.json", 200,
               R"({"icons":[{"src":"/192.png","sizes":"192x192"},{"src":"/512.png","sizes":"512x512"}]})");
  EXPECT_EQ(provider.candidateURLs(fetcher, "https://site.test/manifest.html", "site.test"),
            (Urls{"https://site.test/512.png", "https://site.test/192.png", "https://site.test/a.png",
                  kFallbacks[0], kFallbacks[1], kFallbacks[2]}));

  // A missing page still leaves the fallbacks, on https without the page's port.
  EXPECT_EQ(provider.candidateURLs(fetcher, "http://site.test:8080/gone", "site.test"), kFallbacks);

  // Declarations and fallbacks are read against the page a redirect ended on.
  server.route("/", 301, "", "https://www.a.test/home/");
  www.route("/home/", 200, R"(<link rel="manifest" href="app.json"><link rel="icon" href="logo.png">)");
  www.route("/home/app.json", 200, R"({"icons":[{"src":"big.png","sizes":"512x512"}]})");
  EXPECT_EQ(
      provider.candidateURLs(fetcher, "https://a.test/", "a.test"),
      (Urls{"https://www.a.test/home/big.png", "https://www.a.test/home/logo.png",
            "https://www.a.test/apple-touch-icon.png", "https://www.a.test/apple-touch-icon-precomposed.png",
            "https://www.a.test/apple-touch-icon-180x180.png", "https://www.a.test/favicon.ico"}));
}

TEST(SiteIconChoiceTest, ChoosingAmongCandidates) {
  using C = SiteIconProvider::Candidate;
  EXPECT_FALSE(SiteIconProvider::choose({}));
  // Folding one candidate at a time, in any arrival order, keeps the choice of the whole list:
  // a preferred icon beats a larger plain one, and equal sides go to the earlier in the list.
  const std::vector<C> list{C{{}, 300, false, true}, C{{}, 96, false, false}, C{{}, 200, true, false},
                            C{{}, 96, false, false}, C{{}, 64, false, false}};
  std::vector<std::size_t> order{0, 1, 2, 3, 4};
  do {
    std::size_t best = order[0];
    for (std::size_t i : order)
      if (SiteIconProvider::beats(list[i], i, list[best], best)) best = i;
    EXPECT_EQ(best, 1u);
  } while (std::next_permutation(order.begin(), order.end()));
}

// The largest picture that decodes wins, but nothing a page names on this computer (here a local
// service on another loopback port) is fetched; then the cache answers.
TEST_F(SiteIconProviderTest, WholeSearchStaysOffThisComputerThenCaches) {
  TestHttpsServer secret;
  secret.route("/secret.png", 200, pngBytes(solid(200, 200, kRed)));
  secret.route("/m.json", 200, R"({"icons":[{"src":"/secret.png","sizes":"512x512"}]})");
  secret.route("/", 200, R"(<link rel="icon" href="/secret.png">)");
  const std::string local = "https://127.0.0.1:" + std::to_string(secret.port());
  HttpFetcher::Options o = options();
  // A public-looking name that connects to the local service: the connected address decides.
  o.connectTo.push_back("sneaky.test:443:127.0.0.1:" + std::to_string(secret.port()));
  server.route("/", 200,
               R"(<link rel="manifest" href=")" + local + R"(/m.json"><link rel="icon" href=")" + local +
                   R"(/secret.png" sizes="512x512"><link rel="icon" href="/bounce.png" sizes="256x256">)"
                   R"(<link rel="icon" href="https://sneaky.test/secret.png" sizes="300x300">)"
                   R"(<link rel="icon" href="/small.png" sizes="16x16"><link rel="icon" href="/big.png">)");
  server.route("/bounce.png", 302, "", local + "/secret.png");
  server.route("/small.png", 200, pngBytes(solid(16, 16, Rgba{0, 0, 200, 255})));
  server.route("/big.png", 200, pngBytes(solid(180, 180, Rgba{0, 200, 0, 255})));
  server.route("/favicon.ico", 200, "not an image");
  SiteIconProvider provider(o, 1);
  auto icon = search(provider, "https://site.test/");
  ASSERT_EQ(fromBase64(icon).width, 180);
  EXPECT_TRUE(secret.requests().empty());
  // The second request is answered at once from the cache, on this thread.
  bool answered = false;
  provider.iconBase64("https://site.test/", 64, [&](std::optional<std::string> r) { answered = r == icon; });
  EXPECT_TRUE(answered);

  // What is no web address fails at once; a site with nothing usable is not cached as an icon.
  for (const char* site : {"not a url", "mailto:x@example.com"}) {
    bool called = false;
    provider.iconBase64(site, 256, [&](std::optional<std::string> r) { called = !r; });
    EXPECT_TRUE(called) << site;
  }
  EXPECT_FALSE(search(provider, "https://other.test/missing"));
  // The phone may name the local service itself, and that page's own icons are fetched.
  EXPECT_TRUE(search(provider, local + "/"));
  const auto asked = secret.requests();
  ASSERT_GE(asked.size(), 2u);
  EXPECT_EQ(asked[0], "/");
  EXPECT_EQ(asked[1], "/secret.png");
}

TEST(AddressFilterTest, OnlyPublicAddressesPass) {
  auto isPublic = [](const char* text, const char* port = "443") {
    addrinfo hints{}, *found = nullptr;
    hints.ai_flags = AI_NUMERICHOST;
    if (getaddrinfo(text, port, &hints, &found) != 0) return std::optional<bool>();  // fails either row
    const std::optional<bool> open = AddressFilter::isPublic(found->ai_addr, {8443});
    freeaddrinfo(found);
    return open;
  };
  for (const char* a : {"127.0.0.1", "10.1.2.3", "172.16.0.1", "172.31.255.255", "192.168.1.5",
                        "169.254.169.254", "100.64.0.1", "0.0.0.0", "224.0.0.251", "255.255.255.255", "::1",
                        "::", "fe80::1", "fd00::1", "::ffff:192.168.0.1", "::ffff:127.0.0.1", "ff02::fb"})
    EXPECT_EQ(isPublic(a), false) << a;
  for (const char* a : {"8.8.8.8", "172.32.0.1", "93.184.216.34", "2606:4700::1111", "::ffff:8.8.8.8"})
    EXPECT_EQ(isPublic(a), true) << a;
  EXPECT_EQ(isPublic("127.0.0.1", "8443"), true);  // the tests' stand-in for the internet
}

// One phone refreshing more buttons than its bound: the requests past it wait, they are not failed,
// and are answered nothing only once their deadline has passed.
TEST_F(SiteIconProviderTest, RequestsPastThePhonesBoundWaitUntilTheirDeadline) {
  const std::size_t bound = SiteIconProvider::kMaxWaitingPerPhone;
  ManualClock clock;
  SiteIconProvider provider(options(), 1, &clock);
  server.route("/icon.png", 200, pngBytes(solid(100, 100, kRed)));
  server.route("/p", 200, R"(<link rel="icon" href="/icon.png">)");
  std::promise<void> allAnswered;
  std::atomic<std::size_t> answered{0}, withIcon{0};
  for (std::size_t i = 0; i < bound + 8; ++i)
    provider.iconBase64(
        "https://site.test/p?" + std::to_string(i), 256,
        [&](std::optional<std::string> r) {
          withIcon += r.has_value();
          if (++answered == bound + 8) allAnswered.set_value();
        },
        7);
  ASSERT_EQ(allAnswered.get_future().wait_for(std::chrono::seconds(120)), std::future_status::ready);
  EXPECT_EQ(withIcon, bound + 8);

  std::atomic<int> ended{0};
  std::atomic<bool> parkedAnswered{false}, otherAnswered{false};
  server.route("/slow", 200, "<p>", "", std::chrono::seconds(20));
  for (std::size_t i = 0; i < bound; ++i)
    provider.iconBase64(
        "https://site.test/slow?" + std::to_string(i), 256, [&](auto) { ++ended; }, 1);
  provider.iconBase64(
      "https://site.test/slow?last", 256, [&](auto r) { parkedAnswered = !r; }, 1);
  provider.iconBase64(
      "https://other.test/a", 256, [&](auto) { otherAnswered = true; }, 2);
  EXPECT_FALSE(parkedAnswered);  // waiting, not refused at once
  clock.advance(SiteIconProvider::kWaitDeadline);
  provider.iconBase64(
      "https://other.test/b", 256, [](auto) {}, 2);
  EXPECT_TRUE(parkedAnswered);  // its deadline passed: nothing
  EXPECT_FALSE(otherAnswered);  // the other phone's request was taken, not parked
  EXPECT_EQ(ended, 0);
}

}  // namespace
}  // namespace quib::test
