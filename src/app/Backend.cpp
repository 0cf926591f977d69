#include "app/Backend.h"

#include <cstdlib>
#include <cstring>
#include <ostream>

#include "platform/linux/Desktop.h"
#include "platform/virtual/Desktop.h"
#include "platform/wayland/Desktop.h"
#include "platform/wayland/portal/PortalInput.h"

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

class WaylandBackend final : public Backend {
 public:
  explicit WaylandBackend(std::unique_ptr<WaylandDesktop> desktop) : desktop_(std::move(desktop)) {}
  Platform platform() override { return desktop_->platform(); }
  void willQuit() override { desktop_->willQuit(); }

 private:
  std::unique_ptr<WaylandDesktop> desktop_;
};

// Why `auto` takes the Wayland session, or none when it does not.
std::optional<std::string> waylandSession() {
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  if (!wayland || !*wayland) return std::nullopt;
  const char* type = std::getenv("XDG_SESSION_TYPE");
  if (type && std::strcmp(type, "x11") == 0) return std::nullopt;
  return std::string("WAYLAND_DISPLAY is set") +
         (type && *type ? std::string(", XDG_SESSION_TYPE=") + type : "");
}

}  // namespace

std::unique_ptr<Backend> chooseBackend(const BackendOptions& o, std::ostream& out, std::ostream& err) {
  const auto session = o.platform == "auto" ? waylandSession() : std::nullopt;
  if (o.platform == "wayland" || session) {
    WaylandDesktopOptions wo;
    wo.commandKey = o.commandKey == "super" ? CommandKey::super : CommandKey::control;
    wo.pulseMediaKeys = o.mediaKeys == "pulse";
    wo.helpDirectory = o.dataDirectory / "help";
    wo.childLimits = o.childLimits;
    // Compositors without virtual devices (GNOME, KDE Plasma) give input through the portal; its
    // consent dialog shows once, and the choice is remembered in the data directory.
    wo.makePortalSink = [tokenFile = o.dataDirectory / "portal-restore-token"](auto typable) {
      PortalInputOptions po;
      po.restoreTokenFile = tokenFile;
      po.typable = std::move(typable);
      po.clipboard = true;
      auto portal = std::make_unique<PortalInput>(std::move(po));
      portal->start();
      return std::unique_ptr<InputSink>(std::move(portal));
    };
    std::string whyNot;
    if (auto desktop = WaylandDesktop::open(wo, whyNot)) {
      out << "데스크톱: wayland (" << (session ? *session + ": " : "") << desktop->describe()
          << ", command key = " << o.commandKey << ", media keys = " << o.mediaKeys << ")" << std::endl;
      return std::make_unique<WaylandBackend>(std::move(desktop));
    }
    if (o.platform == "wayland") {
      err << "quibbleton: --platform wayland needs a Wayland display: " << whyNot << std::endl;
      return nullptr;
    }
  }
  if (o.platform != "virtual" && o.platform != "wayland") {
    LinuxDesktopOptions lo;
    lo.commandKey = o.commandKey == "super" ? CommandKey::super : CommandKey::control;
    lo.pulseMediaKeys = o.mediaKeys == "pulse";
    lo.helpDirectory = o.dataDirectory / "help";
    lo.childLimits = o.childLimits;
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
