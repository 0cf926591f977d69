#include "crypto/Random.h"

#include <openssl/rand.h>

#include <cstdio>
#include <cstdlib>

namespace quib::Random {

std::vector<std::uint8_t> bytes(std::size_t n) {
  std::vector<std::uint8_t> out(n);
  // A failing system generator leaves no safe way to go on.
  if (n > 0 && RAND_bytes(out.data(), static_cast<int>(n)) != 1) {
    std::fputs("quibbleton: the system random generator failed\n", stderr);
    std::abort();
  }
  return out;
}

std::uint32_t uniform(std::uint32_t bound) {
  // Reject the top sliver of the 32-bit range that would bias small values.
  const std::uint32_t limit = UINT32_MAX - (UINT32_MAX % bound);
  for (;;) {
    auto b = bytes(4);
    std::uint32_t v =
        (std::uint32_t{b[0]} << 24) | (std::uint32_t{b[1]} << 16) | (std::uint32_t{b[2]} << 8) | b[3];
    if (v < limit) return v % bound;
  }
}

std::string uuidString() {
  auto b = bytes(16);
  b[6] = static_cast<std::uint8_t>((b[6] & 0x0F) | 0x40);
  b[8] = static_cast<std::uint8_t>((b[8] & 0x3F) | 0x80);
  char out[37];
  std::snprintf(out, sizeof out, "%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X", b[0],
                b[1], b[2], b[3], b[4], b[5], b[6], b[7], b[8], b[9], b[10], b[11], b[12], b[13], b[14],
                b[15]);
  return out;
}

}  // namespace quib::Random
