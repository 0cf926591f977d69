#include "server/QuibAction.h"

#include "server/EnumNames.h"
#include "server/HashMix.h"
#include "server/JsonRead.h"

namespace quib {

std::string_view toString(QuibActionKind kind) {
  return enumName(kQuibActionKindNames, kind);
}

std::optional<QuibActionKind> quibActionKindFromString(std::string_view s) {
  return enumFromName<QuibActionKind>(kQuibActionKindNames, s);
}

const std::array<QuibActionKind, 16>& allQuibActionKinds() {
  static constexpr auto all = allEnumValues<QuibActionKind, 16>();
  return all;
}

nlohmann::ordered_json toJson(const QuibAction& a) {
  nlohmann::ordered_json j;
  j["kind"] = toString(a.kind);
  if (a.value) j["value"] = *a.value;
  j["modifiers"] = a.modifiers;
  if (a.url) j["url"] = *a.url;
  if (a.preferApp) j["preferApp"] = *a.preferApp;
  if (a.dx) j["dx"] = *a.dx;
  if (a.dy) j["dy"] = *a.dy;
  return j;
}

QuibAction quibActionFromJson(const nlohmann::json& j) {
  using namespace json_read;
  requireObject(j, "action");
  QuibAction a;
  auto kind = quibActionKindFromString(requireString(j, "kind"));
  if (!kind) throw DecodeError("kind: unknown action kind");
  a.kind = *kind;
  a.value = optString(j, "value");
  a.modifiers = requireStringList(j, "modifiers");
  a.url = optString(j, "url");
  a.preferApp = optBool(j, "preferApp");
  a.dx = optDouble(j, "dx");
  a.dy = optDouble(j, "dy");
  return a;
}

}  // namespace quib

std::size_t std::hash<quib::QuibAction>::operator()(const quib::QuibAction& a) const noexcept {
  std::size_t h = std::hash<int>{}(static_cast<int>(a.kind));
  auto mix = [&h](std::size_t v) { quib::hashMix(h, v); };
  auto opt = [&](const auto& o) {
    using T = typename std::decay_t<decltype(o)>::value_type;
    mix(o ? std::hash<T>{}(*o) : 0x51ed270b);
  };
  opt(a.value);
  for (const auto& m : a.modifiers) mix(std::hash<std::string>{}(m));
  mix(a.modifiers.size());
  opt(a.url);
  opt(a.preferApp);
  opt(a.dx);
  opt(a.dy);
  return h;
}
