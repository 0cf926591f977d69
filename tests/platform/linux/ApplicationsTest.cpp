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

TEST_F(LinuxApplicationsTest, FindsByIdNameLocalizedNameAndWindowClassInAnyCase) {
  AppLocator locator(apps_);
  EXPECT_EQ(locator.appPath("quibtest-files.desktop"), "quibtest-files.desktop");
  EXPECT_EQ(locator.appPath("quibtest-files"), "quibtest-files.desktop");
  EXPECT_EQ(locator.appPath("QUIB FILES"), "quibtest-files.desktop");
  EXPECT_EQ(locator.appPath("퀴브 파일"), "quibtest-files.desktop");
  EXPECT_EQ(locator.appPath("quibfileswindow"), "quibtest-files.desktop");
  // A reverse-DNS identifier is the entry's id.
  EXPECT_EQ(locator.appPath("org.quibtest.painter"), "org.quibtest.Painter.desktop");
  EXPECT_EQ(locator.appPath("Quib Nothing"), std::nullopt);
  EXPECT_EQ(apps_.find(""), std::nullopt);
  EXPECT_EQ(apps_.find("\xff\xfe"), std::nullopt);
}

TEST_F(LinuxApplicationsTest, PhoneNamesMapToTheDesktopsRolesUnlessAnEntryHasThatName) {
  // Default handlers from mimeapps.list.
  EXPECT_EQ(apps_.find("Safari"), "quibtest-browser.desktop");
  EXPECT_EQ(apps_.find("com.apple.Safari"), "quibtest-browser.desktop");
  EXPECT_EQ(apps_.find("finder"), "quibtest-files.desktop");
  // Categories.
  EXPECT_EQ(apps_.find("Calculator"), "quibtest-calc.desktop");
  // An entry really called Terminal wins over the terminal emulator.
  EXPECT_EQ(apps_.find("Terminal"), "quibtest-terminal.desktop");
  EXPECT_EQ(apps_.find("com.apple.Terminal"), "quibtest-console.desktop");
  // A role nothing here fills.
  EXPECT_EQ(apps_.find("System Settings"), std::nullopt);
}

TEST_F(LinuxApplicationsTest, InstalledNamesAreTheLauncherOnesLocalized) {
  auto names = apps_.installedNames();
  auto count = [&](const std::string& n) { return std::count(names.begin(), names.end(), n); };
  EXPECT_EQ(count("퀴브 파일"), 1);
  EXPECT_EQ(count("Quib Files"), 0);
  EXPECT_EQ(count("Painter"), 1);
  EXPECT_EQ(count("Quib Hidden"), 0);
  EXPECT_EQ(count("Quib Missing"), 0);
  // Two entries share this name; the caller removes the repeat.
  EXPECT_EQ(count("Quib Calc"), 2);
}

TEST_F(LinuxApplicationsTest, IconsComeAsPngAtTheSizeAskedAndScalableOnesStaySharp) {
  for (int size : {64, 512}) {
    SCOPED_TRACE(size);
    auto png = apps_.iconData("quibtest-files.desktop", size);
    ASSERT_TRUE(png);
    ASSERT_EQ(png->compare(0, 4, "\x89PNG"), 0);
    auto image = ImageCodec::decode(*png);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->width, size);
    EXPECT_EQ(image->height, size);
    EXPECT_EQ(image->alpha(size / 2, size / 2), 255);
  }
  auto svg = apps_.iconData("org.quibtest.Painter.desktop", 512);
  ASSERT_TRUE(svg);
  auto image = ImageCodec::decode(*svg);
  ASSERT_TRUE(image);
  ASSERT_EQ(image->width, 512);
  // Drawn at 512 the half-way edge is crisp; a 16 px picture blown up would smear it over dozens.
  int partial = 0;
  for (int x = 0; x < 512; ++x) {
    auto a = image->alpha(x, 256);
    if (a != 0 && a != 255) ++partial;
  }
  EXPECT_LE(partial, 2);
  EXPECT_EQ(image->alpha(100, 256), 255);
  EXPECT_EQ(image->alpha(400, 256), 0);

  EXPECT_EQ(apps_.iconData("quibtest-calc.desktop", 64), std::nullopt);  // no Icon key
  EXPECT_EQ(apps_.iconData("quibtest-absent.desktop", 64), std::nullopt);
  EXPECT_EQ(apps_.iconData("quibtest-files.desktop", 0), std::nullopt);
}

TEST_F(LinuxApplicationsTest, LaunchStartsTheEntrysCommand) {
  AppLocator locator(apps_);
  auto result = locator.launchApp("Painter");
  EXPECT_TRUE(result.ok) << result.message;
  EXPECT_EQ(fixture_.waitForLaunch("painter"), "");
  // It gets the descriptor limit the program started with, not the one it raised.
  EXPECT_EQ(fixture_.launchedLimit("painter"), std::to_string(kStartedLimit));
  EXPECT_FALSE(apps_.launch("quibtest-absent.desktop"));
}

// The entries are read once; one installed or removed later counts once the desktop tells.
TEST_F(LinuxApplicationsTest, EntriesFollowTheDesktopsChangeNotice) {
  const auto file = std::filesystem::path(g_get_user_data_dir()) / "applications" / "quibtest-late.desktop";
  auto waitFor = [&](bool present) {
    return test::pollUntil([&] { return apps_.find("Quib Late").has_value() == present; });
  };
  std::ofstream(file) << "[Desktop Entry]\nType=Application\nName=Quib Late\nExec=true\n";
  EXPECT_TRUE(waitFor(true));
  std::filesystem::remove(file);
  EXPECT_TRUE(waitFor(false));
}

TEST_F(LinuxApplicationsTest, AddressesOpenWithTheDefaultHandlerAndUnhandledSchemesAreRefused) {
  LinuxWorkspace workspace(ChildLimits{kStartedLimit});
  ASSERT_TRUE(workspace.openURL("https://example.test/a?b=c"));
  EXPECT_EQ(fixture_.waitForLaunch("browser"), "https://example.test/a?b=c");
  EXPECT_EQ(fixture_.launchedLimit("browser"), std::to_string(kStartedLimit));
  for (const char* refused : {"quibnothing://x", "no scheme here", "", "https://\xff"})
    EXPECT_FALSE(workspace.openURL(refused)) << refused;
}

}  // namespace
}  // namespace quib
