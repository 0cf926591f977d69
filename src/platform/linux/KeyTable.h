#pragma once
// The X keysym that each virtual key code of the phone's protocol (the ANSI key positions) means,
// so a keystroke can be found on whatever keymap the X server has. Pure; safe on any thread.
#include <cstdint>
#include <optional>

namespace quib {

// Which X modifier the command key stands for. Control by default, so shortcuts made for the
// phone's home desktop (command-c, command-v, command-z, command-tab) do what they do on Linux.
enum class CommandKey { control, super };

namespace KeyTable {

// An X keysym value (X11/keysym.h); kept as a plain integer so this header needs no X headers.
using KeySymbol = unsigned long;

// The keysym a key code stands for; none for a code that names no key here.
std::optional<KeySymbol> keysym(std::uint16_t keyCode, CommandKey command = CommandKey::control);

// For a modifier key's code the event flag it sets (caps lock: its alpha-shift flag); else 0.
std::uint64_t modifierFlag(std::uint16_t keyCode);

// Another keysym with the same effect, for a modifier the keymap lacks (the right-hand keys
// fall back to the left-hand ones); none when there is no such fallback.
std::optional<KeySymbol> modifierFallback(KeySymbol sym);

}  // namespace KeyTable
}  // namespace quib
