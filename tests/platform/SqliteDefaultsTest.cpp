#include <gtest/gtest.h>

#include <fstream>

#include "platform/SqliteDefaults.h"
#include "support/TempDir.h"

namespace quib {
namespace {

namespace fs = std::filesystem;

TEST(SqliteDefaultsTest, TypedValuesSurviveReopenAndOtherTypesReadAbsent) {
  test::TempDir dir;
  const auto when = std::chrono::system_clock::time_point(std::chrono::seconds(1700000000));
  {
    SqliteDefaults d(dir.path(), "domain");
    d.setString("s", "텍스트");
    d.setBoolean("b", true);
    d.setInteger("i", -42);
    d.setStringArray("a", {"x", "y"});
    d.setStringDictionary("m", {{"k", "v"}});
    d.setDate("d", when);
  }
  SqliteDefaults d(dir.path(), "domain");
  EXPECT_EQ(d.string("s"), "텍스트");
  EXPECT_EQ(d.boolean("b"), true);
  EXPECT_EQ(d.integer("i"), -42);
  EXPECT_EQ(d.stringArray("a"), (std::vector<std::string>{"x", "y"}));
  EXPECT_EQ(d.stringDictionary("m"), (std::map<std::string, std::string>{{"k", "v"}}));
  EXPECT_EQ(d.date("d"), when);
  EXPECT_FALSE(d.integer("s") || d.string("i") || d.boolean("i") || d.stringArray("m") ||
               d.string("missing"));
  d.remove("s");
  EXPECT_FALSE(d.string("s"));
}

// A corrupt or unwritable store reads empty and refuses writes, told once rather than on every access.
TEST(SqliteDefaultsTest, BrokenStoreReadsEmptyAndNeverThrows) {
  test::TempDir dir;
  std::ofstream(dir.path() / "broken.sqlite", std::ios::binary) << std::string(4096, 'Z');
  for (const fs::path& where : {dir.path(), fs::path("/proc/quibbleton-cannot-exist")}) {
    testing::internal::CaptureStderr();
    SqliteDefaults d(where, "broken");
    EXPECT_FALSE(d.isOpen());
    EXPECT_FALSE(d.stringArray("pairedTokens"));
    EXPECT_FALSE(d.setString("k", "v"));
    EXPECT_FALSE(d.update("k", [](auto) { return DefaultsValue::of("v"); }));
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
  }
}

// The store holds paired tokens: a new install and one made before these modes were set both end
// with a 0700 directory and 0600 files, the WAL, its index and the portal's token included.
TEST(SqliteDefaultsTest, DirectoryAndFilesArePrivate) {
  for (const bool existing : {false, true}) {
    test::TempDir temp;
    const fs::path dir = temp.path() / "data";
    if (existing) {
      fs::create_directories(dir);
      fs::permissions(dir, fs::perms(0755));
      for (const char* name : {"quibbleton.sqlite", "portal-restore-token"}) {
        std::ofstream(dir / name).flush();
        fs::permissions(dir / name, fs::perms(0644));
      }
    }
    SqliteDefaults d(dir, "quibbleton");  // open while the WAL files are looked at
    ASSERT_TRUE(d.setString("k", "v"));
    EXPECT_EQ(fs::status(dir).permissions(), fs::perms(0700)) << existing;
    for (const char* name : {"quibbleton.sqlite", "quibbleton.sqlite-wal", "quibbleton.sqlite-shm"})
      EXPECT_EQ(fs::status(dir / name).permissions(), fs::perms(0600)) << name << existing;
    EXPECT_EQ(fs::status(dir / "portal-restore-token").permissions(),
              existing ? fs::perms(0600) : fs::perms::unknown);  // never made here
  }
}

}  // namespace
}  // namespace quib
