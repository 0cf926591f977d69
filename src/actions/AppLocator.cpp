#include "actions/AppLocator.h"

namespace quib {

std::optional<std::string> AppLocator::appPath(const std::string& name) {
  // A name is one folder entry; a slash would let a peer probe or launch bundles anywhere on disk.
  if (name.find('/') != std::string::npos || name.find('\0') != std::string::npos) return std::nullopt;
  // The name goes in unchanged: not trimmed, not case-folded, an ".app" ending kept.
  const std::string candidates[] = {
      "/Applications/" + name + ".app",
      "/System/Applications/" + name + ".app",
      "/System/Applications/Utilities/" + name + ".app",
      "/System/Library/CoreServices/" + name + ".app",
      "/System/Library/CoreServices/Applications/" + name + ".app",
      files_.homeDirectory() + "/Applications/" + name + ".app",
  };
  for (const auto& c : candidates)
    if (files_.exists(c)) return files_.resolved(c);
  if (auto byIdentifier = workspace_.applicationPath(name)) return files_.resolved(*byIdentifier);
  return std::nullopt;
}

ActionResult AppLocator::launchApp(const std::string& name) {
  if (name.empty()) return {false, "앱 이름이 비어 있음"};
  auto path = appPath(name);
  if (!path) return {false, "앱을 찾을 수 없음: " + name};
  workspace_.openApplication(*path);  // not awaited
  return {true, name + " 실행"};
}

}  // namespace quib
