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
// "Allow Remote Interaction" off until the user turns it on; the restore token it hands back lets
// the next start go without asking.
TEST(GnomeProgram, PortalAsksOnceThenRemembers) {
  if (!std::getenv("QUIB_PORTAL")) GTEST_SKIP() << "needs GNOME's portal: run under with-gnome.sh --portal";
  TempDir data;
  ChildProcess window(
      {"/usr/bin/env", "GDK_BACKEND=wayland", "/usr/bin/python3", QUIB_TEST_WINDOW, "--no-menu"});
  ASSERT_TRUE(window.waitFor("ready\n", 30s)) << window.output();
  const std::string sink = "input through RemoteDesktop portal";
  const std::vector<std::string> start{QUIBBLETON_BINARY, "--platform", "wayland",
                                       "--port",          "0",          "--menu",
                                       "terminal",        "--data-dir", data.path().string()};
  for (const bool first : {true, false}) {
    SCOPED_TRACE(first ? "first start" : "second start");
    ChildProcess program(start);
    ASSERT_TRUE(program.waitFor("데스크톱: wayland (Wayland display ")) << program.output();
    ASSERT_NE(program.output().find(sink), std::string::npos) << program.output();
    const StartedProgram started = readStart(program);
    ASSERT_NE(started.port, 0) << program.output();
    if (first) {
      ChildProcess dialog({"/usr/bin/python3", QUIB_ATSPI_WINDOW, "Remote Desktop", "30", "--press",
                           "Allow Remote Interaction", "Share"},
                          ChildProcess::Output::pipe);
      ASSERT_EQ(dialog.wait(std::chrono::seconds(40)), 0) << dialog.output();
    }
    // Until consent is given the menu asks for it; the second start gets it with no one answering.
    ASSERT_TRUE(program.waitFor("✓ 손쉬운 사용 권한 허용됨", 30s)) << program.output();
    if (!first) {
      EXPECT_EQ(
          run(std::string("/usr/bin/python3 ") + QUIB_ATSPI_WINDOW + " 'Remote Desktop' 0 --absent; echo $?"),
          "0");
    }
    QuibClient phone;
    phone.connect("127.0.0.1", started.port);
    ASSERT_EQ(phone.pair(started.code, "Test Phone").type, ServerMessage::Kind::paired);
    checkKeys(phone, window);
    program.signal(SIGTERM);
    EXPECT_EQ(program.wait(), 0) << program.output();
  }
  window.signal(SIGTERM);
}

}  // namespace
}  // namespace quib::test
