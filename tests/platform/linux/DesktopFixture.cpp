#include "DesktopFixture.h"

#include <gdk-pixbuf/gdk-pixbuf.h>
#include <glib.h>

#include <cstdlib>
#include <fstream>
#include <stdexcept>

#include "DesktopTools.h"

namespace quib::test {
namespace fs = std::filesystem;
namespace {

void write(const fs::path& p, const std::string& text) {
  fs::create_directories(p.parent_path());
  std::ofstream(p) << text;
}

std::string entry(const std::string& extra) {
  return "[Desktop Entry]\nType=Application\n" + extra;
}

DesktopFixture make() {
  // Korean first so Name[ko] is the name a launcher shows.
  setenv("LANGUAGE", "ko", 1);
  if (!std::getenv("XDG_DATA_HOME"))
    throw std::runtime_error("XDG_DATA_HOME is not set; run under with-desktop.sh");
  fs::path data = std::getenv("XDG_DATA_HOME"), config = std::getenv("XDG_CONFIG_HOME"),
           home = std::getenv("HOME");
  DesktopFixture f;
  f.markers = home / "launch-markers";
  fs::create_directories(f.markers);
  fs::path script = home / "record-launch.sh";
  // Records "<descriptor limit> <arguments>" under the entry's tag, whole once the file appears.
  write(script, "#!/bin/sh\ntag=$1; shift\necho \"$(ulimit -n) $*\" > \"" + f.markers.string() +
                    "/$tag.tmp\"\nmv \"" + f.markers.string() + "/$tag.tmp\" \"" + f.markers.string() +
                    "/$tag\"\n");
  fs::permissions(script, fs::perms::owner_all);
  auto exec = [&](const std::string& tag) { return "Exec=" + script.string() + " " + tag + " %u\n"; };
  fs::path apps = data / "applications";
  write(apps / "quibtest-browser.desktop",
        entry("Name=Quib Browser\nMimeType=x-scheme-handler/https;\nCategories=Network;WebBrowser;\n" +
              exec("browser")));
  write(apps / "quibtest-files.desktop",
        entry("Name=Quib Files\nName[ko]=퀴브 파일\nStartupWMClass=QuibFilesWindow\nIcon=quibtest-files\n"
              "MimeType=inode/directory;\n" +
              exec("files")));
  write(apps / "org.quibtest.Painter.desktop",
        entry("Name=Painter\nIcon=org.quibtest.Painter\nCategories=Graphics;\n" + exec("painter")));
  write(apps / "quibtest-terminal.desktop",
        entry("Name=Terminal\nCategories=Utility;\n" + exec("terminal-named")));
  write(apps / "quibtest-console.desktop",
        entry("Name=Quib Console\nCategories=System;TerminalEmulator;\n" + exec("console")));
  write(apps / "quibtest-calc.desktop",
        entry("Name=Quib Calc\nCategories=Utility;Calculator;\n" + exec("calc")));
  write(apps / "quibtest-hidden.desktop", entry("Name=Quib Hidden\nNoDisplay=true\n" + exec("hidden")));
  write(apps / "quibtest-missing.desktop",
        entry("Name=Quib Missing\nTryExec=/nonexistent/quib\n" + exec("missing")));
  write(apps / "quibtest-copy.desktop", entry("Name=Quib Calc\n" + exec("copy")));
  write(config / "mimeapps.list",
        "[Default Applications]\nx-scheme-handler/https=quibtest-browser.desktop\n"
        "inode/directory=quibtest-files.desktop\n");

  fs::path theme = data / "icons" / "hicolor";
  write(theme / "index.theme",
        "[Icon Theme]\nName=Hicolor\nDirectories=256x256/apps,scalable/apps\n\n"
        "[256x256/apps]\nSize=256\nType=Fixed\n\n"
        "[scalable/apps]\nSize=128\nMinSize=8\nMaxSize=1024\nType=Scalable\n");
  fs::create_directories(theme / "256x256" / "apps");
  GdkPixbuf* png = gdk_pixbuf_new(GDK_COLORSPACE_RGB, TRUE, 8, 256, 256);
  gdk_pixbuf_fill(png, 0x3366ccff);
  gdk_pixbuf_save(png, (theme / "256x256/apps/quibtest-files.png").c_str(), "png", nullptr, nullptr);
  g_object_unref(png);
  // Left half opaque, right half clear: rendered at any size the edge stays one pixel wide.
  write(theme / "scalable/apps/org.quibtest.Painter.svg",
        "<svg xmlns='http://www.w3.org/2000/svg' width='16' height='16' viewBox='0 0 16 16'>"
        "<rect x='0' y='0' width='8' height='16' fill='#c03030'/></svg>");
  return f;
}

}  // namespace

const DesktopFixture& DesktopFixture::get() {
  static const DesktopFixture fixture = [] {
    auto f = make();
    if (!gtkReady()) throw std::runtime_error("no display");
    return f;
  }();
  return fixture;
}

std::string DesktopFixture::waitForLaunch(const std::string& tag) const {
  std::string line = "(not launched)";
  pollUntil([&] {
    std::ifstream in(markers / tag);
    return bool(std::getline(in, line));
  });
  return line;
}

}  // namespace quib::test
