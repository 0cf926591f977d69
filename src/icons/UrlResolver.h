#pragma once
// URL parsing and resolution on libcurl's URL API. Safe on any thread.
#include <optional>
#include <string>

namespace quib::UrlResolver {

// The absolute form of `reference` read relative to the absolute `base`; none when it does not resolve.
std::optional<std::string> resolve(const std::string& base, const std::string& reference);
// The absolute URL in its normal form; none when it does not parse.
std::optional<std::string> normalized(const std::string& url);
// The host of an absolute URL, when it has one.
std::optional<std::string> host(const std::string& url);
// The lower-cased extension of the URL path's last component ("" when none).
std::string pathExtension(const std::string& url);

}  // namespace quib::UrlResolver
