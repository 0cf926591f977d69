// The terminal menu: what it prints, and that a typed number means the menu the user saw.
#include <gtest/gtest.h>
#include <unistd.h>

#include <condition_variable>
#include <future>
#include <sstream>

#include "platform/terminal/TerminalStatusBar.h"
#include "support/QueueCall.h"

namespace quib {
namespace {

using namespace std::chrono_literals;

class TerminalStatusBarTest : public ::testing::Test {
 protected:
  ManualClock clock;
  MainQueue queue{clock};
  std::ostringstream out;
  int input[2] = {-1, -1};
  std::unique_ptr<TerminalStatusBar> bar;
  std::thread mainThread;
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<std::string> chosen;

  void SetUp() override {
    ASSERT_EQ(pipe(input), 0);
    bar = std::make_unique<TerminalStatusBar>(
        queue, out, input[0], [] {}, [] {});
    bar->setOnChoose([this](const MenuItem& item) {
      std::lock_guard lock(mutex);
      chosen.push_back(item.title);
      changed.notify_all();
    });
    mainThread = std::thread([this] { queue.run(); });
  }
  void TearDown() override {
    queue.stop();
    mainThread.join();
    bar.reset();
    close(input[0]);
    close(input[1]);
  }
  template <typename F>
  void onMain(F f) {
    test::onQueue(queue, f);
  }
  // Types a line and waits until the main queue has handled it (the reader thread posts it there).
  void type(const std::string& line) {
    const std::string before = printed();
    const std::size_t chosenBefore = picks().size();
    const std::string bytes = line + "\n";
    ASSERT_EQ(write(input[1], bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    for (int i = 0; i < 100000; ++i) {
      if (printed() != before || picks().size() != chosenBefore) return;
      std::this_thread::yield();
    }
    FAIL() << "the typed line was not handled";
  }
  std::string printed() {
    std::string s;
    onMain([&] { s = out.str(); });
    return s;
  }
  std::vector<std::string> picks() {
    std::lock_guard lock(mutex);
    return chosen;
  }
};

Menu deviceMenu(std::vector<std::string> devices) {
  Menu m{MenuItem::info(std::to_string(devices.size()) + "대 연결됨")};
  for (const auto& d : devices) {
    MenuItem item = MenuItem::command("  " + d, MenuItem::Action::disconnectDevice);
    item.toolTip = "클릭하면 이 기기의 페어링을 해제합니다";
    m.push_back(item);
  }
  m.push_back(MenuItem::separator());
  m.push_back(MenuItem::command("페어링 코드 새로 만들기", MenuItem::Action::regenerateCode));
  return m;
}

TEST_F(TerminalStatusBarTest, PrintsChangesOnceWithWhatChoosingDoes) {
  onMain([&] {
    bar->setMenu(deviceMenu({"A"}));
    bar->setMenu(deviceMenu({"A"}));
  });
  const std::string text = printed();
  EXPECT_NE(text.find("[1]   A  — 클릭하면 이 기기의 페어링을 해제합니다\n"), std::string::npos) << text;
  EXPECT_EQ(text.find("Quibbleton"), text.rfind("Quibbleton"));  // printed once
  // The pairing code shows on a terminal; in a log (output that is no terminal) only it is hidden.
  Menu code{MenuItem::command("페어링 코드:  004211", MenuItem::Action::copyCode),
            MenuItem::command("  Phone 004211", MenuItem::Action::disconnectDevice)};
  EXPECT_NE(TerminalStatusBar::render(code).find("코드:  004211"), std::string::npos);
  const std::string log = TerminalStatusBar::render(code, false);
  EXPECT_EQ(log.find("코드:  004211"), std::string::npos) << log;
  EXPECT_NE(log.find("  Phone 004211"), std::string::npos) << log;
}

TEST_F(TerminalStatusBarTest, NumberTypedAgainstAChangedMenuIsNotActedOn) {
  onMain([&] { bar->setMenu(deviceMenu({"A"})); });
  clock.advance(10s);
  // A device arrives just before the user presses return: "1" may have meant the old first item.
  onMain([&] { bar->setMenu(deviceMenu({"B", "A"})); });
  type("1");
  EXPECT_TRUE(picks().empty());
  EXPECT_NE(printed().find("메뉴가 바뀌었습니다"), std::string::npos);
  // Now the menu on screen is the current one.
  type("1");
  EXPECT_EQ(picks(), std::vector<std::string>{"  B"});
  // A change that keeps the numbering (only the header) does not get in the way.
  onMain([&] {
    Menu m = deviceMenu({"B", "A"});
    m[0].title = "3대 연결됨";
    bar->setMenu(m);
  });
  type("2");
  EXPECT_EQ(picks().back(), "  A");
  // Nor does a change the user has had time to read.
  onMain([&] { bar->setMenu(deviceMenu({"C"})); });
  clock.advance(TerminalStatusBar::kSettle);
  type("1");
  EXPECT_EQ(picks().back(), "  C");
}

}  // namespace
}  // namespace quib
