#include "platform/virtual/FileSystem.h"

namespace quib {

namespace fs = std::filesystem;

FileSystem::FileSystem(fs::path root, std::string homeDirectory)
    : root_(fs::weakly_canonical(std::move(root))), home_(std::move(homeDirectory)) {}

fs::path FileSystem::onDisk(const std::string& path) const {
  return root_ / fs::path(path).relative_path();
}

bool FileSystem::exists(const std::string& path) const {
  std::error_code ec;
  // A dangling link does not count: the item it names is missing.
  return fs::exists(onDisk(path), ec);
}

std::string FileSystem::resolved(const std::string& path) const {
  std::error_code ec;
  fs::path real = fs::canonical(onDisk(path), ec);
  if (ec) return path;
  // Back into tree coordinates when the target lies inside the root.
  auto rel = real.lexically_relative(root_);
  if (!rel.empty() && *rel.begin() != "..") return (fs::path("/") / rel).lexically_normal().string();
  return real.string();
}

std::optional<std::vector<std::string>> FileSystem::list(const std::string& folder) const {
  std::error_code ec;
  fs::directory_iterator it(onDisk(folder), ec);
  if (ec) return std::nullopt;
  std::vector<std::string> names;
  for (const auto& entry : it) names.push_back(entry.path().filename().string());
  return names;
}

}  // namespace quib
