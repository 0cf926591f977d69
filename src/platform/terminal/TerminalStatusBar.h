#pragma once
// The status menu on a terminal, for machines without a desktop: every new menu is printed as
// lines, enabled items numbered; typing a number chooses that item and "q" quits. Standard input is
// read by a thread of its own, which posts each choice to the main queue.
//
// A number means the menu the user saw. A menu printed less than kSettle before the choice may
// have scrolled in while the user typed: if its numbering differs from the one before it, the
// menu is printed again and nothing is done. An identical menu is not printed twice in a row.
//
// Output that is not a terminal is a log (the journal, when the session starts the program): there
// the pairing code is replaced by asterisks, since whoever reads the log could pair with it.
#include <atomic>
#include <chrono>
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
                    std::function<void()> onEndOfInput, bool revealCode = true);
  ~TerminalStatusBar() override;

  void setMenu(const Menu& menu) override;
  void setOnChoose(std::function<void(const MenuItem&)> onChoose) override {
    onChoose_ = std::move(onChoose);
  }

  static constexpr std::chrono::milliseconds kSettle{1500};

  // The text printed for a menu.
  static std::string render(const Menu& menu, bool revealCode = true);

 private:
  void readInput();
  void choose(const std::string& line);  // main thread

  MainQueue& mainQueue_;
  std::ostream& out_;
  int inputFd_;
  bool revealCode_;
  int wakePipe_[2] = {-1, -1};
  std::function<void()> onQuit_;
  std::function<void()> onEndOfInput_;
  std::function<void(const MenuItem&)> onChoose_;
  Menu menu_;          // printed last: the current menu
  Menu previousMenu_;  // printed before it
  Clock::TimePoint printedAt_{};
  bool printed_ = false;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
  std::thread reader_;
};

}  // namespace quib
