#pragma once
// Strict field readers shared by the wire records: a key that is missing or null reads as absent,
// a value of the wrong JSON type makes the whole record unreadable (DecodeError).
#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace quib {

struct DecodeError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

namespace json_read {

using Json = nlohmann::json;

const Json& requireObject(const Json& j, std::string_view what);
// Present and not null, else nullptr.
const Json* field(const Json& obj, std::string_view key);
std::optional<std::string> optString(const Json& obj, std::string_view key);
std::optional<bool> optBool(const Json& obj, std::string_view key);
std::optional<double> optDouble(const Json& obj, std::string_view key);
// Accepts a JSON number whose value is a whole number that fits 64 bits (128 and 128.0 alike);
// a fraction or a value outside the 64-bit range makes the record unreadable.
std::optional<std::int64_t> optInt(const Json& obj, std::string_view key);
std::optional<std::vector<std::string>> optStringList(const Json& obj, std::string_view key);
std::string requireString(const Json& obj, std::string_view key);
std::vector<std::string> requireStringList(const Json& obj, std::string_view key);
std::vector<std::string> asStringList(const Json& value, std::string_view key);

}  // namespace json_read
}  // namespace quib
