// The quibbleton program on GNOME (gnome-shell headless, no portal): input and the clipboard go
// through mutter's remote-desktop session. A phone paired over TCP acts, and each effect is read
// back from the GTK window on the shell, the phone's clipboard history and AT-SPI.
#include <gtest/gtest.h>
#include <signal.h>

#include <cstdio>

#include "DesktopProgramSupport.h"
#include "support/ChildProcess.h"
#include "support/TempDir.h"

namespace quib::test {
namespace {

std::vector<std::string> history(QuibClient& phone) {
  ClientMessage m;
  m.type = ClientMessage::Kind::clipboard;
  return phone.request(m).clipboardItems.value_or(std::vector<std::string>{});
}

TEST(GnomeProgram, InputAndClipboardGoThroughMutter) {
  TempDir data;
  ChildProcess window(
      {"/usr/bin/env", "GDK_BACKEND=wayland", "/usr/bin/python3", QUIB_TEST_WINDOW, "--no-menu"});
  ASSERT_TRUE(window.waitFor("ready\n", std::chrono::seconds(30))) << window.output();
  QuibClient phone;
  auto p = startOnWayland(data.path(),
                          "GNOME's remote-desktop session (Mutter) (no RemoteDesktop portal here), clipboard "
                          "through GNOME's remote-desktop session",
                          phone);
  ASSERT_TRUE(p);

  // The first key of the session is not lost; command is Control here.
  checkKeys(phone, window);
  // What the keymap lacks is pasted through mutter's clipboard (which drops a transfer still under
  // way when the selection changes).
  checkTypedText(phone, window);

  // The phone's copy pastes in the window; the window's copy enters the history.
  act(phone, action(QuibActionKind::keystroke, "a", {"command"}));
  EXPECT_EQ(act(phone, action(QuibActionKind::setClipboard, "from phone")).message, "클립보드에 복사됨");
  EXPECT_EQ(act(phone, action(QuibActionKind::keystroke, "v", {"command"})).message, "command v");
  // The window pastes when the clipboard's owner answers: the next key waits for that.
  ASSERT_TRUE(window.waitFor("text from phone\n")) << window.output();
  EXPECT_TRUE(act(phone, action(QuibActionKind::typeText, "!")).ok.value_or(false));
  ASSERT_TRUE(window.waitFor("text from phone!\n")) << window.output();
  act(phone, action(QuibActionKind::keystroke, "a", {"command"}));
  act(phone, action(QuibActionKind::keystroke, "c", {"command"}));
  EXPECT_TRUE(eventually([&] {
    auto items = history(phone);
    return !items.empty() && items.front() == "from phone!";
  })) << testing::PrintToString(history(phone));

  // The harness put the pointer near the middle; a click tells where it is in the window (the shell
  // may keep its top bar above it). Moves from there are relative and exact.
  EXPECT_EQ(act(phone, action(QuibActionKind::pointerClick, "left")).message, "클릭");
  ASSERT_TRUE(window.waitFor("button release 1 ")) << window.output();
  int x = 0, y = 0;
  const auto at = window.output().rfind("button press 1 ");
  ASSERT_EQ(std::sscanf(window.output().c_str() + at, "button press 1 %d %d", &x, &y), 2) << window.output();
  checkPointer(phone, window, x, y);

  p->signal(SIGTERM);
  EXPECT_EQ(p->wait(), 0) << p->output();
  window.signal(SIGTERM);
}

// Stock GNOME has no tray: the window stands in.
TEST(GnomeProgram, StatusWindowWhenThePanelHasNoTray) {
  checkStatusWindow("wayland");
}

}  // namespace
}  // namespace quib::test
