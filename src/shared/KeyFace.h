#pragma once
// What a button face shows: one of five cases, each carrying one text.
#include <array>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

namespace quib {

struct KeyFace {
  enum class Case { appIcon, siteIcon, text, symbol, recordSymbol };
  static constexpr std::array<std::string_view, 5> caseNames = {"appIcon", "siteIcon", "text", "symbol",
                                                                "recordSymbol"};

  Case kind = Case::text;
  std::string value;

  bool operator==(const KeyFace&) const = default;
};

// {"appIcon":{"_0":"Safari"}} and the like.
nlohmann::ordered_json toJson(const KeyFace& face);
// Throws DecodeError; an object with no key or several keys fails with the message
// "Invalid number of keys found, expected one."
KeyFace keyFaceFromJson(const nlohmann::json& j);

}  // namespace quib

template <>
struct std::hash<quib::KeyFace> {
  std::size_t operator()(const quib::KeyFace& f) const noexcept {
    return std::hash<std::string>{}(f.value) ^ (static_cast<std::size_t>(f.kind) * 0x9e3779b97f4a7c15ULL);
  }
};
