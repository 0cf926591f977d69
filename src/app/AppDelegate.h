#pragma once
// The program's shell: starts the server and the clipboard watcher, owns the status menu and
// carries out its commands. Main thread only.
#include <memory>
#include <string>

#include "actions/AudioOutput.h"
#include "actions/ClipboardWatcher.h"
#include "platform/MainQueue.h"
#include "platform/Platform.h"
#include "platform/StatusBar.h"
#include "server/QuibServer.h"

namespace quib {

class AppDelegate {
 public:
  AppDelegate(Platform platform, MainQueue& mainQueue, StatusBar& statusBar, QuibServer& server,
              ClipboardWatcher& clipboard);
  ~AppDelegate();

  void applicationDidFinishLaunching();
  void applicationWillTerminate();

  // The menu as rebuildMenu() makes it now.
  Menu buildMenu();
  void rebuildMenu();
  void perform(const MenuItem& item);

  void copyCode();
  void regenerateCode();
  void forgetDevices();
  void disconnectDevice(const MenuItem& sender);
  void openAccessibilitySettings();
  void quit();

  int clientCount() const { return clientCount_; }
  const std::string& serverState() const { return serverState_; }

 private:
  void pairingGuardChanged();
  std::string localTimeText(Clock::TimePoint at) const;

  Platform platform_;
  MainQueue& mainQueue_;
  StatusBar& statusBar_;
  QuibServer& server_;
  ClipboardWatcher& clipboard_;
  AudioOutput audio_;
  int clientCount_ = 0;
  std::string serverState_ = "시작 중…";
  bool launched_ = false;
  MainQueue::TimerHandle reopenTimer_;
  std::shared_ptr<AppDelegate*> self_;  // held weakly by the server's callbacks
};

}  // namespace quib
