#pragma once
// Seals and opens single protocol lines: "e:" + base64(nonce | ChaCha20-Poly1305 ciphertext | tag) + LF,
// under keys derived by HKDF-SHA256 from the pairing code or a device token and the connection's salt.
// Stateless; every function is safe on any thread. It seals and opens bytes only: which record a line
// carries is the server's business.
#include <array>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace quib {

using SymmetricKey = std::array<std::uint8_t, 32>;
using Bytes = std::vector<std::uint8_t>;

// Sealing could not be done (a text too large for the cipher, a bad nonce, a cipher failure).
struct SealError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

namespace SecureChannel {

inline constexpr std::size_t kSaltBytes = 16;
inline constexpr std::size_t kNonceBytes = 12;
inline constexpr std::size_t kTagBytes = 16;
inline constexpr std::string_view kPairInfo = "quibbleton-pair-v1";
inline constexpr std::string_view kTokenInfo = "quibbleton-token-v1";

Bytes makeSalt();
SymmetricKey derive(std::string_view secret, const Bytes& salt, std::string_view info);
SymmetricKey pairKey(std::string_view code, const Bytes& salt);
SymmetricKey tokenKey(std::string_view token, const Bytes& salt);

bool isEncrypted(std::string_view line);

// The whole sealed line, line feed included. Throws SealError.
std::string sealText(std::string_view json, const SymmetricKey& key);
// The same with a given nonce, for known-answer tests only: a nonce must never be reused.
std::string sealTextWithNonce(std::string_view json, const SymmetricKey& key, const Bytes& nonce);
// The plaintext carried by a line given without its line feed, or nothing on any failure.
std::optional<std::string> openText(std::string_view line, const SymmetricKey& key);

// The sealed box a line carries (marker present, strict base64, at least nonce and tag long), or
// nothing. Trying many keys on one line decodes it once and opens the box under each.
std::optional<Bytes> sealedBox(std::string_view line);
std::optional<std::string> openBox(const Bytes& box, const SymmetricKey& key);
// The box's first plaintext byte under `key`, NOT authenticated: only for passing over keys that
// cannot be the right one at the cost of one cipher block rather than of the whole box. None
// for an empty box.
std::optional<std::uint8_t> firstPlainByte(const Bytes& box, const SymmetricKey& key);

}  // namespace SecureChannel
}  // namespace quib
