#pragma once
// Reading addresses the phone sends. Safe on any thread.
#include <optional>
#include <string>

namespace quib::UrlText {

// Whether the text is an address: an absolute URL with any scheme, or a relative reference, made
// only of characters that may stand in one (no spaces, no control characters, well-formed %-escapes).
bool isParseable(const std::string& text);
// The host of an absolute "scheme://host..." address, when it has one.
std::optional<std::string> host(const std::string& text);

}  // namespace quib::UrlText
