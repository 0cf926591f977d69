// The status menu as a model, through a server that phones reach over real TCP.
#include <gtest/gtest.h>

#include "app/AppDelegate.h"
#include "support/TestServer.h"

namespace quib::test {
namespace {

class RecordingStatusBar : public StatusBar {
 public:
  void setMenu(const Menu& menu) override { menus.push_back(menu); }
  void setOnChoose(std::function<void(const MenuItem&)> f) override { onChoose = std::move(f); }
  std::vector<Menu> menus;
  std::function<void(const MenuItem&)> onChoose;
};

std::vector<std::string> titles(const Menu& menu) {
  std::vector<std::string> out;
  for (const auto& item : menu) out.push_back(item.isSeparator ? "---" : item.title);
  return out;
}

// Every count change reaches the menu at once, so that a test reads it right after a reply.
QuibServer::Options uncoalesced() {
  QuibServer::Options o;
  o.countInterval = std::chrono::milliseconds(0);
  return o;
}

class AppDelegateTest : public ::testing::Test {
 protected:
  TestServer t{uncoalesced(), false};
  RecordingStatusBar bar;
  ClipboardWatcher clipboard{t.desktop().pasteboard(), t.mainQueue()};
  std::unique_ptr<AppDelegate> delegate;

  void SetUp() override {
    t.onMain([&] {
      delegate =
          std::make_unique<AppDelegate>(t.desktop().platform(), t.mainQueue(), bar, t.server(), clipboard);
      delegate->applicationDidFinishLaunching();
    });
  }
  void TearDown() override {
    t.onMain([&] { delegate.reset(); });
  }
  Menu menu() {
    return t.onMain([&] { return delegate->buildMenu(); });
  }
};

TEST(AppDelegateLaunchTest, UntrustedLaunchAsksForPermission) {
  TestServer t{{}, false};
  RecordingStatusBar bar;
  ClipboardWatcher clipboard{t.desktop().pasteboard(), t.mainQueue()};
  t.desktop().accessibility().setTrusted(false);
  t.onMain([&] {
    AppDelegate delegate(t.desktop().platform(), t.mainQueue(), bar, t.server(), clipboard);
    delegate.applicationDidFinishLaunching();
  });
  EXPECT_EQ(t.desktop().accessibility().promptCount(), 1);
  EXPECT_NE(t.port(), 0);
}

TEST_F(AppDelegateTest, NothingConnected) {
  t.server().setPairingCode("004211");
  using VD = VirtualAudioHardware::AudioDevice;
  t.desktop().audio().setAudioDevices({VD{7, "Speakers", std::vector<std::uint32_t>{2}}}, 7);
  t.onMain([&] { delegate->rebuildMenu(); });
  auto m = menu();
  EXPECT_EQ(titles(m), (std::vector<std::string>{
                           "대기 중 (포트 " + std::to_string(t.port()) + ")", "---", "페어링 코드:  004211",
                           "  아이폰 앱에 이 코드를 입력하세요 (클릭 시 복사)", "---",
                           "✓ 손쉬운 사용 권한 허용됨", "현재 출력: Speakers", "---",
                           "페어링 코드 새로 만들기", "페어링된 기기 모두 지우기", "---", "Quibox 종료"}));
  EXPECT_FALSE(m[0].enabled);
  EXPECT_TRUE(m[2].enabled);
  EXPECT_EQ(m[2].action, MenuItem::Action::copyCode);
  EXPECT_FALSE(m[5].enabled);
  EXPECT_EQ(m.back().keyEquivalent, "q");
  for (std::size_t i = 0; i + 1 < m.size(); ++i) EXPECT_TRUE(m[i].keyEquivalent.empty());
  // The menu shown was built when the state arrived, and again when asked.
  EXPECT_GE(bar.menus.size(), 2u);
  EXPECT_EQ(bar.menus.front()[0].title, "시작 중…");
}

TEST_F(AppDelegateTest, ConnectedDevicesAndUnpairing) {
  std::string token;
  auto paired = t.connectPaired("Pixel", &token);
  auto anonymous = t.connect();
  anonymous->usePairingCode(t.server().pairingCode());
  auto m = request(ClientMessage::Kind::clipboard);
  m.token = token;
  anonymous->request(m);  // authorized by the request's token: listed without one
  // Counts are posted to the main queue before the greeting is sent, so they are in by now.
  auto menu = this->menu();
  EXPECT_EQ(menu[0].title, "2대 연결됨");
  EXPECT_EQ(menu[1].title, "  Pixel");
  EXPECT_TRUE(menu[1].enabled);
  EXPECT_EQ(menu[1].representedObject, token);
  EXPECT_EQ(menu[1].toolTip, "클릭하면 이 기기의 페어링을 해제합니다");
  EXPECT_EQ(menu[2].title, "  이름 없는 기기");
  EXPECT_FALSE(menu[2].enabled);
  EXPECT_EQ(menu[3].title, "  기기를 클릭하면 연결이 해제됩니다");
  t.onMain([&] { bar.onChoose(menu[1]); });
  EXPECT_TRUE(paired->waitForClose());
  // Its connections closed; the one authorized without a token stays.
  EXPECT_EQ(anonymous->request(request(ClientMessage::Kind::ping, "alive")).requestId, "alive");
  EXPECT_EQ(t.defaults().stringArray("pairedTokens"), std::vector<std::string>{});
}

TEST_F(AppDelegateTest, CommandsAndAccessibilityLine) {
  t.desktop().accessibility().setTrusted(false);
  t.onMain([&] { delegate->rebuildMenu(); });
  MenuItem warn = bar.menus.back()[5];
  EXPECT_EQ(warn.title, "⚠️ 손쉬운 사용 권한 필요 — 열기");
  EXPECT_TRUE(warn.enabled);
  EXPECT_EQ(t.desktop().accessibility().promptCount(), 0);
  t.onMain([&] { delegate->perform(warn); });
  EXPECT_EQ(t.desktop().accessibility().promptCount(), 1);
  EXPECT_EQ(t.desktop().workspace().openedURLs(),
            std::vector<std::string>{VirtualAccessibility::kSettingsURL});
  // The desktop granting input rebuilds the menu; withdrawing it brings the warning back.
  t.desktop().accessibility().setTrusted(true);
  t.onMain([] {});
  EXPECT_EQ(bar.menus.back()[5], MenuItem::info("✓ 손쉬운 사용 권한 허용됨"));
  t.desktop().accessibility().setTrusted(false);
  t.onMain([] {});
  EXPECT_EQ(bar.menus.back()[5].title, "⚠️ 손쉬운 사용 권한 필요 — 열기");
  t.desktop().accessibility().setTrusted(true);

  t.onMain([&] { delegate->regenerateCode(); });
  const std::string code = t.server().pairingCode();
  EXPECT_EQ(code.size(), 6u);
  EXPECT_EQ(bar.menus.back()[2].title, "페어링 코드:  " + code);
  t.onMain([&] { delegate->copyCode(); });
  EXPECT_EQ(t.desktop().pasteboard().string(), code);
  const auto types = t.desktop().pasteboard().types();
  EXPECT_NE(std::find(types.begin(), types.end(), PasteboardType::concealed), types.end());
  // No audio output known: no output line.
  for (const auto& item : bar.menus.back()) EXPECT_EQ(item.title.rfind("현재 출력", 0), std::string::npos);
}

TEST_F(AppDelegateTest, OutputLineFollowsPluggedDevices) {
  using VD = VirtualAudioHardware::AudioDevice;
  const auto shown = [&] {
    return t.onMain([&] {
      std::string line;
      for (const auto& item : bar.menus.back())
        if (item.title.rfind("현재 출력", 0) == 0) line = item.title;
      return line;
    });
  };
  t.desktop().audio().setAudioDevices({VD{7, "Speakers", std::vector<std::uint32_t>{2}}}, 7);
  EXPECT_EQ(shown(), "현재 출력: Speakers");
  t.desktop().audio().setAudioDevices(
      {VD{7, "Speakers", std::vector<std::uint32_t>{2}}, VD{9, "Headphones", std::vector<std::uint32_t>{2}}},
      9);
  EXPECT_EQ(shown(), "현재 출력: Headphones");
  t.onMain([&] { delegate.reset(); });
  // Once the shell is gone a device change reaches nobody.
  t.desktop().audio().setAudioDevices({}, std::nullopt);
  t.onMain([] {});
}

TEST_F(AppDelegateTest, DeviceIsListedOnceIdentifiedWithItsNameMadeSafe) {
  auto phone = t.connect();
  t.onMain([] {});  // the count for the connection is in
  EXPECT_EQ(bar.menus.back()[0].title, "1대 연결됨");
  EXPECT_EQ(bar.menus.back()[1].isSeparator, true);
  // Pairing lists it at once, on the same connection; the name cannot move the terminal's cursor.
  ASSERT_EQ(phone->pair(t.server().pairingCode(), "Jin\x1b[2J\nPhone").type, ServerMessage::Kind::paired);
  t.onMain([] {});
  EXPECT_EQ(bar.menus.back()[1].title, "  Jin\xEF\xBF\xBD[2J\xEF\xBF\xBDPhone");
}

TEST_F(AppDelegateTest, ClosedPairingIsShownUntilItReopens) {
  const std::string wrong = t.server().pairingCode() == "111111" ? "222222" : "111111";
  for (int a = 2, spent = 0; spent < PairingGuard::kMaxFailures; ++a)
    for (int i = 0; i < 5 && spent < PairingGuard::kMaxFailures; ++i, ++spent) {
      auto c = t.connectFrom("127.0.0." + std::to_string(a));
      c->pair(wrong, "x");
    }
  auto closedLine = [&] {
    auto m = t.onMain([&] { return bar.menus.back(); });
    for (const auto& item : m)
      if (item.title.find("페어링이 닫혔습니다") != std::string::npos) return true;
    return false;
  };
  EXPECT_TRUE(closedLine());
  // A new code reopens it, and the menu says so.
  t.onMain([&] { delegate->regenerateCode(); });
  EXPECT_FALSE(closedLine());
  // Closed again, it reopens by itself once the lockout has passed.
  for (int a = 30, spent = 0; spent < PairingGuard::kMaxFailures; ++a)
    for (int i = 0; i < 5 && spent < PairingGuard::kMaxFailures; ++i, ++spent)
      t.connectFrom("127.0.0." + std::to_string(a))->pair(wrong, "x");
  EXPECT_TRUE(closedLine());
  t.clock().advance(PairingGuard::kWindow);
  t.onMain([] {});  // the due rebuild is promoted with this task and runs right after it
  EXPECT_FALSE(closedLine());
}

}  // namespace
}  // namespace quib::test
