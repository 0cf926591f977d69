#include "app/Backend.h"

#include <ostream>

#include "platform/linux/Desktop.h"
#include "platform/virtual/Desktop.h"

namespace quib {

namespace {

class VirtualBackend final : public Backend {
 public:
  explicit VirtualBackend(const std::filesystem::path& root) : desktop_(root) {}
  Platform platform() override { return desktop_.platform(); }
  void printEffects(std::ostream& out) override {
    // Effects can come thousands a second: the caller flushes when the main queue falls idle.
    desktop_.setEffectObserver([&out](const std::string& effect) { out << "효과: " << effect << '\n'; });
  }
  VirtualDesktop& desktop() { return desktop_; }

 private:
  VirtualDesktop desktop_;
};

class LinuxBackend final : public Backend {
 public:
  explicit LinuxBackend(std::unique_ptr<LinuxDesktop> desktop) : desktop_(std::move(desktop)) {}
  Platform platform() override { return desktop_->platform(); }
  void willQuit() override { desktop_->willQuit(); }

 private:
  std::unique_ptr<LinuxDesktop> desktop_;
};

}  // namespace

std::unique_ptr<Backend> chooseBackend(const BackendOptions& o, std::ostream& out, std::ostream& err) {
  if (o.platform != "virtual") {
    LinuxDesktopOptions lo;
    lo.commandKey = o.commandKey == "super" ? CommandKey::super : CommandKey::control;
    lo.pulseMediaKeys = o.mediaKeys == "pulse";
    lo.helpDirectory = o.dataDirectory / "help";
    std::string whyNot;
    if (auto desktop = LinuxDesktop::open(lo, whyNot)) {
      out << "데스크톱: linux (" << desktop->describe() << ", command key = " << o.commandKey
          << ", media keys = " << o.mediaKeys << ")" << std::endl;
      return std::make_unique<LinuxBackend>(std::move(desktop));
    }
    if (o.platform == "linux") {
      err << "quibbleton: --platform linux needs an X display: " << whyNot << std::endl;
      return nullptr;
    }
    out << "데스크톱: virtual (no X display: " << whyNot << "; every effect is printed instead)" << std::endl;
  } else {
    out << "데스크톱: virtual (asked for with --platform virtual)" << std::endl;
  }
  auto backend = std::make_unique<VirtualBackend>(o.virtualRoot);
  backend->desktop().accessibility().setTrusted(!o.untrusted);
  return backend;
}

}  // namespace quib
