#include "text/Url.h"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <memory>

namespace quib::Url {

namespace {

struct UrlFree {
  void operator()(CURLU* u) const { curl_url_cleanup(u); }
};
using Handle = std::unique_ptr<CURLU, UrlFree>;

constexpr unsigned kFlags = CURLU_NON_SUPPORT_SCHEME;

Handle parse(const std::string& absolute) {
  Handle u(curl_url());
  if (!u || curl_url_set(u.get(), CURLUPART_URL, absolute.c_str(), kFlags) != CURLUE_OK) return nullptr;
  return u;
}

std::optional<std::string> part(CURLU* u, CURLUPart which, unsigned flags = 0) {
  char* out = nullptr;
  if (curl_url_get(u, which, &out, flags) != CURLUE_OK || !out) return std::nullopt;
  std::string s(out);
  curl_free(out);
  return s;
}

// Only "scheme://authority" addresses have a host; "mailto:x" and bare names have none.
std::optional<std::string> hostPart(const std::string& text, unsigned flags) {
  const auto mark = text.find("://");
  if (mark == std::string::npos) return std::nullopt;
  // An empty authority ("things:///add", "https:///example.com") names no host, though the
  // parser would take the first path segment for one.
  if (mark + 3 >= text.size() || std::string_view("/?#").find(text[mark + 3]) != std::string_view::npos)
    return std::nullopt;
  Handle u = parse(text);
  auto h = u ? part(u.get(), CURLUPART_HOST, flags) : std::nullopt;
  if (!h || h->empty()) return std::nullopt;
  return h;
}

bool isHex(char c) {
  return std::isxdigit(static_cast<unsigned char>(c)) != 0;
}

bool allowedChar(unsigned char c) {
  if (c >= 0x80) return true;  // non-ASCII text is taken as an internationalized address
  if (std::isalnum(c)) return true;
  return std::string_view("-._~:/?#[]@!$&'()*+,;=%").find(static_cast<char>(c)) != std::string_view::npos;
}

}  // namespace

bool isParseable(const std::string& text) {
  if (text.empty()) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (!allowedChar(c)) return false;
    if (c == '%' && (i + 2 >= text.size() || !isHex(text[i + 1]) || !isHex(text[i + 2]))) return false;
  }
  return text.find("://") == std::string::npos || parse(text) != nullptr;
}

std::optional<std::string> displayHost(const std::string& text) {
  auto h = hostPart(text, CURLU_URLDECODE);
  if (h && h->size() >= 2 && h->front() == '[' && h->back() == ']') h = h->substr(1, h->size() - 2);
  if (!h || h->empty()) return std::nullopt;
  return h;
}

std::optional<std::string> host(const std::string& text) {
  return hostPart(text, 0);
}

std::optional<std::string> normalized(const std::string& url) {
  Handle u = parse(url);
  return u ? part(u.get(), CURLUPART_URL) : std::nullopt;
}

std::optional<std::string> resolve(const std::string& base, const std::string& reference) {
  Handle u = parse(base);
  if (!u || reference.empty()) return std::nullopt;
  // Setting a URL on a handle that already holds one resolves it relative to that one.
  if (curl_url_set(u.get(), CURLUPART_URL, reference.c_str(), kFlags) != CURLUE_OK) return std::nullopt;
  return part(u.get(), CURLUPART_URL);
}

std::string pathExtension(const std::string& url) {
  Handle u = parse(url);
  auto path = u ? part(u.get(), CURLUPART_PATH) : std::nullopt;
  if (!path) return "";
  const std::string last = path->substr(path->rfind('/') + 1);
  const auto dot = last.rfind('.');
  if (dot == std::string::npos || dot == 0) return "";
  std::string ext = last.substr(dot + 1);
  std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
  return ext;
}

}  // namespace quib::Url
