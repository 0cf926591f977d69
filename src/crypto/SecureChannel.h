#pragma once
// Seals and opens single protocol lines: "e:" + base64(nonce | ChaCha20-Poly1305 ciphertext | tag) + LF,
// under keys derived by HKDF-SHA256 from the pairing code or a device token and the connection's salt.
// Stateless; every function is safe on any thread.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "server/QuibCodec.h"

namespace quib {

using SymmetricKey = std::array<std::uint8_t, 32>;
using Bytes = std::vector<std::uint8_t>;

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

// The whole sealed line, line feed included. Throws EncodeError when the record cannot be encoded.
std::string sealText(std::string_view json, const SymmetricKey& key);
// The same with a given nonce, for known-answer tests only: a nonce must never be reused.
std::string sealTextWithNonce(std::string_view json, const SymmetricKey& key, const Bytes& nonce);
// The plaintext carried by a line given without its line feed, or nothing on any failure.
std::optional<std::string> openText(std::string_view line, const SymmetricKey& key);

template <typename Record>
std::string sealLine(const Record& record, const SymmetricKey& key) {
  return sealText(QuibCodec::encode(record), key);
}

template <typename Record>
std::optional<Record> openLine(std::string_view line, const SymmetricKey& key) {
  auto text = openText(line, key);
  if (!text) return std::nullopt;
  try {
    return QuibCodec::decode<Record>(*text);
  } catch (const DecodeError&) {
    return std::nullopt;
  }
}

}  // namespace SecureChannel
}  // namespace quib
