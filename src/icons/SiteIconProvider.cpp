#include "icons/SiteIconProvider.h"

#include <algorithm>
#include <unordered_set>

#include "crypto/Base64.h"
#include "icons/IconDeclarations.h"
#include "icons/ImageCodec.h"
#include "icons/SiteIconAnalysis.h"
#include "text/Unicode.h"
#include "text/Url.h"

namespace quib {

SiteIconProvider::SiteIconProvider(HttpFetcher::Options fetch, int workers)
    : fetchOptions_(std::move(fetch)) {
  for (int i = 0; i < workers; ++i) workers_.emplace_back([this] { work(); });
}

SiteIconProvider::~SiteIconProvider() {
  std::deque<Job> dropped;
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    dropped.swap(jobs_);
  }
  wake_.notify_all();
  for (auto& t : workers_) t.join();
  // Every completion is called once, also for searches that never started.
  for (auto& job : dropped) job.completion(std::nullopt);
}

void SiteIconProvider::iconBase64(const std::string& site, double size, Completion completion) {
  if (auto cached = cache_.get(site)) return completion(cached);
  // A bare name or a "scheme:" address without "//" has no host: nothing, at once.
  auto host = Url::host(site);
  if (!host) return completion(std::nullopt);
  {
    std::lock_guard lock(mutex_);
    if (!stopping_ && jobs_.size() < kMaxWaiting) {
      jobs_.push_back({site, *host, size, std::move(completion)});
      wake_.notify_one();
      return;
    }
  }
  completion(std::nullopt);
}

void SiteIconProvider::work() {
  HttpFetcher fetcher(fetchOptions_);
  for (;;) {
    Job job;
    {
      std::unique_lock lock(mutex_);
      wake_.wait(lock, [&] { return stopping_ || !jobs_.empty(); });
      if (stopping_) return;
      job = std::move(jobs_.front());
      jobs_.pop_front();
    }
    std::optional<std::string> result;
    auto image = pickLargest(fetcher, candidateURLs(fetcher, job.site, job.host));
    if (image) {
      if (auto png = SiteIconAnalysis::png(*image, job.size)) {
        result = Base64::encode(*png);
        cache_.put(job.site, *result);
      }
    }
    job.completion(std::move(result));
  }
}

std::vector<std::string> SiteIconProvider::candidateURLs(HttpFetcher& fetcher, const std::string& page,
                                                         const std::string& host) {
  const std::string origin = "https://" + host;
  std::vector<std::string> fallbacks;
  for (const char* path : {"/apple-touch-icon.png", "/apple-touch-icon-precomposed.png",
                           "/apple-touch-icon-180x180.png", "/favicon.ico"})
    if (auto url = Url::normalized(origin + path)) fallbacks.push_back(*url);

  std::vector<std::string> declared;
  std::optional<std::string> manifestURL;
  if (auto body = fetcher.get(page); body && Unicode::isValidUtf8(*body)) {
    declared = IconDeclarations::declaredIcons(*body, page);
    manifestURL = IconDeclarations::manifestLink(*body, page);
  }
  std::vector<std::string> fromManifest;
  if (manifestURL) fromManifest = IconDeclarations::manifestIcons(fetcher.get(*manifestURL), *manifestURL);

  std::vector<std::string> all;
  std::unordered_set<std::string> seen;
  for (const auto* list : {&fromManifest, &declared, &fallbacks})
    for (const auto& url : *list)
      if (seen.insert(url).second) all.push_back(url);
  if (all.size() > kMaxCandidates) all.resize(kMaxCandidates);
  return all;
}

std::optional<std::size_t> SiteIconProvider::choose(const std::vector<Candidate>& candidates) {
  std::vector<std::size_t> notWhite, preferred, everything;
  for (std::size_t i = 0; i < candidates.size(); ++i) {
    everything.push_back(i);
    if (candidates[i].mostlyWhite) continue;
    notWhite.push_back(i);
    if (!candidates[i].circular && candidates[i].side >= 96) preferred.push_back(i);
  }
  for (const auto* list : {&preferred, &notWhite, &everything}) {
    if (list->empty()) continue;
    std::size_t best = list->front();
    for (std::size_t i : *list)
      if (candidates[i].side > candidates[best].side) best = i;
    return best;
  }
  return std::nullopt;
}

std::optional<Image> SiteIconProvider::pickLargest(HttpFetcher& fetcher,
                                                   const std::vector<std::string>& urls) {
  std::vector<Candidate> candidates;
  for (const auto& url : urls) {  // strictly one after another
    auto bytes = fetcher.get(url);
    auto image = bytes ? ImageCodec::decode(*bytes) : std::nullopt;
    if (!image) continue;
    const auto a = SiteIconAnalysis::analyze(*image);
    const double side = std::max(image->width, image->height);
    candidates.push_back({std::move(*image), side, a.circular, a.mostlyWhite});
  }
  auto best = choose(candidates);
  if (!best) return std::nullopt;
  return std::move(candidates[*best].image);
}

}  // namespace quib
