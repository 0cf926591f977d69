#include "icons/DesktopQueries.h"

#include <set>

#include "text/Unicode.h"

namespace quib {

DesktopQueries::DesktopQueries(Platform platform, ClipboardWatcher& clipboard, HttpFetcher::Options fetch)
    : platform_(platform),
      clipboard_(clipboard),
      apps_(platform.applications),
      appIcons_(apps_, platform.applications),
      siteIcons_(std::move(fetch)),
      renderer_([this] { renderLoop(); }) {}

DesktopQueries::~DesktopQueries() {
  cancelAll();
  renderer_.join();
}

void DesktopQueries::cancelAll() {
  std::deque<Render> dropped;
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    dropped.swap(renders_);
  }
  wake_.notify_all();
  siteIcons_.cancelAll();
  for (auto& r : dropped) r.done(std::nullopt);
}

void DesktopQueries::appIconBase64(const std::string& appName, double size, Done done) {
  if (auto cached = appIcons_.cachedIcon(appName, size)) return done(std::move(cached));
  {
    std::lock_guard lock(mutex_);
    if (!stopping_) {
      renders_.push_back({appName, size, std::move(done)});
      wake_.notify_one();
      return;
    }
  }
  done(std::nullopt);
}

void DesktopQueries::renderLoop() {
  for (;;) {
    Render next;
    {
      std::unique_lock lock(mutex_);
      wake_.wait(lock, [&] { return stopping_ || !renders_.empty(); });
      if (stopping_) return;
      next = std::move(renders_.front());
      renders_.pop_front();
    }
    next.done(appIcons_.iconBase64(next.appName, next.size));
  }
}

void DesktopQueries::siteIconBase64(const std::string& site, std::uint64_t phone, Done done) {
  siteIcons_.iconBase64(site, 256, std::move(done), phone);
}

bool DesktopQueries::isAppInstalled(const std::string& appName) {
  return apps_.appPath(appName).has_value();
}

std::optional<std::vector<std::string>> DesktopQueries::clipboardHistory() {
  if (!platform_.pasteboard.available()) return std::nullopt;
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
