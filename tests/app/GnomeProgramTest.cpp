// The quibbleton program on GNOME (gnome-shell headless): without a portal, input and the clipboard
// go through mutter's remote-desktop session; with GNOME 48's portal, through the RemoteDesktop
// portal once its dialog is answered. A phone paired over TCP acts, and each effect is read back
// from the GTK window on the shell, the phone's clipboard history and AT-SPI.
#include <gtest/gtest.h>

#include <cstdlib>

#include "DesktopProgramSupport.h"
#include "support/TempDir.h"

using namespace std::chrono_literals;

namespace quib::test {
namespace {

TEST(GnomeProgram, InputAndClipboardGoThroughMutter) {
  // What the keymap lacks is pasted through mutter's clipboard (which drops a transfer still under
  // way when the selection changes).
  checkInputOnCompositor(
      "GNOME's remote-desktop session (Mutter) (no RemoteDesktop portal here), clipboard through GNOME's "
      "remote-desktop session",
      "scroll up\n");
}

// Stock GNOME has no tray: the window stands in.
TEST(GnomeProgram, StatusWindowWhenThePanelHasNoTray) {
  checkStatusWindow("wayland");
}

// Under with-gnome.sh --portal: GNOME's own RemoteDesktop portal asks once, in its dialog, with
// "Allow Remote Interaction" off until the user turns it on; through the session it grants, input
// and the clipboard pass the checks mutter's path passes. The restore token it hands back lets the
// next start go without asking.
TEST(GnomeProgram, PortalAsksOnceThenRemembers) {
  if (!std::getenv("QUIB_PORTAL")) GTEST_SKIP() << "needs GNOME's portal: run under with-gnome.sh --portal";
  TempDir data;
  const std::string sinks = "RemoteDesktop portal";
  // Until consent is given the menu asks for it; the second start gets it with no one answering.
  const auto consent = [](bool answer) {
    return [answer](ChildProcess& program) {
      if (answer) {
        ChildProcess dialog({"/usr/bin/python3", QUIB_ATSPI_WINDOW, "Remote Desktop", "30", "--press",
                             "Allow Remote Interaction", "Share"},
                            ChildProcess::Output::pipe);
        ASSERT_EQ(dialog.wait(std::chrono::seconds(40)), 0) << dialog.output();
      }
      ASSERT_TRUE(program.waitFor("✓ 손쉬운 사용 권한 허용됨", 30s)) << program.output();
      if (!answer) {
        EXPECT_EQ(run(std::string("/usr/bin/python3 ") + QUIB_ATSPI_WINDOW +
                      " 'Remote Desktop' 0 --absent; echo $?"),
                  "0");
      }
    };
  };
  checkInputOnCompositor(sinks, "scroll up\n", {}, data.path(), consent(true));
  // The second start: no dialog, yet input is allowed.
  ChildProcess window(
      {"/usr/bin/env", "GDK_BACKEND=wayland", "/usr/bin/python3", QUIB_TEST_WINDOW, "--no-menu"});
  ASSERT_TRUE(window.waitFor("ready\n", 30s)) << window.output();
  QuibClient phone;
  auto program = startOnWayland(data.path(), sinks, phone, consent(false));
  ASSERT_TRUE(program);
  checkKeys(phone, window);
  program->signal(SIGTERM);
  EXPECT_EQ(program->wait(), 0) << program->output();
  window.signal(SIGTERM);
}

}  // namespace
}  // namespace quib::test
