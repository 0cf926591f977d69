#pragma once
// The keysyms the compositor's current keymap can type, read from the seat's keyboard. A desktop
// that takes keysyms through the portal finds each one on that keymap and silently drops what it
// lacks, so text is only typed that way when every character is on it. Main thread only.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>

struct wl_keyboard;

namespace quib {

class WaylandConnection;

// Where a keysym sits on a keymap: the Linux evdev code of its key, and the shift level (0 plain, 1
// with Shift, 2 and up with AltGr and others).
struct KeyPlace {
  std::uint32_t evdevCode = 0;
  std::uint32_t level = 0;
  bool operator==(const KeyPlace&) const = default;
};

class SeatKeymap {
 public:
  // Asks the seat for its keyboard, when it has one; the keymap arrives with the connection's next
  // events.
  explicit SeatKeymap(WaylandConnection& connection);
  // A seat that had no keyboard may have one now (GNOME's has none until a remote-desktop session
  // makes its virtual keyboard): asks for it then, and waits for the keymap. True when known().
  bool catchUp();
  ~SeatKeymap();
  SeatKeymap(const SeatKeymap&) = delete;
  SeatKeymap& operator=(const SeatKeymap&) = delete;

  // Whether a keymap has arrived (a seat without a keyboard never sends one).
  bool known() const { return known_; }
  // Whether some key of the first layout gives this keysym, at any level.
  bool has(std::uint32_t keysym) const { return keysyms_.contains(keysym); }
  // Where that key is: of the keys that give it, the one at the lowest level, then the lowest code.
  std::optional<KeyPlace> locate(std::uint32_t keysym) const {
    const auto it = keysyms_.find(keysym);
    return it == keysyms_.end() ? std::nullopt : std::optional<KeyPlace>(it->second);
  }

  // The keysyms a keymap in XKB's text form can type, each with where it is; empty when the keymap
  // does not compile. Pure.
  static std::unordered_map<std::uint32_t, KeyPlace> keysymsOf(const std::string& keymapText);

  // The wl_keyboard listener's keymap event; internal, public only for the listener.
  void onKeymap(std::uint32_t format, int fd, std::uint32_t size);

 private:
  void bindKeyboard();

  WaylandConnection& connection_;
  wl_keyboard* keyboard_ = nullptr;
  bool known_ = false;
  std::unordered_map<std::uint32_t, KeyPlace> keysyms_;
};

}  // namespace quib
