#include "icons/AddressFilter.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <algorithm>
#include <cstring>

namespace quib::AddressFilter {

namespace {

bool publicV4(std::uint32_t a) {
  auto in = [a](std::uint32_t net, int bits) { return (a >> (32 - bits)) == (net >> (32 - bits)); };
  return !(in(0x00000000, 8) ||   // "this network"
           in(0x0A000000, 8) ||   // 10/8
           in(0x64400000, 10) ||  // 100.64/10, carrier-grade NAT
           in(0x7F000000, 8) ||   // loopback
           in(0xA9FE0000, 16) ||  // link-local
           in(0xAC100000, 12) ||  // 172.16/12
           in(0xC0000000, 24) ||  // IETF protocol assignments
           in(0xC0A80000, 16) ||  // 192.168/16
           in(0xC6120000, 15) ||  // benchmarking
           in(0xE0000000, 4) ||   // multicast
           in(0xF0000000, 4));    // reserved and broadcast
}

bool publicV6(const std::uint8_t* b) {
  static const std::uint8_t zero[16] = {};
  if (std::memcmp(b, zero, 15) == 0 && (b[15] == 0 || b[15] == 1)) return false;  // :: and ::1
  static const std::uint8_t mapped[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};
  if (std::memcmp(b, mapped, 12) == 0)
    return publicV4(std::uint32_t(b[12]) << 24 | std::uint32_t(b[13]) << 16 | std::uint32_t(b[14]) << 8 |
                    b[15]);
  if ((b[0] & 0xfe) == 0xfc) return false;                  // unique local fc00::/7
  if (b[0] == 0xfe && (b[1] & 0xc0) == 0x80) return false;  // link-local fe80::/10
  if (b[0] == 0xfe && (b[1] & 0xc0) == 0xc0) return false;  // site-local fec0::/10
  if (b[0] == 0xff) return false;                           // multicast
  return true;
}

}  // namespace

bool isPublic(const sockaddr* address, const std::vector<std::uint16_t>& publicLoopbackPorts) {
  if (!address) return false;
  if (address->sa_family == AF_INET) {
    const auto* v4 = reinterpret_cast<const sockaddr_in*>(address);
    const std::uint32_t a = ntohl(v4->sin_addr.s_addr);
    if ((a >> 24) == 127 && std::find(publicLoopbackPorts.begin(), publicLoopbackPorts.end(),
                                      ntohs(v4->sin_port)) != publicLoopbackPorts.end())
      return true;
    return publicV4(a);
  }
  if (address->sa_family == AF_INET6)
    return publicV6(reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr.s6_addr);
  return false;
}

std::string text(const sockaddr* address) {
  char buffer[INET6_ADDRSTRLEN] = {};
  if (!address) return "";
  if (address->sa_family == AF_INET)
    return inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(address)->sin_addr, buffer, sizeof buffer)
               ? buffer
               : "";
  if (address->sa_family == AF_INET6)
    return inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr, buffer,
                     sizeof buffer)
               ? buffer
               : "";
  return "";
}

}  // namespace quib::AddressFilter
