#include "app/AppDelegate.h"

#include <ctime>

#include "text/DisplayText.h"
#include "text/Url.h"

namespace quib {

AppDelegate::AppDelegate(Platform platform, MainQueue& mainQueue, StatusBar& statusBar, QuibServer& server,
                         ClipboardWatcher& clipboard)
    : platform_(platform),
      mainQueue_(mainQueue),
      statusBar_(statusBar),
      server_(server),
      clipboard_(clipboard),
      audio_(platform.audio),
      self_(std::make_shared<AppDelegate*>(this)) {}

AppDelegate::~AppDelegate() {
  platform_.audio.setOnChange(nullptr);
  platform_.accessibility.setOnChange(nullptr);
  server_.onStateChange = nullptr;
  server_.onClientCountChange = nullptr;
  server_.onPairingGuardChange = nullptr;
  reopenTimer_.cancel();
}

void AppDelegate::pairingGuardChanged() {
  rebuildMenu();
  // The menu shows the lockout until it ends by itself; then it is rebuilt once more.
  reopenTimer_.cancel();
  if (auto until = server_.pairingClosedUntil()) {
    std::weak_ptr<AppDelegate*> weak = self_;
    reopenTimer_ = mainQueue_.postAfter(*until - server_.clock().now(), [weak] {
      if (auto self = weak.lock()) (*self)->rebuildMenu();
    });
  }
}

std::string AppDelegate::localTimeText(Clock::TimePoint at) const {
  const auto wall =
      std::chrono::system_clock::now() +
      std::chrono::duration_cast<std::chrono::system_clock::duration>(at - server_.clock().now());
  const std::time_t t = std::chrono::system_clock::to_time_t(wall);
  std::tm local{};
  localtime_r(&t, &local);
  char text[16];
  std::strftime(text, sizeof text, "%H:%M", &local);
  return text;
}

void AppDelegate::applicationDidFinishLaunching() {
  statusBar_.setOnChoose([this](const MenuItem& item) { perform(item); });
  std::weak_ptr<AppDelegate*> weak = self_;
  MainQueue* queue = &mainQueue_;
  server_.onStateChange = [weak, queue](const std::string& text) {
    queue->post([weak, text] {
      if (auto self = weak.lock()) {
        (*self)->serverState_ = text;
        (*self)->rebuildMenu();
      }
    });
  };
  server_.onClientCountChange = [weak](int count) {
    if (auto self = weak.lock()) {
      (*self)->clientCount_ = count;
      (*self)->rebuildMenu();
    }
  };
  // Headphones plugged or another program switching outputs: the output line follows.
  platform_.audio.setOnChange([weak, queue] {
    queue->post([weak] {
      if (auto self = weak.lock()) (*self)->rebuildMenu();
    });
  });
  // The desktop granting or withdrawing input: the permission line and the panel icon follow.
  platform_.accessibility.setOnChange([weak, queue] {
    queue->post([weak] {
      if (auto self = weak.lock()) (*self)->rebuildMenu();
    });
  });
  server_.onPairingGuardChange = [weak] {
    if (auto self = weak.lock()) (*self)->pairingGuardChanged();
  };
  launched_ = true;
  server_.start();
  clipboard_.start();
  rebuildMenu();
  if (!platform_.accessibility.isTrusted()) platform_.accessibility.isTrustedPrompting();
}

void AppDelegate::applicationWillTerminate() {
  server_.stop();
}

Menu AppDelegate::buildMenu() {
  Menu menu;
  menu.push_back(
      MenuItem::info(clientCount_ >= 1 ? std::to_string(clientCount_) + "대 연결됨" : serverState_));
  const auto devices = server_.connectedDevices();
  if (!devices.empty()) {
    for (const auto& d : devices) {
      MenuItem item = MenuItem::info("  " + displaySafe(d.name));
      item.action = MenuItem::Action::disconnectDevice;
      if (d.token) {
        item.enabled = true;
        item.representedObject = d.token;
        item.toolTip = "클릭하면 이 기기의 페어링을 해제합니다";
      }
      menu.push_back(item);
    }
    menu.push_back(MenuItem::info("  기기를 클릭하면 연결이 해제됩니다"));
  }
  menu.push_back(MenuItem::separator());
  menu.push_back(MenuItem::command("페어링 코드:  " + server_.pairingCode(), MenuItem::Action::copyCode));
  menu.push_back(MenuItem::info("  아이폰 앱에 이 코드를 입력하세요 (클릭 시 복사)"));
  if (auto until = server_.pairingClosedUntil())
    menu.push_back(MenuItem::info("  ⚠️ 틀린 코드가 많아 " + localTimeText(*until) +
                                  "까지 페어링이 닫혔습니다 (새 코드를 만들면 다시 열립니다)"));
  menu.push_back(MenuItem::separator());
  if (const std::string problem = platform_.accessibility.problem(); !problem.empty())
    menu.push_back(MenuItem::info("⚠️ " + problem));
  else if (platform_.accessibility.isTrusted())
    menu.push_back(MenuItem::info("✓ 손쉬운 사용 권한 허용됨"));
  else
    menu.push_back(MenuItem::command("⚠️ 손쉬운 사용 권한 필요 — 열기",
                                     MenuItem::Action::openAccessibilitySettings));
  if (auto output = audio_.currentOutputDevice())
    menu.push_back(MenuItem::info("현재 출력: " + output->name));
  menu.push_back(MenuItem::separator());
  menu.push_back(MenuItem::command("페어링 코드 새로 만들기", MenuItem::Action::regenerateCode));
  menu.push_back(MenuItem::command("페어링된 기기 모두 지우기", MenuItem::Action::forgetDevices));
  menu.push_back(MenuItem::separator());
  MenuItem quitItem = MenuItem::command("Quibox 종료", MenuItem::Action::quit);
  quitItem.keyEquivalent = "q";
  menu.push_back(quitItem);
  return menu;
}

void AppDelegate::rebuildMenu() {
  if (launched_) statusBar_.setMenu(buildMenu());
}

void AppDelegate::perform(const MenuItem& item) {
  switch (item.action) {
    case MenuItem::Action::none:
      return;
    case MenuItem::Action::copyCode:
      return copyCode();
    case MenuItem::Action::regenerateCode:
      return regenerateCode();
    case MenuItem::Action::forgetDevices:
      return forgetDevices();
    case MenuItem::Action::disconnectDevice:
      return disconnectDevice(item);
    case MenuItem::Action::openAccessibilitySettings:
      return openAccessibilitySettings();
    case MenuItem::Action::quit:
      return quit();
  }
}

void AppDelegate::copyCode() {
  // Marked concealed, as a password manager marks a password: clipboard managers and the history
  // the phone reads leave it out.
  PasteboardItem item = PasteboardItem::text(server_.pairingCode());
  item.entries.emplace_back(PasteboardType::concealed, "");
  platform_.pasteboard.clearContents();
  platform_.pasteboard.writeItems({item});
}

void AppDelegate::regenerateCode() {
  server_.setPairingCode(QuibServer::makePairingCode());
  rebuildMenu();
}

void AppDelegate::forgetDevices() {
  server_.forgetPairedDevices();
  rebuildMenu();
}

void AppDelegate::disconnectDevice(const MenuItem& sender) {
  if (!sender.representedObject) return;
  server_.disconnect(*sender.representedObject);
  rebuildMenu();
}

void AppDelegate::openAccessibilitySettings() {
  platform_.accessibility.isTrustedPrompting();
  const std::string url = platform_.accessibility.settingsURL();
  if (Url::isParseable(url)) platform_.workspace.openURL(url);
}

// Termination (applicationWillTerminate) follows once the main queue has stopped.
void AppDelegate::quit() {
  mainQueue_.stop();
}

}  // namespace quib
