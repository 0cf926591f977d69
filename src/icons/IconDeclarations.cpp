#include "icons/IconDeclarations.h"

#include <re2/re2.h>

#include <algorithm>
#include <charconv>
#include <nlohmann/json.hpp>

#include "text/Url.h"

namespace quib::IconDeclarations {

namespace {

RE2::Options caseless() {
  RE2::Options o;
  o.set_case_sensitive(false);
  o.set_log_errors(false);
  return o;
}

const RE2& manifestTag() {
  static const RE2 re(R"(<link[^>]+rel=["']manifest["'][^>]*>)", caseless());
  return re;
}
const RE2& iconTag() {
  static const RE2 re(R"(<link[^>]+rel=["'][^"']*icon[^"']*["'][^>]*>)", caseless());
  return re;
}
// A base element: the tag name followed by white space or the end of the tag (not <basefont>).
const RE2& baseTag() {
  static const RE2 re(R"(<base(?:[ \t\r\n/][^>]*)?>)", caseless());
  return re;
}
const RE2& hrefAttr() {
  static const RE2 re(R"(href=["']([^"']+)["'])", caseless());
  return re;
}
const RE2& sizesAttr() {
  static const RE2 re(R"(sizes=["']([^"']+)["'])", caseless());
  return re;
}

// Pieces of `text` between separators, empty pieces dropped.
std::vector<std::string_view> split(std::string_view text, char sep) {
  std::vector<std::string_view> out;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find(sep, start);
    if (end == std::string_view::npos) end = text.size();
    if (end > start) out.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return out;
}

// A whole decimal integer with an optional sign, as a strict integer parse reads it.
std::optional<int> parseInt(std::string_view s) {
  if (!s.empty() && s.front() == '+') {
    s.remove_prefix(1);
    if (!s.empty() && (s.front() == '+' || s.front() == '-')) return std::nullopt;
  }
  if (s.empty()) return std::nullopt;
  int value = 0;
  auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
  if (ec != std::errc() || end != s.data() + s.size()) return std::nullopt;
  return value;
}

struct Declared {
  int size;
  std::string url;
};

std::vector<std::string> largestFirst(std::vector<Declared> list) {
  std::stable_sort(list.begin(), list.end(),
                   [](const Declared& a, const Declared& b) { return a.size > b.size; });
  std::vector<std::string> urls;
  for (auto& d : list) urls.push_back(std::move(d.url));
  return urls;
}

std::string asciiLower(std::string text) {
  for (char& ch : text)
    if (ch >= 'A' && ch <= 'Z') ch = static_cast<char>(ch - 'A' + 'a');
  return text;
}

std::optional<std::string> attribute(std::string_view tag, const RE2& re) {
  std::string value;
  if (!RE2::PartialMatch(tag, re, &value)) return std::nullopt;
  return value;
}

// What a browser resolves the page's references against: the href of its first base element
// that has one, itself read against the page's address, if that gives a web address.
std::string documentBase(std::string_view page, const std::string& pageUrl) {
  re2::StringPiece input(page.data(), page.size());
  re2::StringPiece match;
  std::size_t pos = 0;
  while (pos <= input.size() && baseTag().Match(input, pos, input.size(), RE2::UNANCHORED, &match, 1)) {
    pos = static_cast<std::size_t>(match.data() - input.data()) + std::max<std::size_t>(match.size(), 1);
    auto href = attribute(std::string_view(match.data(), match.size()), hrefAttr());
    if (!href) continue;
    auto base = Url::resolve(pageUrl, *href);
    if (!base) return pageUrl;
    const std::string lower = asciiLower(base->substr(0, 8));
    return lower.starts_with("http://") || lower.starts_with("https://") ? *base : pageUrl;
  }
  return pageUrl;
}

}  // namespace

int linkSize(const std::string& sizes) {
  auto pieces = split(sizes, 'x');
  if (pieces.empty()) return 0;
  std::string_view first = pieces.front();
  while (!first.empty() && (first.front() == ' ' || first.front() == '\t')) first.remove_prefix(1);
  while (!first.empty() && (first.back() == ' ' || first.back() == '\t')) first.remove_suffix(1);
  return parseInt(first).value_or(0);
}

int manifestSize(const std::string& sizes) {
  auto tokens = split(sizes, ' ');
  if (tokens.empty()) return 0;
  auto pieces = split(tokens.front(), 'x');
  if (pieces.empty()) return 0;
  return parseInt(pieces.front()).value_or(0);
}

std::optional<std::string> manifestLink(std::string_view page, const std::string& pageUrl) {
  re2::StringPiece input(page.data(), page.size());
  re2::StringPiece match;
  if (!manifestTag().Match(input, 0, input.size(), RE2::UNANCHORED, &match, 1)) return std::nullopt;
  auto href = attribute(std::string_view(match.data(), match.size()), hrefAttr());
  if (!href) return std::nullopt;
  return Url::resolve(documentBase(page, pageUrl), *href);
}

std::vector<std::string> declaredIcons(std::string_view page, const std::string& pageUrl) {
  const std::string base = documentBase(page, pageUrl);
  std::vector<Declared> found;
  re2::StringPiece input(page.data(), page.size());
  re2::StringPiece match;
  std::size_t pos = 0;
  while (pos <= input.size() && iconTag().Match(input, pos, input.size(), RE2::UNANCHORED, &match, 1)) {
    pos = static_cast<std::size_t>(match.data() - input.data()) + std::max<std::size_t>(match.size(), 1);
    const std::string_view tag(match.data(), match.size());
    auto href = attribute(tag, hrefAttr());
    if (!href) continue;
    auto url = Url::resolve(base, *href);
    if (!url) continue;
    auto sizes = attribute(tag, sizesAttr());
    int size = sizes ? linkSize(*sizes) : 0;
    if (Url::pathExtension(*url) == "ico") size = std::min(size, 32);
    found.push_back({size, *url});
  }
  return largestFirst(std::move(found));
}

std::vector<std::string> manifestIcons(const std::optional<std::string>& manifest, const std::string& base) {
  if (!manifest) return {};
  auto j = nlohmann::json::parse(*manifest, nullptr, false);
  if (j.is_discarded() || !j.is_object()) return {};
  auto icons = j.find("icons");
  if (icons == j.end() || !icons->is_array()) return {};
  if (!std::all_of(icons->begin(), icons->end(), [](const auto& e) { return e.is_object(); })) return {};
  std::vector<Declared> found;
  for (const auto& icon : *icons) {
    auto src = icon.find("src");
    if (src == icon.end() || !src->is_string()) continue;
    auto url = Url::resolve(base, src->get<std::string>());
    if (!url) continue;
    auto sizes = icon.find("sizes");
    const int size = sizes != icon.end() && sizes->is_string() ? manifestSize(sizes->get<std::string>()) : 0;
    found.push_back({size, *url});
  }
  return largestFirst(std::move(found));
}

}  // namespace quib::IconDeclarations
