// The status menu in the panel: read back over a private session bus the way a panel reads it
// (GetLayout, Event, the item's properties). What the menu holds is the shell's business
// (AppDelegateTest); here, how any menu reaches the panel and a click comes back.
#include <gtest/gtest.h>

#include <thread>

#include "platform/tray/TrayStatusBar.h"
#include "support/FakeDesktopBus.h"
#include "support/QueueCall.h"

namespace quib::test {
namespace {

class TrayTest : public ::testing::Test {
 protected:
  SessionBus bus;  // first: the tray connects to it
  ManualClock clock;
  MainQueue queue{clock};
  std::thread mainThread{[this] { queue.run(); }};
  std::unique_ptr<TrayStatusBar> tray;
  std::vector<std::string> chosen;  // main thread

  void SetUp() override {
    std::string error;
    tray = TrayStatusBar::create(queue, &error);
    ASSERT_TRUE(tray) << error;
    tray->setOnChoose([this](const MenuItem& item) { chosen.push_back(item.title); });
  }
  void TearDown() override {
    onMain([&] { tray.reset(); });
    queue.stop();
    mainThread.join();
  }
  void onMain(const std::function<void()>& f) { test::onQueue(queue, f); }
  // The first menu the panel reads that satisfies `ready`.
  ShownMenu menuWhen(const std::function<bool(const ShownMenu&)>& ready) {
    std::optional<ShownMenu> m;
    EXPECT_TRUE(bus.pump([&] {
      m = readMenu(bus, tray->busName(), TrayStatusBar::kMenuPath);
      return m && ready(*m);
    }));
    return m.value_or(ShownMenu{});
  }
  std::string stringProperty(const char* name) {
    GVariant* v = itemProperty(bus, tray->busName(), name);
    std::string s = v ? g_variant_get_string(v, nullptr) : "";
    if (v) g_variant_unref(v);
    return s;
  }
  bool clickItem(std::int32_t id) {
    const bool accepted = click(bus, tray->busName(), TrayStatusBar::kMenuPath, id);
    onMain([] {});  // the click was posted to the main queue before the reply: now it has run
    return accepted;
  }
};

TEST_F(TrayTest, MenuReachesThePanelAndClicksComeBack) {
  Menu menu{MenuItem::info("1대 연결됨"), MenuItem::command("  Phone_A", MenuItem::Action::disconnectDevice),
            MenuItem::separator(), MenuItem::command("Quibox 종료", MenuItem::Action::quit)};
  onMain([&] { tray->setMenu(menu); });
  ShownMenu m = menuWhen([](const ShownMenu& m) { return m.items.size() == 4; });
  EXPECT_EQ(m.summaries(),
            (std::vector<std::string>{"1대 연결됨 (off)", "  Phone__A", "---", "Quibox 종료"}));
  EXPECT_EQ(stringProperty("IconName"), "quibbleton-connected-symbolic");
  EXPECT_EQ(stringProperty("Menu"), TrayStatusBar::kMenuPath);

  // A command reaches the shell as the item it was.
  EXPECT_TRUE(clickItem(m.items[1].id));
  onMain([&] { EXPECT_EQ(chosen, std::vector<std::string>{"  Phone_A"}); });
  // A new menu: the old ids are dead, the new ones live.
  menu[1].title = "  Phone B";
  onMain([&] { tray->setMenu(menu); });
  ShownMenu next = menuWhen([&](const ShownMenu& n) { return n.revision > m.revision; });
  EXPECT_FALSE(clickItem(m.items[1].id));
  EXPECT_TRUE(clickItem(next.items[1].id));
  onMain([&] { EXPECT_EQ(chosen, (std::vector<std::string>{"  Phone_A", "  Phone B"})); });
}

}  // namespace
}  // namespace quib::test
