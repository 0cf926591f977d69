#include "icons/UrlResolver.h"

#include <curl/curl.h>

#include <algorithm>
#include <memory>

namespace quib::UrlResolver {

namespace {

struct UrlFree {
  void operator()(CURLU* u) const { curl_url_cleanup(u); }
};
using Url = std::unique_ptr<CURLU, UrlFree>;

constexpr unsigned kFlags = CURLU_NON_SUPPORT_SCHEME;

std::optional<std::string> part(CURLU* u, CURLUPart which, unsigned flags = 0) {
  char* out = nullptr;
  if (curl_url_get(u, which, &out, flags) != CURLUE_OK || !out) return std::nullopt;
  std::string s(out);
  curl_free(out);
  return s;
}

Url parse(const std::string& absolute) {
  Url u(curl_url());
  if (!u || curl_url_set(u.get(), CURLUPART_URL, absolute.c_str(), kFlags) != CURLUE_OK) return nullptr;
  return u;
}

}  // namespace

std::optional<std::string> resolve(const std::string& base, const std::string& reference) {
  Url u = parse(base);
  if (!u || reference.empty()) return std::nullopt;
  // Setting a URL on a handle that already holds one resolves it relative to that one.
  if (curl_url_set(u.get(), CURLUPART_URL, reference.c_str(), kFlags) != CURLUE_OK) return std::nullopt;
  return part(u.get(), CURLUPART_URL);
}

std::optional<std::string> normalized(const std::string& url) {
  Url u = parse(url);
  if (!u) return std::nullopt;
  return part(u.get(), CURLUPART_URL);
}

std::optional<std::string> host(const std::string& url) {
  Url u = parse(url);
  if (!u) return std::nullopt;
  auto h = part(u.get(), CURLUPART_HOST);
  if (!h || h->empty()) return std::nullopt;
  return h;
}

std::string pathExtension(const std::string& url) {
  Url u = parse(url);
  auto path = u ? part(u.get(), CURLUPART_PATH) : std::nullopt;
  if (!path) return "";
  const std::string last = path->substr(path->rfind('/') + 1);
  const auto dot = last.rfind('.');
  if (dot == std::string::npos || dot == 0) return "";
  std::string ext = last.substr(dot + 1);
  std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
  return ext;
}

}  // namespace quib::UrlResolver
