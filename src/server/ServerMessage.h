#pragma once
#include <array>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quib {

// One message from the computer to the phone.
struct ServerMessage {
  enum class Kind { hello, paired, ack, appIcon, siteIcon, appCheck, clipboard, appList, frontApp, error };
  static constexpr std::array<std::string_view, 10> kindNames = {
      "hello",    "paired",    "ack",     "appIcon",  "siteIcon",
      "appCheck", "clipboard", "appList", "frontApp", "error"};
  static std::string_view kindName(Kind k);
  static std::optional<Kind> kindFromString(std::string_view s);
  static const std::array<Kind, 10>& allKinds();

  Kind type = Kind::ack;
  std::optional<std::string> hostName;
  std::optional<std::string> token;
  std::optional<std::string> requestId;
  std::optional<bool> ok;
  std::optional<std::string> message;
  std::optional<bool> needsPairing;
  std::optional<bool> accessibilityGranted;
  std::optional<std::string> salt;
  std::optional<std::string> appName;
  std::optional<std::string> iconPNGBase64;
  std::optional<std::string> url;
  std::optional<std::vector<std::string>> installedApps;
  std::optional<std::vector<std::string>> clipboardItems;

  bool operator==(const ServerMessage&) const = default;
};

nlohmann::ordered_json toJson(const ServerMessage& m);
ServerMessage serverMessageFromJson(const nlohmann::json& j);  // throws DecodeError

}  // namespace quib
