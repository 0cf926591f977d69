// Desktop entries and default handlers as GIO reads them.
#include <gio/gio.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "DesktopTools.h"
#include "actions/AppLocator.h"
#include "platform/linux/Applications.h"
#include "platform/linux/Workspace.h"

namespace quib {
namespace {

namespace fs = std::filesystem;

void write(const fs::path& p, const std::string& text) {
  fs::create_directories(p.parent_path());
  std::ofstream(p) << text;
}

// Desktop entries and default handlers, written into the private desktop's XDG folders once per
// process, before GIO first reads them. Each entry's launch writes "<soft descriptor limit>
// <arguments>" to a file named by its tag in the returned folder.
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
         "Name=Quib Files\nName[ko]=퀴브 파일\nStartupWMClass=QuibFilesWindow\nMimeType=inode/directory;",
         "files"},
        {"org.quibtest.Painter", "Name=Painter\nCategories=Graphics;", "painter"},
        {"quibtest-terminal", "Name=Terminal\nCategories=Utility;", "terminal-named"},
        {"quibtest-console", "Name=Quib Console\nCategories=System;TerminalEmulator;", "console"},
        {"quibtest-calc", "Name=Quib Calc\nCategories=Utility;Calculator;", "calc"},
        {"quibtest-hidden", "Name=Quib Hidden\nNoDisplay=true", "hidden"},
        {"quibtest-missing", "Name=Quib Missing\nTryExec=/nonexistent/quib", "missing"}};
    for (const auto& [id, keys, tag] : entries)
      write(data / "applications" / (std::string(id) + ".desktop"),
            std::string("[Desktop Entry]\nType=Application\n") + keys +
                "\nExec=" + (home / "record-launch.sh").string() + " " + tag + " %u\n");
    write(fs::path(g_get_user_config_dir()) / "mimeapps.list",
          "[Default Applications]\nx-scheme-handler/https=quibtest-browser.desktop\n"
          "inode/directory=quibtest-files.desktop\n");
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
      {"", std::nullopt},
      {"\xff\xfe", std::nullopt}};
  for (const auto& [name, entry] : roles) EXPECT_EQ(apps_->find(name), entry) << name;

  // The launcher's names, localized; hidden and uninstalled entries left out.
  auto names = apps_->installedNames();
  const std::pair<const char*, int> counts[] = {
      {"퀴브 파일", 1}, {"Quib Files", 0}, {"Painter", 1}, {"Quib Hidden", 0}, {"Quib Missing", 0}};
  for (const auto& [name, count] : counts)
    EXPECT_EQ(std::count(names.begin(), names.end(), name), count) << name;
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
