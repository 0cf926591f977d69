#pragma once
// The keysyms the compositor's current keymap can type, read from the seat's keyboard. A desktop
// that takes keysyms through the portal finds each one on that keymap and silently drops what it
// lacks, so text is only typed that way when every character is on it. Main thread only.
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_set>

struct wl_keyboard;

namespace quib {

class WaylandConnection;

class SeatKeymap {
 public:
  // Asks the seat for its keyboard, when it has one; the keymap arrives with the connection's next
  // events.
  explicit SeatKeymap(WaylandConnection& connection);
  ~SeatKeymap();
  SeatKeymap(const SeatKeymap&) = delete;
  SeatKeymap& operator=(const SeatKeymap&) = delete;

  // Whether a keymap has arrived (a seat without a keyboard never sends one).
  bool known() const { return known_; }
  // Whether some key of the first layout gives this keysym, at any level.
  bool has(std::uint32_t keysym) const { return keysyms_.contains(keysym); }

  // The keysyms a keymap in XKB's text form can type; empty when it does not compile. Pure.
  static std::unordered_set<std::uint32_t> keysymsOf(const std::string& keymapText);

  // The wl_keyboard listener's keymap event; internal, public only for the listener.
  void onKeymap(std::uint32_t format, int fd, std::uint32_t size);

 private:
  wl_keyboard* keyboard_ = nullptr;
  bool known_ = false;
  std::unordered_set<std::uint32_t> keysyms_;
};

}  // namespace quib
