// Desktop entries, default handlers and icons as GIO and the icon theme read them.
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gio/gio.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "DesktopTools.h"
#include "actions/AppLocator.h"
#include "icons/ImageCodec.h"
#include "platform/linux/Applications.h"
#include "platform/linux/Workspace.h"

namespace quib {
namespace {

namespace fs = std::filesystem;

void write(const fs::path& p, const std::string& text) {
  fs::create_directories(p.parent_path());
  std::ofstream(p) << text;
}

// Desktop entries, an icon theme and default handlers, written into the private desktop's XDG
// folders once per process, before GIO first reads them. Each entry's launch writes "<soft
// descriptor limit> <arguments>" to a file named by its tag in the returned folder.
const fs::path& installEntries() {
  static const fs::path markers = [] {
    setenv("LANGUAGE", "ko", 1);  // Korean first so Name[ko] is the name a launcher shows
    const fs::path data = g_get_user_data_dir(), home = g_get_home_dir(), m = home / "launch-markers";
    fs::create_directories(m);
    write(home / "record-launch.sh",
          "#!/bin/sh\ntag=$1; shift\necho \"$(ulimit -n) $*\" > \"" + m.string() + "/$tag\"\n");
    fs::permissions(home / "record-launch.sh", fs::perms::owner_all);
    // File id, then the entry's keys and the tag its launches are recorded under.
    const std::tuple<const char*, const char*, const char*> entries[] = {
        {"quibtest-browser",
         "Name=Quib Browser\nMimeType=x-scheme-handler/https;\nCategories=Network;WebBrowser;", "browser"},
        {"quibtest-files",
         "Name=Quib Files\nName[ko]=퀴브 파일\nStartupWMClass=QuibFilesWindow\nIcon=quibtest-files\n"
         "MimeType=inode/directory;",
         "files"},
        {"org.quibtest.Painter", "Name=Painter\nIcon=org.quibtest.Painter\nCategories=Graphics;", "painter"},
        {"quibtest-terminal", "Name=Terminal\nCategories=Utility;", "terminal-named"},
        {"quibtest-console", "Name=Quib Console\nCategories=System;TerminalEmulator;", "console"},
        {"quibtest-calc", "Name=Quib Calc\nCategories=Utility;Calculator;", "calc"},
        {"quibtest-hidden", "Name=Quib Hidden\nNoDisplay=true", "hidden"},
        {"quibtest-missing", "Name=Quib Missing\nTryExec=/nonexistent/quib", "missing"},
        {"quibtest-copy", "Name=Quib Calc", "copy"}};
    for (const auto& [id, keys, tag] : entries)
      write(data / "applications" / (std::string(id) + ".desktop"),
            std::string("[Desktop Entry]\nType=Application\n") + keys +
                "\nExec=" + (home / "record-launch.sh").string() + " " + tag + " %u\n");
    write(fs::path(g_get_user_config_dir()) / "mimeapps.list",
          "[Default Applications]\nx-scheme-handler/https=quibtest-browser.desktop\n"
          "inode/directory=quibtest-files.desktop\n");
    const fs::path theme = data / "icons" / "hicolor";
    write(theme / "index.theme",
          "[Icon Theme]\nName=Hicolor\nDirectories=256x256/apps,scalable/apps\n\n[256x256/apps]\nSize=256\n"
          "Type=Fixed\n\n[scalable/apps]\nSize=128\nMinSize=8\nMaxSize=1024\nType=Scalable\n");
    fs::create_directories(theme / "256x256" / "apps");
    GdkPixbuf* png = gdk_pixbuf_new(GDK_COLORSPACE_RGB, TRUE, 8, 256, 256);
    gdk_pixbuf_fill(png, 0x3366ccff);
    gdk_pixbuf_save(png, (theme / "256x256/apps/quibtest-files.png").c_str(), "png", nullptr, nullptr);
    g_object_unref(png);
    // Left half opaque, right half clear: rendered at any size the edge stays one pixel wide.
    write(theme / "scalable/apps/org.quibtest.Painter.svg",
          "<svg xmlns='http://www.w3.org/2000/svg' width='16' height='16' viewBox='0 0 16 16'>"
          "<rect x='0' y='0' width='8' height='16' fill='#c03030'/></svg>");
    return m;
  }();
  return markers;
}

std::string launchRecord(const std::string& tag) {
  std::string line = "(not launched)";
  test::pollUntil([&] {
    std::ifstream in(installEntries() / tag);
    return bool(std::getline(in, line));
  });
  return line;
}

// Below any descriptor limit a test runs with, so that a child given it can be told apart.
constexpr rlim_t kStartedLimit = 777;

class LinuxApplicationsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(getenv("XDG_DATA_HOME")) << "run under with-desktop.sh";
    installEntries();
    ASSERT_TRUE(test::gtkReady());  // before the icon theme is made
    apps_.emplace(ChildLimits{kStartedLimit});
  }
  std::optional<LinuxApplications> apps_;
};

TEST_F(LinuxApplicationsTest, FindsEntriesByAnyNameAndPhoneNamesByTheDesktopsRoles) {
  AppLocator locator(*apps_);
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
  for (const auto& [name, entry] : roles) EXPECT_EQ(apps_->find(name), entry) << name;

  // The launcher's names, localized; hidden and uninstalled entries left out; a repeat is the caller's.
  auto names = apps_->installedNames();
  const std::pair<const char*, int> counts[] = {{"퀴브 파일", 1},   {"Quib Files", 0},   {"Painter", 1},
                                                {"Quib Hidden", 0}, {"Quib Missing", 0}, {"Quib Calc", 2}};
  for (const auto& [name, count] : counts)
    EXPECT_EQ(std::count(names.begin(), names.end(), name), count) << name;

  // The entries are read once; one installed or removed later counts once the desktop tells.
  const auto late = fs::path(g_get_user_data_dir()) / "applications" / "quibtest-late.desktop";
  write(late, "[Desktop Entry]\nType=Application\nName=Quib Late\nExec=true\n");
  EXPECT_TRUE(test::pollUntil([&] { return apps_->find("Quib Late").has_value(); }));
  fs::remove(late);
  EXPECT_TRUE(test::pollUntil([&] { return !apps_->find("Quib Late"); }));
}

TEST_F(LinuxApplicationsTest, IconsComeAsPngAtTheSizeAskedAndScalableOnesStaySharp) {
  for (int size : {64, 512}) {
    auto png = apps_->iconData("quibtest-files.desktop", size);
    ASSERT_TRUE(png && png->starts_with("\x89PNG"));
    auto image = ImageCodec::decode(*png);
    ASSERT_TRUE(image);
    EXPECT_EQ(std::pair(image->width, image->height), std::pair(size, size));
  }
  auto image = ImageCodec::decode(apps_->iconData("org.quibtest.Painter.desktop", 512).value_or(""));
  ASSERT_TRUE(image);
  ASSERT_EQ(image->width, 512);
  // Drawn at 512 the half-way edge is crisp; a 16 px picture blown up would smear it over dozens.
  int partial = 0;
  for (int x = 0; x < 512; ++x) partial += image->alpha(x, 256) != 0 && image->alpha(x, 256) != 255;
  EXPECT_LE(partial, 2);
  EXPECT_EQ(image->alpha(100, 256), 255);
  EXPECT_EQ(image->alpha(400, 256), 0);
  EXPECT_EQ(apps_->iconData("quibtest-calc.desktop", 64), std::nullopt);  // no Icon key
  EXPECT_EQ(apps_->iconData("quibtest-files.desktop", 0), std::nullopt);
}

// What starts gets the descriptor limit the program started with, not the one it raised.
TEST_F(LinuxApplicationsTest, LaunchesAndAddressesStartWithTheOriginalLimit) {
  EXPECT_TRUE(apps_->launch("org.quibtest.Painter.desktop"));
  EXPECT_EQ(launchRecord("painter"), std::to_string(kStartedLimit) + " ");
  EXPECT_FALSE(apps_->launch("quibtest-absent.desktop"));
  LinuxWorkspace workspace(ChildLimits{kStartedLimit});
  ASSERT_TRUE(workspace.openURL("https://example.test/a?b=c"));
  EXPECT_EQ(launchRecord("browser"), std::to_string(kStartedLimit) + " https://example.test/a?b=c");
  for (const char* refused : {"quibnothing://x", "no scheme here", "", "https://\xff"})
    EXPECT_FALSE(workspace.openURL(refused)) << refused;
}

}  // namespace
}  // namespace quib
