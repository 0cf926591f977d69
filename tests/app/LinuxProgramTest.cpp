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

// The window that stands in for the tray, read through AT-SPI as a screen reader reads it.
std::string readWindow(bool absent = false) {
  std::vector<std::string> argv{"/usr/bin/python3", QUIB_ATSPI_WINDOW, "Quibbleton", "20"};
  if (absent) argv.push_back("--absent");
  ChildProcess reader(argv, ChildProcess::Output::pipe);
  const int status = reader.wait(std::chrono::seconds(30));
  return status == 0 ? reader.output() : "(" + std::to_string(status) + ") " + reader.output();
}

TEST(LinuxProgram, StatusWindowWhenThePanelHasNoTray) {
  TempDir data;
  const std::string port = std::to_string(freePort());
  const std::vector<std::string> start{QUIBBLETON_BINARY, "--platform",        "linux", "--port", port,
                                       "--data-dir",      data.path().string()};
  const std::string bridge = std::getenv("NO_AT_BRIDGE") ? std::getenv("NO_AT_BRIDGE") : "";
  unsetenv("NO_AT_BRIDGE");  // the program's window talks to the accessibility bus
  {
    // No phone paired yet: the window opens by itself, the code in it.
    ChildProcess first(start);
    ASSERT_TRUE(first.waitFor("the status menu is in a window\n")) << first.output();
    const std::string shown = readWindow();
    const auto at = shown.find("button\t페어링 코드:  ");
    ASSERT_NE(at, std::string::npos) << shown;
    const std::string code = shown.substr(at + std::string("button\t페어링 코드:  ").size(), 6);
    for (const char* line :
         {"label\t대기 중 (포트 ", "label\t  아이폰 앱에 이 코드를 입력하세요 (클릭 시 복사)\t",
          "label\t✓ 손쉬운 사용 권한 허용됨\t", "label\t현재 출력: ", "button\t페어링 코드 새로 만들기\t",
          "button\t페어링된 기기 모두 지우기\t", "button\tQuibox 종료\t"})
      EXPECT_NE(shown.find(line), std::string::npos) << line << " in\n" << shown;
    // The code the window shows is the one that pairs; the phone then appears, ready to unpair.
    QuibClient phone;
    phone.connect("127.0.0.1", static_cast<std::uint16_t>(std::stoi(port)));
    ASSERT_EQ(phone.pair(code, "Window Phone").type, ServerMessage::Kind::paired);
    EXPECT_TRUE(eventually([] {
      return readWindow().find("button\t  Window Phone\t클릭하면 이 기기의 페어링을 해제합니다") !=
             std::string::npos;
    })) << readWindow();
    first.signal(SIGTERM);
    EXPECT_EQ(first.wait(), 0) << first.output();
    EXPECT_EQ(first.output().find(code), std::string::npos) << "the code went to the terminal";
  }
  // A phone is paired: the next start stays quiet until the desktop entry starts it again.
  ChildProcess quiet(start);
  ASSERT_TRUE(quiet.waitFor("the status menu is in a window\n")) << quiet.output();
  EXPECT_EQ(readWindow(true), "");
  ChildProcess again(start);
  EXPECT_EQ(again.wait(), 0) << again.output();
  EXPECT_NE(again.output().find("already running for this user on port " + port), std::string::npos)
      << again.output();
  EXPECT_NE(readWindow().find("button\t페어링 코드:  "), std::string::npos);
  // Closing the window (Escape, with the pointer over it: no window manager here) keeps serving.
  run("xdotool mousemove 640 400 key Escape");
  EXPECT_TRUE(eventually([] { return readWindow(true).empty(); }));
  QuibClient phone;
  phone.connect("127.0.0.1", static_cast<std::uint16_t>(std::stoi(port)));
  EXPECT_EQ(phone.hello().type, ServerMessage::Kind::hello);
  quiet.signal(SIGTERM);
  EXPECT_EQ(quiet.wait(), 0) << quiet.output();
  setenv("NO_AT_BRIDGE", bridge.c_str(), 1);
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
