// quibbleton on a bus of the test's own: where its status menu goes, the notice when a phone
// pairs, and a second instance turned away.
#include <gtest/gtest.h>

#include "client/QuibClient.h"
#include "platform/tray/TrayStatusBar.h"
#include "support/ChildProcess.h"
#include "support/FakeDesktopBus.h"
#include "support/TempDir.h"

namespace quib::test {
namespace {

TEST(DesktopProgramTest, TrayWhenThePanelHasOneAndANoticeOnPairing) {
  SessionBus bus;
  ASSERT_TRUE(bus.running());
  FakeWatcher watcher(bus);
  FakeNotifications notifications(bus);
  ASSERT_TRUE(watcher.owned() && notifications.owned());
  TempDir data;
  ChildProcess p(
      {QUIBBLETON_BINARY, "--platform", "virtual", "--port", "0", "--data-dir", data.path().string()});
  ASSERT_TRUE(bus.pump([&] { return !watcher.items.empty(); })) << p.output();
  const std::string item = watcher.items[0];

  std::optional<ShownMenu> m;
  ASSERT_TRUE(bus.pump([&] {
    m = readMenu(bus, item, TrayStatusBar::kMenuPath);
    return m && !m->items.empty() && m->items[0].label.rfind("대기 중 (포트 ", 0) == 0;
  }));
  const std::string header = m->items[0].label;
  const auto port = static_cast<std::uint16_t>(std::stoi(header.substr(header.find("포트 ") + 7)));
  const std::string codeLine = m->items[2].label;
  ASSERT_EQ(codeLine.rfind("페어링 코드:  ", 0), 0u) << codeLine;
  const std::string code = codeLine.substr(codeLine.size() - 6);

  QuibClient phone;
  phone.connect("127.0.0.1", port);
  ASSERT_EQ(phone.pair(code, "Kim's <b>phone</b>").type, ServerMessage::Kind::paired);
  ASSERT_TRUE(bus.pump([&] { return !notifications.notices.empty(); }));
  // The phone's name is shown as text, never read as markup.
  EXPECT_NE(notifications.notices[0].body.find("Kim&apos;s &lt;b&gt;phone&lt;/b&gt;"), std::string::npos)
      << notifications.notices[0].body;
  EXPECT_EQ(notifications.notices[0].summary, "새 기기가 페어링되었습니다");

  // Quit from the panel.
  const ShownItem* quit = nullptr;
  ASSERT_TRUE(bus.pump([&] {
    m = readMenu(bus, item, TrayStatusBar::kMenuPath);
    quit = m ? m->withLabel("Quibox 종료") : nullptr;
    return m && !m->items.empty() && m->items[0].label == "1대 연결됨" && quit;
  }));
  EXPECT_TRUE(click(bus, item, TrayStatusBar::kMenuPath, quit->id));
  EXPECT_EQ(p.wait(), 0) << p.output();
}

// With no tray the menu goes to the terminal; one instance per port.
TEST(DesktopProgramTest, TerminalWithoutATrayAndOneInstancePerPort) {
  SessionBus bus;  // also a runtime directory of the test's own for the lock
  ASSERT_TRUE(bus.running());
  TempDir data;
  // A port found free may be taken (by another test's connection) before the program binds it.
  std::string port;
  std::optional<ChildProcess> started;
  for (int attempt = 0; attempt < 5 && !started; ++attempt) {
    port = std::to_string(freePort());
    started.emplace(std::vector<std::string>{QUIBBLETON_BINARY, "--port", port, "--exit-on-eof", "--data-dir",
                                             data.path().string()});
    if (!started->waitFor("대기 중 (포트 " + port + ")")) started.reset();
  }
  ASSERT_TRUE(started);
  ChildProcess& p = *started;
  EXPECT_NE(
      p.output().find("quibbleton: no org.kde.StatusNotifierWatcher on the session bus (the panel shows "
                      "no tray); the status menu is on this terminal\n"),
      std::string::npos)
      << p.output();
  EXPECT_TRUE(p.waitFor("페어링 코드:  ")) << p.output();
  ChildProcess second({QUIBBLETON_BINARY, "--port", port, "--data-dir", data.path().string()});
  const std::string running = "quibbleton: already running for this user on port " + port + " (pid " +
                              std::to_string(p.pid()) + ")\n";
  EXPECT_TRUE(second.waitFor(running)) << second.output();
  EXPECT_EQ(second.output(), running);
  EXPECT_EQ(second.wait(), 2);
  p.closeInput();
  EXPECT_EQ(p.wait(), 0) << p.output();
}

}  // namespace
}  // namespace quib::test
