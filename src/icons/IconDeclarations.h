#pragma once
// Icons a page declares: its icon link tags and its web-app manifest's icon list, read with
// regular expressions on the raw text (case-insensitive), each list ordered largest declared size
// first. References in a page are read against its first base element's address, as a browser
// reads them. Pure functions; safe on any thread.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quib::IconDeclarations {

std::optional<std::string> manifestLink(std::string_view page, const std::string& pageUrl);
std::vector<std::string> declaredIcons(std::string_view page, const std::string& pageUrl);
std::vector<std::string> manifestIcons(const std::optional<std::string>& manifest, const std::string& base);

// The first width a link tag's sizes value states (0 when none can be read).
int linkSize(const std::string& sizes);
// The same for a manifest entry: only the first listed size counts, with no trimming.
int manifestSize(const std::string& sizes);

}  // namespace quib::IconDeclarations
