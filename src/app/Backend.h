#pragma once
// Which desktop the program drives: the user's Wayland or X11 session or the in-memory virtual
// desktop, and the one line that says which and why. Made and used on the main thread.
#include <filesystem>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>

#include "platform/Platform.h"
#include "platform/linux/ChildLimits.h"

namespace quib {

struct BackendOptions {
  std::string platform = "auto";  // auto, virtual, linux or wayland
  std::string commandKey = "control";
  std::string mediaKeys = "keys";  // keys or pulse
  bool untrusted = false;          // virtual only
  std::filesystem::path virtualRoot;
  std::filesystem::path dataDirectory;
  ChildLimits childLimits;  // what started applications inherit
};

class Backend {
 public:
  virtual ~Backend() = default;
  virtual Platform platform() = 0;
  virtual void willQuit() {}
  // Every effect of the virtual desktop is printed; other desktops show their effects themselves.
  virtual void printEffects(std::ostream&) {}
};

// The chosen backend, having written the line naming it on `out`; none (with the reason on `err`)
// when the named one cannot start.
std::unique_ptr<Backend> chooseBackend(const BackendOptions& options, std::ostream& out, std::ostream& err);

}  // namespace quib
