#pragma once
// GETs with libcurl as site-icon discovery needs them: a fixed User-Agent, a time-out per request,
// only http and https (also across redirects), a few redirects at most, a byte cap counted as the
// body arrives, and a body only for a final status of exactly 200. Several addresses are fetched at
// once on one multi handle (HTTP/2 where the server offers it).
//
// Addresses: the phone's own address (getPhoneAddress) may reach any host, a NAS on the LAN
// included. Everything else (redirect targets, and whatever the page names) must connect to a
// public address, unless it names the phone's host and lands on an address that host was found at.
// The check is made on the address each socket is about to connect to, so a name that resolves
// differently the second time cannot get around it.
//
// One fetcher per search: its connections are not shared with other searches. Fetching blocks the
// calling thread; cancel() may be called from any thread and ends every transfer within a fraction
// of a second.
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

struct curl_slist;
struct sockaddr;

namespace quib {

class HttpFetcher {
 public:
  struct Options {
    std::chrono::milliseconds timeout{6000};
    std::size_t maxBodyBytes = 4 * 1024 * 1024;
    long maxRedirects = 5;
    // Transfers running at once in getAll; 1 fetches one after another.
    std::size_t maxConcurrent = 6;
    // For tests: a CA bundle to trust, "HOST:PORT:CONNECT-HOST:CONNECT-PORT" overrides, and
    // loopback ports that stand for public servers.
    std::string caFile;
    std::vector<std::string> connectTo;
    std::vector<std::uint16_t> publicLoopbackPorts;
  };
  struct Response {
    std::string body;
    std::string url;  // the final address, after redirects
  };
  using Each = std::function<void(std::size_t index, std::optional<Response>)>;
  static constexpr const char* kUserAgent =
      "Mozilla/5.0 (Macintosh; Intel Mac OS X 10_15_7) AppleWebKit/605.1.15";

  HttpFetcher() : HttpFetcher(Options{}) {}
  explicit HttpFetcher(Options options);
  ~HttpFetcher();
  HttpFetcher(const HttpFetcher&) = delete;
  HttpFetcher& operator=(const HttpFetcher&) = delete;

  // The address the phone named: its first hop may connect anywhere, and its host and the
  // addresses it connected to become the phone's.
  std::optional<Response> getPhoneAddress(const std::string& url);
  // An address chosen by a page.
  std::optional<Response> get(const std::string& url);
  // Page-chosen addresses, fetched concurrently; `each` runs on this thread as each one ends
  // (nothing for an error, other status, refused scheme or address, oversized body).
  void getAll(const std::vector<std::string>& urls, const Each& each);

  void cancel();
  bool cancelled() const { return cancelled_; }
  std::size_t maxBodyBytes() const { return options_.maxBodyBytes; }

  struct Transfer;  // one address being fetched, across its redirects
  // The socket hook's question: may this transfer connect to this address now?
  bool mayConnect(const Transfer& transfer, const sockaddr* address);

 private:
  void run(const std::vector<std::string>& urls, bool phoneAddress, const Each& each);

  Options options_;
  void* multi_;
  curl_slist* connectTo_ = nullptr;
  std::atomic<bool> cancelled_{false};
  std::optional<std::string> phoneHost_;
  std::set<std::string> phoneAddresses_;
};

}  // namespace quib
