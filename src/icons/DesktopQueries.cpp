#include "icons/DesktopQueries.h"

#include <set>

#include "text/Unicode.h"

namespace quib {

DesktopQueries::DesktopQueries(Platform platform, ClipboardWatcher& clipboard, HttpFetcher::Options fetch)
    : platform_(platform),
      clipboard_(clipboard),
      apps_(platform.applications),
      appIcons_(apps_, platform.applications),
      siteIcons_(std::move(fetch)) {}

std::optional<std::string> DesktopQueries::appIconBase64(const std::string& appName, double size) {
  return appIcons_.iconBase64(appName, size);
}

void DesktopQueries::siteIconBase64(const std::string& site,
                                    std::function<void(std::optional<std::string>)> done) {
  siteIcons_.iconBase64(site, 256, std::move(done));
}

bool DesktopQueries::isAppInstalled(const std::string& appName) {
  return apps_.appPath(appName).has_value();
}

std::vector<std::string> DesktopQueries::clipboardHistory() {
  return clipboard_.history();
}

std::vector<std::string> DesktopQueries::installedApps() {
  auto listed = platform_.applications.installedNames();
  std::set<std::string> names(listed.begin(), listed.end());
  std::vector<std::string> sorted(names.begin(), names.end());
  Unicode::sortLocalizedCaseInsensitive(sorted);
  return sorted;
}

}  // namespace quib
