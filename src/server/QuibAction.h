#pragma once
#include <array>
#include <cstddef>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quib {

enum class QuibActionKind {
  launchApp,
  keystroke,
  volumeUp,
  volumeDown,
  mute,
  audioOutputNext,
  screenshotRegion,
  openURL,
  openSite,
  typeText,
  setClipboard,
  pointerMove,
  pointerScroll,
  pointerClick,
  pointerDown,
  pointerUp,
};

inline constexpr std::array<std::string_view, 16> kQuibActionKindNames = {
    "launchApp",        "keystroke",    "volumeUp",    "volumeDown", "mute",         "audioOutputNext",
    "screenshotRegion", "openURL",      "openSite",    "typeText",   "setClipboard", "pointerMove",
    "pointerScroll",    "pointerClick", "pointerDown", "pointerUp"};

std::string_view toString(QuibActionKind kind);
std::optional<QuibActionKind> quibActionKindFromString(std::string_view s);
// Every kind, in declaration order.
const std::array<QuibActionKind, 16>& allQuibActionKinds();

struct QuibAction {
  QuibActionKind kind = QuibActionKind::launchApp;
  std::optional<std::string> value;
  std::vector<std::string> modifiers;  // always written, also when empty
  std::optional<std::string> url;
  std::optional<bool> preferApp;
  std::optional<double> dx;
  std::optional<double> dy;

  bool operator==(const QuibAction&) const = default;
};

nlohmann::ordered_json toJson(const QuibAction& action);
// Throws DecodeError when the object cannot be read.
QuibAction quibActionFromJson(const nlohmann::json& j);

}  // namespace quib

template <>
struct std::hash<quib::QuibAction> {
  std::size_t operator()(const quib::QuibAction& a) const noexcept;
};
