#pragma once
// What the query requests ask of the rest of the system, called on the server queue. The two icon
// functions call `done` exactly once, at once or later on another thread; `phone` tells one
// phone's requests from another's.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace quib {

class QueryService {
 public:
  virtual ~QueryService() = default;
  using Done = std::function<void(std::optional<std::string>)>;
  virtual void appIconBase64(const std::string& appName, double size, Done done) = 0;
  virtual void siteIconBase64(const std::string& site, std::uint64_t phone, Done done) = 0;
  virtual bool isAppInstalled(const std::string& appName) = 0;
  // None when the desktop gives this program no clipboard to watch.
  virtual std::optional<std::vector<std::string>> clipboardHistory() = 0;
  virtual std::vector<std::string> installedApps() = 0;
};

}  // namespace quib
