#include "actions/UrlText.h"

#include <curl/curl.h>

#include <cctype>
#include <memory>

namespace quib::UrlText {

namespace {

bool isHex(char c) {
  return std::isxdigit(static_cast<unsigned char>(c)) != 0;
}

bool allowedChar(unsigned char c) {
  if (c >= 0x80) return true;  // non-ASCII text is taken as an internationalized address
  if (std::isalnum(c)) return true;
  switch (c) {
    case '-':
    case '.':
    case '_':
    case '~':
    case ':':
    case '/':
    case '?':
    case '#':
    case '[':
    case ']':
    case '@':
    case '!':
    case '$':
    case '&':
    case '\'':
    case '(':
    case ')':
    case '*':
    case '+':
    case ',':
    case ';':
    case '=':
    case '%':
      return true;
    default:
      return false;
  }
}

struct UrlFree {
  void operator()(CURLU* u) const { curl_url_cleanup(u); }
};

}  // namespace

bool isParseable(const std::string& text) {
  if (text.empty()) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (!allowedChar(c)) return false;
    if (c == '%' && (i + 2 >= text.size() || !isHex(text[i + 1]) || !isHex(text[i + 2]))) return false;
  }
  if (text.find("://") == std::string::npos) return true;
  std::unique_ptr<CURLU, UrlFree> url(curl_url());
  return url && curl_url_set(url.get(), CURLUPART_URL, text.c_str(), CURLU_NON_SUPPORT_SCHEME) == CURLUE_OK;
}

std::optional<std::string> host(const std::string& text) {
  if (text.find("://") == std::string::npos) return std::nullopt;
  std::unique_ptr<CURLU, UrlFree> url(curl_url());
  if (!url || curl_url_set(url.get(), CURLUPART_URL, text.c_str(), CURLU_NON_SUPPORT_SCHEME) != CURLUE_OK)
    return std::nullopt;
  char* h = nullptr;
  if (curl_url_get(url.get(), CURLUPART_HOST, &h, CURLU_URLDECODE) != CURLUE_OK || !h) return std::nullopt;
  std::string out(h);
  curl_free(h);
  if (out.size() >= 2 && out.front() == '[' && out.back() == ']') out = out.substr(1, out.size() - 2);
  if (out.empty()) return std::nullopt;
  return out;
}

}  // namespace quib::UrlText
