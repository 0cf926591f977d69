#pragma once
// Standard base64 (RFC 4648, "+" and "/", "=" padding, no line breaks).
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quib::Base64 {

std::string encode(const std::uint8_t* data, std::size_t size);
inline std::string encode(std::string_view bytes) {
  return encode(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}
inline std::string encode(const std::vector<std::uint8_t>& bytes) {
  return encode(bytes.data(), bytes.size());
}

// Strict: the length is a multiple of four, every character is in the alphabet, and "=" appears
// only as one or two final padding characters. Anything else (whitespace included) gives nothing.
std::optional<std::vector<std::uint8_t>> decode(std::string_view text);

}  // namespace quib::Base64
