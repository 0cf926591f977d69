// The status menu in the panel: read back over a private session bus the way a panel reads it
// (GetLayout, Event, the item's properties), with the shell and a server that phones reach over TCP.
#include <gtest/gtest.h>

#include <algorithm>

#include "app/AppDelegate.h"
#include "platform/tray/TrayStatusBar.h"
#include "support/FakeDesktopBus.h"
#include "support/TestServer.h"

namespace quib::test {
namespace {

TEST(DbusMenuModelTest, NumbersLabelsAndProperties) {
  DbusMenuModel model;
  Menu menu{MenuItem::info("  my_phone"), MenuItem::separator(),
            MenuItem::command("Quibox 종료", MenuItem::Action::quit)};
  menu[2].keyEquivalent = "q";
  model.replace(menu);
  const auto first = model.entries();
  model.replace(menu);
  // A rebuilt menu never reuses an id: a click meant for the old menu finds nothing.
  EXPECT_EQ(model.revision(), 2u);
  for (const auto& e : first) EXPECT_EQ(model.find(e.id), nullptr);
  EXPECT_EQ(model.find(model.entries()[0].id)->title, "  my_phone");
  EXPECT_TRUE(model.contains(0));
  // Underscores are mnemonics to a panel unless doubled.
  EXPECT_EQ(DbusMenuModel::label("a_b__c"), "a__b____c");

  GVariant* layout = g_variant_ref_sink(model.layout(0, 0, {}));
  GVariant* children = g_variant_get_child_value(layout, 2);
  EXPECT_EQ(g_variant_n_children(children), 0u);  // depth 0: the root alone
  g_variant_unref(children);
  g_variant_unref(layout);
  GVariant* only = g_variant_ref_sink(model.properties(model.entries()[2].id, {"label"}));
  EXPECT_EQ(g_variant_n_children(only), 1u);
  g_variant_unref(only);

  EXPECT_EQ(DbusMenuModel::iconName(menu), "quibbleton-no-phone-symbolic");
  Menu device = menu;
  device[0].action = MenuItem::Action::disconnectDevice;
  EXPECT_EQ(DbusMenuModel::iconName(device), "quibbleton-connected-symbolic");
  device.push_back(MenuItem::command("⚠️ 손쉬운 사용 권한 필요 — 열기",
                                     MenuItem::Action::openAccessibilitySettings));
  EXPECT_EQ(DbusMenuModel::iconName(device), "quibbleton-not-permitted-symbolic");
}

class TrayTest : public ::testing::Test {
 protected:
  SessionBus bus;  // first: the tray connects to it
  TestServer t{{}, false};
  ClipboardWatcher clipboard{t.desktop().pasteboard(), t.mainQueue()};
  std::unique_ptr<TrayStatusBar> tray;
  std::unique_ptr<AppDelegate> delegate;

  void SetUp() override {
    ASSERT_TRUE(bus.running());
    std::string error;
    tray = TrayStatusBar::create(t.mainQueue(), &error);
    ASSERT_TRUE(tray) << error;
  }
  void launch() {
    t.onMain([&] {
      delegate =
          std::make_unique<AppDelegate>(t.desktop().platform(), t.mainQueue(), *tray, t.server(), clipboard);
      delegate->applicationDidFinishLaunching();
    });
  }
  void TearDown() override {
    t.onMain([&] {
      delegate.reset();
      tray.reset();
    });
  }
  // The first menu the panel reads that satisfies `ready`.
  ShownMenu menuWhen(const std::function<bool(const ShownMenu&)>& ready) {
    std::optional<ShownMenu> m;
    const bool ok = bus.pump([&] {
      m = readMenu(bus, tray->busName(), TrayStatusBar::kMenuPath);
      return m && ready(*m);
    });
    EXPECT_TRUE(ok) << "menu never got there; last header: "
                    << (m && !m->items.empty() ? m->items[0].label : "(none)");
    return m.value_or(ShownMenu{});
  }
  ShownMenu menuWithHeader(const std::string& header) {
    return menuWhen([&](const ShownMenu& m) { return !m.items.empty() && m.items[0].label == header; });
  }
  std::string iconName() {
    GVariant* v = itemProperty(bus, tray->busName(), "IconName");
    std::string name = v ? g_variant_get_string(v, nullptr) : "";
    if (v) g_variant_unref(v);
    return name;
  }
  bool clickItem(std::int32_t id) {
    const bool accepted = click(bus, tray->busName(), TrayStatusBar::kMenuPath, id);
    t.onMain([] {});  // the click was posted to the main queue before the reply: now it has run
    return accepted;
  }
};

TEST_F(TrayTest, MenuReadsLikeTheModel) {
  t.server().setPairingCode("004211");
  t.desktop().audio().setAudioDevices({VirtualAudioHardware::AudioDevice{7, "Speakers", std::vector<std::uint32_t>{2}}}, 7);
  launch();
  const std::string waiting = "대기 중 (포트 " + std::to_string(t.port()) + ")";
  ShownMenu m = menuWithHeader(waiting);
  EXPECT_EQ(m.summaries(),
            (std::vector<std::string>{waiting + " (off)", "---", "페어링 코드:  004211",
                                      "  아이폰 앱에 이 코드를 입력하세요 (클릭 시 복사) (off)", "---",
                                      "✓ 손쉬운 사용 권한 허용됨 (off)", "현재 출력: Speakers (off)", "---",
                                      "페어링 코드 새로 만들기", "페어링된 기기 모두 지우기", "---",
                                      "Quibox 종료"}));
  EXPECT_EQ(m.items.back().shortcut, (std::vector<std::vector<std::string>>{{"Control", "q"}}));
  EXPECT_TRUE(m.items[2].shortcut.empty());
  EXPECT_EQ(iconName(), "quibbleton-no-phone-symbolic");

  // Two phones: the count replaces the state, each device is listed with its unpairing hint as soon
  // as it has paired, and a name with an underscore reaches the panel as written.
  auto a = t.connectPaired("Phone_A");
  auto b = t.connectPaired("Phone B");
  m = menuWhen([](const ShownMenu& m) { return m.withLabel("  Phone B"); });
  ASSERT_GE(m.items.size(), 4u);
  // Devices come in the server's order.
  std::vector<std::string> devices{m.items[1].summary(), m.items[2].summary()};
  std::sort(devices.begin(), devices.end());
  EXPECT_EQ(devices, (std::vector<std::string>{"  Phone B", "  Phone__A"}));
  EXPECT_EQ(m.items[1].accessibleDesc, "클릭하면 이 기기의 페어링을 해제합니다");
  EXPECT_EQ(m.items[2].accessibleDesc, "클릭하면 이 기기의 페어링을 해제합니다");
  EXPECT_EQ(m.items[3].summary(), "  기기를 클릭하면 연결이 해제됩니다 (off)");
  EXPECT_EQ(m.items[4].summary(), "---");
  EXPECT_EQ(iconName(), "quibbleton-connected-symbolic");

  // Input not permitted: the warning line can be clicked and the icon says so after a rebuild.
  t.desktop().accessibility().setTrusted(false);
  t.onMain([&] { delegate->rebuildMenu(); });
  m = menuWhen(
      [](const ShownMenu& m) { return m.withLabel("⚠️ 손쉬운 사용 권한 필요 — 열기"); });
  EXPECT_TRUE(m.withLabel("⚠️ 손쉬운 사용 권한 필요 — 열기")->enabled);
  EXPECT_EQ(iconName(), "quibbleton-not-permitted-symbolic");
}

TEST_F(TrayTest, ClicksReachTheCommands) {
  t.server().setPairingCode("000042");
  launch();
  std::string tokenA, tokenB;
  auto a = t.connectPaired("Phone_A", &tokenA);
  auto b = t.connectPaired("Phone B", &tokenB);
  ShownMenu m = menuWhen([](const ShownMenu& m) { return m.withLabel("  Phone B") && m.withLabel("  Phone__A"); });
  const ShownItem* code = m.withLabel("페어링 코드:  000042");
  ASSERT_TRUE(code);

  // Copying leaves the menu as it is; clicking information does nothing.
  EXPECT_TRUE(clickItem(code->id));
  EXPECT_EQ(t.desktop().pasteboard().string(), "000042");
  EXPECT_TRUE(clickItem(m.items[0].id));
  EXPECT_EQ(readMenu(bus, tray->busName(), TrayStatusBar::kMenuPath)->revision, m.revision);

  // A device: unpaired and its connection closed; the other stays.
  const ShownItem* phoneA = m.withLabel("  Phone__A");
  ASSERT_TRUE(phoneA);
  EXPECT_TRUE(clickItem(phoneA->id));
  EXPECT_TRUE(a->waitForClose());
  EXPECT_EQ(t.defaults().stringArray("pairedTokens"), std::vector<std::string>{tokenB});
  // Unpairing rebuilds the menu, and so does the count when the connection has closed.
  ShownMenu after = menuWhen([](const ShownMenu& m) {
    return !m.withLabel("  Phone__A") && !m.items.empty() && m.items[0].label == "1대 연결됨";
  });
  EXPECT_TRUE(after.withLabel("  Phone B"));

  // A new code: six digits in the next menu. The old menu's ids are dead.
  const ShownItem* renew = after.withLabel("페어링 코드 새로 만들기");
  ASSERT_TRUE(renew);
  EXPECT_TRUE(clickItem(renew->id));
  ShownMenu renewed = menuWhen([&](const ShownMenu& m) { return m.revision > after.revision; });
  const std::string shown = "페어링 코드:  " + t.server().pairingCode();
  ASSERT_TRUE(renewed.withLabel(shown));
  const std::string renewedCode = t.server().pairingCode();
  EXPECT_EQ(renewedCode.size(), 6u);
  EXPECT_TRUE(std::all_of(renewedCode.begin(), renewedCode.end(), [](char c) { return c >= '0' && c <= '9'; }));
  EXPECT_FALSE(clickItem(code->id));
  EXPECT_EQ(t.desktop().pasteboard().string(), "000042");

  // Forgetting every device empties the stored list.
  const ShownItem* forget = renewed.withLabel("페어링된 기기 모두 지우기");
  ASSERT_TRUE(forget);
  EXPECT_TRUE(clickItem(forget->id));
  EXPECT_EQ(t.defaults().stringArray("pairedTokens"), std::vector<std::string>{});
}

TEST_F(TrayTest, RegistersWithAWatcherThatComesLater) {
  launch();
  FakeWatcher watcher(bus);
  ASSERT_TRUE(watcher.owned());
  EXPECT_TRUE(bus.pump([&] { return !watcher.items.empty(); }));
  EXPECT_EQ(watcher.items, std::vector<std::string>{tray->busName()});
  GVariant* menuPath = itemProperty(bus, tray->busName(), "Menu");
  ASSERT_TRUE(menuPath);
  EXPECT_STREQ(g_variant_get_string(menuPath, nullptr), TrayStatusBar::kMenuPath);
  g_variant_unref(menuPath);
  GVariant* tip = itemProperty(bus, tray->busName(), "ToolTip");
  ASSERT_TRUE(tip);
  const gchar *icon = nullptr, *title = nullptr, *text = nullptr;
  g_variant_get(tip, "(&s@a(iiay)&s&s)", &icon, nullptr, &title, &text);
  EXPECT_STREQ(title, "Quibox");
  g_variant_unref(tip);
}

}  // namespace
}  // namespace quib::test
