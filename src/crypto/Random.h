#pragma once
// The system's cryptographically secure random generator. Safe on any thread.
#include <cstdint>
#include <string>
#include <vector>

namespace quib::Random {

std::vector<std::uint8_t> bytes(std::size_t n);
// Uniform in [0, bound), bound > 0, without modulo bias.
std::uint32_t uniform(std::uint32_t bound);
// Upper-case text of a random (version 4) UUID: 8-4-4-4-12 hexadecimal digits.
std::string uuidString();

}  // namespace quib::Random
