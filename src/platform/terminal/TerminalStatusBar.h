#pragma once
// The status menu on a terminal, for machines without a desktop: every new menu is printed as
// lines, enabled items numbered; typing a number chooses that item and "q" quits. Standard input is
// read by a thread of its own, which posts each choice to the main queue.
#include <atomic>
#include <functional>
#include <mutex>
#include <ostream>
#include <thread>

#include "platform/MainQueue.h"
#include "platform/StatusBar.h"

namespace quib {

class TerminalStatusBar final : public StatusBar {
 public:
  // onEndOfInput runs on the main thread when standard input ends (the program may quit then).
  TerminalStatusBar(MainQueue& mainQueue, std::ostream& out, int inputFd, std::function<void()> onQuit,
                    std::function<void()> onEndOfInput);
  ~TerminalStatusBar() override;

  void setMenu(const Menu& menu) override;
  void setOnChoose(std::function<void(const MenuItem&)> onChoose) override {
    onChoose_ = std::move(onChoose);
  }

  // The text printed for a menu.
  static std::string render(const Menu& menu);

 private:
  void readInput();
  void choose(const std::string& line);  // main thread

  MainQueue& mainQueue_;
  std::ostream& out_;
  int inputFd_;
  int wakePipe_[2] = {-1, -1};
  std::function<void()> onQuit_;
  std::function<void()> onEndOfInput_;
  std::function<void(const MenuItem&)> onChoose_;
  Menu menu_;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
  std::thread reader_;
};

}  // namespace quib
