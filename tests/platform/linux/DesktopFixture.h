#pragma once
// Desktop entries, an icon theme and default handlers written into the private desktop's XDG
// folders before GIO first reads them, plus a launcher script that records how it was started.
#include <filesystem>
#include <string>

namespace quib::test {

struct DesktopFixture {
  // Writes everything once per process; later calls return the same folders.
  static const DesktopFixture& get();
  // The arguments the fixture's entry `tag` was last started with; none until it has run.
  // Dispatches the default main context while waiting, up to a few seconds.
  std::string waitForLaunch(const std::string& tag) const;
  // The soft descriptor limit entry `tag` last started with, as the shell's ulimit -n tells it.
  std::string launchedLimit(const std::string& tag) const;
  std::filesystem::path markers;
};

}  // namespace quib::test
