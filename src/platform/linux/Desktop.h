#pragma once
// The X11 desktop: every seam of the platform on the user's real session (XTest input, the
// CLIPBOARD selection, PulseAudio, desktop entries and the icon theme, the default handlers, the
// screenshot portal). Made and used on the main thread, which runs the default GLib main context.
#include <filesystem>
#include <memory>
#include <string>

#include "platform/Platform.h"
#include "platform/linux/Accessibility.h"
#include "platform/linux/Applications.h"
#include "platform/linux/AudioHardware.h"
#include "platform/linux/EventPoster.h"
#include "platform/linux/HostInfo.h"
#include "platform/linux/Pasteboard.h"
#include "platform/linux/Screenshots.h"
#include "platform/linux/Workspace.h"

namespace quib {

struct LinuxDesktopOptions {
  CommandKey commandKey = CommandKey::control;
  // Media keys change the default sink through PulseAudio instead of pressing the XF86Audio keys.
  bool pulseMediaKeys = false;
  // Where the page on giving input permission is written.
  std::filesystem::path helpDirectory;
  // What the applications and address handlers it starts inherit.
  ChildLimits childLimits;
};

class LinuxDesktop {
 public:
  // Opens GTK on the X display; none, with the reason in `whyNot`, when no X display opens.
  static std::unique_ptr<LinuxDesktop> open(const LinuxDesktopOptions& options, std::string& whyNot);
  ~LinuxDesktop();
  LinuxDesktop(const LinuxDesktop&) = delete;
  LinuxDesktop& operator=(const LinuxDesktop&) = delete;

  Platform platform();
  // The display's name and whether it offers XTEST, for the line that says why this backend.
  std::string describe() const;
  // Before the program ends: hands our clipboard to a clipboard manager, releases held input.
  void willQuit();

 private:
  LinuxDesktop(Display* display, const LinuxDesktopOptions& options);
  bool pressShiftPrint();

  Display* display_;
  LinuxAccessibility accessibility_;
  LinuxHostInfo host_;
  LinuxAudioHardware audio_;
  LinuxEventPoster events_;
  LinuxPasteboard pasteboard_;
  LinuxWorkspace workspace_;
  LinuxApplications applications_;
  LinuxScreenshots screenshots_;
};

}  // namespace quib
