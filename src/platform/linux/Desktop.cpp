#include "platform/linux/Desktop.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <gdk/gdkx.h>
#include <gtk/gtk.h>

#include "platform/linux/HelpPage.h"

namespace quib {

namespace {

constexpr const char* kHelpPage = R"(<!doctype html>
<html lang="ko"><head><meta charset="utf-8"><title>Quibbleton: input permission</title></head>
<body style="font-family: sans-serif; max-width: 40em; margin: 2em auto; line-height: 1.5">
<h1>Letting the phone type and point</h1>
<p>Quibbleton posts keys and pointer events through the X server's XTEST extension.</p>
<ul>
<li><b>Wayland session</b> (GNOME or KDE on Wayland): XTEST reaches only older X11 windows there, so
Quibbleton does not pretend it works. Log out, choose an X11 session on the login screen (for GNOME:
the gear button, "GNOME on Xorg"), log in and start Quibbleton again.</li>
<li><b>X11 session without XTEST</b>: the X server was started with the extension disabled. Enable it
(remove <code>-extension XTEST</code> from the server's options) and restart the session.</li>
<li><b>Remote or nested display</b>: run Quibbleton on the display you see, with <code>DISPLAY</code>
set to it.</li>
</ul>
<p>Everything else (applications, addresses, the clipboard history, sound output) works without it.</p>
</body></html>
)";

}  // namespace

std::unique_ptr<LinuxDesktop> LinuxDesktop::open(const LinuxDesktopOptions& options, std::string& whyNot) {
  const char* display = std::getenv("DISPLAY");
  if (!display || !*display) {
    whyNot = "DISPLAY is not set";
    return nullptr;
  }
  // GDK on X11 only: under Wayland its own backend would give us no XTest connection.
  gdk_set_allowed_backends("x11");
  if (!gtk_init_check(nullptr, nullptr)) {
    whyNot = std::string("the X display ") + display + " does not open";
    return nullptr;
  }
  GdkDisplay* gdk = gdk_display_get_default();
  if (!gdk || !GDK_IS_X11_DISPLAY(gdk)) {
    whyNot = "the display is not an X display";
    return nullptr;
  }
  auto desktop = std::unique_ptr<LinuxDesktop>(new LinuxDesktop(gdk_x11_display_get_xdisplay(gdk), options));
  if (auto page = writeHelpPage(options.helpDirectory, "input-permission.html", kHelpPage); !page.empty())
    desktop->accessibility_.setSettingsURL(std::move(page));
  return desktop;
}

LinuxDesktop::LinuxDesktop(Display* display, const LinuxDesktopOptions& options)
    : display_(display),
      accessibility_(display),
      events_(display,
              LinuxEventPosterOptions{
                  options.commandKey,
                  options.pulseMediaKeys ? std::function<void(int)>([this](int key) { audio_.mediaKey(key); })
                                         : std::function<void(int)>(),
                  20}),
      workspace_(options.childLimits),
      applications_(options.childLimits),
      screenshots_([this] { return pressShiftPrint(); }) {}

LinuxDesktop::~LinuxDesktop() = default;

Platform LinuxDesktop::platform() {
  return Platform{accessibility_, host_,         events_, pasteboard_,
                  workspace_,     applications_, audio_,  screenshots_};
}

std::string LinuxDesktop::describe() const {
  int event = 0, error = 0, major = 0, minor = 0;
  const bool xtest = XTestQueryExtension(display_, &event, &error, &major, &minor);
  return std::string("X11 display ") + DisplayString(display_) + (xtest ? " with XTEST" : " without XTEST");
}

bool LinuxDesktop::pressShiftPrint() {
  // Desktops without the screenshot portal take an area on Shift+Print.
  if (!accessibility_.isTrusted()) return false;
  const KeyCode shift = XKeysymToKeycode(display_, XK_Shift_L);
  const KeyCode print = XKeysymToKeycode(display_, XK_Print);
  if (!shift || !print) return false;
  XTestFakeKeyEvent(display_, shift, True, CurrentTime);
  XTestFakeKeyEvent(display_, print, True, CurrentTime);
  XTestFakeKeyEvent(display_, print, False, CurrentTime);
  XTestFakeKeyEvent(display_, shift, False, CurrentTime);
  XFlush(display_);
  return true;
}

void LinuxDesktop::willQuit() {
  events_.releaseAll();
  pasteboard_.storeForManager();
}

}  // namespace quib
