// The quibbleton program on GNOME (gnome-shell headless): input and the clipboard through mutter's
// remote-desktop session, or with GNOME 48's portal through the RemoteDesktop portal.
#include <gtest/gtest.h>

#include <cstdlib>

#include "DesktopProgramSupport.h"
#include "support/TempDir.h"

namespace quib::test {
namespace {

TEST(GnomeProgram, InputAndClipboardGoThroughMutter) {
  // What the keymap lacks is pasted through mutter's clipboard (which drops a transfer still under
  // way when the selection changes).
  checkInputOnCompositor(
      "GNOME's remote-desktop session (Mutter) (no RemoteDesktop portal here), clipboard through GNOME's "
      "remote-desktop session",
      {});
}

// Stock GNOME has no tray: the window stands in.
TEST(GnomeProgram, StatusWindowWhenThePanelHasNoTray) {
  checkStatusWindow("wayland");
}

// Under with-gnome.sh --portal: GNOME's portal asks once, "Allow Remote Interaction" off until the
// user turns it on; the restore token it hands back lets the next start go without asking.
TEST(GnomeProgram, PortalAsksOnceThenRemembers) {
  if (!std::getenv("QUIB_PORTAL")) GTEST_SKIP() << "needs GNOME's portal: run under with-gnome.sh --portal";
  TempDir data;
  checkInputOnCompositor("RemoteDesktop portal", {}, data.path(),
                         answering("Remote Desktop", {"Allow Remote Interaction", "Share"}));
  const auto noDialog = [] { EXPECT_EQ(readWindow("Remote Desktop", true), ""); };
  checkInputOnCompositor("RemoteDesktop portal", {.afterKeys = noDialog}, data.path());
}

}  // namespace
}  // namespace quib::test
