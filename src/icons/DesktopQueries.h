#pragma once
// Answers the phone's questions from this desktop: application and site icons, which applications
// are installed, the list of them, and the clipboard history. Called on the server queue. A cached
// application icon is answered there at once; a cold one is rendered on this object's own render
// thread, and site icons are searched on the site-icon workers; both complete on those threads.
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

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
  ~DesktopQueries() override;

  void appIconBase64(const std::string& appName, double size, Done done) override;
  void siteIconBase64(const std::string& site, std::uint64_t phone, Done done) override;
  bool isAppInstalled(const std::string& appName) override;
  std::optional<std::vector<std::string>> clipboardHistory() override;
  std::vector<std::string> installedApps() override;

  // At quit: ends site searches in flight and answers waiting icon requests with nothing, so that
  // nothing holds the program up. Any thread.
  void cancelAll();

 private:
  struct Render {
    std::string appName;
    double size;
    Done done;
  };
  void renderLoop();

  Platform platform_;
  ClipboardWatcher& clipboard_;
  AppLocator apps_;
  AppIconProvider appIcons_;
  SiteIconProvider siteIcons_;
  std::mutex mutex_;  // guards renders_ and stopping_
  std::condition_variable wake_;
  std::deque<Render> renders_;
  bool stopping_ = false;
  std::thread renderer_;
};

}  // namespace quib
