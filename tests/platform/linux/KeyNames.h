#pragma once
// Every key name the keystroke action accepts, with the keysym an application must receive for it.
#include <utility>

namespace quib::test {

inline constexpr std::pair<const char*, const char*> kKeystrokeNames[] = {
    {"a", "a"},           {"b", "b"},           {"c", "c"},       {"d", "d"},         {"e", "e"},
    {"f", "f"},           {"g", "g"},           {"h", "h"},       {"i", "i"},         {"j", "j"},
    {"k", "k"},           {"l", "l"},           {"m", "m"},       {"n", "n"},         {"o", "o"},
    {"p", "p"},           {"q", "q"},           {"r", "r"},       {"s", "s"},         {"t", "t"},
    {"u", "u"},           {"v", "v"},           {"w", "w"},       {"x", "x"},         {"y", "y"},
    {"z", "z"},           {"0", "0"},           {"1", "1"},       {"2", "2"},         {"3", "3"},
    {"4", "4"},           {"5", "5"},           {"6", "6"},       {"7", "7"},         {"8", "8"},
    {"9", "9"},           {"return", "Return"}, {"tab", "Tab"},   {"space", "space"}, {"delete", "BackSpace"},
    {"escape", "Escape"}, {"esc", "Escape"},    {"left", "Left"}, {"right", "Right"}, {"down", "Down"},
    {"up", "Up"}};

}  // namespace quib::test
