// The quibbleton program on a real X11 session: a phone paired over TCP sends every kind of
// action, and each effect is read back from outside the program (a GTK text field, xdotool, xclip,
// pactl, the desktop entries' own launch records).
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <cstdlib>
#include <fstream>

#include "DesktopProgramSupport.h"
#include "support/ChildProcess.h"
#include "support/TempDir.h"

namespace quib::test {
namespace {

using namespace std::chrono_literals;

TEST(LinuxProgram, EveryActionActsOnTheSession) {
  TempDir data, marks;
  installApplications(marks.path());
  run("pactl set-default-sink Speakers");
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

  ChildProcess window({"/usr/bin/python3", QUIB_TEST_WINDOW});
  ASSERT_TRUE(window.waitFor("ready\n")) << window.output();
  ChildProcess p({QUIBBLETON_BINARY, "--platform", "linux", "--port", "0", "--menu", "terminal", "--data-dir",
                  data.path().string(), "--command-key", "super"});
  ASSERT_TRUE(p.waitFor("데스크톱: linux (X11 display")) << p.output();
  QuibClient phone;
  ASSERT_TRUE(startAndPair(p, phone));

  // Keys: the phone's command shortcuts are Super ones here; pasting is still Control+V.
  checkKeys(phone, window, "super+mod4");
  // Super+Shift+Z is no shortcut in the field: it typed a Z.
  EXPECT_TRUE(act(phone, action(QuibActionKind::keystroke, "delete")).ok.value_or(false));
  EXPECT_TRUE(window.waitFor("text a\n")) << window.output();

  // Texts and keys arrive once and in order. The snapshot of the copy before them keeps what fits
  // and does not wait on the entry that never comes; the copy comes back after the last paste.
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(act(phone, action(QuibActionKind::typeText, "x")).ok.value_or(false));
  EXPECT_LT(std::chrono::steady_clock::now() - start, 900ms);
  EXPECT_TRUE(window.waitFor("text ax\n")) << window.output();
  EXPECT_TRUE(act(phone, action(QuibActionKind::keystroke, "delete")).ok.value_or(false));
  checkTypedText(phone, window);
  EXPECT_TRUE(eventually([] { return run("xclip -selection clipboard -o 2>/dev/null") == "caption"; }));
  const std::string targets = run("xclip -selection clipboard -o -t TARGETS");
  for (const char* t : {"image/png", "text/html"}) EXPECT_NE(targets.find(t), std::string::npos) << targets;
  EXPECT_EQ(targets.find("application/x-big"), std::string::npos) << targets;
  run("xclip -selection clipboard -o -t image/png > " + (marks.path() / "back.png").string());
  EXPECT_TRUE(readFile(marks.path() / "back.png") == png);
  owner.signal(SIGKILL);
  // Before the right click, whose menu takes the field's keys.
  checkClipboardThroughWindow(phone, window);

  EXPECT_EQ(act(phone, action(QuibActionKind::volumeUp)).message, "볼륨 올림");
  EXPECT_TRUE(window.waitFor("key AudioRaiseVolume -\n")) << window.output();

  // The pointer: a move, clicks and a scroll over the field.
  run("xdotool mousemove 200 200");
  checkPointer(phone, window, 200, 200);
  EXPECT_TRUE(eventually([] { return run("xdotool getmouselocation").starts_with("x:270 y:205"); }));

  // Sound: the next sink becomes the default.
  EXPECT_EQ(act(phone, action(QuibActionKind::audioOutputNext)).message, "출력: Headphones");
  EXPECT_EQ(run("pactl get-default-sink"), "Headphones");

  // Applications and addresses through the desktop's entries and default handlers.
  checkApplicationsAndAddresses(phone, marks.path());

  p.signal(SIGTERM);
  EXPECT_EQ(p.wait(), 0) << p.output();
  window.signal(SIGTERM);
}

TEST(LinuxProgram, StatusWindowWhenThePanelHasNoTray) {
  // No window manager here: Escape, with the pointer over the window, closes it.
  checkStatusWindow("linux", [] { run("xdotool mousemove 640 400 key Escape"); });
}

TEST(LinuxProgram, WithoutADisplayLinuxRefusesAndAutoFallsBack) {
  TempDir data;
  const std::string display = std::getenv("DISPLAY");
  unsetenv("DISPLAY");
  checkRefused("linux", "--platform linux needs an X display: DISPLAY is not set", data.path());
  ChildProcess autoChoice({QUIBBLETON_BINARY, "--port", "0", "--data-dir", data.path().string()});
  EXPECT_TRUE(autoChoice.waitFor("데스크톱: virtual (no X display: DISPLAY is not set"))
      << autoChoice.output();
  autoChoice.signal(SIGTERM);
  EXPECT_EQ(autoChoice.wait(), 0);
  setenv("DISPLAY", display.c_str(), 1);
}

}  // namespace
}  // namespace quib::test
