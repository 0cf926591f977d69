#pragma once
#include <cstdint>
#include <string_view>

namespace quib::QuibService {

// DNS-SD service type and TCP port by which the phone finds the computer.
inline constexpr std::string_view bonjourType = "_quibbleton._tcp";
inline constexpr std::uint16_t defaultPort = 50913;

}  // namespace quib::QuibService
