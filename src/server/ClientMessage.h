#pragma once
#include <array>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "server/QuibAction.h"

namespace quib {

// One request from the phone.
struct ClientMessage {
  enum class Kind { pair, action, appIcon, siteIcon, appCheck, clipboard, appList, ping };
  static constexpr std::array<std::string_view, 8> kindNames = {
      "pair", "action", "appIcon", "siteIcon", "appCheck", "clipboard", "appList", "ping"};
  static std::string_view kindName(Kind k);
  static std::optional<Kind> kindFromString(std::string_view s);
  static const std::array<Kind, 8>& allKinds();

  Kind type = Kind::ping;
  std::optional<std::string> code;
  std::optional<std::string> token;
  std::optional<QuibAction> action;
  std::optional<std::string> appName;
  std::optional<std::int64_t> iconSize;
  std::optional<std::vector<std::string>> appNames;
  std::optional<std::string> url;
  std::optional<std::vector<QuibAction>> actions;  // carried for the phone's own use; never read here
  std::optional<std::string> requestId;
  std::optional<std::string> deviceName;

  bool operator==(const ClientMessage&) const = default;
};

nlohmann::ordered_json toJson(const ClientMessage& m);
ClientMessage clientMessageFromJson(const nlohmann::json& j);  // throws DecodeError

}  // namespace quib
