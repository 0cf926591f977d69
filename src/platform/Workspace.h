#pragma once
// Opening addresses and applications. Main thread for opening; lookups from any thread.
#include <optional>
#include <string>

namespace quib {

class Workspace {
 public:
  virtual ~Workspace() = default;
  // The answer is not awaited; false only when the request could not be made at all.
  virtual bool openURL(const std::string& url) = 0;
  virtual bool openApplication(const std::string& bundlePath) = 0;  // and bring it to the front
  virtual std::optional<std::string> applicationPath(const std::string& bundleIdentifier) = 0;
  // The encoded picture (PNG, SVG, ...) the desktop shows for a file or bundle; none when it has none.
  virtual std::optional<std::string> iconData(const std::string& path) = 0;
};

}  // namespace quib
