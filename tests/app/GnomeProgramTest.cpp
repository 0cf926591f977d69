// The quibbleton program on GNOME (gnome-shell headless, no portal): input and the clipboard go
// through mutter's remote-desktop session. A phone paired over TCP acts, and each effect is read
// back from the GTK window on the shell, the phone's clipboard history and AT-SPI.
#include <gtest/gtest.h>

#include "DesktopProgramSupport.h"

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

}  // namespace
}  // namespace quib::test
