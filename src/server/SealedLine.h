#pragma once
// Wire records on sealed lines: the record's JSON sealed by the secure channel, and back.
// Stateless; safe on any thread.
#include <optional>
#include <string>
#include <string_view>

#include "crypto/SecureChannel.h"
#include "server/QuibCodec.h"

namespace quib {

// The whole sealed line, line feed included. Throws EncodeError or SealError.
template <typename Record>
std::string sealLine(const Record& record, const SymmetricKey& key) {
  return SecureChannel::sealText(QuibCodec::encode(record), key);
}

// The record a sealed plaintext carries, or nothing when it is not a readable record.
template <typename Record>
std::optional<Record> recordFromPlaintext(const std::optional<std::string>& text) {
  if (!text) return std::nullopt;
  try {
    return QuibCodec::decode<Record>(*text);
  } catch (const DecodeError&) {
    return std::nullopt;
  }
}

// The record carried by a line given without its line feed, or nothing on any failure.
template <typename Record>
std::optional<Record> openLine(std::string_view line, const SymmetricKey& key) {
  return recordFromPlaintext<Record>(SecureChannel::openText(line, key));
}

}  // namespace quib
