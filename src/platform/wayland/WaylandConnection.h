#pragma once
// One client connection to the Wayland compositor, dispatched on the default GLib main context:
// the display's file descriptor is a GSource that reads and dispatches events as they come and
// flushes our requests before the context sleeps. Keeps the registry's globals, the first seat and
// the outputs' places in the compositor's global (logical) coordinates. Main thread only.
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct wl_display;
struct wl_registry;
struct wl_seat;
struct wl_interface;
struct wl_output;
struct zxdg_output_manager_v1;
struct zxdg_output_v1;
typedef struct _GSource GSource;

namespace quib {

class WaylandConnection {
 public:
  struct Box {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    bool operator==(const Box&) const = default;
  };

  // Connects to $WAYLAND_DISPLAY and reads the globals and outputs; none, with the reason in
  // `whyNot`, when there is no compositor to reach.
  static std::unique_ptr<WaylandConnection> open(std::string& whyNot);
  ~WaylandConnection();
  WaylandConnection(const WaylandConnection&) = delete;
  WaylandConnection& operator=(const WaylandConnection&) = delete;

  wl_display* display() const { return display_; }
  wl_seat* seat() const { return seat_; }
  // The seat's WL_SEAT_CAPABILITY_* bits as last announced (asking for a device it lacks is a
  // protocol error that ends the connection).
  std::uint32_t seatCapabilities() const { return seatCapabilities_; }
  // The display's name, for the line that names the backend.
  const std::string& name() const { return name_; }
  bool has(const std::string& interface) const;
  // Binds the global of that interface at the lower of its version and `maxVersion`; null when the
  // compositor has none.
  void* bind(const wl_interface* interface, std::uint32_t maxVersion);

  // The smallest box around every output, in the compositor's logical pixels; none before the
  // outputs are known or when there are none.
  std::optional<Box> layout() const;

  // Sends what is queued; false when the compositor took none of it for a second (what is left
  // goes out with a later flush) and once the connection is lost.
  bool flush();
  // Waits until the compositor has handled every request so far and their events are dispatched.
  bool roundtrip();
  // Lost for good: an error on the socket, a hang-up or a protocol error.
  bool broken() const { return broken_; }

  // One wl_output and its place; internal, public only for the protocol listeners.
  struct Output;

 private:
  struct Global {
    std::string interface;
    std::uint32_t version = 0;
  };
  explicit WaylandConnection(wl_display* display);
  void addOutput(std::uint32_t name, std::uint32_t version);
  void watchXdgOutput(Output& output);
  void attachSource();

  static void onGlobal(void* self, wl_registry*, std::uint32_t name, const char* interface,
                       std::uint32_t version);
  static void onGlobalRemove(void* self, wl_registry*, std::uint32_t name);

  wl_display* display_;
  wl_registry* registry_ = nullptr;
  wl_seat* seat_ = nullptr;
  std::uint32_t seatCapabilities_ = 0;
  zxdg_output_manager_v1* xdgOutputs_ = nullptr;
  std::map<std::uint32_t, Global> globals_;
  std::vector<std::unique_ptr<Output>> outputs_;
  std::string name_;
  GSource* source_ = nullptr;
  bool broken_ = false;
};

}  // namespace quib
