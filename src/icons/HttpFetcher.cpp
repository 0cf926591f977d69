#include "icons/HttpFetcher.h"

#include <curl/curl.h>

namespace quib {

namespace {

struct Body {
  std::string bytes;
  std::size_t cap;
  bool tooLarge = false;
};

std::size_t onData(char* data, std::size_t size, std::size_t count, void* raw) {
  auto* body = static_cast<Body*>(raw);
  const std::size_t n = size * count;
  if (body->bytes.size() + n > body->cap) {
    body->tooLarge = true;
    return 0;  // aborts the transfer
  }
  body->bytes.append(data, n);
  return n;
}

// libcurl's global state is set up once, before any handle exists.
void globalInit() {
  static const bool done = [] { return curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK; }();
  (void)done;
}

}  // namespace

HttpFetcher::HttpFetcher(Options options) : options_(std::move(options)) {
  globalInit();
  curl_ = curl_easy_init();
  for (const auto& c : options_.connectTo) connectTo_ = curl_slist_append(connectTo_, c.c_str());
}

HttpFetcher::~HttpFetcher() {
  if (curl_) curl_easy_cleanup(static_cast<CURL*>(curl_));
  curl_slist_free_all(connectTo_);
}

std::optional<std::string> HttpFetcher::get(const std::string& url) {
  CURL* c = static_cast<CURL*>(curl_);
  if (!c) return std::nullopt;
  curl_easy_reset(c);
  Body body{{}, options_.maxBodyBytes};
  curl_easy_setopt(c, CURLOPT_URL, url.c_str());
  curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(c, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(c, CURLOPT_MAXREDIRS, options_.maxRedirects);
  curl_easy_setopt(c, CURLOPT_TIMEOUT_MS, static_cast<long>(options_.timeout.count()));
  curl_easy_setopt(c, CURLOPT_USERAGENT, kUserAgent);
  curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, onData);
  curl_easy_setopt(c, CURLOPT_WRITEDATA, &body);
  // A declared length over the cap is refused before any of the body arrives.
  curl_easy_setopt(c, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(options_.maxBodyBytes));
  if (!options_.caFile.empty()) curl_easy_setopt(c, CURLOPT_CAINFO, options_.caFile.c_str());
  if (connectTo_) curl_easy_setopt(c, CURLOPT_CONNECT_TO, connectTo_);
  if (curl_easy_perform(c) != CURLE_OK || body.tooLarge) return std::nullopt;
  long status = 0;
  curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status);
  if (status != 200) return std::nullopt;
  return std::move(body.bytes);
}

}  // namespace quib
