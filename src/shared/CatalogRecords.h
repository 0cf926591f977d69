#pragma once
// The entries the user makes on the phone: text snippets and custom web sites.
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "server/QuibAction.h"

namespace quib {

// The canonical upper-case text of a UUID written in either case; none when it is not one.
std::optional<std::string> canonicalUuid(const std::string& text);

struct Snippet {
  std::string id;  // canonical upper-case UUID text
  std::string title;
  std::string text;
  bool toClipboard = false;

  std::string catalogID() const { return "snip." + id; }
  // setClipboard or typeText with the text as value.
  QuibAction action() const;
  bool operator==(const Snippet&) const = default;
};

struct CustomSite {
  std::string id;
  std::string title;
  std::string url;

  std::string catalogID() const { return "site.custom." + id; }
  bool operator==(const CustomSite&) const = default;
};

// Throw DecodeError when a field is missing or mistyped or the id is not a UUID.
nlohmann::ordered_json toJson(const Snippet& s);
Snippet snippetFromJson(const nlohmann::json& j);
nlohmann::ordered_json toJson(const CustomSite& s);
CustomSite customSiteFromJson(const nlohmann::json& j);

}  // namespace quib

template <>
struct std::hash<quib::Snippet> {
  std::size_t operator()(const quib::Snippet& s) const noexcept;
};
template <>
struct std::hash<quib::CustomSite> {
  std::size_t operator()(const quib::CustomSite& s) const noexcept;
};
