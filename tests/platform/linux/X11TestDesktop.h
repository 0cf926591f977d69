#pragma once
// What the X11 input tests share: a connection to the test display, the desktop tools that read
// effects back, the recorder window, and the platform bundle with the X11 input seams in it.
#include <memory>
#include <string>
#include <vector>

#include "platform/MainQueue.h"
#include "platform/Platform.h"
#include "platform/linux/Accessibility.h"
#include "platform/linux/EventPoster.h"
#include "platform/virtual/Desktop.h"
#include "support/ChildProcess.h"
#include "support/TempDir.h"

namespace quib::test {

// The test display, opened once for the binary; null when DISPLAY does not open.
Display* testDisplay();
void syncDisplay();  // XSync on it

// Runs a shell command; its standard output.
std::string shell(const std::string& command);

// The recorder window, focused and covering the screen.
class Recorder {
 public:
  Recorder();
  // Every event line since the last call, once the server has delivered all that was posted.
  std::vector<std::string> events();

 private:
  ChildProcess process_;
};

// Lines that start with `prefix`.
std::vector<std::string> linesStarting(const std::vector<std::string>& lines, const std::string& prefix);

// The X11 input seams over the test display, the rest of the desktop virtual.
struct X11Input {
  explicit X11Input(LinuxEventPosterOptions options = {});

  TempDir root;
  VirtualDesktop desktop{root.path()};
  LinuxAccessibility accessibility{testDisplay()};
  LinuxEventPoster events;
  MainQueue queue;
  Platform platform() {
    Platform p = desktop.platform();
    return Platform{accessibility, p.host, events, p.pasteboard, p.workspace, p.applications, p.audio, p.screenshots};
  }
};

}  // namespace quib::test
