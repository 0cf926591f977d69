// The status menu as a model, through a server that phones reach over real TCP.
#include <gtest/gtest.h>

#include <algorithm>

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

class AppDelegateTest : public ::testing::Test {
 protected:
  // Every count change reaches the menu at once, so that a test reads it right after a reply.
  static QuibServer::Options uncoalesced() {
    QuibServer::Options o;
    o.countInterval = std::chrono::milliseconds(0);
    return o;
  }
  TestServer t{uncoalesced(), false};
  RecordingStatusBar bar;
  std::unique_ptr<AppDelegate> delegate;

  void launch() {
    t.onMain([&] {
      delegate = std::make_unique<AppDelegate>(t.desktop().platform(), t.mainQueue(), bar, t.server(),
                                               t.clipboard());
      delegate->applicationDidFinishLaunching();
    });
  }
  void TearDown() override {
    t.onMain([&] { delegate.reset(); });
  }
  // The menu shown last, once what the main queue holds has run.
  Menu shown() {
    return t.onMain([&] { return bar.menus.back(); });
  }
};

TEST_F(AppDelegateTest, IdleMenuItsCommandsAndTheAccessibilityLine) {
  // An untrusted start asks the desktop at once.
  t.desktop().accessibility().setTrusted(false);
  launch();
  EXPECT_EQ(t.desktop().accessibility().promptCount(), 1);
  t.desktop().accessibility().setTrusted(true);
  EXPECT_EQ(bar.menus.front()[0].title, "시작 중…");  // built before the server's state arrived
  const std::size_t withoutOutput = shown().size();   // no audio output known: no line for it
  using VD = VirtualAudioHardware::AudioDevice;
  t.desktop().audio().setAudioDevices({VD{7, "Speakers", std::vector<std::uint32_t>{2}}}, 7);
  t.server().setPairingCode("004211");
  t.onMain([&] { delegate->rebuildMenu(); });
  using A = MenuItem::Action;
  Menu expected{MenuItem::info("대기 중 (포트 " + std::to_string(t.port()) + ")"),
                MenuItem::separator(),
                MenuItem::command("페어링 코드:  004211", A::copyCode),
                MenuItem::info("  아이폰 앱에 이 코드를 입력하세요 (클릭 시 복사)"),
                MenuItem::separator(),
                MenuItem::info("✓ 손쉬운 사용 권한 허용됨"),
                MenuItem::info("현재 출력: Speakers"),
                MenuItem::separator(),
                MenuItem::command("페어링 코드 새로 만들기", A::regenerateCode),
                MenuItem::command("페어링된 기기 모두 지우기", A::forgetDevices),
                MenuItem::separator(),
                MenuItem::command("Quibox 종료", A::quit)};
  expected.back().keyEquivalent = "q";
  EXPECT_EQ(shown(), expected);
  EXPECT_EQ(expected.size(), withoutOutput + 1);
  t.desktop().audio().setAudioDevices(
      {VD{7, "Speakers", std::vector<std::uint32_t>{2}}, VD{9, "Headphones", std::vector<std::uint32_t>{2}}},
      9);
  EXPECT_EQ(shown()[6].title, "현재 출력: Headphones");

  t.onMain([&] { delegate->regenerateCode(); });
  const std::string code = t.server().pairingCode();
  EXPECT_EQ(code.size(), 6u);
  EXPECT_EQ(shown()[2].title, "페어링 코드:  " + code);
  t.onMain([&] { delegate->copyCode(); });
  EXPECT_EQ(t.desktop().pasteboard().string(), code);
  const auto types = t.desktop().pasteboard().types();
  EXPECT_NE(std::find(types.begin(), types.end(), PasteboardType::concealed), types.end());

  // Input withdrawn: the line warns and opens the settings, asking the desktop only then; granted
  // again, the menu follows by itself.
  t.desktop().accessibility().setTrusted(false);
  MenuItem warn = shown()[5];
  EXPECT_EQ(warn.title, "⚠️ 손쉬운 사용 권한 필요 — 열기");
  EXPECT_TRUE(warn.enabled);
  EXPECT_EQ(t.desktop().accessibility().promptCount(), 1);
  t.onMain([&] { delegate->perform(warn); });
  EXPECT_EQ(t.desktop().accessibility().promptCount(), 2);
  EXPECT_EQ(t.desktop().workspace().openedURLs(),
            std::vector<std::string>{VirtualAccessibility::kSettingsURL});
  t.desktop().accessibility().setTrusted(true);
  EXPECT_EQ(shown()[5], MenuItem::info("✓ 손쉬운 사용 권한 허용됨"));

  // Once the shell is gone a device change reaches nobody.
  t.onMain([&] { delegate.reset(); });
  t.desktop().audio().setAudioDevices({}, std::nullopt);
  t.onMain([] {});
}

TEST_F(AppDelegateTest, DevicesAreListedOnceIdentifiedWithNamesMadeSafeAndUnpairedByChoice) {
  launch();
  auto phone = t.connect();
  EXPECT_EQ(shown()[0].title, "1대 연결됨");
  EXPECT_TRUE(shown()[1].isSeparator);
  // Pairing lists it at once, on the same connection; the name cannot move the terminal's cursor.
  const ServerMessage paired = phone->pair(t.server().pairingCode(), "Jin\x1b[2J\nPhone");
  ASSERT_EQ(paired.type, ServerMessage::Kind::paired);
  // Authorized by the request's token: listed without a name.
  auto anonymous = t.connect();
  anonymous->usePairingCode(t.server().pairingCode());
  ClientMessage m = request(ClientMessage::Kind::clipboard);
  m.token = paired.token;
  anonymous->request(m);
  const Menu menu = shown();
  EXPECT_EQ(menu[0].title, "2대 연결됨");
  EXPECT_EQ(menu[1].title, "  Jin\xEF\xBF\xBD[2J\xEF\xBF\xBDPhone");
  EXPECT_TRUE(menu[1].enabled);
  EXPECT_EQ(menu[1].representedObject, paired.token);
  EXPECT_EQ(menu[1].toolTip, "클릭하면 이 기기의 페어링을 해제합니다");
  EXPECT_EQ(menu[2].title, "  이름 없는 기기");
  EXPECT_FALSE(menu[2].enabled);
  EXPECT_EQ(menu[3].title, "  기기를 클릭하면 연결이 해제됩니다");
  t.onMain([&] { bar.onChoose(menu[1]); });
  EXPECT_TRUE(phone->waitForClose());
  // Its connections closed; the one authorized without a token stays.
  EXPECT_EQ(anonymous->request(request(ClientMessage::Kind::ping, "alive")).requestId, "alive");
  EXPECT_EQ(t.defaults().stringArray("pairedTokens"), std::vector<std::string>{});
}

TEST_F(AppDelegateTest, ClosedPairingIsShownUntilItReopens) {
  const auto close = [&](int firstAddress) {
    for (int a = firstAddress, spent = 0; spent < PairingGuard::kMaxFailures; ++a)
      for (int i = 0; i < 5 && spent < PairingGuard::kMaxFailures; ++i, ++spent)
        t.connectFrom("127.0.0." + std::to_string(a))->pair(otherCode(t.server().pairingCode()), "x");
  };
  const auto closedLine = [&] {
    return std::ranges::any_of(
        shown(), [](auto& i) { return i.title.find("페어링이 닫혔습니다") != std::string::npos; });
  };
  launch();
  close(2);
  EXPECT_TRUE(closedLine());
  // A new code reopens it, and the menu says so.
  t.onMain([&] { delegate->regenerateCode(); });
  EXPECT_FALSE(closedLine());
  // Closed again, it reopens by itself once the lockout has passed.
  close(30);
  EXPECT_TRUE(closedLine());
  t.clock().advance(PairingGuard::kWindow);
  t.onMain([] {});  // the due rebuild is promoted with this task and runs right after it
  EXPECT_FALSE(closedLine());
}

}  // namespace
}  // namespace quib::test
