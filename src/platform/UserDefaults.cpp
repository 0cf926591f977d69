#include "platform/UserDefaults.h"

namespace quib {

DefaultsValue DefaultsValue::of(nlohmann::json j) {
  DefaultsValue v;
  if (j.is_string())
    v.type = Type::string;
  else if (j.is_boolean())
    v.type = Type::boolean;
  else if (j.is_number_integer())
    v.type = Type::integer;
  else if (j.is_number())
    v.type = Type::real;
  else if (j.is_array())
    v.type = Type::array;
  else
    v.type = Type::dictionary;
  v.json = std::move(j);
  return v;
}

DefaultsValue DefaultsValue::ofDate(std::chrono::system_clock::time_point t) {
  DefaultsValue v;
  v.type = Type::date;
  v.date = t;
  return v;
}

DefaultsValue DefaultsValue::ofData(std::vector<std::uint8_t> bytes) {
  DefaultsValue v;
  v.type = Type::data;
  v.data = std::move(bytes);
  return v;
}

std::optional<std::vector<std::string>> DefaultsValue::asStringArray() const {
  if (type != Type::array || !json.is_array()) return std::nullopt;
  std::vector<std::string> out;
  for (const auto& e : json) {
    if (!e.is_string()) return std::nullopt;
    out.push_back(e.get<std::string>());
  }
  return out;
}

std::optional<std::map<std::string, std::string>> DefaultsValue::asStringDictionary() const {
  if (type != Type::dictionary || !json.is_object()) return std::nullopt;
  std::map<std::string, std::string> out;
  for (const auto& [k, e] : json.items()) {
    if (!e.is_string()) return std::nullopt;
    out.emplace(k, e.get<std::string>());
  }
  return out;
}

namespace {
std::optional<DefaultsValue> ofType(std::optional<DefaultsValue> v, DefaultsValue::Type t) {
  if (!v || v->type != t) return std::nullopt;
  return v;
}
}  // namespace

std::optional<std::string> UserDefaults::string(const std::string& key) {
  auto v = ofType(value(key), DefaultsValue::Type::string);
  if (!v || !v->json.is_string()) return std::nullopt;
  return v->json.get<std::string>();
}

std::optional<bool> UserDefaults::boolean(const std::string& key) {
  auto v = ofType(value(key), DefaultsValue::Type::boolean);
  if (!v || !v->json.is_boolean()) return std::nullopt;
  return v->json.get<bool>();
}

std::optional<std::int64_t> UserDefaults::integer(const std::string& key) {
  auto v = ofType(value(key), DefaultsValue::Type::integer);
  if (!v || !v->json.is_number_integer()) return std::nullopt;
  if (v->json.is_number_unsigned() && v->json.get<std::uint64_t>() > static_cast<std::uint64_t>(INT64_MAX))
    return std::nullopt;
  return v->json.get<std::int64_t>();
}

std::optional<std::vector<std::string>> UserDefaults::stringArray(const std::string& key) {
  auto v = value(key);
  return v ? v->asStringArray() : std::nullopt;
}

std::optional<std::map<std::string, std::string>> UserDefaults::stringDictionary(const std::string& key) {
  auto v = value(key);
  return v ? v->asStringDictionary() : std::nullopt;
}

std::optional<std::chrono::system_clock::time_point> UserDefaults::date(const std::string& key) {
  auto v = ofType(value(key), DefaultsValue::Type::date);
  if (!v) return std::nullopt;
  return v->date;
}

std::optional<std::vector<std::uint8_t>> UserDefaults::data(const std::string& key) {
  auto v = ofType(value(key), DefaultsValue::Type::data);
  if (!v) return std::nullopt;
  return v->data;
}

bool UserDefaults::setString(const std::string& key, const std::string& v) {
  return set(key, DefaultsValue::of(v));
}
bool UserDefaults::setBoolean(const std::string& key, bool v) {
  return set(key, DefaultsValue::of(v));
}
bool UserDefaults::setInteger(const std::string& key, std::int64_t v) {
  return set(key, DefaultsValue::of(v));
}
bool UserDefaults::setStringArray(const std::string& key, const std::vector<std::string>& v) {
  return set(key, DefaultsValue::of(nlohmann::json(v)));
}
bool UserDefaults::setStringDictionary(const std::string& key, const std::map<std::string, std::string>& v) {
  return set(key, DefaultsValue::of(nlohmann::json(v)));
}
bool UserDefaults::setDate(const std::string& key, std::chrono::system_clock::time_point v) {
  return set(key, DefaultsValue::ofDate(v));
}
bool UserDefaults::setData(const std::string& key, const std::vector<std::uint8_t>& v) {
  return set(key, DefaultsValue::ofData(v));
}

}  // namespace quib
