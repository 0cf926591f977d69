#pragma once
// Combines field hashes for the value types that are hashed over all their fields.
#include <cstddef>

namespace quib {

inline void hashMix(std::size_t& h, std::size_t v) {
  h ^= v + 0x9e3779b97f4a7c15ULL + (h << 6) + (h >> 2);
}

}  // namespace quib
