#include "server/ClientMessage.h"

#include "server/EnumNames.h"
#include "server/JsonRead.h"

namespace quib {

std::string_view ClientMessage::kindName(Kind k) {
  return enumName(kindNames, k);
}
std::optional<ClientMessage::Kind> ClientMessage::kindFromString(std::string_view s) {
  return enumFromName<Kind>(kindNames, s);
}
const std::array<ClientMessage::Kind, 8>& ClientMessage::allKinds() {
  static constexpr auto all = allEnumValues<Kind, 8>();
  return all;
}

nlohmann::ordered_json toJson(const ClientMessage& m) {
  nlohmann::ordered_json j;
  j["type"] = ClientMessage::kindName(m.type);
  if (m.code) j["code"] = *m.code;
  if (m.token) j["token"] = *m.token;
  if (m.action) j["action"] = toJson(*m.action);
  if (m.appName) j["appName"] = *m.appName;
  if (m.iconSize) j["iconSize"] = *m.iconSize;
  if (m.appNames) j["appNames"] = *m.appNames;
  if (m.url) j["url"] = *m.url;
  if (m.actions) {
    auto list = nlohmann::ordered_json::array();
    for (const auto& a : *m.actions) list.push_back(toJson(a));
    j["actions"] = std::move(list);
  }
  if (m.requestId) j["requestId"] = *m.requestId;
  if (m.deviceName) j["deviceName"] = *m.deviceName;
  return j;
}

ClientMessage clientMessageFromJson(const nlohmann::json& j) {
  using namespace json_read;
  requireObject(j, "message");
  ClientMessage m;
  auto type = ClientMessage::kindFromString(requireString(j, "type"));
  if (!type) throw DecodeError("type: unknown request type");
  m.type = *type;
  m.code = optString(j, "code");
  m.token = optString(j, "token");
  if (const Json* a = field(j, "action")) m.action = quibActionFromJson(*a);
  m.appName = optString(j, "appName");
  m.iconSize = optInt(j, "iconSize");
  m.appNames = optStringList(j, "appNames");
  m.url = optString(j, "url");
  if (const Json* list = field(j, "actions")) {
    if (!list->is_array()) throw DecodeError("actions: expected an array");
    std::vector<QuibAction> actions;
    for (const auto& a : *list) actions.push_back(quibActionFromJson(a));
    m.actions = std::move(actions);
  }
  m.requestId = optString(j, "requestId");
  m.deviceName = optString(j, "deviceName");
  return m;
}

}  // namespace quib
