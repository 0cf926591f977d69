#include "platform/wayland/WaylandConnection.h"

#include <glib.h>
#include <poll.h>
#include <wayland-client.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>

#include "xdg-output-unstable-v1-client-protocol.h"

namespace quib {

// One wl_output, with what the compositor said of its place. xdg-output's logical box wins over
// the output's own position and mode, which are in device pixels.
struct WaylandConnection::Output {
  std::uint32_t name = 0;
  wl_output* output = nullptr;
  zxdg_output_v1* xdg = nullptr;
  Box device;
  int scale = 1;
  std::optional<Box> logical;

  ~Output() {
    if (xdg) zxdg_output_v1_destroy(xdg);
    if (output) wl_output_release(output);
  }
};

namespace {

using Output = WaylandConnection::Output;

const wl_output_listener kOutputListener = {
    .geometry =
        [](void* data, wl_output*, int32_t x, int32_t y, int32_t, int32_t, int32_t, const char*, const char*,
           int32_t) {
          static_cast<Output*>(data)->device.x = x;
          static_cast<Output*>(data)->device.y = y;
        },
    .mode =
        [](void* data, wl_output*, uint32_t flags, int32_t width, int32_t height, int32_t) {
          if (!(flags & WL_OUTPUT_MODE_CURRENT)) return;
          static_cast<Output*>(data)->device.width = width;
          static_cast<Output*>(data)->device.height = height;
        },
    .done = [](void*, wl_output*) {},
    .scale = [](void* data, wl_output*,
                int32_t factor) { static_cast<Output*>(data)->scale = factor > 0 ? factor : 1; },
    .name = [](void*, wl_output*, const char*) {},
    .description = [](void*, wl_output*, const char*) {},
};

// GLib's side of the display's descriptor: prepare queues a read (dispatching what is already
// queued and flushing our requests first), check reads or cancels it, dispatch hands the events
// to their listeners.
struct DisplaySource {
  GSource source;
  wl_display* display;
  gpointer fdTag;
  bool reading;
  bool* broken;
};

gboolean prepare(GSource* base, gint* timeout) {
  auto* s = reinterpret_cast<DisplaySource*>(base);
  *timeout = -1;
  if (*s->broken) return FALSE;
  if (s->reading) return FALSE;
  if (wl_display_prepare_read(s->display) != 0) return TRUE;  // events already queued: dispatch them
  s->reading = true;
  if (wl_display_flush(s->display) < 0 && (errno != EAGAIN || wl_display_get_error(s->display) != 0))
    *s->broken = true;
  return FALSE;
}

gboolean check(GSource* base) {
  auto* s = reinterpret_cast<DisplaySource*>(base);
  if (!s->reading) return TRUE;
  s->reading = false;
  const GIOCondition got = g_source_query_unix_fd(base, s->fdTag);
  if (got & G_IO_IN) {
    if (wl_display_read_events(s->display) < 0) *s->broken = true;
    return TRUE;
  }
  wl_display_cancel_read(s->display);
  if (got & (G_IO_ERR | G_IO_HUP)) *s->broken = true;
  return *s->broken;
}

gboolean dispatch(GSource* base, GSourceFunc, gpointer) {
  auto* s = reinterpret_cast<DisplaySource*>(base);
  if (*s->broken || wl_display_dispatch_pending(s->display) < 0) {
    *s->broken = true;
    return G_SOURCE_REMOVE;
  }
  return G_SOURCE_CONTINUE;
}

void finalize(GSource* base) {
  auto* s = reinterpret_cast<DisplaySource*>(base);
  if (s->reading) wl_display_cancel_read(s->display);
  s->reading = false;
}

GSourceFuncs kSourceFuncs = {prepare, check, dispatch, finalize, nullptr, nullptr};

}  // namespace

std::unique_ptr<WaylandConnection> WaylandConnection::open(std::string& whyNot) {
  const char* name = std::getenv("WAYLAND_DISPLAY");
  if (!name || !*name) {
    whyNot = "WAYLAND_DISPLAY is not set";
    return nullptr;
  }
  wl_display* display = wl_display_connect(nullptr);
  if (!display) {
    whyNot = std::string("the Wayland display ") + name + " does not answer";
    return nullptr;
  }
  auto c = std::unique_ptr<WaylandConnection>(new WaylandConnection(display));
  c->name_ = name;
  // The first round trip lists the globals; the second brings the outputs' and seat's own events.
  if (!c->roundtrip() || !c->roundtrip()) {
    whyNot = std::string("the Wayland display ") + name + " closed the connection";
    return nullptr;
  }
  c->attachSource();
  return c;
}

WaylandConnection::WaylandConnection(wl_display* display) : display_(display) {
  static const wl_registry_listener listener = {onGlobal, onGlobalRemove};
  registry_ = wl_display_get_registry(display_);
  wl_registry_add_listener(registry_, &listener, this);
}

WaylandConnection::~WaylandConnection() {
  if (source_) {
    g_source_destroy(source_);
    g_source_unref(source_);
  }
  outputs_.clear();
  if (xdgOutputs_) zxdg_output_manager_v1_destroy(xdgOutputs_);
  if (seat_) wl_seat_release(seat_);
  if (registry_) wl_registry_destroy(registry_);
  wl_display_flush(display_);
  wl_display_disconnect(display_);
}

void WaylandConnection::attachSource() {
  source_ = g_source_new(&kSourceFuncs, sizeof(DisplaySource));
  auto* s = reinterpret_cast<DisplaySource*>(source_);
  s->display = display_;
  s->reading = false;
  s->broken = &broken_;
  s->fdTag = g_source_add_unix_fd(source_, wl_display_get_fd(display_),
                                  static_cast<GIOCondition>(G_IO_IN | G_IO_ERR | G_IO_HUP));
  g_source_set_name(source_, "wayland display");
  g_source_attach(source_, nullptr);
}

void WaylandConnection::onGlobal(void* self, wl_registry* registry, std::uint32_t name, const char* interface,
                                 std::uint32_t version) {
  auto* c = static_cast<WaylandConnection*>(self);
  c->globals_[name] = Global{interface, version};
  const std::string i = interface;
  if (i == wl_seat_interface.name && !c->seat_) {
    c->seat_ =
        static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, std::min(version, 5u)));
    static const wl_seat_listener seatListener{[](void* self, wl_seat*, std::uint32_t caps) {
                                                 static_cast<WaylandConnection*>(self)->seatCapabilities_ =
                                                     caps;
                                               },
                                               [](void*, wl_seat*, const char*) {}};
    wl_seat_add_listener(c->seat_, &seatListener, c);
  } else if (i == wl_output_interface.name) {
    c->addOutput(name, version);
  } else if (i == zxdg_output_manager_v1_interface.name && !c->xdgOutputs_) {
    c->xdgOutputs_ = static_cast<zxdg_output_manager_v1*>(
        wl_registry_bind(registry, name, &zxdg_output_manager_v1_interface, std::min(version, 2u)));
    for (auto& o : c->outputs_) c->watchXdgOutput(*o);
  }
}

void WaylandConnection::onGlobalRemove(void* self, wl_registry*, std::uint32_t name) {
  auto* c = static_cast<WaylandConnection*>(self);
  c->globals_.erase(name);
  std::erase_if(c->outputs_, [name](const std::unique_ptr<Output>& o) { return o->name == name; });
}

void WaylandConnection::addOutput(std::uint32_t name, std::uint32_t version) {
  auto o = std::make_unique<Output>();
  o->name = name;
  o->output =
      static_cast<wl_output*>(wl_registry_bind(registry_, name, &wl_output_interface, std::min(version, 3u)));
  wl_output_add_listener(o->output, &kOutputListener, o.get());
  if (xdgOutputs_) watchXdgOutput(*o);
  outputs_.push_back(std::move(o));
}

void WaylandConnection::watchXdgOutput(Output& o) {
  if (o.xdg) return;
  static const zxdg_output_v1_listener listener = {
      .logical_position =
          [](void* data, zxdg_output_v1*, int32_t x, int32_t y) {
            auto* out = static_cast<Output*>(data);
            if (!out->logical) out->logical = Box{};
            out->logical->x = x;
            out->logical->y = y;
          },
      .logical_size =
          [](void* data, zxdg_output_v1*, int32_t w, int32_t h) {
            auto* out = static_cast<Output*>(data);
            if (!out->logical) out->logical = Box{};
            out->logical->width = w;
            out->logical->height = h;
          },
      .done = [](void*, zxdg_output_v1*) {},
      .name = [](void*, zxdg_output_v1*, const char*) {},
      .description = [](void*, zxdg_output_v1*, const char*) {},
  };
  o.xdg = zxdg_output_manager_v1_get_xdg_output(xdgOutputs_, o.output);
  zxdg_output_v1_add_listener(o.xdg, &listener, &o);
}

bool WaylandConnection::has(const std::string& interface) const {
  return std::any_of(globals_.begin(), globals_.end(),
                     [&](const auto& g) { return g.second.interface == interface; });
}

void* WaylandConnection::bind(const wl_interface* interface, std::uint32_t maxVersion) {
  for (const auto& [name, g] : globals_)
    if (g.interface == interface->name)
      return wl_registry_bind(registry_, name, interface, std::min(g.version, maxVersion));
  return nullptr;
}

std::optional<WaylandConnection::Box> WaylandConnection::layout() const {
  int left = INT_MAX, top = INT_MAX, right = INT_MIN, bottom = INT_MIN;
  for (const auto& o : outputs_) {
    Box b = o->logical.value_or(
        Box{o->device.x, o->device.y, o->device.width / o->scale, o->device.height / o->scale});
    if (b.width <= 0 || b.height <= 0) continue;
    left = std::min(left, b.x);
    top = std::min(top, b.y);
    right = std::max(right, b.x + b.width);
    bottom = std::max(bottom, b.y + b.height);
  }
  if (left > right) return std::nullopt;
  return Box{left, top, right - left, bottom - top};
}

bool WaylandConnection::flush() {
  if (broken_) return false;
  while (wl_display_flush(display_) < 0) {
    // A request that found the buffer full is a fatal error of the display, whatever its errno.
    if (errno != EAGAIN || wl_display_get_error(display_) != 0) {
      broken_ = true;
      return false;
    }
    // The compositor's buffer is full: wait a while for it to take more. A busy compositor is no
    // lost one: what is left stays queued and goes out with a later flush.
    pollfd p{wl_display_get_fd(display_), POLLOUT, 0};
    const int ready = poll(&p, 1, 1000);
    if (ready > 0 && (p.revents & (POLLERR | POLLHUP | POLLNVAL))) {
      broken_ = true;
      return false;
    }
    if (ready <= 0) return false;
  }
  return true;
}

bool WaylandConnection::roundtrip() {
  if (broken_ || wl_display_roundtrip(display_) < 0) broken_ = true;
  return !broken_;
}

}  // namespace quib
