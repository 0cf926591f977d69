#pragma once
// The Wayland desktop: every seam of the platform on the user's Wayland session. Input goes to an
// InputSink (the compositor's virtual devices where it offers them, else the sink the options
// make, a RemoteDesktop portal session); the clipboard through data-control where the compositor
// has it, else nowhere; sound, applications, addresses, host facts and screenshots as on X11,
// which do not depend on the display server. Made and used on the main thread, which runs the
// default GLib main context.
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "platform/Platform.h"
#include "platform/linux/Applications.h"
#include "platform/linux/AudioHardware.h"
#include "platform/linux/HostInfo.h"
#include "platform/linux/Screenshots.h"
#include "platform/linux/Workspace.h"
#include "platform/wayland/Accessibility.h"
#include "platform/wayland/EventPoster.h"
#include "platform/wayland/InputSink.h"
#include "platform/wayland/SeatKeymap.h"
#include "platform/wayland/WaylandConnection.h"
#include "platform/wayland/mutter/MutterSession.h"

namespace quib {

struct WaylandDesktopOptions {
  CommandKey commandKey = CommandKey::control;
  // Media keys change the default sink through PulseAudio instead of pressing the XF86Audio keys.
  bool pulseMediaKeys = false;
  // Where the page on giving input permission is written.
  std::filesystem::path helpDirectory;
  // The sink for compositors without virtual devices; may be empty or return null, and input is
  // then refused. It is given whether the desktop's keymap can type a keysym.
  std::function<std::unique_ptr<InputSink>(std::function<bool(std::uint32_t keysym)> typable)> makePortalSink;
  // What the applications and address handlers it starts inherit.
  ChildLimits childLimits;
};

class WaylandDesktop {
 public:
  // Connects to the compositor; none, with the reason in `whyNot`, when no Wayland display answers.
  static std::unique_ptr<WaylandDesktop> open(WaylandDesktopOptions options, std::string& whyNot);
  ~WaylandDesktop();
  WaylandDesktop(const WaylandDesktop&) = delete;
  WaylandDesktop& operator=(const WaylandDesktop&) = delete;

  Platform platform();
  // The display, the input path and whether the clipboard is reachable, for the line naming the backend.
  std::string describe() const;
  // Before the program ends: releases held input.
  void willQuit();

  InputSink* sink() { return sink_.get(); }

 private:
  WaylandDesktop(std::unique_ptr<WaylandConnection> connection, std::unique_ptr<SeatKeymap> keymap,
                 std::unique_ptr<MutterSession> mutter, std::unique_ptr<InputSink> sink, std::string why,
                 const WaylandDesktopOptions& options);
  std::unique_ptr<Pasteboard> makePasteboard();
  bool pressShiftPrint();
  static int refreshTrust(void* self);

  std::unique_ptr<WaylandConnection> connection_;
  std::unique_ptr<SeatKeymap> keymap_;     // for KWin's fake input, mutter and the portal; null otherwise
  std::unique_ptr<MutterSession> mutter_;  // GNOME's remote desktop, for input and the clipboard
  std::unique_ptr<InputSink> sink_;
  std::string why_;  // why this input path, for the line naming the backend
  std::string clipboardPath_;
  WaylandAccessibility accessibility_;
  LinuxHostInfo host_;
  LinuxAudioHardware audio_;
  WaylandEventPoster events_;
  std::unique_ptr<Pasteboard> pasteboard_;
  Pasteboard* clipboard_;  // pasteboard_, or the sink's
  LinuxWorkspace workspace_;
  LinuxApplications applications_;
  LinuxScreenshots screenshots_;
  unsigned trustTimer_ = 0;
};

}  // namespace quib
