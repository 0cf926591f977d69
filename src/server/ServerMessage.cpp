#include "server/ServerMessage.h"

#include "server/EnumNames.h"
#include "server/JsonRead.h"

namespace quib {

std::string_view ServerMessage::kindName(Kind k) {
  return enumName(kindNames, k);
}
std::optional<ServerMessage::Kind> ServerMessage::kindFromString(std::string_view s) {
  return enumFromName<Kind>(kindNames, s);
}
const std::array<ServerMessage::Kind, 10>& ServerMessage::allKinds() {
  static constexpr auto all = allEnumValues<Kind, 10>();
  return all;
}

nlohmann::ordered_json toJson(const ServerMessage& m) {
  nlohmann::ordered_json j;
  j["type"] = ServerMessage::kindName(m.type);
  if (m.hostName) j["hostName"] = *m.hostName;
  if (m.token) j["token"] = *m.token;
  if (m.requestId) j["requestId"] = *m.requestId;
  if (m.ok) j["ok"] = *m.ok;
  if (m.message) j["message"] = *m.message;
  if (m.needsPairing) j["needsPairing"] = *m.needsPairing;
  if (m.accessibilityGranted) j["accessibilityGranted"] = *m.accessibilityGranted;
  if (m.salt) j["salt"] = *m.salt;
  if (m.appName) j["appName"] = *m.appName;
  if (m.iconPNGBase64) j["iconPNGBase64"] = *m.iconPNGBase64;
  if (m.url) j["url"] = *m.url;
  if (m.installedApps) j["installedApps"] = *m.installedApps;
  if (m.clipboardItems) j["clipboardItems"] = *m.clipboardItems;
  return j;
}

ServerMessage serverMessageFromJson(const nlohmann::json& j) {
  using namespace json_read;
  requireObject(j, "message");
  ServerMessage m;
  auto type = ServerMessage::kindFromString(requireString(j, "type"));
  if (!type) throw DecodeError("type: unknown message type");
  m.type = *type;
  m.hostName = optString(j, "hostName");
  m.token = optString(j, "token");
  m.requestId = optString(j, "requestId");
  m.ok = optBool(j, "ok");
  m.message = optString(j, "message");
  m.needsPairing = optBool(j, "needsPairing");
  m.accessibilityGranted = optBool(j, "accessibilityGranted");
  m.salt = optString(j, "salt");
  m.appName = optString(j, "appName");
  m.iconPNGBase64 = optString(j, "iconPNGBase64");
  m.url = optString(j, "url");
  m.installedApps = optStringList(j, "installedApps");
  m.clipboardItems = optStringList(j, "clipboardItems");
  return m;
}

}  // namespace quib
