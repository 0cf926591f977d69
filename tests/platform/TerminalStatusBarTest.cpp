// The terminal menu: what it prints, and that a typed number means the menu the user saw.
#include <gtest/gtest.h>
#include <unistd.h>

#include <sstream>
#include <thread>

#include "platform/terminal/TerminalStatusBar.h"
#include "support/QueueCall.h"

namespace quib {
namespace {

using namespace std::chrono_literals;

Menu deviceMenu(std::vector<std::string> devices) {
  Menu m{MenuItem::info(std::to_string(devices.size()) + "대 연결됨")};
  for (const auto& d : devices) m.push_back(MenuItem::command("  " + d, MenuItem::Action::disconnectDevice));
  m.push_back(MenuItem::separator());
  m.push_back(MenuItem::command("페어링 코드 새로 만들기", MenuItem::Action::regenerateCode));
  return m;
}

TEST(TerminalStatusBarTest, PrintsTheMenuAndActsOnlyOnTheMenuTheUserSaw) {
  ManualClock clock;
  MainQueue queue{clock};
  std::ostringstream out;
  int input[2];
  ASSERT_EQ(pipe(input), 0);
  std::vector<std::string> chosen;  // main queue
  auto owned = std::make_unique<TerminalStatusBar>(
      queue, out, input[0], [] {}, [] {});
  TerminalStatusBar& bar = *owned;
  bar.setOnChoose([&](const MenuItem& item) { chosen.push_back(item.title); });
  std::thread mainThread([&] { queue.run(); });
  auto onMain = [&](auto f) { return test::onQueue(queue, f); };
  auto state = [&] { return onMain([&] { return out.str() + std::to_string(chosen.size()); }); };
  // Types a line and waits until the main queue has handled it (the reader thread posts it there).
  auto type = [&](const std::string& line) {
    const std::string before = state(), bytes = line + "\n";
    ASSERT_EQ(write(input[1], bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    for (int i = 0; i < 100000 && state() == before; ++i) std::this_thread::yield();
    ASSERT_NE(state(), before) << "the typed line was not handled";
  };

  onMain([&] { bar.setMenu(deviceMenu({"A"})); });
  const std::string text = onMain([&] { return out.str(); });
  EXPECT_NE(text.find("[1]   A\n"), std::string::npos) << text;

  clock.advance(10s);
  // A device arrives just before the user presses return: "1" may have meant the old first item.
  onMain([&] { bar.setMenu(deviceMenu({"B", "A"})); });
  type("1");
  EXPECT_TRUE(
      onMain([&] { return chosen.empty() && out.str().find("메뉴가 바뀌었습니다") != std::string::npos; }));
  // Now the menu on screen is the current one.
  type("1");
  type("2");
  EXPECT_EQ(onMain([&] { return chosen; }), (std::vector<std::string>{"  B", "  A"}));
  queue.stop();
  mainThread.join();
  owned.reset();
  close(input[0]);
  close(input[1]);
}

TEST(TerminalStatusBarTest, ThePairingCodeIsHiddenOnlyInALog) {
  Menu code{MenuItem::command("페어링 코드:  004211", MenuItem::Action::copyCode),
            MenuItem::command("  Phone 004211", MenuItem::Action::disconnectDevice)};
  EXPECT_NE(TerminalStatusBar::render(code).find("코드:  004211"), std::string::npos);
  const std::string log = TerminalStatusBar::render(code, false);
  EXPECT_EQ(log.find("코드:  004211"), std::string::npos) << log;
  EXPECT_NE(log.find("  Phone 004211"), std::string::npos) << log;
}

}  // namespace
}  // namespace quib
