#pragma once
// What the Wayland tests share: one connection to the test compositor (sway, headless, started by
// with-sway.sh), the GTK test window on it, and waiting on the main context for the compositor's
// answers.
#include <chrono>
#include <functional>
#include <string>

#include "platform/wayland/WaylandConnection.h"
#include "support/ChildProcess.h"

namespace quib::test {

// The test compositor's connection, opened once for the binary; null when it does not open.
WaylandConnection* testConnection();

// Dispatches the default main context (our connection's events among them) until `done` or the
// limit; whether `done` became true.
bool pumpUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = std::chrono::seconds(5));
// Dispatches what the compositor sends in answer to everything sent so far.
void settle();

// The GTK window of tests/support/test_window.py, fullscreen and focused, on the compositor.
class TestWindow {
 public:
  explicit TestWindow(bool reportMotion = false);
  ~TestWindow();
  // Waits for a line the window printed after what earlier waits consumed.
  bool waitFor(const std::string& line, std::chrono::milliseconds limit = std::chrono::seconds(5));
  const std::string& output() const { return process_.output(); }

 private:
  ChildProcess process_;
};

}  // namespace quib::test
