// Another client's copy, as a password manager makes it: the text together with the KDE
// password-manager hint, which wl-copy cannot offer at once. With --stall it offers the text but
// never sends it, as a stuck owner would. Prints "ready" once the selection is set; serves until
// another copy replaces it. Usage: quib_wl_hinted_copy [--stall] TEXT
#include <unistd.h>
#include <wayland-client.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "wlr-data-control-unstable-v1-client-protocol.h"

namespace {

struct State {
  std::string text;
  bool stall = false, done = false;
  wl_seat* seat = nullptr;
  zwlr_data_control_manager_v1* manager = nullptr;
};

void global(void* data, wl_registry* registry, uint32_t name, const char* interface, uint32_t) {
  auto* s = static_cast<State*>(data);
  if (std::strcmp(interface, wl_seat_interface.name) == 0 && !s->seat)
    s->seat = static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
  if (std::strcmp(interface, zwlr_data_control_manager_v1_interface.name) == 0)
    s->manager = static_cast<zwlr_data_control_manager_v1*>(
        wl_registry_bind(registry, name, &zwlr_data_control_manager_v1_interface, 1));
}

void send(void* data, zwlr_data_control_source_v1*, const char* type, int32_t fd) {
  auto* s = static_cast<State*>(data);
  const bool hint = std::strcmp(type, "x-kde-passwordManagerHint") == 0;
  if (s->stall && !hint) return;  // the end stays open, never written, until we exit
  const std::string& out = hint ? std::string("secret") : s->text;
  if (write(fd, out.data(), out.size()) < 0) std::perror("write");
  close(fd);
}

}  // namespace

int main(int argc, char** argv) {
  State s;
  s.stall = argc > 2 && std::strcmp(argv[1], "--stall") == 0;
  if (argc < 2 + s.stall) return 2;
  s.text = argv[1 + s.stall];
  wl_display* display = wl_display_connect(nullptr);
  if (!display) return 1;
  static const wl_registry_listener registryListener = {global, [](void*, wl_registry*, uint32_t) {}};
  wl_registry_add_listener(wl_display_get_registry(display), &registryListener, &s);
  wl_display_roundtrip(display);
  if (!s.seat || !s.manager) return 1;
  auto* device = zwlr_data_control_manager_v1_get_data_device(s.manager, s.seat);
  auto* source = zwlr_data_control_manager_v1_create_data_source(s.manager);
  static const zwlr_data_control_source_v1_listener sourceListener = {
      send, [](void* data, zwlr_data_control_source_v1*) { static_cast<State*>(data)->done = true; }};
  zwlr_data_control_source_v1_add_listener(source, &sourceListener, &s);
  for (const char* t : {"text/plain;charset=utf-8", "text/plain", "UTF8_STRING", "x-kde-passwordManagerHint"})
    zwlr_data_control_source_v1_offer(source, t);
  zwlr_data_control_device_v1_set_selection(device, source);
  wl_display_roundtrip(display);
  std::printf("ready\n");
  std::fflush(stdout);
  while (!s.done && wl_display_dispatch(display) >= 0) {
  }
  wl_display_disconnect(display);
  return 0;
}
