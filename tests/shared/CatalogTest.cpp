#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include "crypto/Random.h"
#include "server/QuibCodec.h"
#include "shared/CatalogStores.h"
#include "shared/KeyFace.h"
#include "support/TempDir.h"

namespace quib {
namespace {

const std::string kId1 = "0F8FAD5B-D9CB-469F-A165-70867728950E";
const std::string kId2 = "7C9E6679-7425-40DE-944B-E07FC1F90AE7";

TEST(CatalogTest, SnippetActionsAndIds) {
  Snippet typed{kId1, "Hi", "hello", false}, copied{kId2, "Mail", "me@example.com", true};
  EXPECT_EQ(QuibCodec::encode(typed.action()), R"({"kind":"typeText","value":"hello","modifiers":[]})");
  EXPECT_EQ(QuibCodec::encode(copied.action()),
            R"({"kind":"setClipboard","value":"me@example.com","modifiers":[]})");
  EXPECT_EQ(typed.catalogID().size(), 41u);
  EXPECT_EQ(typed.catalogID(), "snip." + kId1);
  CustomSite site{kId1, "News", "https://news.test"};
  EXPECT_EQ(site.catalogID().size(), 48u);
  EXPECT_EQ(canonicalUuid("0f8fad5b-d9cb-469f-a165-70867728950e"), kId1);
  EXPECT_FALSE(canonicalUuid("0f8fad5b-d9cb-469f-a165-70867728950"));
  EXPECT_FALSE(canonicalUuid("0f8fad5b+d9cb-469f-a165-70867728950e"));
}

TEST(CatalogTest, SnippetStoreUpsertDeleteAndBadRecords) {
  test::TempDir dir;
  QuibSharedStore suite(dir.path());
  SnippetStore store(suite);
  EXPECT_TRUE(store.all().empty());
  store.upsert({kId1, "A", "a", false});
  store.upsert({kId2, "B", "b", true});
  store.upsert({kId1, "A2", "a2", true});  // replaced in place
  EXPECT_EQ(store.all(), (std::vector<Snippet>{{kId1, "A2", "a2", true}, {kId2, "B", "b", true}}));
  store.setAll({{kId1, "x", "x", false}, {kId2, "y", "y", false}, {kId1, "dup", "dup", false}});
  store.remove({kId1, "", "", false});
  EXPECT_EQ(store.all(), (std::vector<Snippet>{{kId2, "y", "y", false}}));

  const std::string oneBad = R"([{"id":")" + kId1 + R"(","title":"t","text":"x","toClipboard":true},)" +
                             R"({"id":")" + kId2 + R"(","title":"t","text":"x"}])";
  suite.open()->setData(SnippetStore::key, std::vector<std::uint8_t>(oneBad.begin(), oneBad.end()));
  EXPECT_TRUE(store.all().empty());
  const std::string badId = R"([{"id":"nope","title":"t","text":"x","toClipboard":true}])";
  suite.open()->setData(SnippetStore::key, std::vector<std::uint8_t>(badId.begin(), badId.end()));
  EXPECT_TRUE(store.all().empty());
  store.upsert({kId2, "new", "n", false});  // the next write replaces what could not be read
  EXPECT_EQ(store.all().size(), 1u);
}

TEST(CatalogTest, SitesAndApps) {
  test::TempDir dir;
  QuibSharedStore suite(dir.path());
  CustomSiteStore sites(suite);
  sites.upsert({kId1, "A", "https://a.test"});
  sites.upsert({kId2, "B", "https://b.test"});
  sites.remove(kId1);
  sites.remove("00000000-0000-0000-0000-000000000000");
  EXPECT_EQ(sites.all(), (std::vector<CustomSite>{{kId2, "B", "https://b.test"}}));

  CustomAppStore apps(suite);
  apps.add("Notes");
  apps.add("Notes");
  apps.add("notes");
  EXPECT_EQ(apps.all(), (std::vector<std::string>{"Notes", "notes"}));
}

TEST(CatalogTest, KeyFaceJsonForms) {
  KeyFace face{KeyFace::Case::appIcon, "Safari"};
  EXPECT_EQ(toJson(face).dump(), R"({"appIcon":{"_0":"Safari"}})");
  for (auto c : {KeyFace::Case::appIcon, KeyFace::Case::siteIcon, KeyFace::Case::text, KeyFace::Case::symbol,
                 KeyFace::Case::recordSymbol}) {
    KeyFace f{c, "v"};
    EXPECT_EQ(keyFaceFromJson(nlohmann::json::parse(toJson(f).dump())), f);
  }
  for (const char* bad : {"{}", R"({"text":{"_0":"a"},"symbol":{"_0":"b"}})"})
    EXPECT_THAT(
        [&] { keyFaceFromJson(nlohmann::json::parse(bad)); },
        testing::ThrowsMessage<DecodeError>(testing::StrEq("Invalid number of keys found, expected one.")));
  EXPECT_THROW(keyFaceFromJson(nlohmann::json::parse(R"({"emoji":{"_0":"a"}})")), DecodeError);
  EXPECT_THROW(keyFaceFromJson(nlohmann::json::parse(R"({"text":{"_1":"a"}})")), DecodeError);
  EXPECT_EQ(std::hash<KeyFace>{}(face), std::hash<KeyFace>{}(KeyFace{KeyFace::Case::appIcon, "Safari"}));
}

// Two processes adding to one list at once: each change is its own transaction, none is lost.
TEST(CatalogTest, TwoProcessesDoNotLoseUpdates) {
  test::TempDir dir;
  constexpr int kEach = 40;
  pid_t children[2];
  for (int c = 0; c < 2; ++c) {
    children[c] = fork();
    ASSERT_GE(children[c], 0);
    if (children[c] == 0) {
      QuibSharedStore suite(dir.path());
      SnippetStore store(suite);
      CustomAppStore apps(suite);
      for (int i = 0; i < kEach; ++i) {
        store.upsert({Random::uuidString(), "p" + std::to_string(c), std::to_string(i), false});
        apps.add("app-" + std::to_string(c) + "-" + std::to_string(i));
      }
      _exit(0);
    }
  }
  for (pid_t p : children) {
    int status = 0;
    waitpid(p, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  QuibSharedStore suite(dir.path());
  EXPECT_EQ(SnippetStore(suite).all().size(), 2u * kEach);
  EXPECT_EQ(CustomAppStore(suite).all().size(), 2u * kEach);
}

}  // namespace
}  // namespace quib
