// The quibbleton program on a Wayland session (headless sway, and KDE Plasma's kwin_wayland), each
// effect read back from outside it (the test window, wl-paste, pactl, the launch records).
#include <gtest/gtest.h>
#include <signal.h>

#include <cstdlib>

#include "DesktopProgramSupport.h"
#include "support/ChildProcess.h"
#include "support/TempDir.h"

namespace quib::test {
namespace {

TEST(WaylandProgram, EveryActionActsOnTheSession) {
  TempDir data, marks;
  prepareDesktop(marks.path());
  ChildProcess before({"/usr/bin/wl-copy", "--foreground", "before"});
  // The program's virtual keyboard comes first: sway drops the first keys of a keyboard made while
  // a window already has the focus.
  QuibClient phone;
  // With no platform named, the session's own is picked.
  auto p =
      startPaired(phone, {"--data-dir", data.path().string()},
                  {"데스크톱: wayland (WAYLAND_DISPLAY is set, XDG_SESSION_TYPE=wayland: Wayland display",
                   "input through wlroots virtual keyboard and pointer, clipboard through data-control"});
  ASSERT_TRUE(p);
  auto window = openWindow(true);
  ASSERT_TRUE(window);
  // Text is typed, not pasted: the clipboard is left as it was. Without a screenshot portal on this
  // bus the desktop's own shortcut is pressed.
  const auto afterTexts = [&] {
    EXPECT_EQ(run("wl-paste -n"), "before");
    EXPECT_EQ(act(phone, action(QuibActionKind::screenshotRegion)).message, "command+shift 4");
    EXPECT_TRUE(window->waitFor("key Print shift\n")) << window->output();
  };
  checkInput(phone, *window, {.pointerAt = std::pair(640, 400), .afterTexts = afterTexts});
  checkSoundAndApplications(phone, *window, marks.path());

  // A password manager's copy stays out of the history.
  ChildProcess hinted({QUIB_HINTED_COPY, "correct horse"});
  ASSERT_TRUE(hinted.waitFor("ready\n"));
  ChildProcess copied({"/usr/bin/wl-copy", "--foreground", "copied elsewhere"});
  EXPECT_TRUE(historyComesToStartWith(phone, "copied elsewhere"));
  const auto items = history(phone);
  EXPECT_EQ(std::find(items.begin(), items.end(), "correct horse"), items.end());
  p->signal(SIGTERM);
  EXPECT_EQ(p->wait(), 0) << p->output();
}

// On KDE Plasma (kwin_wayland, with-kwin.sh), the program granted KWin's fake input through its
// desktop entry: no portal, no dialog.
TEST(KwinProgram, InputGoesThroughFakeInputAndTheClipboardThroughDataControl) {
  // What the keymap lacks is pasted through data-control, and the copy there before comes back.
  ChildProcess before({"/usr/bin/wl-copy", "--foreground", "before"});
  checkInputOnCompositor(
      "KWin fake input (granted through the installed desktop entry), clipboard through data-control",
      {.scrollLine = "scroll smooth up\n", .afterTexts = [] {
         EXPECT_TRUE(eventually([] { return run("wl-paste -n") == "before"; })) << run("wl-paste -n");
       }});
}

// Under with-kwin.sh --portal, as run from source (no desktop entry, so no fake input): Plasma's
// portal. Plasma 5.27's asks an unsandboxed program nothing; Plasma 6's asks in a dialog.
TEST(KwinProgram, PortalInputWithoutTheDesktopEntry) {
  if (!std::getenv("QUIB_PORTAL")) GTEST_SKIP() << "needs Plasma's portal: run under with-kwin.sh --portal";
  TempDir data;
  const bool asks = std::getenv("QUIB_PORTAL_ASKS");
  checkInputOnCompositor("RemoteDesktop portal", {.scrollLine = "scroll smooth up\n"}, data.path(),
                         asks ? answering("Remote control requested", {"Share"}) : Consent{});
  // Plasma 6 restores the session at the next start, with no dialog and with the clipboard.
  const auto noDialog = [] { EXPECT_EQ(readWindow("Remote control requested", true), ""); };
  if (asks)
    checkInputOnCompositor("RemoteDesktop portal",
                           {.scrollLine = "scroll smooth up\n", .afterKeys = noDialog}, data.path());
}

}  // namespace
}  // namespace quib::test
