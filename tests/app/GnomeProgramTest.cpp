// The quibbleton program on GNOME (gnome-shell headless, no portal): input and the clipboard go
// through mutter's remote-desktop session. A phone paired over TCP acts, and each effect is read
// back from the GTK window on the shell, the phone's clipboard history and AT-SPI.
#include <gtest/gtest.h>
#include <signal.h>

#include "DesktopProgramSupport.h"
#include "support/ChildProcess.h"
#include "support/TempDir.h"

namespace quib::test {
namespace {

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

  checkClipboardThroughWindow(phone, window);

  // The harness put the pointer near the middle; a click tells where it is in the window (the shell
  // may keep its top bar above it). Moves from there are relative and exact.
  const auto [x, y] = clickedAt(phone, window);
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
