#pragma once
// Finds computers that advertise the service by DNS-SD through the Avahi daemon. Blocking.
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quib {

struct DiscoveredService {
  std::string name;
  std::string host;     // the advertised host name
  std::string address;  // the resolved address
  std::uint16_t port = 0;
  bool operator==(const DiscoveredService&) const = default;
};

// Browses for `type` for the given time; an error text when no Avahi daemon can be reached.
struct DiscoveryResult {
  std::vector<DiscoveredService> services;
  std::optional<std::string> error;
};
DiscoveryResult discoverServices(const std::string& type, std::chrono::milliseconds duration);

}  // namespace quib
