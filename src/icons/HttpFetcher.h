#pragma once
// One GET at a time with libcurl, as site-icon discovery needs it: a fixed User-Agent, a time-out,
// only http and https (also across redirects), a few redirects at most, a byte cap counted as the
// body arrives, and a body only for a final status of exactly 200. Blocking; one fetcher per thread.
#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

struct curl_slist;

namespace quib {

class HttpFetcher {
 public:
  struct Options {
    std::chrono::milliseconds timeout{6000};
    std::size_t maxBodyBytes = 4 * 1024 * 1024;
    long maxRedirects = 5;
    // For tests: a CA bundle to trust, and "HOST:PORT:CONNECT-HOST:CONNECT-PORT" overrides.
    std::string caFile;
    std::vector<std::string> connectTo;
  };
  static constexpr const char* kUserAgent =
      "Mozilla/5.0 (Macintosh; Intel Mac OS X 10_15_7) AppleWebKit/605.1.15";

  HttpFetcher() : HttpFetcher(Options{}) {}
  explicit HttpFetcher(Options options);
  ~HttpFetcher();
  HttpFetcher(const HttpFetcher&) = delete;
  HttpFetcher& operator=(const HttpFetcher&) = delete;

  // The body of a 200 answer; none on any error, other status, refused scheme or oversized body.
  std::optional<std::string> get(const std::string& url);

 private:
  Options options_;
  void* curl_;
  curl_slist* connectTo_ = nullptr;
};

}  // namespace quib
