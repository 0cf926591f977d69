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

SiteIconProvider::SiteIconProvider(HttpFetcher::Options fetch, int workers, Clock* clock)
    : fetchOptions_(std::move(fetch)), clock_(clock ? *clock : SteadyClock::instance()) {
  for (int i = 0; i < workers; ++i) workers_.emplace_back([this] { work(); });
}

SiteIconProvider::~SiteIconProvider() {
  cancelAll();
  for (auto& t : workers_) t.join();
}

void SiteIconProvider::cancelAll() {
  Answers dropped;
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    for (auto& job : jobs_) {
      for (auto& w : job->waiters) dropped.emplace_back(std::move(w), std::nullopt);
      std::erase(inFlight_, job);
    }
    jobs_.clear();
    for (auto& p : parked_) dropped.emplace_back(std::move(p.completion), std::nullopt);
    parked_.clear();
    for (HttpFetcher* f : running_) f->cancel();
  }
  wake_.notify_all();
  // Every completion is called once, also for searches that never started.
  for (auto& [completion, result] : dropped) completion(std::move(result));
}

bool SiteIconProvider::admit(const std::string& site, double size, Phone phone, Completion& completion) {
  for (auto& job : inFlight_)
    if (job->site == site && job->size == size) {
      job->waiters.push_back(std::move(completion));
      return true;
    }
  if (perPhone_[phone] >= kMaxWaitingPerPhone) return false;
  auto host = Url::host(site);
  auto job = std::make_shared<Job>(Job{site, host.value_or(""), size, phone, {}});
  job->waiters.push_back(std::move(completion));
  ++perPhone_[phone];
  inFlight_.push_back(job);
  jobs_.push_back(std::move(job));
  wake_.notify_one();
  return true;
}

void SiteIconProvider::admitParked(Answers& answers) {
  const auto now = clock_.now();
  for (auto it = parked_.begin(); it != parked_.end();) {
    if (now >= it->deadline) {
      answers.emplace_back(std::move(it->completion), std::nullopt);
    } else if (auto cached = cache_.get(it->site)) {
      answers.emplace_back(std::move(it->completion), std::move(cached));
    } else if (!admit(it->site, it->size, it->phone, it->completion)) {
      ++it;
      continue;
    }
    it = parked_.erase(it);
  }
}

void SiteIconProvider::iconBase64(const std::string& site, double size, Completion completion, Phone phone) {
  if (auto cached = cache_.get(site)) return completion(cached);
  // A bare name or a "scheme:" address without "//" has no host: nothing, at once.
  if (!Url::host(site)) return completion(std::nullopt);
  Answers answers;
  {
    std::lock_guard lock(mutex_);
    if (stopping_) {
      answers.emplace_back(std::move(completion), std::nullopt);
    } else {
      admitParked(answers);
      if (!admit(site, size, phone, completion))
        parked_.push_back({site, size, phone, std::move(completion), clock_.now() + kWaitDeadline});
    }
  }
  for (auto& [c, result] : answers) c(std::move(result));
}

void SiteIconProvider::work() {
  for (;;) {
    std::shared_ptr<Job> job;
    HttpFetcher fetcher(fetchOptions_);  // a fresh one per search: no connection outlives it
    {
      std::unique_lock lock(mutex_);
      wake_.wait(lock, [&] { return stopping_ || !jobs_.empty(); });
      if (stopping_) return;
      // Phones take turns: the oldest search of the next phone after the one served last.
      auto next = jobs_.begin();
      for (auto it = jobs_.begin(); it != jobs_.end(); ++it) {
        const bool after = (*it)->phone > lastPhone_, nextAfter = (*next)->phone > lastPhone_;
        if (after != nextAfter ? after : (*it)->phone < (*next)->phone) next = it;
      }
      job = std::move(*next);
      jobs_.erase(next);
      lastPhone_ = job->phone;
      running_.insert(&fetcher);
    }
    auto result = search(fetcher, *job);
    Answers answers;
    {
      std::lock_guard lock(mutex_);
      running_.erase(&fetcher);
      std::erase(inFlight_, job);
      if (--perPhone_[job->phone] == 0) perPhone_.erase(job->phone);
      for (auto& w : job->waiters) answers.emplace_back(std::move(w), result);
      job->waiters.clear();
      if (!stopping_) admitParked(answers);
    }
    for (auto& [c, r] : answers) c(std::move(r));
  }
}

std::optional<std::string> SiteIconProvider::search(HttpFetcher& fetcher, const Job& job) {
  auto image = pickLargest(fetcher, candidateURLs(fetcher, job.site, job.host));
  if (!image || fetcher.cancelled()) return std::nullopt;
  auto png = SiteIconAnalysis::png(*image, job.size);
  if (!png) return std::nullopt;
  std::string text = Base64::encode(*png);
  cache_.put(job.site, text);
  return text;
}

std::vector<std::string> SiteIconProvider::candidateURLs(HttpFetcher& fetcher, const std::string& page,
                                                         const std::string& host) {
  std::vector<std::string> declared;
  std::optional<std::string> manifestURL;
  std::string finalHost = host;
  if (auto response = fetcher.getPhoneAddress(page)) {
    // Relative declarations and the fallbacks belong to the page where the redirects ended.
    if (auto h = Url::host(response->url)) finalHost = *h;
    if (Unicode::isValidUtf8(response->body)) {
      declared = IconDeclarations::declaredIcons(response->body, response->url);
      manifestURL = IconDeclarations::manifestLink(response->body, response->url);
    }
  }
  const std::string origin = "https://" + finalHost;
  std::vector<std::string> fallbacks;
  for (const char* path : {"/apple-touch-icon.png", "/apple-touch-icon-precomposed.png",
                           "/apple-touch-icon-180x180.png", "/favicon.ico"})
    if (auto url = Url::normalized(origin + path)) fallbacks.push_back(*url);

  std::vector<std::string> fromManifest;
  if (manifestURL) {
    auto manifest = fetcher.get(*manifestURL);
    const std::string base = manifest ? manifest->url : *manifestURL;
    fromManifest = IconDeclarations::manifestIcons(
        manifest ? std::optional<std::string>(std::move(manifest->body)) : std::nullopt, base);
  }

  std::vector<std::string> all;
  std::unordered_set<std::string> seen;
  for (const auto* list : {&fromManifest, &declared, &fallbacks})
    for (const auto& url : *list)
      if (seen.insert(url).second) all.push_back(url);
  if (all.size() > kMaxCandidates) all.resize(kMaxCandidates);
  return all;
}

namespace {

// 2: preferred (not white, not circular, at least 96); 1: not white; 0: the rest.
int tier(const SiteIconProvider::Candidate& c) {
  if (c.mostlyWhite) return 0;
  return !c.circular && c.side >= 96 ? 2 : 1;
}

}  // namespace

bool SiteIconProvider::beats(const Candidate& c, std::size_t index, const Candidate& best,
                             std::size_t bestIndex) {
  // Once a better tier has a member the lower tiers can no longer win, so the best of the highest
  // tier seen so far is all that needs keeping.
  if (tier(c) != tier(best)) return tier(c) > tier(best);
  if (c.side != best.side) return c.side > best.side;
  return index < bestIndex;
}

std::optional<std::size_t> SiteIconProvider::choose(const std::vector<Candidate>& candidates) {
  std::optional<std::size_t> best;
  for (std::size_t i = 0; i < candidates.size(); ++i)
    if (!best || beats(candidates[i], i, candidates[*best], *best)) best = i;
  return best;
}

std::optional<Image> SiteIconProvider::pickLargest(HttpFetcher& fetcher,
                                                   const std::vector<std::string>& urls) {
  std::optional<Candidate> best;
  std::size_t bestIndex = 0;
  fetcher.getAll(urls, [&](std::size_t index, std::optional<HttpFetcher::Response> response) {
    auto image = response ? ImageCodec::decode(response->body) : std::nullopt;
    if (!image) return;
    const auto a = SiteIconAnalysis::analyze(*image);
    const double side = std::max(image->width, image->height);
    Candidate c{std::move(*image), side, a.circular, a.mostlyWhite};
    if (!best || beats(c, index, *best, bestIndex)) {
      best = std::move(c);
      bestIndex = index;
    }
  });
  if (!best) return std::nullopt;
  return std::move(best->image);
}

}  // namespace quib
