#include "shared/CatalogRecords.h"

#include <cctype>

#include "server/HashMix.h"
#include "server/JsonRead.h"

namespace quib {

std::optional<std::string> canonicalUuid(const std::string& text) {
  if (text.size() != 36) return std::nullopt;
  std::string out = text;
  for (std::size_t i = 0; i < out.size(); ++i) {
    const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
    if (dash) {
      if (out[i] != '-') return std::nullopt;
      continue;
    }
    if (!std::isxdigit(static_cast<unsigned char>(out[i]))) return std::nullopt;
    out[i] = static_cast<char>(std::toupper(static_cast<unsigned char>(out[i])));
  }
  return out;
}

namespace {
std::string requireUuid(const nlohmann::json& j) {
  auto id = canonicalUuid(json_read::requireString(j, "id"));
  if (!id) throw DecodeError("id: not a UUID");
  return *id;
}
}  // namespace

QuibAction Snippet::action() const {
  QuibAction a;
  a.kind = toClipboard ? QuibActionKind::setClipboard : QuibActionKind::typeText;
  a.value = text;
  return a;
}

nlohmann::ordered_json toJson(const Snippet& s) {
  return {{"id", s.id}, {"title", s.title}, {"text", s.text}, {"toClipboard", s.toClipboard}};
}

Snippet snippetFromJson(const nlohmann::json& j) {
  json_read::requireObject(j, "snippet");
  Snippet s;
  s.id = requireUuid(j);
  s.title = json_read::requireString(j, "title");
  s.text = json_read::requireString(j, "text");
  auto b = json_read::optBool(j, "toClipboard");
  if (!b) throw DecodeError("toClipboard: missing");
  s.toClipboard = *b;
  return s;
}

nlohmann::ordered_json toJson(const CustomSite& s) {
  return {{"id", s.id}, {"title", s.title}, {"url", s.url}};
}

CustomSite customSiteFromJson(const nlohmann::json& j) {
  json_read::requireObject(j, "site");
  CustomSite s;
  s.id = requireUuid(j);
  s.title = json_read::requireString(j, "title");
  s.url = json_read::requireString(j, "url");
  return s;
}

}  // namespace quib

std::size_t std::hash<quib::Snippet>::operator()(const quib::Snippet& s) const noexcept {
  std::size_t h = std::hash<std::string>{}(s.id);
  quib::hashMix(h, std::hash<std::string>{}(s.title));
  quib::hashMix(h, std::hash<std::string>{}(s.text));
  quib::hashMix(h, s.toClipboard);
  return h;
}

std::size_t std::hash<quib::CustomSite>::operator()(const quib::CustomSite& s) const noexcept {
  std::size_t h = std::hash<std::string>{}(s.id);
  quib::hashMix(h, std::hash<std::string>{}(s.title));
  quib::hashMix(h, std::hash<std::string>{}(s.url));
  return h;
}
