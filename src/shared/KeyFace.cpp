#include "shared/KeyFace.h"

#include "server/EnumNames.h"
#include "server/JsonRead.h"

namespace quib {

nlohmann::ordered_json toJson(const KeyFace& face) {
  nlohmann::ordered_json inner;
  inner["_0"] = face.value;
  nlohmann::ordered_json j;
  j[std::string(enumName(KeyFace::caseNames, face.kind))] = std::move(inner);
  return j;
}

KeyFace keyFaceFromJson(const nlohmann::json& j) {
  json_read::requireObject(j, "face");
  if (j.size() != 1) throw DecodeError("Invalid number of keys found, expected one.");
  auto it = j.begin();
  const std::string key = it.key();
  const nlohmann::json& inner = it.value();
  auto kind = enumFromName<KeyFace::Case>(KeyFace::caseNames, key);
  if (!kind) throw DecodeError("Unknown face case: " + key);
  json_read::requireObject(inner, key);
  return KeyFace{*kind, json_read::requireString(inner, "_0")};
}

}  // namespace quib
