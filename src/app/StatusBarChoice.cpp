#include "app/StatusBarChoice.h"

#include "platform/StatusBarGroup.h"
#include "platform/terminal/TerminalStatusBar.h"
#include "platform/tray/TrayStatusBar.h"
#include "platform/window/StatusWindow.h"

namespace quib {

StatusBarChoice::Mode StatusBarChoice::parse(const std::string& name) {
  if (name == "tray") return Mode::tray;
  if (name == "window") return Mode::window;
  if (name == "terminal") return Mode::terminal;
  return Mode::automatic;
}

StatusBarChoice::Made StatusBarChoice::make(MainQueue& mainQueue, Options o, std::string* error) {
  Made made;
  auto terminal = [&] {
    return std::make_unique<TerminalStatusBar>(mainQueue, *o.out, o.inputFd, o.onQuit, o.onEndOfInput,
                                               o.codeOnOut);
  };
  switch (o.mode) {
    case Mode::terminal:
      made.bar = terminal();
      return made;
    case Mode::tray:
      made.bar = TrayStatusBar::create(mainQueue, error);
      return made;
    case Mode::window: {
      auto window = StatusWindow::create(error);
      made.window = window.get();
      made.openWindow = true;
      made.bar = std::move(window);
      return made;
    }
    case Mode::automatic:
      break;
  }
  auto group = std::make_unique<StatusBarGroup>();
  std::optional<std::string> noTray = TrayStatusBar::unavailableReason();
  std::string why;
  if (auto tray = TrayStatusBar::create(mainQueue, &why))
    group->add(std::move(tray));
  else
    noTray = why;
  std::string noWindow;
  auto window = StatusWindow::create(&noWindow);
  made.window = window.get();
  if (window) group->add(std::move(window));
  if (noTray) {
    if (made.window) {
      made.openWindow = o.nothingPaired;
      *o.out << "quibbleton: " << *noTray << "; the status menu is in a window" << std::endl;
    } else {
      group->add(terminal());
      *o.out << "quibbleton: " << *noTray << "; the status menu is on this terminal" << std::endl;
    }
  }
  made.bar = std::move(group);
  return made;
}

}  // namespace quib
