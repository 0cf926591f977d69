#pragma once
// Text chosen by a peer (a phone's device name), made safe to print on a terminal or show in a
// menu, notification or log line. Safe on any thread.
#include <cstddef>
#include <string>
#include <string_view>

namespace quib {

// Control characters (C0, DEL, C1: newlines, escape sequences, tabs), line and paragraph
// separators and bidirectional overrides each become U+FFFD, as do bytes that are not UTF-8; a
// text longer than maxCodePoints is cut there and ends in "…".
std::string displaySafe(std::string_view text, std::size_t maxCodePoints = 80);

}  // namespace quib
