#pragma once
// Which front end shows the status menu: the panel's tray or the terminal. Main thread, at start.
#include <functional>
#include <memory>
#include <ostream>
#include <string>

#include "platform/MainQueue.h"
#include "platform/StatusBar.h"

namespace quib {

struct StatusBarChoice {
  enum class Mode { automatic, tray, terminal };

  // "auto", "tray" or "terminal".
  static Mode parse(const std::string& name);
  // automatic: the tray when a StatusNotifierWatcher is on the session bus, else the terminal,
  // saying why on `out`. tray: none when the session bus cannot be reached, with the reason in
  // *error; a watcher that appears later still finds the item. The terminal front end reads inputFd.
  static std::unique_ptr<StatusBar> make(Mode mode, MainQueue& mainQueue, std::ostream& out, int inputFd,
                                         std::function<void()> onQuit, std::function<void()> onEndOfInput,
                                         std::string* error);
};

}  // namespace quib
