// The quibbleton program on GNOME (gnome-shell headless, no portal): input and the clipboard go
// through mutter's remote-desktop session. A phone paired over TCP acts, and each effect is read
// back from the GTK window on the shell and from the phone's clipboard history.
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
  ChildProcess p({QUIBBLETON_BINARY, "--platform", "wayland", "--port", "0", "--menu", "terminal",
                  "--data-dir", data.path().string()});
  ASSERT_TRUE(p.waitFor("데스크톱: wayland (Wayland display ")) << p.output();
  EXPECT_NE(p.output().find("input through GNOME's remote-desktop session (Mutter) (no RemoteDesktop portal "
                            "here), clipboard through GNOME's remote-desktop session"),
            std::string::npos)
      << p.output();
  QuibClient phone;
  ASSERT_TRUE(startAndPair(p, phone));

  // The first key of the session is not lost; command is Control here.
  checkKeys(phone, window);

  // Texts sent back to back arrive whole and in order, shifted characters included.
  for (const char* text : {"Hello, GNOME 43!", " ~(x_y)? "}) {
    auto typed = act(phone, action(QuibActionKind::typeText, text));
    EXPECT_TRUE(typed.ok.value_or(false)) << typed.message.value_or("");
  }
  ASSERT_TRUE(window.waitFor("text aHello, GNOME 43! ~(x_y)? \n")) << window.output();

  // The phone's copy pastes in the window.
  EXPECT_EQ(act(phone, action(QuibActionKind::setClipboard, "from phone")).message, "클립보드에 복사됨");
  EXPECT_EQ(act(phone, action(QuibActionKind::keystroke, "v", {"command"})).message, "command v");
  ASSERT_TRUE(window.waitFor("text aHello, GNOME 43! ~(x_y)? from phone\n")) << window.output();

  // The window's copy enters the history.
  act(phone, action(QuibActionKind::keystroke, "a", {"command"}));
  act(phone, action(QuibActionKind::keystroke, "c", {"command"}));
  EXPECT_TRUE(eventually([&] {
    auto items = history(phone);
    return !items.empty() && items.front() == "aHello, GNOME 43! ~(x_y)? from phone";
  })) << testing::PrintToString(history(phone));

  // Characters the keymap lacks are pasted through mutter's clipboard, in order after the rest; two
  // such texts in one write both arrive (mutter drops a transfer still under way when the selection
  // changes, so each paste waits for its reader).
  auto pasted = [](const char* text) {
    ClientMessage m;
    m.type = ClientMessage::Kind::action;
    m.action = action(QuibActionKind::typeText, text);
    return m;
  };
  phone.sendTogether({pasted("한글 👍"), pasted(" ✓")});
  for (int i = 0; i < 2; ++i) {
    auto reply = phone.readReply();
    EXPECT_TRUE(reply.ok.value_or(false)) << reply.message.value_or("");
  }
  EXPECT_TRUE(window.waitFor("\\ud55c\\uae00 \\U0001f44d \\u2713\n")) << window.output();

  // The harness put the pointer near the middle; a click tells where it is in the window (the shell
  // may keep its top bar above it). Moves from there are relative and exact.
  EXPECT_EQ(act(phone, action(QuibActionKind::pointerClick, "left")).message, "클릭");
  ASSERT_TRUE(window.waitFor("button release 1 ")) << window.output();
  int x = 0, y = 0;
  const auto at = window.output().rfind("button press 1 ");
  ASSERT_EQ(std::sscanf(window.output().c_str() + at, "button press 1 %d %d", &x, &y), 2) << window.output();
  checkPointer(phone, window, x, y);

  p.signal(SIGTERM);
  EXPECT_EQ(p.wait(), 0) << p.output();
  window.signal(SIGTERM);
}

}  // namespace
}  // namespace quib::test
