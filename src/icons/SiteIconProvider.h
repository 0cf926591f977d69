#pragma once
// A web site's icon as base64 PNG: the page's declared icons, its manifest's icons and the usual
// https fallbacks (at most six, first occurrence wins) are downloaded together, classified, and the
// best one is rendered square. Declarations are read against the page's address after redirects,
// and the fallbacks go to that final page's origin, as a browser does.
//
// Searches run on a small pool of worker threads owned here (stopped and joined with it); their
// completions run on a worker. Requests for a site already being searched join that search. Each
// phone has at most kMaxWaitingPerPhone searches queued or running, and phones take turns at the
// workers; beyond that bound a request waits for one of its phone's searches to end, and gets
// nothing if it is still waiting after kWaitDeadline (checked whenever a request arrives or a
// search ends). The result cache is bounded in bytes.
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "icons/BoundedCache.h"
#include "icons/HttpFetcher.h"
#include "platform/Clock.h"
#include "platform/Image.h"

namespace quib {

class SiteIconProvider {
 public:
  using Completion = std::function<void(std::optional<std::string>)>;
  using Phone = std::uint64_t;
  static constexpr std::size_t kMaxCandidates = 6;
  static constexpr std::size_t kCacheBytes = 16 * 1024 * 1024;
  static constexpr std::size_t kMaxWaitingPerPhone = 32;
  static constexpr std::chrono::seconds kWaitDeadline{30};

  struct Candidate {
    Image image;
    double side = 0;
    bool circular = false;
    bool mostlyWhite = false;
  };

  // The clock times waiting requests; the steady clock when none.
  explicit SiteIconProvider(HttpFetcher::Options fetch = {}, int workers = 2, Clock* clock = nullptr);
  ~SiteIconProvider();

  // Completes at once (on the caller's thread) for a cached site, a text that is not a URL or has
  // no host, or after cancelAll(); otherwise later on a worker thread. Any thread.
  void iconBase64(const std::string& site, double size, Completion completion, Phone phone = 0);
  // Ends every search in flight and every waiting request (their completions get nothing) and
  // refuses new ones. Any thread; returns without waiting for the workers.
  void cancelAll();

  // The steps, exposed for tests. Blocking; run on a worker.
  std::vector<std::string> candidateURLs(HttpFetcher& fetcher, const std::string& page,
                                         const std::string& host);
  std::optional<Image> pickLargest(HttpFetcher& fetcher, const std::vector<std::string>& urls);
  static std::optional<std::size_t> choose(const std::vector<Candidate>& candidates);
  // Whether the candidate at `index` beats the best so far (at `bestIndex`): the same choice as
  // `choose` over the whole list, made one candidate at a time and in any order.
  static bool beats(const Candidate& c, std::size_t index, const Candidate& best, std::size_t bestIndex);

 private:
  struct Job {
    std::string site;
    std::string host;
    double size;
    Phone phone;
    std::vector<Completion> waiters;
  };
  struct Parked {
    std::string site;
    double size;
    Phone phone;
    Completion completion;
    Clock::TimePoint deadline;
  };
  using Answers = std::vector<std::pair<Completion, std::optional<std::string>>>;

  void work();
  std::optional<std::string> search(HttpFetcher& fetcher, const Job& job);
  // Under mutex_: queue a search or join one; false when the phone has no slot free.
  bool admit(const std::string& site, double size, Phone phone, Completion& completion);
  // Under mutex_: move parked requests into free slots and expire the late ones.
  void admitParked(Answers& answers);

  HttpFetcher::Options fetchOptions_;
  Clock& clock_;
  BoundedCache<std::string> cache_{kCacheBytes / 1024, kCacheBytes};
  std::mutex mutex_;  // guards everything below
  std::condition_variable wake_;
  std::deque<std::shared_ptr<Job>> jobs_;       // queued, not yet started
  std::vector<std::shared_ptr<Job>> inFlight_;  // queued or running
  std::map<Phone, std::size_t> perPhone_;       // inFlight_ searches each phone started
  std::deque<Parked> parked_;
  std::set<HttpFetcher*> running_;
  Phone lastPhone_ = 0;  // whose search started last
  bool stopping_ = false;
  std::vector<std::thread> workers_;
};

}  // namespace quib
