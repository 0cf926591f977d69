#pragma once
// A bound on the work one JSON text can cause before it is parsed: nesting depth and number of
// values, checked by one linear scan that allocates nothing. A request nests at most four levels
// (message, actions list, action, modifiers); a text past these bounds is no readable request.
// Stateless; safe on any thread.
#include <cstddef>
#include <string_view>

namespace quib::JsonLimits {

inline constexpr std::size_t kMaxDepth = 8;
inline constexpr std::size_t kMaxValues = 4096;

// False when the text nests deeper or holds more values (array elements and object members) than
// allowed. Says nothing about whether it is valid JSON.
bool withinLimits(std::string_view text, std::size_t maxDepth = kMaxDepth,
                  std::size_t maxValues = kMaxValues);

}  // namespace quib::JsonLimits
