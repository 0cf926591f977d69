#pragma once
// What the desktop tests share. Outside tools run against the private desktop while the test keeps
// dispatching the default GMainContext, so that our own X and PulseAudio clients can answer them;
// every wait is bounded. For the X11 input tests: the test display, the recorder window and the
// platform bundle with the X11 input seams in it.
#include <chrono>
#include <string>
#include <vector>

#include "platform/MainQueue.h"
#include "platform/Platform.h"
#include "platform/linux/Accessibility.h"
#include "platform/linux/EventPoster.h"
#include "platform/linux/MainContextWait.h"
#include "platform/virtual/Desktop.h"
#include "support/ChildProcess.h"
#include "support/TempDir.h"

namespace quib::test {

bool gtkReady();  // GTK on the test's display, once per binary
// Runs what is ready now (idle callbacks included), without waiting.
void drain();
// Lets everything the X server sent until now reach our handlers, including what handlers that ran
// in between caused (an idle release of the selection, say).
void settle();

// Dispatches the default context until done() or the limit.
template <typename Done>
bool pumpUntil(Done done, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
  return linuxdesktop::iterateMainContextUntil(done, limit);
}

// Polls an outside tool's view until done() or the limit, dispatching between looks.
template <typename Done>
bool pollUntil(Done done, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    pumpUntil([] { return false; }, std::chrono::milliseconds(50));
  }
  return true;
}

struct ToolResult {
  int status = -1;  // -1 when it did not end in time (it was killed)
  std::string out;
};
// Runs a program (looked up on PATH) to its end and collects its output, standard error included.
ToolResult runTool(const std::vector<std::string>& argv,
                   std::chrono::milliseconds limit = std::chrono::seconds(10));
// Runs a shell command; its standard output.
std::string shell(const std::string& command);

// The test display, opened once for the binary; null when DISPLAY does not open.
Display* testDisplay();
void syncDisplay();  // XSync on it

// xev's window, focused and covering the screen: what an application receives, keysyms after the
// keymap, as "key press a state=0x0", "button press 1 at 150,110 state=0x0", "motion 150,110 state=0x0".
class Recorder {
 public:
  Recorder();
  // Every event line since the last call, once the server has delivered all that was posted.
  std::vector<std::string> events();

 private:
  ChildProcess process_;
  unsigned long window_ = 0;
};

// Lines that start with `prefix`.
std::vector<std::string> linesStarting(const std::vector<std::string>& lines, const std::string& prefix);

// The X11 input seams over the test display, the rest of the desktop virtual.
struct X11Input {
  explicit X11Input(LinuxEventPosterOptions options = {}) : events(testDisplay(), std::move(options)) {}

  TempDir root;
  VirtualDesktop desktop{root.path()};
  LinuxAccessibility accessibility{testDisplay()};
  LinuxEventPoster events;
  MainQueue queue;
  Platform platform() {
    Platform p = desktop.platform();
    return Platform{accessibility, p.host,         events,  p.pasteboard,
                    p.workspace,   p.applications, p.audio, p.screenshots};
  }
};

}  // namespace quib::test
