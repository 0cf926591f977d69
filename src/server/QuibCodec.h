#pragma once
// Reads and writes wire records as compact JSON text. Encoding and decoding throw; callers on the
// network path catch and answer as the protocol says.
#include <string>
#include <string_view>

#include "server/ClientMessage.h"
#include "server/JsonRead.h"
#include "server/ServerMessage.h"

namespace quib {

struct EncodeError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

namespace QuibCodec {

// Compact JSON of one record (no line feed). Throws EncodeError (for example on text that is not UTF-8).
std::string encode(const ClientMessage& m);
std::string encode(const ServerMessage& m);
std::string encode(const QuibAction& a);

// The record's JSON followed by one line feed.
template <typename Record>
std::string encodeLine(const Record& r) {
  std::string s = encode(r);
  s.push_back('\n');
  return s;
}

// Throws DecodeError when the text is not JSON or not a readable record.
template <typename Record>
Record decode(std::string_view bytes);
template <>
ClientMessage decode<ClientMessage>(std::string_view bytes);
template <>
ServerMessage decode<ServerMessage>(std::string_view bytes);
template <>
QuibAction decode<QuibAction>(std::string_view bytes);

}  // namespace QuibCodec
}  // namespace quib
