#pragma once
// The keymaps our virtual keyboard uploads, written as XKB text and compiled with libxkbcommon:
// the US layout on evdev key codes with extra keysyms bound to keys it leaves empty (a keysym the
// layout lacks gets a key of its own), or a keymap made for one piece of text, one key for each
// different character, the way Wayland typing tools type any Unicode. Pure values, any thread.
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct xkb_context;
struct xkb_keymap;

namespace quib {

class VirtualKeymap {
 public:
  using KeySym = std::uint32_t;

  // The US layout plus `extras`, each on a key of its own, in order; extras beyond the free keys
  // are left out. None when libxkbcommon or the XKB data is missing.
  static std::optional<VirtualKeymap> withExtras(const std::vector<KeySym>& extras);
  // Only the given keysyms, one key each on the first codes; at most kTextKeys of them.
  static std::optional<VirtualKeymap> forKeysyms(const std::vector<KeySym>& syms);
  static constexpr std::size_t kTextKeys = 240;

  // How many extra keysyms the layout has room for.
  static std::size_t freeKeys();

  // The evdev key code (XKB's minus 8) that gives `sym` with no modifier held, if any.
  std::optional<std::uint32_t> keyFor(KeySym sym) const;
  // Whether that key is a modifier's (Shift, Control, Alt, Super) and which modifier mask it sets.
  std::uint32_t modifierMaskOf(std::uint32_t evdevKey) const;
  // The source text, NUL-terminated as the compositor expects it in the shared file.
  const std::string& text() const { return text_; }
  xkb_keymap* keymap() const { return keymap_.get(); }

 private:
  struct Free {
    void operator()(xkb_keymap* k) const;
  };
  static std::optional<VirtualKeymap> compile(std::string text);

  std::string text_;
  std::shared_ptr<xkb_keymap> keymap_;
  std::map<KeySym, std::uint32_t> firstLevel_;  // keysym -> evdev key
};

// The keysym that types this Unicode scalar value (control characters: Return, Tab, BackSpace).
VirtualKeymap::KeySym keysymForCodepoint(char32_t c);

}  // namespace quib
