// The quibbleton program on a real X11 session, each effect read back from outside it (the test
// window, xdotool, xclip, pactl, the desktop entries' launch records).
#include <gtest/gtest.h>
#include <signal.h>

#include <cstdlib>
#include <fstream>

#include "DesktopProgramSupport.h"
#include "support/ChildProcess.h"
#include "support/TempDir.h"

namespace quib::test {
namespace {

TEST(LinuxProgram, EveryActionActsOnTheSession) {
  TempDir data, marks;
  prepareDesktop(marks.path());
  // Another application's copy: text, an image and rich text, an entry too big to keep, and one
  // that its owner never answers.
  std::string png = "\x89PNG\r\n\x1a\n";
  for (unsigned i = 0; png.size() < 600000; ++i) png += static_cast<char>((i * 7919u) & 0xFFu);
  std::ofstream(marks.path() / "a.png", std::ios::binary) << png;
  std::ofstream(marks.path() / "big", std::ios::binary) << std::string(17u << 20, 'x');
  ChildProcess owner({"/usr/bin/env", "ASAN_OPTIONS=detect_leaks=0", QUIB_CLIPBOARD_OWNER,
                      "--stall-on=application/x-hangs", "UTF8_STRING=caption",
                      "image/png=@" + (marks.path() / "a.png").string(), "text/html=<b>굵게</b>",
                      "application/x-big=@" + (marks.path() / "big").string(), "application/x-hangs=never"});
  ASSERT_TRUE(owner.waitFor("ready\n")) << owner.output();

  auto window = openWindow(false);
  ASSERT_TRUE(window);
  QuibClient phone;
  auto p = startPaired(phone,
                       {"--platform", "linux", "--command-key", "super", "--data-dir", data.path().string()},
                       {"데스크톱: linux (X11 display"});
  ASSERT_TRUE(p);
  // Super+Shift+Z is no shortcut in the field: it typed a Z.
  const auto afterKeys = [&] {
    EXPECT_TRUE(act(phone, action(QuibActionKind::keystroke, "delete")).ok.value_or(false));
    EXPECT_TRUE(window->waitFor("text a\n")) << window->output();
  };
  // The copy comes back after the last paste, without the entry too big to keep; the one that never
  // comes holds up no paste.
  const auto afterTexts = [&] {
    EXPECT_TRUE(eventually([] { return run("xclip -selection clipboard -o 2>/dev/null") == "caption"; }));
    const std::string targets = run("xclip -selection clipboard -o -t TARGETS");
    for (const char* t : {"image/png", "text/html"}) EXPECT_NE(targets.find(t), std::string::npos) << targets;
    EXPECT_EQ(targets.find("application/x-big"), std::string::npos) << targets;
    EXPECT_EQ(run("xclip -selection clipboard -o -t image/png | cmp - " + (marks.path() / "a.png").string() +
                  " && echo same"),
              "same");
    owner.signal(SIGKILL);
  };
  // The phone's command shortcuts are Super ones here; pasting is still Control+V.
  run("xdotool mousemove 200 200");
  checkInput(phone, *window,
             {.command = "super+mod4",
              .pointerAt = std::pair(200, 200),
              .afterKeys = afterKeys,
              .afterTexts = afterTexts});
  checkSoundAndApplications(phone, *window, marks.path());
  p->signal(SIGTERM);
  EXPECT_EQ(p->wait(), 0) << p->output();
}

TEST(LinuxProgram, StatusWindowWhenThePanelHasNoTray) {
  // No window manager here: Escape, with the pointer over the window, closes it.
  checkStatusWindow("linux", [] { run("xdotool mousemove 640 400 key Escape"); });
}

// Without a display, asked for X11 it exits 2 saying why; asked for nothing, it serves the in-memory
// desktop.
TEST(LinuxProgram, WithoutADisplayLinuxRefusesAndAutoFallsBack) {
  TempDir data;
  const std::string display = std::getenv("DISPLAY");
  unsetenv("DISPLAY");
  ChildProcess refused(
      {QUIBBLETON_BINARY, "--platform", "linux", "--port", "0", "--data-dir", data.path().string()});
  EXPECT_TRUE(refused.waitFor("--platform linux needs an X display: DISPLAY is not set")) << refused.output();
  EXPECT_EQ(refused.wait(), 2);
  ChildProcess chosen({QUIBBLETON_BINARY, "--port", "0", "--data-dir", data.path().string()});
  EXPECT_TRUE(chosen.waitFor("데스크톱: virtual (no X display: DISPLAY is not set")) << chosen.output();
  chosen.signal(SIGTERM);
  EXPECT_EQ(chosen.wait(), 0);
  setenv("DISPLAY", display.c_str(), 1);
}

}  // namespace
}  // namespace quib::test
