#pragma once
// The virtual desktop's applications: bundles ("NAME.app" folders) on its disk, found in the
// classic application folders in a fixed order, or by a bundle identifier a test registers. The
// locator is the bundle's path. Thread-safe.
#include <map>
#include <mutex>
#include <vector>

#include "platform/Applications.h"
#include "platform/virtual/EffectLog.h"
#include "platform/virtual/FileSystem.h"

namespace quib {

class VirtualApplications final : public Applications {
 public:
  VirtualApplications(FileSystem& files, EffectLog& log) : files_(files), log_(log) {}

  std::optional<std::string> find(const std::string& name) override;
  std::vector<std::string> installedNames() override;
  // The registered icon of a path; without one, the bundle's "icon.png" (or "icon.svg") file.
  // The size is not needed: those files are drawn by the caller.
  std::optional<std::string> iconData(const std::string& path, int size) override;
  bool launch(const std::string& path) override;

  void setBundleIdentifier(const std::string& identifier, const std::string& path);
  void setIcon(const std::string& path, std::string encodedImage);
  std::vector<std::string> launched();

 private:
  FileSystem& files_;
  EffectLog& log_;
  std::mutex mutex_;  // guards the members below
  std::map<std::string, std::string> bundleIds_;
  std::map<std::string, std::string> icons_;
  std::vector<std::string> launched_;
};

}  // namespace quib
