// Site-icon discovery against a local HTTPS server that stands for https://site.test.
#include <gtest/gtest.h>

#include <future>

#include "crypto/Base64.h"
#include "icons/ImageCodec.h"
#include "icons/SiteIconProvider.h"
#include "support/TestHttpsServer.h"
#include "support/TestImages.h"

namespace quib::test {
namespace {

using Urls = std::vector<std::string>;
const Urls kFallbacks = {"https://site.test/apple-touch-icon.png",
                         "https://site.test/apple-touch-icon-precomposed.png",
                         "https://site.test/apple-touch-icon-180x180.png", "https://site.test/favicon.ico"};

class SiteIconProviderTest : public ::testing::Test {
 protected:
  TestHttpsServer server;
  HttpFetcher::Options options() {
    HttpFetcher::Options o;
    o.caFile = server.caFile();
    o.connectTo = server.connectTo({"site.test", "other.test"});
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

TEST_F(SiteIconProviderTest, FetcherRules) {
  HttpFetcher fetcher(options());
  server.route("/ok", 200, "hello");
  server.route("/empty", 204, "");
  server.route("/moved", 302, "", "/ok");
  server.route("/to-file", 302, "", "file:///etc/passwd");
  server.route("/to-ftp", 302, "", "ftp://site.test/x");
  EXPECT_EQ(fetcher.get("https://site.test/ok"), "hello");
  EXPECT_EQ(fetcher.get("https://site.test/moved"), "hello");
  EXPECT_FALSE(fetcher.get("https://site.test/empty"));
  EXPECT_FALSE(fetcher.get("https://site.test/missing"));
  EXPECT_FALSE(fetcher.get("https://site.test/to-file"));
  EXPECT_FALSE(fetcher.get("https://site.test/to-ftp"));
  EXPECT_FALSE(fetcher.get("file:///etc/passwd"));
  EXPECT_NE(server.heads().front().find(std::string("User-Agent: ") + HttpFetcher::kUserAgent),
            std::string::npos);

  HttpFetcher::Options small = options();
  small.maxBodyBytes = 1000;
  small.timeout = std::chrono::milliseconds(300);
  HttpFetcher bounded(small);
  server.route("/big", 200, std::string(5000, 'x'));
  server.route("/slow", 200, "late", "", std::chrono::milliseconds(3000));
  EXPECT_FALSE(bounded.get("https://site.test/big"));
  EXPECT_FALSE(bounded.get("https://site.test/slow"));
  EXPECT_EQ(bounded.get("https://site.test/ok"), "hello");
}

TEST_F(SiteIconProviderTest, CandidateOrder) {
  SiteIconProvider provider(options(), 1);
  HttpFetcher fetcher(options());
  server.route("/links.html", 200,
               R"(<link rel="icon" href="/a.png" sizes="32x32">)"
               R"(<link rel="apple-touch-icon" href="/b.png" sizes="180x180">)");
  Urls expected{"https://site.test/b.png", "https://site.test/a.png"};
  expected.insert(expected.end(), kFallbacks.begin(), kFallbacks.end());
  EXPECT_EQ(provider.candidateURLs(fetcher, "https://site.test/links.html", "site.test"), expected);

  server.route("/dup.html", 200, R"(<link rel="apple-touch-icon" href="/apple-touch-icon.png">)");
  EXPECT_EQ(provider.candidateURLs(fetcher, "https://site.test/dup.html", "site.test"),
            kFallbacks);  // five in all? no: four

  server.route("/manifest.html", 200,
               R"(<link rel="manifest" href="/m.json"><link rel="icon" href="/a.png">)");
  server.route("/m.json", 200,
               R"({"icons":[{"src":"/192.png","sizes":"192x192"},{"src":"/512.png","sizes":"512x512"}]})");
  EXPECT_EQ(provider.candidateURLs(fetcher, "https://site.test/manifest.html", "site.test"),
            (Urls{"https://site.test/512.png", "https://site.test/192.png", "https://site.test/a.png",
                  kFallbacks[0], kFallbacks[1], kFallbacks[2]}));

  // A missing page still leaves the fallbacks, on https without the page's port.
  EXPECT_EQ(provider.candidateURLs(fetcher, "http://site.test:8080/gone", "site.test"), kFallbacks);
}

TEST_F(SiteIconProviderTest, ChoosingAmongCandidates) {
  using C = SiteIconProvider::Candidate;
  EXPECT_EQ(
      SiteIconProvider::choose({C{{}, 120, false, true}, C{{}, 64, false, false}, C{{}, 100, true, false}}),
      2u);
  EXPECT_EQ(SiteIconProvider::choose({C{{}, 128, false, false}, C{{}, 128, false, false}}), 0u);
  EXPECT_EQ(SiteIconProvider::choose({C{{}, 50, false, true}, C{{}, 200, false, true}}), 1u);
  EXPECT_FALSE(SiteIconProvider::choose({}));
}

TEST_F(SiteIconProviderTest, WholeSearchThenCache) {
  SiteIconProvider provider(options(), 1);
  server.route("/", 200,
               R"(<link rel="icon" href="/small.png" sizes="16x16"><link rel="icon" href="/big.png">)");
  server.route("/small.png", 200, pngBytes(solid(16, 16, Rgba{0, 0, 200, 255})));
  server.route("/big.png", 200, pngBytes(solid(180, 180, kRed)));
  server.route("/favicon.ico", 200, "not an image");
  auto icon = search(provider, "https://site.test/");
  ASSERT_TRUE(icon);
  auto png = Base64::decode(*icon);
  auto image = ImageCodec::decode(std::string(png->begin(), png->end()));
  ASSERT_TRUE(image);
  EXPECT_EQ(image->width, 180);
  EXPECT_EQ(pixel(*image, 90, 90).r, 220);
  // The second request is answered at once from the cache, on this thread.
  const auto before = server.requests().size();
  bool answered = false;
  provider.iconBase64("https://site.test/", 64, [&](std::optional<std::string> r) { answered = r == icon; });
  EXPECT_TRUE(answered);
  EXPECT_EQ(server.requests().size(), before);
}

TEST_F(SiteIconProviderTest, ImmediateFailures) {
  SiteIconProvider provider(options(), 1);
  for (const char* site : {"", "not a url", "example.com", "mailto:x@example.com"}) {
    bool called = false;
    provider.iconBase64(site, 256, [&](std::optional<std::string> r) { called = !r; });
    EXPECT_TRUE(called) << site;
  }
  EXPECT_FALSE(search(provider, "https://other.test/"));  // nothing usable: not cached, no icon
}

}  // namespace
}  // namespace quib::test
