#pragma once
// Wire enumerations travel as their case names; each enumeration keeps its names in case order.
#include <array>
#include <cstddef>
#include <optional>
#include <string_view>

namespace quib {

template <typename E, std::size_t N>
constexpr std::string_view enumName(const std::array<std::string_view, N>& names, E value) {
  return names[static_cast<std::size_t>(value)];
}

template <typename E, std::size_t N>
constexpr std::optional<E> enumFromName(const std::array<std::string_view, N>& names, std::string_view s) {
  for (std::size_t i = 0; i < N; ++i)
    if (names[i] == s) return static_cast<E>(i);
  return std::nullopt;
}

template <typename E, std::size_t N>
constexpr std::array<E, N> allEnumValues() {
  std::array<E, N> out{};
  for (std::size_t i = 0; i < N; ++i) out[i] = static_cast<E>(i);
  return out;
}

}  // namespace quib
