#include "platform/wayland/SeatKeymap.h"

#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>

#include <algorithm>

#include "platform/wayland/WaylandConnection.h"

namespace quib {

namespace {

// A keymap is a few tens of kilobytes; anything far larger is no keymap we need to read.
constexpr std::uint32_t kMaxKeymapBytes = 4 * 1024 * 1024;

void keymap(void* self, wl_keyboard*, std::uint32_t format, int fd, std::uint32_t size) {
  static_cast<SeatKeymap*>(self)->onKeymap(format, fd, size);
}
void enter(void*, wl_keyboard*, std::uint32_t, wl_surface*, wl_array*) {}
void leave(void*, wl_keyboard*, std::uint32_t, wl_surface*) {}
void key(void*, wl_keyboard*, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t) {}
void modifiers(void*, wl_keyboard*, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t,
               std::uint32_t) {}
void repeatInfo(void*, wl_keyboard*, std::int32_t, std::int32_t) {}

const wl_keyboard_listener kListener{keymap, enter, leave, key, modifiers, repeatInfo};

}  // namespace

SeatKeymap::SeatKeymap(WaylandConnection& connection) {
  if (!connection.seat() || !(connection.seatCapabilities() & WL_SEAT_CAPABILITY_KEYBOARD)) return;
  keyboard_ = wl_seat_get_keyboard(connection.seat());
  if (keyboard_) wl_keyboard_add_listener(keyboard_, &kListener, this);
}

SeatKeymap::~SeatKeymap() {
  if (keyboard_) wl_keyboard_destroy(keyboard_);
}

void SeatKeymap::onKeymap(std::uint32_t format, int fd, std::uint32_t size) {
  std::string text;
  if (format == WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1 && size > 0 && size <= kMaxKeymapBytes) {
    void* map = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
    if (map != MAP_FAILED) {
      const char* bytes = static_cast<const char*>(map);
      text.assign(bytes, bytes + size);
      munmap(map, size);
    }
  }
  close(fd);
  while (!text.empty() && text.back() == '\0') text.pop_back();
  keys_ = keysOf(text);
  known_ = !keys_.empty();
}

std::optional<SeatKeymap::Key> SeatKeymap::keyFor(std::uint32_t keysym) const {
  const auto found = keys_.find(keysym);
  if (found == keys_.end()) return std::nullopt;
  return found->second;
}

std::unordered_set<std::uint32_t> SeatKeymap::keysymsOf(const std::string& keymapText) {
  std::unordered_set<std::uint32_t> out;
  for (const auto& [keysym, key] : keysOf(keymapText)) out.insert(keysym);
  return out;
}

std::unordered_map<std::uint32_t, SeatKeymap::Key> SeatKeymap::keysOf(const std::string& keymapText) {
  std::unordered_map<std::uint32_t, Key> out;
  if (keymapText.empty()) return out;
  xkb_context* context = xkb_context_new(XKB_CONTEXT_NO_ENVIRONMENT_NAMES);
  if (!context) return out;
  xkb_keymap* map = xkb_keymap_new_from_buffer(context, keymapText.data(), keymapText.size(),
                                               XKB_KEYMAP_FORMAT_TEXT_V1, XKB_KEYMAP_COMPILE_NO_FLAGS);
  if (map) {
    for (xkb_keycode_t code = std::max<xkb_keycode_t>(xkb_keymap_min_keycode(map), 8);
         code <= xkb_keymap_max_keycode(map); ++code) {
      const xkb_level_index_t levels = xkb_keymap_num_levels_for_key(map, code, 0);
      for (xkb_level_index_t level = 0; level < levels; ++level) {
        const xkb_keysym_t* syms = nullptr;
        const int n = xkb_keymap_key_get_syms_by_level(map, code, 0, level, &syms);
        // XKB keycodes are evdev codes plus 8.
        for (int i = 0; i < n; ++i) {
          const Key key{code - 8, level};
          auto [at, added] = out.emplace(syms[i], key);
          if (!added && level < at->second.level) at->second = key;
        }
      }
    }
    xkb_keymap_unref(map);
  }
  xkb_context_unref(context);
  return out;
}

}  // namespace quib
