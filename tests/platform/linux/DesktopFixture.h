#pragma once
// Desktop entries, an icon theme and default handlers written into the private desktop's XDG
// folders before GIO first reads them, plus a launcher script that records how it was started.
#include <filesystem>
#include <string>

namespace quib::test {

struct DesktopFixture {
  // Writes everything once per process; later calls return the same folders.
  static const DesktopFixture& get();
  // "<soft descriptor limit> <arguments>" the fixture's entry `tag` last started with (as the
  // shell's ulimit -n tells it); "(not launched)" when it has not run within a few seconds, during
  // which the default main context is dispatched.
  std::string waitForLaunch(const std::string& tag) const;
  std::filesystem::path markers;
};

}  // namespace quib::test
