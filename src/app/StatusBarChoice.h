#pragma once
// Which front ends show the status menu: the panel's tray, a window, the terminal. Main thread, at
// start.
#include <functional>
#include <memory>
#include <ostream>
#include <string>

#include "platform/MainQueue.h"
#include "platform/StatusBar.h"

namespace quib {

class StatusWindow;

struct StatusBarChoice {
  enum class Mode { automatic, tray, window, terminal };

  struct Options {
    Mode mode = Mode::automatic;
    std::ostream* out = nullptr;  // the terminal front end, and the line saying why it was chosen
    int inputFd = -1;             // what the terminal front end reads
    bool codeOnOut = true;        // else the pairing code is not printed on `out`
    bool nothingPaired = false;   // no phone paired yet: the window opens at start
    std::function<void()> onQuit;
    std::function<void()> onEndOfInput;
  };

  struct Made {
    std::unique_ptr<StatusBar> bar;  // none on failure, with the reason in *error
    StatusWindow* window = nullptr;  // within `bar`, when there is a window to present
    bool openWindow = false;         // present the window once the menu is in it
  };

  // "auto", "tray", "window" or "terminal".
  static Mode parse(const std::string& name);
  // automatic: the tray (registering whenever a StatusNotifierWatcher is on the session bus) and,
  // beside it, a window when a display opens (shown at start only when no watcher is there and no
  // phone is paired), else the terminal when no watcher is there. tray, window: that one alone,
  // none when it cannot be made. terminal: the terminal alone.
  static Made make(MainQueue& mainQueue, Options options, std::string* error);
};

}  // namespace quib
