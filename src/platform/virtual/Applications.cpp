#include "platform/virtual/Applications.h"

#include <fstream>
#include <iterator>

namespace quib {

std::optional<std::string> VirtualApplications::find(const std::string& name) {
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
  std::optional<std::string> byIdentifier;
  {
    std::lock_guard lock(mutex_);
    if (auto it = bundleIds_.find(name); it != bundleIds_.end()) byIdentifier = it->second;
  }
  if (byIdentifier) return files_.resolved(*byIdentifier);
  return std::nullopt;
}

std::vector<std::string> VirtualApplications::installedNames() {
  std::vector<std::string> names;
  for (const std::string& folder : {std::string("/Applications"), std::string("/System/Applications"),
                                    files_.homeDirectory() + "/Applications"}) {
    auto entries = files_.list(folder);
    if (!entries) continue;
    for (const auto& e : *entries)
      if (e.size() > 4 && e.ends_with(".app")) names.push_back(e.substr(0, e.size() - 4));
  }
  return names;
}

std::optional<std::string> VirtualApplications::iconData(const std::string& path, int) {
  {
    std::lock_guard lock(mutex_);
    if (auto it = icons_.find(path); it != icons_.end()) return it->second;
  }
  for (const char* name : {"icon.png", "icon.svg"}) {
    std::ifstream f(files_.onDisk(path) / name, std::ios::binary);
    if (!f) continue;
    return std::string((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  }
  return std::nullopt;
}

bool VirtualApplications::launch(const std::string& path) {
  {
    std::lock_guard lock(mutex_);
    launched_.push_back(path);
  }
  log_.emit("launch " + path);
  return true;
}

void VirtualApplications::setBundleIdentifier(const std::string& identifier, const std::string& path) {
  std::lock_guard lock(mutex_);
  bundleIds_[identifier] = path;
}

void VirtualApplications::setIcon(const std::string& path, std::string encodedImage) {
  std::lock_guard lock(mutex_);
  icons_[path] = std::move(encodedImage);
}

std::vector<std::string> VirtualApplications::launched() {
  std::lock_guard lock(mutex_);
  return launched_;
}

}  // namespace quib
