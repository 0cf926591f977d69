// The quibbleton program on a Wayland session (headless sway, and KDE Plasma's kwin_wayland): a
// phone paired over TCP sends every kind of action, and each effect is read back from outside the program (a
// GTK window on the compositor, wl-paste and wl-copy, pactl, the desktop entries' own launch records).
#include <gtest/gtest.h>
#include <signal.h>

#include <cstdlib>

#include "DesktopProgramSupport.h"
#include "support/ChildProcess.h"
#include "support/TempDir.h"

using namespace std::chrono_literals;

namespace quib::test {
namespace {

TEST(WaylandProgram, EveryActionActsOnTheSession) {
  TempDir data, marks;
  installApplications(marks.path());
  run("pactl set-default-sink Speakers");
  ChildProcess before({"/usr/bin/wl-copy", "--foreground", "before"});

  // The program's virtual keyboard comes first: sway drops the first keys of a keyboard made while
  // a window already has the focus.
  QuibClient phone;
  auto p = startOnWayland(data.path(), "wlroots virtual keyboard and pointer, clipboard through data-control",
                          phone);
  ASSERT_TRUE(p);
  ChildProcess window({"/usr/bin/env", "GDK_BACKEND=wayland", "/usr/bin/python3", QUIB_TEST_WINDOW});
  ASSERT_TRUE(window.waitFor("ready\n")) << window.output();

  // Keys: the phone's command shortcuts are Control ones here.
  checkKeys(phone, window);

  // Text is typed, not pasted: it arrives whole and the clipboard is left as it was.
  checkTypedText(phone, window);
  EXPECT_EQ(run("wl-paste -n"), "before");

  EXPECT_EQ(act(phone, action(QuibActionKind::volumeUp)).message, "볼륨 올림");
  EXPECT_TRUE(window.waitFor("key AudioRaiseVolume -\n")) << window.output();
  EXPECT_EQ(act(phone, action(QuibActionKind::mute)).message, "음소거 전환");
  EXPECT_TRUE(window.waitFor("key AudioMute -\n")) << window.output();

  // Without a screenshot portal on this bus the desktop's own shortcut is pressed.
  EXPECT_EQ(act(phone, action(QuibActionKind::screenshotRegion)).message, "command+shift 4");
  EXPECT_TRUE(window.waitFor("key Print shift\n")) << window.output();

  // The clipboard, both ways (before the right click, whose menu takes the field's focus).
  checkClipboardThroughWindow(phone, window);

  // The pointer starts in the middle of the screen; clicks, moves and a scroll over the field.
  EXPECT_EQ(act(phone, action(QuibActionKind::pointerClick, "double")).message, "클릭");
  EXPECT_TRUE(window.waitFor("button double 1\n")) << window.output();
  checkPointer(phone, window, 640, 400);

  // Sound: the next sink becomes the default.
  EXPECT_EQ(act(phone, action(QuibActionKind::audioOutputNext)).message, "출력: Headphones");
  EXPECT_EQ(run("pactl get-default-sink"), "Headphones");

  // A password manager's copy stays out of the history.
  {
    ChildProcess hinted({QUIB_HINTED_COPY, "correct horse"});
    ASSERT_TRUE(hinted.waitFor("ready\n"));
    ChildProcess copied({"/usr/bin/wl-copy", "--foreground", "copied elsewhere"});
    EXPECT_TRUE(historyComesToStartWith(phone, "copied elsewhere"));
    const auto items = history(phone);
    EXPECT_EQ(std::find(items.begin(), items.end(), "correct horse"), items.end());
    copied.signal(SIGTERM);
  }

  // Applications and addresses through the desktop's entries and default handlers.
  checkApplicationsAndAddresses(phone, marks.path());
  QuibAction site = action(QuibActionKind::openSite, "No Such App");
  site.url = "http://example.org/";
  site.preferApp = true;
  EXPECT_EQ(act(phone, site).message, "example.org");

  p->signal(SIGTERM);
  EXPECT_EQ(p->wait(), 0) << p->output();
  window.signal(SIGTERM);
  before.signal(SIGTERM);
}

TEST(WaylandProgram, AutoPicksTheWaylandSessionAndWaylandWithoutOneRefuses) {
  TempDir data;
  {
    ChildProcess autoChoice({QUIBBLETON_BINARY, "--port", "0", "--data-dir", data.path().string()});
    EXPECT_TRUE(autoChoice.waitFor(
        "데스크톱: wayland (WAYLAND_DISPLAY is set, XDG_SESSION_TYPE=wayland: Wayland display"))
        << autoChoice.output();
    autoChoice.signal(SIGTERM);
    EXPECT_EQ(autoChoice.wait(), 0);
  }
  const std::string display = std::getenv("WAYLAND_DISPLAY");
  unsetenv("WAYLAND_DISPLAY");
  checkRefused("wayland", "--platform wayland needs a Wayland display: WAYLAND_DISPLAY is not set",
               data.path());
  setenv("WAYLAND_DISPLAY", display.c_str(), 1);
}

// On KDE Plasma (kwin_wayland, with-kwin.sh), the program granted KWin's fake input through its
// desktop entry: no portal, no dialog.
TEST(KwinProgram, InputGoesThroughFakeInputAndTheClipboardThroughDataControl) {
  // What the keymap lacks is pasted through data-control, and the copy there before comes back.
  ChildProcess before({"/usr/bin/wl-copy", "--foreground", "before"});
  checkInputOnCompositor(
      "KWin fake input (granted through the installed desktop entry), clipboard through data-control",
      "scroll smooth up\n",
      [] { EXPECT_TRUE(eventually([] { return run("wl-paste -n") == "before"; })) << run("wl-paste -n"); });
  before.signal(SIGTERM);
}

// Under with-kwin.sh --portal, as run from source (no desktop entry, so no fake input): Plasma's
// RemoteDesktop portal and the clipboard through data-control. Plasma 5.27's portal asks an
// unsandboxed program nothing; Plasma 6's asks in a dialog, answered as a user would.
TEST(KwinProgram, PortalInputWithoutTheDesktopEntry) {
  if (!std::getenv("QUIB_PORTAL")) GTEST_SKIP() << "needs Plasma's portal: run under with-kwin.sh --portal";
  std::unique_ptr<ChildProcess> dialog;
  if (std::getenv("QUIB_PORTAL_ASKS"))
    dialog = std::make_unique<ChildProcess>(
        std::vector<std::string>{"/usr/bin/python3", QUIB_ATSPI_WINDOW, "Remote control requested", "30",
                                 "--press", "Share"},
        ChildProcess::Output::pipe);
  TempDir data;
  checkInputOnCompositor("RemoteDesktop portal", "scroll smooth up\n", {}, data.path());
  if (!dialog) return;
  EXPECT_EQ(dialog->wait(std::chrono::seconds(5)), 0) << dialog->output();
  // The second start: the session is restored with no dialog, and keys arrive.
  ChildProcess window(
      {"/usr/bin/env", "GDK_BACKEND=wayland", "/usr/bin/python3", QUIB_TEST_WINDOW, "--no-menu"});
  ASSERT_TRUE(window.waitFor("ready\n", 30s)) << window.output();
  QuibClient phone;
  auto program = startOnWayland(data.path(), "RemoteDesktop portal", phone);
  ASSERT_TRUE(program);
  EXPECT_EQ(run(std::string("/usr/bin/python3 ") + QUIB_ATSPI_WINDOW +
                " 'Remote control requested' 0 --absent; echo $?"),
            "0");
  checkKeys(phone, window);
  program->signal(SIGTERM);
  EXPECT_EQ(program->wait(), 0) << program->output();
  window.signal(SIGTERM);
}

// Plasma's compositor alone has no tray: the window stands in.
TEST(KwinProgram, StatusWindowWhenThePanelHasNoTray) {
  checkStatusWindow("wayland");
}

}  // namespace
}  // namespace quib::test
