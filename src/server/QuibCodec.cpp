#include "server/QuibCodec.h"

#include "server/JsonLimits.h"

namespace quib::QuibCodec {

namespace {

template <typename Record>
std::string encodeRecord(const Record& r) {
  try {
    return toJson(r).dump();
  } catch (const nlohmann::json::exception& e) {
    throw EncodeError(e.what());
  }
}

nlohmann::json parse(std::string_view bytes) {
  try {
    return nlohmann::json::parse(bytes);
  } catch (const nlohmann::json::exception& e) {
    throw DecodeError(e.what());
  }
}

}  // namespace

std::string encode(const ClientMessage& m) {
  return encodeRecord(m);
}
std::string encode(const ServerMessage& m) {
  return encodeRecord(m);
}
std::string encode(const QuibAction& a) {
  return encodeRecord(a);
}

template <>
ClientMessage decode<ClientMessage>(std::string_view bytes) {
  // Requests come from peers: their parsing cost is bounded before a tree is built. A request is an
  // object, so a text that opens otherwise (a sealed line no key opened) is refused unscanned.
  const auto first = bytes.find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos || bytes[first] != '{') throw DecodeError("a request is a JSON object");
  if (!JsonLimits::withinLimits(bytes)) throw DecodeError("request nests too deep or holds too many values");
  return clientMessageFromJson(parse(bytes));
}
template <>
ServerMessage decode<ServerMessage>(std::string_view bytes) {
  return serverMessageFromJson(parse(bytes));
}
template <>
QuibAction decode<QuibAction>(std::string_view bytes) {
  return quibActionFromJson(parse(bytes));
}

}  // namespace quib::QuibCodec
