#include <gtest/gtest.h>

#include "icons/IconDeclarations.h"

namespace quib {
namespace {

using namespace IconDeclarations;
using Urls = std::vector<std::string>;
const std::string kPage = "https://site.test/blog/post.html";

TEST(IconDeclarationsTest, LinkTagsInRealisticHeads) {
  const std::string head = R"(<!doctype html><html><head>
    <meta charset="utf-8"><title>Post</title>
    <link rel="stylesheet" href="/style.css">
    <LINK REL="ICON" HREF="/a.png" SIZES="32x32">
    <link rel='apple-touch-icon' href='b.png' sizes='180x180'>
    <link rel="icon" href="/favicon.ico" sizes="64x64">
    <link rel="apple-touch-icon-precomposed" href="//cdn.test/c.png" sizes=" 64x64">
    <link rel="mask-icon" href="/d.svg" sizes="any">
    <link rel = "icon" href="/spaced.png">
    <link rel=icon href="/unquoted.png">
  </head>)";
  EXPECT_EQ(declaredIcons(head, kPage),
            (Urls{"https://site.test/blog/b.png", "https://cdn.test/c.png", "https://site.test/a.png",
                  "https://site.test/favicon.ico", "https://site.test/d.svg"}));
}

TEST(IconDeclarationsTest, SizeRules) {
  const std::pair<const char*, int> links[] = {{"180x180", 180}, {"16x16 32x32", 16}, {"any", 0},
                                               {"180X180", 0},   {" 64x64", 64},      {"+48x48", 48},
                                               {"x", 0},         {"99999999999x1", 0}};
  for (auto [text, size] : links) EXPECT_EQ(linkSize(text), size) << text;
  // The split on spaces drops the empty piece.
  for (auto [text, size] : {std::pair{"192x192 512x512", 192}, {"any", 0}, {" 64x64", 64}})
    EXPECT_EQ(manifestSize(text), size) << text;
}

TEST(IconDeclarationsTest, ManifestLinkAndIcons) {
  const std::string head =
      R"(<link rel="manifest" href="/app.webmanifest"><link rel='MANIFEST' href='/second.json'>)";
  EXPECT_EQ(manifestLink(head, kPage), "https://site.test/app.webmanifest");
  EXPECT_FALSE(manifestLink("<link rel=\"manifest\">", kPage));

  const std::string base = "https://site.test/static/app.webmanifest";
  const std::string manifest = R"({"name":"x","icons":[
      {"src":"icon-192.png","sizes":"192x192"},{"src":"/icon-512.png","sizes":"512x512 1024x1024"},
      {"src":"any.svg","sizes":"any"},{"src":5,"sizes":"999x999"},{"src":"big.ico","sizes":"256x256"}]})";
  EXPECT_EQ(manifestIcons(manifest, base),
            (Urls{"https://site.test/icon-512.png", "https://site.test/static/big.ico",
                  "https://site.test/static/icon-192.png", "https://site.test/static/any.svg"}));
  for (const char* bad :
       {"not json", "[1,2]", R"({"icons":{"src":"a.png"}})", R"({"icons":[{"src":"a.png"},3]})", "{}"})
    EXPECT_TRUE(manifestIcons(std::string(bad), base).empty()) << bad;
}

// The first base element with an address sets what icon links and the manifest link are read
// against, itself read against the page; one that gives no web address is passed over.
TEST(IconDeclarationsTest, BaseElementSetsTheBase) {
  const std::string links = R"(<link rel="icon" href="i.png"><link rel="manifest" href="m.json">)";
  const std::pair<const char*, const char*> cases[] = {
      {R"(<base href="https://cdn.test/assets/">)", "https://cdn.test/assets/"},
      {R"(<BASE target="_top"><base href='../static/'><base href="/ignored/">)", "https://site.test/static/"},
      {R"(<base href="data:text/html,x">)", "https://site.test/blog/"},
  };
  for (const auto& [base, expected] : cases) {
    const std::string page = std::string(base) + links;
    EXPECT_EQ(declaredIcons(page, kPage), Urls{std::string(expected) + "i.png"}) << base;
    EXPECT_EQ(manifestLink(page, kPage), std::string(expected) + "m.json") << base;
  }
}

}  // namespace
}  // namespace quib
