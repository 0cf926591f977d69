#pragma once
// Answers the phone's questions from this desktop: application and site icons, which applications
// are installed, the list of them, and the clipboard history. Called on the server queue, except
// where the site-icon search completes (a worker thread).
#include "actions/AppLocator.h"
#include "actions/ClipboardWatcher.h"
#include "icons/AppIconProvider.h"
#include "icons/SiteIconProvider.h"
#include "platform/Platform.h"
#include "server/QueryService.h"

namespace quib {

class DesktopQueries final : public QueryService {
 public:
  DesktopQueries(Platform platform, ClipboardWatcher& clipboard, HttpFetcher::Options fetch = {});

  std::optional<std::string> appIconBase64(const std::string& appName, double size) override;
  void siteIconBase64(const std::string& site, std::function<void(std::optional<std::string>)> done) override;
  bool isAppInstalled(const std::string& appName) override;
  std::vector<std::string> clipboardHistory() override;
  std::vector<std::string> installedApps() override;

 private:
  Platform platform_;
  ClipboardWatcher& clipboard_;
  AppLocator apps_;
  AppIconProvider appIcons_;
  SiteIconProvider siteIcons_;
};

}  // namespace quib
