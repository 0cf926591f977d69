// Desktop entries, default handlers and icons as GIO and the icon theme read them, from the
// entries DesktopFixture writes; launches recorded by the entries' own script.
#include <gio/gio.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "DesktopFixture.h"
#include "DesktopTools.h"
#include "actions/AppLocator.h"
#include "icons/ImageCodec.h"
#include "platform/linux/Applications.h"
#include "platform/linux/Workspace.h"

namespace quib {
namespace {

// Below any descriptor limit a test runs with, so that a child given it can be told apart.
constexpr rlim_t kStartedLimit = 777;

class LinuxApplicationsTest : public ::testing::Test {
 protected:
  // The folders exist and GTK is up before the icon theme is made.
  const test::DesktopFixture& fixture_ = test::DesktopFixture::get();
  LinuxApplications apps_{ChildLimits{kStartedLimit}};
};

TEST_F(LinuxApplicationsTest, FindsEntriesByAnyNameAndPhoneNamesByTheDesktopsRoles) {
  AppLocator locator(apps_);
  // Id, name in any case, localized name, window class; a reverse-DNS identifier is the entry's id.
  for (const char* name :
       {"quibtest-files.desktop", "quibtest-files", "QUIB FILES", "퀴브 파일", "quibfileswindow"})
    EXPECT_EQ(locator.appPath(name), "quibtest-files.desktop") << name;
  EXPECT_EQ(locator.appPath("org.quibtest.painter"), "org.quibtest.Painter.desktop");
  // Default handlers from mimeapps.list, categories; an entry really called Terminal wins over the
  // terminal emulator.
  const std::pair<const char*, std::optional<std::string>> roles[] = {
      {"Safari", "quibtest-browser.desktop"},
      {"com.apple.Safari", "quibtest-browser.desktop"},
      {"finder", "quibtest-files.desktop"},
      {"Calculator", "quibtest-calc.desktop"},
      {"Terminal", "quibtest-terminal.desktop"},
      {"com.apple.Terminal", "quibtest-console.desktop"},
      {"System Settings", std::nullopt},
      {"Quib Nothing", std::nullopt},
      {"", std::nullopt},
      {"\xff\xfe", std::nullopt}};
  for (const auto& [name, entry] : roles) EXPECT_EQ(apps_.find(name), entry) << name;

  // The launcher's names, localized; hidden and uninstalled entries left out; a repeat is the caller's.
  auto names = apps_.installedNames();
  const std::pair<const char*, int> counts[] = {{"퀴브 파일", 1},   {"Quib Files", 0},   {"Painter", 1},
                                                {"Quib Hidden", 0}, {"Quib Missing", 0}, {"Quib Calc", 2}};
  for (const auto& [name, count] : counts)
    EXPECT_EQ(std::count(names.begin(), names.end(), name), count) << name;
}

TEST_F(LinuxApplicationsTest, IconsComeAsPngAtTheSizeAskedAndScalableOnesStaySharp) {
  for (int size : {64, 512}) {
    auto png = apps_.iconData("quibtest-files.desktop", size);
    ASSERT_TRUE(png && png->starts_with("\x89PNG"));
    auto image = ImageCodec::decode(*png);
    ASSERT_TRUE(image);
    EXPECT_EQ(std::pair(image->width, image->height), std::pair(size, size));
  }
  auto svg = apps_.iconData("org.quibtest.Painter.desktop", 512);
  ASSERT_TRUE(svg);
  auto image = ImageCodec::decode(*svg);
  ASSERT_TRUE(image);
  ASSERT_EQ(image->width, 512);
  // Drawn at 512 the half-way edge is crisp; a 16 px picture blown up would smear it over dozens.
  int partial = 0;
  for (int x = 0; x < 512; ++x) partial += image->alpha(x, 256) != 0 && image->alpha(x, 256) != 255;
  EXPECT_LE(partial, 2);
  EXPECT_EQ(image->alpha(100, 256), 255);
  EXPECT_EQ(image->alpha(400, 256), 0);
  EXPECT_EQ(apps_.iconData("quibtest-calc.desktop", 64), std::nullopt);  // no Icon key
  EXPECT_EQ(apps_.iconData("quibtest-files.desktop", 0), std::nullopt);
}

// What starts gets the descriptor limit the program started with, not the one it raised.
TEST_F(LinuxApplicationsTest, LaunchesAndAddressesStartWithTheOriginalLimit) {
  EXPECT_TRUE(apps_.launch("org.quibtest.Painter.desktop"));
  EXPECT_EQ(fixture_.waitForLaunch("painter"), std::to_string(kStartedLimit) + " ");
  EXPECT_FALSE(apps_.launch("quibtest-absent.desktop"));
  LinuxWorkspace workspace(ChildLimits{kStartedLimit});
  ASSERT_TRUE(workspace.openURL("https://example.test/a?b=c"));
  EXPECT_EQ(fixture_.waitForLaunch("browser"), std::to_string(kStartedLimit) + " https://example.test/a?b=c");
  for (const char* refused : {"quibnothing://x", "no scheme here", "", "https://\xff"})
    EXPECT_FALSE(workspace.openURL(refused)) << refused;
}

// The entries are read once; one installed or removed later counts once the desktop tells.
TEST_F(LinuxApplicationsTest, EntriesFollowTheDesktopsChangeNotice) {
  const auto file = std::filesystem::path(g_get_user_data_dir()) / "applications" / "quibtest-late.desktop";
  std::ofstream(file) << "[Desktop Entry]\nType=Application\nName=Quib Late\nExec=true\n";
  EXPECT_TRUE(test::pollUntil([&] { return apps_.find("Quib Late").has_value(); }));
  std::filesystem::remove(file);
  EXPECT_TRUE(test::pollUntil([&] { return !apps_.find("Quib Late"); }));
}

}  // namespace
}  // namespace quib
