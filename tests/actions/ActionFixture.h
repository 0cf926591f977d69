#pragma once
// A virtual desktop on a temporary root, a main queue on a test clock, and the executor, all driven
// from the test's thread.
#include <gtest/gtest.h>

#include <fstream>

#include "actions/ActionExecutor.h"
#include "platform/virtual/Desktop.h"
#include "support/TempDir.h"

namespace quib::test {

class ActionFixture : public ::testing::Test {
 protected:
  TempDir root;
  VirtualDesktop desktop{root.path()};
  ManualClock clock;
  MainQueue queue{clock};
  ActionExecutor executor{desktop.platform(), queue};

  static QuibAction action(QuibActionKind kind, std::optional<std::string> value = std::nullopt,
                           std::vector<std::string> modifiers = {}) {
    QuibAction a;
    a.kind = kind;
    a.value = std::move(value);
    a.modifiers = std::move(modifiers);
    return a;
  }

  // Posted events without the recorded pauses.
  std::vector<InputEvent> posted() {
    std::vector<InputEvent> out;
    for (const auto& e : desktop.events().posted())
      if (e.type != -1) out.push_back(e);
    return out;
  }

  // Makes an application bundle (a folder) at a path inside the virtual tree.
  void makeApp(const std::string& path) { std::filesystem::create_directories(desktop.files().onDisk(path)); }

  void advance(std::chrono::milliseconds d) {
    clock.advance(d);
    queue.runUntilIdle();
  }
};

}  // namespace quib::test
