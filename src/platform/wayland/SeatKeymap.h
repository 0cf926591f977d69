#pragma once
// The keysyms the compositor's current keymap can type, read from the seat's keyboard. A desktop
// that takes keysyms through the portal finds each one on that keymap and silently drops what it
// lacks, so text is only typed that way when every character is on it. Main thread only.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>

struct wl_keyboard;

namespace quib {

class WaylandConnection;

class SeatKeymap {
 public:
  // Where a keysym lies: the key's Linux evdev code and the shift level (0 plain, 1 Shift,
  // 2 AltGr, 3 Shift+AltGr) of the first layout.
  struct Key {
    std::uint32_t evdevCode = 0;
    std::uint32_t level = 0;
    bool operator==(const Key&) const = default;
  };

  // Asks the seat for its keyboard, when it has one; the keymap arrives with the connection's next
  // events.
  explicit SeatKeymap(WaylandConnection& connection);
  ~SeatKeymap();
  SeatKeymap(const SeatKeymap&) = delete;
  SeatKeymap& operator=(const SeatKeymap&) = delete;

  // Whether a keymap has arrived (a seat without a keyboard never sends one).
  bool known() const { return known_; }
  // Whether some key of the first layout gives this keysym, at any level.
  bool has(std::uint32_t keysym) const { return keys_.contains(keysym); }
  // The key that types this keysym at the lowest level; none when the keymap lacks it.
  std::optional<Key> keyFor(std::uint32_t keysym) const;

  // The keysyms a keymap in XKB's text form can type; empty when it does not compile. Pure.
  static std::unordered_set<std::uint32_t> keysymsOf(const std::string& keymapText);
  static std::unordered_map<std::uint32_t, Key> keysOf(const std::string& keymapText);

  // The wl_keyboard listener's keymap event; internal, public only for the listener.
  void onKeymap(std::uint32_t format, int fd, std::uint32_t size);

 private:
  wl_keyboard* keyboard_ = nullptr;
  bool known_ = false;
  std::unordered_map<std::uint32_t, Key> keys_;
};

}  // namespace quib
