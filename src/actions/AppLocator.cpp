#include "actions/AppLocator.h"

namespace quib {

std::optional<std::string> AppLocator::appPath(const std::string& name) {
  // A name is one folder entry or identifier; a slash would let a peer probe or launch bundles
  // anywhere on disk.
  if (name.find('/') != std::string::npos || name.find('\0') != std::string::npos) return std::nullopt;
  return applications_.find(name);
}

ActionResult AppLocator::launchApp(const std::string& name) {
  if (name.empty()) return {false, "앱 이름이 비어 있음"};
  auto path = appPath(name);
  if (!path) return {false, "앱을 찾을 수 없음: " + name};
  // The launch itself is not awaited, but a desktop that cannot even start it must not be
  // answered with success.
  if (!applications_.launch(*path)) return {false, "앱을 실행할 수 없음: " + name};
  return {true, name + " 실행"};
}

}  // namespace quib
