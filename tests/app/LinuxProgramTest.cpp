// The quibbleton program on a real X11 session: a phone paired over TCP sends every kind of
// action, and each effect is read back from outside the program (a GTK text field, xdotool, xclip,
// pactl, the desktop entries' own launch records).
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <cstdlib>

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
  run("printf before | xclip -selection clipboard -loops 1 >/dev/null 2>&1 &");

  ChildProcess window({"/usr/bin/python3", QUIB_TEST_WINDOW});
  ASSERT_TRUE(window.waitFor("ready\n")) << window.output();
  ChildProcess p(
      {QUIBBLETON_BINARY, "--platform", "linux", "--port", "0", "--data-dir", data.path().string()});
  ASSERT_TRUE(p.waitFor("데스크톱: linux (X11 display")) << p.output();
  QuibClient phone;
  ASSERT_TRUE(startAndPair(p, phone));

  // Keys: the phone's command shortcuts are Control ones here.
  checkKeys(phone, window);

  // Text arrives whole in the field, and the earlier clipboard comes back.
  checkTypedText(phone, window);
  EXPECT_TRUE(eventually([] { return run("xclip -selection clipboard -o 2>/dev/null") == "before"; }));

  EXPECT_EQ(act(phone, action(QuibActionKind::volumeUp)).message, "볼륨 올림");
  EXPECT_TRUE(window.waitFor("key AudioRaiseVolume -\n")) << window.output();

  // The pointer: a move, clicks and a scroll over the field.
  run("xdotool mousemove 200 200");
  checkPointer(phone, window, 200, 200);
  EXPECT_TRUE(eventually([] { return run("xdotool getmouselocation").starts_with("x:270 y:205"); }));

  // Sound: the next sink becomes the default.
  EXPECT_EQ(act(phone, action(QuibActionKind::audioOutputNext)).message, "출력: Headphones");
  EXPECT_EQ(run("pactl get-default-sink"), "Headphones");

  // The clipboard, both ways.
  EXPECT_EQ(act(phone, action(QuibActionKind::setClipboard, "from phone")).message, "클립보드에 복사됨");
  EXPECT_EQ(run("xclip -selection clipboard -o"), "from phone");
  run("printf 'copied elsewhere' | xclip -selection clipboard -loops 1 >/dev/null 2>&1 &");
  ClientMessage history;
  history.type = ClientMessage::Kind::clipboard;
  EXPECT_TRUE(eventually([&] {
    auto items = phone.request(history).clipboardItems.value_or(std::vector<std::string>{});
    return !items.empty() && items.front() == "copied elsewhere";
  }));

  // Applications and addresses through the desktop's entries and default handlers.
  checkApplicationsAndAddresses(phone, marks.path());

  p.signal(SIGTERM);
  EXPECT_EQ(p.wait(), 0) << p.output();
  window.signal(SIGTERM);
}

TEST(LinuxProgram, WithoutADisplayLinuxRefusesAndAutoFallsBack) {
  TempDir data;
  const std::string display = std::getenv("DISPLAY");
  unsetenv("DISPLAY");
  {
    ChildProcess refused(
        {QUIBBLETON_BINARY, "--platform", "linux", "--port", "0", "--data-dir", data.path().string()});
    EXPECT_EQ(refused.wait(), 2);
    EXPECT_NE(refused.output().find("--platform linux needs an X display: DISPLAY is not set"),
              std::string::npos)
        << refused.output();
  }
  ChildProcess autoChoice({QUIBBLETON_BINARY, "--port", "0", "--data-dir", data.path().string()});
  EXPECT_TRUE(autoChoice.waitFor("데스크톱: virtual (no X display: DISPLAY is not set"))
      << autoChoice.output();
  autoChoice.signal(SIGTERM);
  EXPECT_EQ(autoChoice.wait(), 0);
  setenv("DISPLAY", display.c_str(), 1);
}

}  // namespace
}  // namespace quib::test
