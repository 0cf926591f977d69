#pragma once
// A web site's icon as base64 PNG: the page's declared icons, its manifest's icons and the usual
// https fallbacks (at most six, first occurrence wins) are downloaded one after another, classified,
// and the best one is rendered square. Searches run on a small pool of worker threads owned here
// (stopped and joined with it); their completions run on a worker. The queue of waiting searches
// and the result cache are bounded.
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "icons/BoundedCache.h"
#include "icons/HttpFetcher.h"
#include "platform/Image.h"

namespace quib {

class SiteIconProvider {
 public:
  using Completion = std::function<void(std::optional<std::string>)>;
  static constexpr std::size_t kMaxCandidates = 6;
  static constexpr std::size_t kCacheEntries = 256;
  static constexpr std::size_t kMaxWaiting = 32;

  struct Candidate {
    Image image;
    double side = 0;
    bool circular = false;
    bool mostlyWhite = false;
  };

  explicit SiteIconProvider(HttpFetcher::Options fetch = {}, int workers = 2);
  ~SiteIconProvider();

  // Completes at once (on the caller's thread) for a cached site, a text that is not a URL or has
  // no host, or when too many searches wait; otherwise later on a worker thread.
  void iconBase64(const std::string& site, double size, Completion completion);

  // The steps, exposed for tests. Blocking; run on a worker.
  std::vector<std::string> candidateURLs(HttpFetcher& fetcher, const std::string& page,
                                         const std::string& host);
  std::optional<Image> pickLargest(HttpFetcher& fetcher, const std::vector<std::string>& urls);
  static std::optional<std::size_t> choose(const std::vector<Candidate>& candidates);

 private:
  struct Job {
    std::string site;
    std::string host;
    double size;
    Completion completion;
  };
  void work();

  HttpFetcher::Options fetchOptions_;
  BoundedCache<std::string> cache_{kCacheEntries};
  std::mutex mutex_;  // guards jobs_ and stopping_
  std::condition_variable wake_;
  std::deque<Job> jobs_;
  bool stopping_ = false;
  std::vector<std::thread> workers_;
};

}  // namespace quib
