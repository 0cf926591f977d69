#pragma once
// Unicode text operations on UTF-8, backed by ICU. Safe on any thread.
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace quib::Unicode {

// NFC form; text that is not valid UTF-8 comes back unchanged.
std::string nfc(std::string_view utf8);
// Ordering by canonical equivalence: compares the NFC forms code point by code point.
bool canonicalLess(std::string_view a, std::string_view b);
bool canonicallyEqual(std::string_view a, std::string_view b);
// Number of extended grapheme clusters.
std::size_t graphemeCount(std::string_view utf8);
// The first n extended grapheme clusters.
std::string graphemePrefix(std::string_view utf8, std::size_t n);
bool isValidUtf8(std::string_view bytes);
// True when every code point is white space or a line break (also for the empty text).
bool isWhitespaceOnly(std::string_view utf8);
// Sorts case-insensitively by the current locale's collation.
void sortLocalizedCaseInsensitive(std::vector<std::string>& names);

}  // namespace quib::Unicode
