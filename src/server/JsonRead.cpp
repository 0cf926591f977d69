#include "server/JsonRead.h"

#include <cmath>

namespace quib::json_read {

namespace {
[[noreturn]] void fail(std::string_view key, std::string_view why) {
  throw DecodeError(std::string(key) + ": " + std::string(why));
}
}  // namespace

const Json& requireObject(const Json& j, std::string_view what) {
  if (!j.is_object()) fail(what, "expected an object");
  return j;
}

const Json* field(const Json& obj, std::string_view key) {
  auto it = obj.find(key);
  if (it == obj.end() || it->is_null()) return nullptr;
  return &*it;
}

std::optional<std::string> optString(const Json& obj, std::string_view key) {
  const Json* v = field(obj, key);
  if (!v) return std::nullopt;
  if (!v->is_string()) fail(key, "expected a string");
  return v->get<std::string>();
}

std::optional<bool> optBool(const Json& obj, std::string_view key) {
  const Json* v = field(obj, key);
  if (!v) return std::nullopt;
  if (!v->is_boolean()) fail(key, "expected a boolean");
  return v->get<bool>();
}

std::optional<double> optDouble(const Json& obj, std::string_view key) {
  const Json* v = field(obj, key);
  if (!v) return std::nullopt;
  if (!v->is_number()) fail(key, "expected a number");
  return v->get<double>();
}

std::optional<std::int64_t> optInt(const Json& obj, std::string_view key) {
  const Json* v = field(obj, key);
  if (!v) return std::nullopt;
  if (v->is_number_integer() && !v->is_number_unsigned()) return v->get<std::int64_t>();
  if (v->is_number_unsigned()) {
    auto u = v->get<std::uint64_t>();
    if (u > static_cast<std::uint64_t>(INT64_MAX)) fail(key, "integer out of range");
    return static_cast<std::int64_t>(u);
  }
  if (v->is_number_float()) {
    double d = v->get<double>();
    // 2^63 is exactly representable; anything at or beyond it does not fit.
    if (!std::isfinite(d) || d != std::trunc(d) || d < -9223372036854775808.0 || d >= 9223372036854775808.0)
      fail(key, "expected a whole number in range");
    return static_cast<std::int64_t>(d);
  }
  fail(key, "expected an integer");
}

std::vector<std::string> asStringList(const Json& value, std::string_view key) {
  if (!value.is_array()) fail(key, "expected an array");
  std::vector<std::string> out;
  out.reserve(value.size());
  for (const auto& e : value) {
    if (!e.is_string()) fail(key, "expected an array of strings");
    out.push_back(e.get<std::string>());
  }
  return out;
}

std::optional<std::vector<std::string>> optStringList(const Json& obj, std::string_view key) {
  const Json* v = field(obj, key);
  if (!v) return std::nullopt;
  return asStringList(*v, key);
}

std::string requireString(const Json& obj, std::string_view key) {
  auto s = optString(obj, key);
  if (!s) fail(key, "missing");
  return *s;
}

std::vector<std::string> requireStringList(const Json& obj, std::string_view key) {
  auto l = optStringList(obj, key);
  if (!l) fail(key, "missing");
  return *l;
}

}  // namespace quib::json_read
