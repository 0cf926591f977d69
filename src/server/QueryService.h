#pragma once
// What the query requests ask of the rest of the system. Every function but siteIcon runs on the
// server queue; siteIcon may complete at once or later on another thread.
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace quib {

class QueryService {
 public:
  virtual ~QueryService() = default;
  virtual std::optional<std::string> appIconBase64(const std::string& appName, double size) = 0;
  virtual void siteIconBase64(const std::string& site,
                              std::function<void(std::optional<std::string>)> done) = 0;
  virtual bool isAppInstalled(const std::string& appName) = 0;
  virtual std::vector<std::string> clipboardHistory() = 0;
  virtual std::vector<std::string> installedApps() = 0;
};

}  // namespace quib
