// The store the phone side and the command line share, and the lists they edit together.
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

// A new suite, and one that cannot be opened at all (whose writes go nowhere), read the defaults;
// stored values no port can hold read as the default rather than wrapping.
TEST(SharedStoreTest, DefaultsAndValuesThatCannotBeRead) {
  test::TempDir dir;
  for (const std::filesystem::path& where : {std::filesystem::path("/proc/quib-cannot-exist"), dir.path()}) {
    QuibSharedStore s(where);
    s.setToken("x");
    s.setToken(std::nullopt);
    if (where != dir.path()) s.setLastPort(8080);
    EXPECT_EQ(s.token(), std::nullopt);
    EXPECT_EQ(s.lastPort(), 50913);
    EXPECT_EQ(s.widgetButtonIDs(), QuibSharedStore::defaultWidgetButtons());
    EXPECT_FALSE(s.lastResult());
  }
  QuibSharedStore s(dir.path());
  for (auto [stored, read] : {std::pair{0, 50913}, {1, 1}, {65535, 65535}, {70000, 50913}}) {
    s.open()->setInteger("lastPort", stored);
    EXPECT_EQ(s.lastPort(), read) << stored;
  }
  s.setWidgetButtonIDs({});
  EXPECT_TRUE(s.widgetButtonIDs().empty());
  s.open()->set("widgetButtonIDs", DefaultsValue::of(nlohmann::json::array({"a", 2})));
  EXPECT_EQ(s.widgetButtonIDs(), QuibSharedStore::defaultWidgetButtons());
  s.open()->setString("lastWidgetResult", "orphan");
  EXPECT_FALSE(s.lastResult());  // text without a date (a result written and read: QuibCliTest)
}

TEST(CatalogTest, RecordsAndKeyFaces) {
  Snippet typed{kId1, "Hi", "hello", false}, copied{kId2, "Mail", "me@example.com", true};
  EXPECT_EQ(QuibCodec::encode(typed.action()), R"({"kind":"typeText","value":"hello","modifiers":[]})");
  EXPECT_EQ(QuibCodec::encode(copied.action()),
            R"({"kind":"setClipboard","value":"me@example.com","modifiers":[]})");
  EXPECT_EQ(typed.catalogID(), "snip." + kId1);
  EXPECT_EQ(canonicalUuid("0f8fad5b-d9cb-469f-a165-70867728950e"), kId1);
  EXPECT_FALSE(canonicalUuid("0f8fad5b-d9cb-469f-a165-70867728950"));
  EXPECT_FALSE(canonicalUuid("0f8fad5b+d9cb-469f-a165-70867728950e"));

  EXPECT_EQ(toJson(KeyFace{KeyFace::Case::appIcon, "Safari"}).dump(), R"({"appIcon":{"_0":"Safari"}})");
  for (auto c : {KeyFace::Case::appIcon, KeyFace::Case::siteIcon, KeyFace::Case::text, KeyFace::Case::symbol,
                 KeyFace::Case::recordSymbol})
    EXPECT_EQ(keyFaceFromJson(toJson(KeyFace{c, "v"})), (KeyFace{c, "v"}));
}

TEST(CatalogTest, StoresReplaceInPlaceReadBadRecordsAsEmptyAndLoseNoUpdates) {
  test::TempDir dir;
  QuibSharedStore suite(dir.path());
  SnippetStore store(suite);
  store.upsert({kId1, "A", "a", false});
  store.upsert({kId2, "B", "b", true});
  store.upsert({kId1, "A2", "a2", true});
  EXPECT_EQ(store.all(), (std::vector<Snippet>{{kId1, "A2", "a2", true}, {kId2, "B", "b", true}}));
  store.setAll({{kId1, "x", "x", false}, {kId2, "y", "y", false}, {kId1, "dup", "dup", false}});
  store.remove({kId1, "", "", false});
  EXPECT_EQ(store.all(), (std::vector<Snippet>{{kId2, "y", "y", false}}));
  // One record without a field and the list reads empty; the next write replaces it.
  const std::string bad = R"([{"id":")" + kId1 + R"(","title":"t","text":"x","toClipboard":true},)" +
                          R"({"id":")" + kId2 + R"(","title":"t","text":"x"}])";
  suite.open()->setData(SnippetStore::key, std::vector<std::uint8_t>(bad.begin(), bad.end()));
  EXPECT_TRUE(store.all().empty());
  store.upsert({kId2, "new", "n", false});
  EXPECT_EQ(store.all().size(), 1u);

  CustomSiteStore sites(suite);
  sites.upsert({kId1, "A", "https://a.test"});
  sites.upsert({kId2, "B", "https://b.test"});
  sites.remove(kId1);
  EXPECT_EQ(sites.all(), (std::vector<CustomSite>{{kId2, "B", "https://b.test"}}));
  CustomAppStore apps(suite);
  for (const char* name : {"Notes", "Notes", "notes"}) apps.add(name);
  EXPECT_EQ(apps.all(), (std::vector<std::string>{"Notes", "notes"}));

  // Two processes adding to the lists at once: each change is its own transaction, none is lost.
  constexpr int kEach = 40;
  pid_t children[2];
  for (int c = 0; c < 2; ++c)
    if ((children[c] = fork()) == 0) {
      for (int i = 0; i < kEach; ++i) {
        store.upsert({Random::uuidString(), "p", std::to_string(i), false});
        apps.add("app-" + std::to_string(c) + "-" + std::to_string(i));
      }
      _exit(0);
    }
  for (pid_t p : children) {
    int status = -1;
    waitpid(p, &status, 0);
    EXPECT_EQ(status, 0);
  }
  EXPECT_EQ(store.all().size(), 1 + 2u * kEach);
  EXPECT_EQ(apps.all().size(), 2 + 2u * kEach);
}

}  // namespace
}  // namespace quib
