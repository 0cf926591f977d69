#pragma once
// Which connected addresses count as the public internet. Addresses a web page picks for us
// (declared icons, manifests, redirect targets) must be public, so that a hostile page cannot make
// this computer fetch from itself or its local network. Pure functions; safe on any thread.
#include <sys/socket.h>

#include <cstdint>
#include <string>
#include <vector>

namespace quib::AddressFilter {

// False for loopback, link-local, private, carrier-grade NAT, unspecified, multicast and reserved
// ranges (IPv4, IPv6 and IPv4 mapped into IPv6). `publicLoopbackPorts` lets tests stand loopback
// servers in for public ones.
bool isPublic(const sockaddr* address, const std::vector<std::uint16_t>& publicLoopbackPorts = {});
// The address as text without port ("" when not IPv4 or IPv6).
std::string text(const sockaddr* address);

}  // namespace quib::AddressFilter
