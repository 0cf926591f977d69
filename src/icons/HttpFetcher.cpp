#include "icons/HttpFetcher.h"

#include <curl/curl.h>
#include <sys/socket.h>

#include <algorithm>
#include <cctype>
#include <deque>
#include <memory>

#include "icons/AddressFilter.h"
#include "text/Url.h"

namespace quib {

struct HttpFetcher::Transfer {
  HttpFetcher* owner = nullptr;
  std::size_t index = 0;
  std::string url;
  std::string host;  // lower-cased, of the current hop
  bool phoneHop = false;
  long hops = 0;
  std::string body;
  bool tooLarge = false;
  CURL* easy = nullptr;
};

namespace {

std::string lowerHost(const std::string& url) {
  std::string h = Url::host(url).value_or("");
  std::transform(h.begin(), h.end(), h.begin(), [](unsigned char c) { return std::tolower(c); });
  return h;
}

std::size_t onData(char* data, std::size_t size, std::size_t count, void* raw) {
  auto* t = static_cast<HttpFetcher::Transfer*>(raw);
  const std::size_t n = size * count;
  if (t->body.size() + n > t->owner->maxBodyBytes()) {
    t->tooLarge = true;
    return 0;  // aborts the transfer
  }
  t->body.append(data, n);
  return n;
}

int onProgress(void* raw, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  return static_cast<HttpFetcher*>(raw)->cancelled() ? 1 : 0;  // non-zero aborts
}

curl_socket_t onOpenSocket(void* raw, curlsocktype purpose, curl_sockaddr* address) {
  auto* t = static_cast<HttpFetcher::Transfer*>(raw);
  if (purpose != CURLSOCKTYPE_IPCXN || !t->owner->mayConnect(*t, &address->addr)) return CURL_SOCKET_BAD;
  return socket(address->family, address->socktype, address->protocol);
}

bool isRedirect(long status) {
  return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// libcurl's global state is set up once, before any handle exists.
void globalInit() {
  static const bool done = [] { return curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK; }();
  (void)done;
}

}  // namespace

HttpFetcher::HttpFetcher(Options options) : options_(std::move(options)) {
  globalInit();
  multi_ = curl_multi_init();
  if (multi_) curl_multi_setopt(static_cast<CURLM*>(multi_), CURLMOPT_PIPELINING, CURLPIPE_MULTIPLEX);
  for (const auto& c : options_.connectTo) connectTo_ = curl_slist_append(connectTo_, c.c_str());
}

HttpFetcher::~HttpFetcher() {
  if (multi_) curl_multi_cleanup(static_cast<CURLM*>(multi_));
  curl_slist_free_all(connectTo_);
}

void HttpFetcher::cancel() {
  cancelled_ = true;
  if (multi_) curl_multi_wakeup(static_cast<CURLM*>(multi_));
}

bool HttpFetcher::mayConnect(const Transfer& transfer, const sockaddr* address) {
  if (cancelled_) return false;
  const std::string at = AddressFilter::text(address);
  if (transfer.phoneHop) {
    phoneAddresses_.insert(at);
    return true;
  }
  if (AddressFilter::isPublic(address, options_.publicLoopbackPorts)) return true;
  return phoneHost_ && transfer.host == *phoneHost_ && phoneAddresses_.count(at) > 0;
}

std::optional<HttpFetcher::Response> HttpFetcher::getPhoneAddress(const std::string& url) {
  phoneHost_ = lowerHost(url);
  std::optional<Response> out;
  run({url}, true, [&](std::size_t, std::optional<Response> r) { out = std::move(r); });
  return out;
}

std::optional<HttpFetcher::Response> HttpFetcher::get(const std::string& url) {
  std::optional<Response> out;
  run({url}, false, [&](std::size_t, std::optional<Response> r) { out = std::move(r); });
  return out;
}

void HttpFetcher::getAll(const std::vector<std::string>& urls, const Each& each) {
  run(urls, false, each);
}

void HttpFetcher::run(const std::vector<std::string>& urls, bool phoneAddress, const Each& each) {
  CURLM* multi = static_cast<CURLM*>(multi_);
  std::vector<std::unique_ptr<Transfer>> transfers;
  for (std::size_t i = 0; i < urls.size(); ++i) {
    auto t = std::make_unique<Transfer>();
    t->owner = this;
    t->index = i;
    t->url = urls[i];
    t->phoneHop = phoneAddress;
    transfers.push_back(std::move(t));
  }
  if (!multi || cancelled_) {
    for (auto& t : transfers) each(t->index, std::nullopt);
    return;
  }

  auto begin = [&](Transfer& t) {
    CURL* c = t.easy;
    t.host = lowerHost(t.url);
    t.body.clear();
    t.tooLarge = false;
    curl_easy_setopt(c, CURLOPT_URL, t.url.c_str());
    return curl_multi_add_handle(multi, c) == CURLM_OK;
  };
  auto configure = [&](Transfer& t) {
    CURL* c = curl_easy_init();
    t.easy = c;
    if (!c) return false;
    curl_easy_setopt(c, CURLOPT_PRIVATE, &t);
    curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 0L);  // followed here, one checked hop at a time
    curl_easy_setopt(c, CURLOPT_TIMEOUT_MS, static_cast<long>(options_.timeout.count()));
    curl_easy_setopt(c, CURLOPT_USERAGENT, kUserAgent);
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c, CURLOPT_PROXY, "");  // a proxy would hide the address really connected to
    curl_easy_setopt(c, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_2TLS));
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, onData);
    curl_easy_setopt(c, CURLOPT_WRITEDATA, &t);
    curl_easy_setopt(c, CURLOPT_OPENSOCKETFUNCTION, onOpenSocket);
    curl_easy_setopt(c, CURLOPT_OPENSOCKETDATA, &t);
    curl_easy_setopt(c, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(c, CURLOPT_XFERINFOFUNCTION, onProgress);
    curl_easy_setopt(c, CURLOPT_XFERINFODATA, this);
    // A declared length over the cap is refused before any of the body arrives.
    curl_easy_setopt(c, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(options_.maxBodyBytes));
    if (!options_.caFile.empty()) curl_easy_setopt(c, CURLOPT_CAINFO, options_.caFile.c_str());
    if (connectTo_) curl_easy_setopt(c, CURLOPT_CONNECT_TO, connectTo_);
    return true;
  };

  std::deque<Transfer*> waiting;
  for (auto& t : transfers) waiting.push_back(t.get());
  std::size_t active = 0;
  const std::size_t limit = std::max<std::size_t>(1, options_.maxConcurrent);
  auto finish = [&](Transfer& t, std::optional<Response> r) {
    if (t.easy) {
      curl_multi_remove_handle(multi, t.easy);
      curl_easy_cleanup(t.easy);
      t.easy = nullptr;
    }
    each(t.index, std::move(r));
  };
  auto startMore = [&] {
    while (active < limit && !waiting.empty()) {
      Transfer* t = waiting.front();
      waiting.pop_front();
      if (configure(*t) && begin(*t))
        ++active;
      else
        finish(*t, std::nullopt);
    }
  };
  startMore();

  while (active > 0) {
    if (cancelled_) break;
    int running = 0;
    curl_multi_perform(multi, &running);
    int left = 0;
    while (CURLMsg* msg = curl_multi_info_read(multi, &left)) {
      if (msg->msg != CURLMSG_DONE) continue;
      Transfer* t = nullptr;
      curl_easy_getinfo(msg->easy_handle, CURLINFO_PRIVATE, reinterpret_cast<char**>(&t));
      const CURLcode result = msg->data.result;
      long status = 0;
      curl_easy_getinfo(t->easy, CURLINFO_RESPONSE_CODE, &status);
      if (result == CURLE_OK && isRedirect(status)) {
        char* next = nullptr;
        curl_easy_getinfo(t->easy, CURLINFO_REDIRECT_URL, &next);
        if (next && t->hops < options_.maxRedirects) {
          t->url = next;
          ++t->hops;
          t->phoneHop = false;  // where the page sends us is the page's choice
          curl_multi_remove_handle(multi, t->easy);
          if (begin(*t)) continue;
        }
      }
      --active;
      if (result == CURLE_OK && status == 200 && !t->tooLarge)
        finish(*t, Response{std::move(t->body), t->url});
      else
        finish(*t, std::nullopt);
      startMore();
    }
    if (active > 0) curl_multi_poll(multi, nullptr, 0, 100, nullptr);
  }
  // Cancelled: whatever is still running or waiting ends with nothing.
  for (auto& t : transfers)
    if (t->easy) finish(*t, std::nullopt);
  for (Transfer* t : waiting) finish(*t, std::nullopt);
}

}  // namespace quib
