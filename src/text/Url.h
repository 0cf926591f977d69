#pragma once
// Reading and resolving addresses, on libcurl's URL API. Safe on any thread.
#include <optional>
#include <string>

namespace quib::Url {

// Whether the text is an address: an absolute URL with any scheme, or a relative reference, made
// only of characters that may stand in one (no spaces, no control characters, well-formed %-escapes).
bool isParseable(const std::string& text);
// The host of an absolute "scheme://host..." address as people read it: %-escapes decoded, an IPv6
// address without its brackets. None when there is no host.
std::optional<std::string> displayHost(const std::string& text);
// The host as it stands in the address (an IPv6 address in brackets), to build another address on.
std::optional<std::string> host(const std::string& text);
// The absolute URL in its normal form; none when it does not parse.
std::optional<std::string> normalized(const std::string& url);
// The absolute form of `reference` read relative to the absolute `base`; none when it does not resolve.
std::optional<std::string> resolve(const std::string& base, const std::string& reference);
// The lower-cased extension of the URL path's last component ("" when none).
std::string pathExtension(const std::string& url);

}  // namespace quib::Url
