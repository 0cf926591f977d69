#include "app/StatusBarChoice.h"

#include "platform/terminal/TerminalStatusBar.h"
#include "platform/tray/TrayStatusBar.h"

namespace quib {

StatusBarChoice::Mode StatusBarChoice::parse(const std::string& name) {
  if (name == "tray") return Mode::tray;
  if (name == "terminal") return Mode::terminal;
  return Mode::automatic;
}

std::unique_ptr<StatusBar> StatusBarChoice::make(Mode mode, MainQueue& mainQueue, std::ostream& out,
                                                 int inputFd, std::function<void()> onQuit,
                                                 std::function<void()> onEndOfInput, std::string* error) {
  if (mode != Mode::terminal) {
    std::optional<std::string> reason;
    if (mode == Mode::automatic) reason = TrayStatusBar::unavailableReason();
    if (!reason) {
      std::string why;
      if (auto tray = TrayStatusBar::create(mainQueue, &why)) return tray;
      reason = why;
    }
    if (mode == Mode::tray) {
      if (error) *error = *reason;
      return nullptr;
    }
    out << "quibbleton: " << *reason << "; the status menu is on this terminal" << std::endl;
  }
  return std::make_unique<TerminalStatusBar>(mainQueue, out, inputFd, std::move(onQuit),
                                             std::move(onEndOfInput));
}

}  // namespace quib
