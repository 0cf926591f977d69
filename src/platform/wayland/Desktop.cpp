#include "platform/wayland/Desktop.h"

#include <gtk/gtk.h>

#include "platform/linux/HelpPage.h"
#include "platform/wayland/KwinFakeInput.h"
#include "platform/wayland/Pasteboard.h"
#include "platform/wayland/WlrootsInput.h"
#include "platform/wayland/mutter/MutterClipboard.h"
#include "platform/wayland/mutter/MutterInput.h"

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
<li><b>GNOME 43 and older</b>: input and the clipboard go through GNOME's own remote-desktop
session; nothing needs to be allowed, and GNOME shows its remote-desktop indicator in the top bar
while Quibbleton runs.</li>
<li><b>GNOME 44 and later, KDE Plasma</b>: input goes through the desktop's "Remote Desktop"
portal. GNOME and Plasma 6 ask once whether Quibbleton may control the keyboard and pointer (on
GNOME switch on <i>Allow Remote Interaction</i>), then choose <i>Share</i>; Plasma 5.27 asks nothing. Choosing
"Accessibility" in Quibbleton's menu asks again. The packages <code>xdg-desktop-portal</code> and
<code>xdg-desktop-portal-gnome</code> (or <code>-kde</code>) must be installed.</li>
<li>Or log in to an X11 session ("GNOME on Xorg") and start Quibbleton again.</li>
</ul>
</body></html>
)";

// The version of the RemoteDesktop portal on the session bus; 0 when there is none.
std::uint32_t portalVersion(GDBusConnection* bus) {
  if (!bus) return 0;
  GVariant* reply =
      g_dbus_connection_call_sync(bus, "org.freedesktop.portal.Desktop", "/org/freedesktop/portal/desktop",
                                  "org.freedesktop.DBus.Properties", "Get",
                                  g_variant_new("(ss)", "org.freedesktop.portal.RemoteDesktop", "version"),
                                  G_VARIANT_TYPE("(v)"), G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
  if (!reply) return 0;
  GVariant* value = nullptr;
  g_variant_get(reply, "(v)", &value);
  const std::uint32_t version =
      g_variant_is_of_type(value, G_VARIANT_TYPE_UINT32) ? g_variant_get_uint32(value) : 0;
  g_variant_unref(value);
  g_variant_unref(reply);
  return version;
}

}  // namespace

std::unique_ptr<WaylandDesktop> WaylandDesktop::open(WaylandDesktopOptions options, std::string& whyNot) {
  auto connection = WaylandConnection::open(whyNot);
  if (!connection) return nullptr;
  // GTK on the same compositor, for launch contexts and the icon theme; our own connection carries
  // input and the clipboard.
  gdk_set_allowed_backends("wayland");
  gtk_init_check(nullptr, nullptr);
  std::unique_ptr<InputSink> sink = WlrootsInput::create(*connection);
  // Only KWin's fake input, mutter and the portal need the desktop's keymap: our virtual keyboard
  // brings its own, and would make every keymap it uploads come back to be read.
  std::unique_ptr<SeatKeymap> keymap;
  std::unique_ptr<MutterSession> mutter;
  std::string why;
  if (!sink) {
    keymap = std::make_unique<SeatKeymap>(*connection);
    // KWin grants its fake input to our installed desktop entry: no dialog, no portal session.
    sink = KwinFakeInput::create(*connection, *keymap);
  }
  if (!sink) {
    // A portal that can remember the user's consent asks once ever; GNOME's own remote desktop
    // asks nothing, but only where the portal would ask at every start does it take over.
    GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    const std::uint32_t version = portalVersion(bus);
    if (version < 2 && MutterSession::present(bus)) {
      mutter = std::make_unique<MutterSession>(bus);
      sink = std::make_unique<MutterInput>(*mutter, [k = keymap.get()](std::uint32_t keysym) {
        return k->catchUp() ? k->locate(keysym) : std::nullopt;
      });
      why = version ? " (the RemoteDesktop portal here would ask at every start)"
                    : " (no RemoteDesktop portal here)";
    } else if (options.makePortalSink) {
      // GNOME's seat has no keyboard until the session makes one: until then nothing is known to
      // be typable, and GNOME drops what its keymap lacks without a word.
      sink = options.makePortalSink(
          [k = keymap.get()](std::uint32_t keysym) { return !k->catchUp() || k->has(keysym); });
      if (version >= 2) why = " (it remembers your consent)";
    }
    if (bus) g_object_unref(bus);
  }
  auto desktop = std::unique_ptr<WaylandDesktop>(new WaylandDesktop(
      std::move(connection), std::move(keymap), std::move(mutter), std::move(sink), std::move(why), options));
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
                               std::unique_ptr<SeatKeymap> keymap, std::unique_ptr<MutterSession> mutter,
                               std::unique_ptr<InputSink> sink, std::string why,
                               const WaylandDesktopOptions& options)
    : connection_(std::move(connection)),
      keymap_(std::move(keymap)),
      mutter_(std::move(mutter)),
      sink_(std::move(sink)),
      why_(std::move(why)),
      accessibility_(sink_.get(), [c = connection_.get()] { return c->broken(); }),
      events_(sink_.get(), screensOf(*connection_),
              LinuxEventPosterOptions{
                  options.commandKey,
                  options.pulseMediaKeys ? std::function<void(int)>([this](int key) { audio_.mediaKey(key); })
                                         : std::function<void(int)>(),
                  20}),
      pasteboard_(makePasteboard()),
      // Without data-control or mutter, the clipboard that comes with the input session (the portal's).
      clipboard_(sink_ && sink_->pasteboard() && !WaylandPasteboard::available(*connection_) && !mutter_
                     ? sink_->pasteboard()
                     : pasteboard_.get()),
      workspace_(options.childLimits),
      applications_(options.childLimits),
      screenshots_([this] { return pressShiftPrint(); }) {
  // A portal session can start or end at any time; the trust answer follows it.
  trustTimer_ = g_timeout_add_seconds(1, refreshTrust, this);
}

std::unique_ptr<Pasteboard> WaylandDesktop::makePasteboard() {
  if (WaylandPasteboard::available(*connection_)) {
    clipboardPath_ = "data-control";
    return std::make_unique<WaylandPasteboard>(*connection_);
  }
  if (mutter_) {
    clipboardPath_ = "GNOME's remote-desktop session";
    return std::make_unique<MutterClipboard>(*mutter_);
  }
  return std::make_unique<UnavailablePasteboard>();
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
    input = "input through " + sink_->describe() + why_ + ", refused for now: " + sink_->whyNot();
  else
    input = "input through " + sink_->describe() + why_;
  return "Wayland display " + connection_->name() + ", " + input + ", clipboard " +
         (clipboard_ != pasteboard_.get() ? "through the input session"
          : pasteboard_->available()      ? "through " + clipboardPath_
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
