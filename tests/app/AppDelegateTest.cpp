// The status menu as a model, through a server that phones reach over real TCP.
#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>

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

  t.onMain([&] { delegate->regenerateCode(); });
  const std::string code = t.server().pairingCode();
  EXPECT_EQ(shown()[2].title, "페어링 코드:  " + code);
  t.onMain([&] { delegate->copyCode(); });
  EXPECT_EQ(t.desktop().pasteboard().string(), code);
  const auto types = t.desktop().pasteboard().types();
  EXPECT_NE(std::find(types.begin(), types.end(), PasteboardType::concealed), types.end());

  // Input withdrawn: the line warns and opens the settings, asking the desktop only then.
  t.desktop().accessibility().setTrusted(false);
  MenuItem warn = shown()[5];
  EXPECT_EQ(warn.title, "⚠️ 손쉬운 사용 권한 필요 — 열기");
  EXPECT_TRUE(warn.enabled);
  EXPECT_EQ(t.desktop().accessibility().promptCount(), 1);
  t.onMain([&] { delegate->perform(warn); });
  EXPECT_EQ(t.desktop().accessibility().promptCount(), 2);
  EXPECT_EQ(t.desktop().workspace().openedURLs(),
            std::vector<std::string>{VirtualAccessibility::kSettingsURL});
}

TEST_F(AppDelegateTest, DevicesAreListedOnceIdentifiedWithNamesMadeSafeAndUnpairedByChoice) {
  launch();
  auto phone = t.connect();
  EXPECT_EQ(shown()[0].title, "1대 연결됨");
  // Pairing lists it at once, on the same connection; the name cannot move the terminal's cursor.
  const ServerMessage paired = phone->pair(t.server().pairingCode(), "Jin\x1b[2J\nPhone");
  ASSERT_EQ(paired.type, ServerMessage::Kind::paired);
  const Menu menu = shown();
  EXPECT_EQ(menu[1].title, "  Jin\xEF\xBF\xBD[2J\xEF\xBF\xBDPhone");
  EXPECT_TRUE(menu[1].enabled);
  EXPECT_EQ(menu[1].representedObject, paired.token);
  EXPECT_EQ(menu[1].toolTip, "클릭하면 이 기기의 페어링을 해제합니다");
  t.onMain([&] { bar.onChoose(menu[1]); });
  EXPECT_TRUE(phone->waitForClose());
  EXPECT_EQ(t.defaults().stringArray("pairedTokens"), std::vector<std::string>{});
}

// Closed by wrong codes, pairing reopens at a time the menu gives on the user's clock.
TEST_F(AppDelegateTest, ClosedPairingSaysUntilWhen) {
  const auto lockoutEnd = [] {
    const std::time_t t =
        std::chrono::system_clock::to_time_t(std::chrono::system_clock::now() + PairingGuard::kWindow);
    char text[8];
    std::strftime(text, sizeof text, "%H:%M", std::localtime(&t));
    return "  ⚠️ 틀린 코드가 많아 " + std::string(text) + "까지 페어링이 닫혔습니다";
  };
  launch();
  const std::string early = lockoutEnd();
  for (int a = 2, spent = 0; spent < PairingGuard::kMaxFailures; ++a)
    for (int i = 0; i < 5 && spent < PairingGuard::kMaxFailures; ++i, ++spent)
      t.connectFrom("127.0.0." + std::to_string(a))->pair(otherCode(t.server().pairingCode()), "x");
  const Menu menu = shown();
  const std::string late = lockoutEnd();
  EXPECT_TRUE(std::ranges::any_of(menu, [&](const MenuItem& i) {
    return i.title.starts_with(early) || i.title.starts_with(late);
  })) << late;
}

}  // namespace
}  // namespace quib::test
