#include "platform/wayland/Desktop.h"

#include <gtk/gtk.h>

#include "platform/linux/HelpPage.h"
#include "platform/wayland/KwinFakeInput.h"
#include "platform/wayland/Pasteboard.h"
#include "platform/wayland/WlrootsInput.h"

namespace quib {

namespace {

constexpr std::uint32_t kShiftL = 0xffe1;  // XK_Shift_L
constexpr std::uint32_t kPrint = 0xff61;   // XK_Print

constexpr const char* kHelpPage = R"(<!doctype html>
<html lang="ko"><head><meta charset="utf-8"><title>Quibbleton: input permission on Wayland</title></head>
<body style="font-family: sans-serif; max-width: 40em; margin: 2em auto; line-height: 1.5">
<h1>Letting the phone type and point on Wayland</h1>
<p>On Wayland a program may post keys and pointer events only where the compositor lets it.</p>
<ul>
<li><b>sway, Hyprland, river, labwc and other wlroots compositors</b>: Quibbleton uses the
compositor's virtual keyboard and pointer; nothing needs to be allowed. If input is still refused,
the compositor was built or configured without the virtual-keyboard or virtual-pointer protocol.</li>
<li><b>GNOME and KDE Plasma</b>: input goes through the desktop's "Remote Desktop" portal. The
desktop asks once whether Quibbleton may control the keyboard and pointer; choose <i>Share</i> (and
<i>Remember</i> where offered). Choosing "Accessibility" in Quibbleton's menu asks again. The
packages <code>xdg-desktop-portal</code> and <code>xdg-desktop-portal-gnome</code> (or
<code>-kde</code>) must be installed.</li>
<li><b>Clipboard on GNOME</b>: GNOME gives programs without a window no clipboard, so the
clipboard actions and the clipboard history answer that the clipboard is unavailable. Typing text
still works.</li>
<li>Or log in to an X11 session ("GNOME on Xorg") and start Quibbleton again.</li>
</ul>
</body></html>
)";

}  // namespace

std::unique_ptr<WaylandDesktop> WaylandDesktop::open(WaylandDesktopOptions options, std::string& whyNot) {
  auto connection = WaylandConnection::open(whyNot);
  if (!connection) return nullptr;
  // GTK on the same compositor, for launch contexts and the icon theme; our own connection carries
  // input and the clipboard.
  gdk_set_allowed_backends("wayland");
  gtk_init_check(nullptr, nullptr);
  std::unique_ptr<InputSink> sink = WlrootsInput::create(*connection);
  // Only KWin's fake input and the portal need the desktop's keymap: our virtual keyboard brings
  // its own, and would make every keymap it uploads come back to be read.
  std::unique_ptr<SeatKeymap> keymap;
  if (!sink) {
    keymap = std::make_unique<SeatKeymap>(*connection);
    // KWin grants its fake input to our installed desktop entry: no dialog, no portal session.
    sink = KwinFakeInput::create(*connection, *keymap);
  }
  if (!sink && options.makePortalSink)
    sink = options.makePortalSink(
        [k = keymap.get()](std::uint32_t keysym) { return !k->known() || k->has(keysym); });
  auto desktop = std::unique_ptr<WaylandDesktop>(
      new WaylandDesktop(std::move(connection), std::move(keymap), std::move(sink), options));
  if (auto page = writeHelpPage(options.helpDirectory, "input-permission-wayland.html", kHelpPage);
      !page.empty())
    desktop->accessibility_.setSettingsURL(std::move(page));
  return desktop;
}

namespace {

std::function<std::optional<WaylandEventPoster::Screens>()> screensOf(const WaylandConnection& c) {
  return [&c]() -> std::optional<WaylandEventPoster::Screens> {
    auto box = c.layout();
    if (!box) return std::nullopt;
    return WaylandEventPoster::Screens{static_cast<double>(box->x), static_cast<double>(box->y),
                                       static_cast<double>(box->width), static_cast<double>(box->height)};
  };
}

}  // namespace

WaylandDesktop::WaylandDesktop(std::unique_ptr<WaylandConnection> connection,
                               std::unique_ptr<SeatKeymap> keymap, std::unique_ptr<InputSink> sink,
                               const WaylandDesktopOptions& options)
    : connection_(std::move(connection)),
      keymap_(std::move(keymap)),
      sink_(std::move(sink)),
      accessibility_(sink_.get(), [c = connection_.get()] { return c->broken(); }),
      events_(sink_.get(), screensOf(*connection_),
              LinuxEventPosterOptions{
                  options.commandKey,
                  options.pulseMediaKeys ? std::function<void(int)>([this](int key) { audio_.mediaKey(key); })
                                         : std::function<void(int)>(),
                  20}),
      pasteboard_(WaylandPasteboard::available(*connection_)
                      ? std::unique_ptr<Pasteboard>(std::make_unique<WaylandPasteboard>(*connection_))
                      : std::make_unique<UnavailablePasteboard>()),
      // Without data-control, the clipboard that comes with the input session (the portal's).
      clipboard_(WaylandPasteboard::available(*connection_) || !sink_ || !sink_->pasteboard()
                     ? pasteboard_.get()
                     : sink_->pasteboard()),
      workspace_(options.childLimits),
      applications_(options.childLimits),
      screenshots_([this] { return pressShiftPrint(); }) {
  // A portal session can start or end at any time; the trust answer follows it.
  trustTimer_ = g_timeout_add_seconds(1, refreshTrust, this);
}

WaylandDesktop::~WaylandDesktop() {
  if (trustTimer_) g_source_remove(trustTimer_);
}

int WaylandDesktop::refreshTrust(void* self) {
  static_cast<WaylandDesktop*>(self)->accessibility_.refresh();
  return G_SOURCE_CONTINUE;
}

Platform WaylandDesktop::platform() {
  return Platform{accessibility_, host_,         events_, *clipboard_,
                  workspace_,     applications_, audio_,  screenshots_};
}

std::string WaylandDesktop::describe() const {
  std::string input;
  if (!sink_)
    input =
        "input refused: the compositor has no virtual keyboard and pointer, and no portal session was made";
  else if (!sink_->ready())
    input = "input through " + sink_->describe() + ", refused for now: " + sink_->whyNot();
  else
    input = "input through " + sink_->describe();
  return "Wayland display " + connection_->name() + ", " + input + ", clipboard " +
         (clipboard_ != pasteboard_.get() ? "through the input session"
          : pasteboard_->available()      ? "through data-control"
                                          : "unavailable");
}

bool WaylandDesktop::pressShiftPrint() {
  // Desktops without the screenshot portal take an area on Shift+Print.
  if (!sink_ || !sink_->ready()) return false;
  const bool ok = sink_->key(kShiftL, true) && sink_->key(kPrint, true);
  sink_->key(kPrint, false);
  sink_->key(kShiftL, false);
  return ok;
}

void WaylandDesktop::willQuit() {
  events_.releaseAll();
}

}  // namespace quib
