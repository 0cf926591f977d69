#pragma once
// Decoding untrusted image bytes (PNG, JPEG, GIF, ICO, BMP, WebP, SVG) with gdk-pixbuf, and PNG
// encoding. Decoding is bounded: only those formats are accepted, and a picture whose declared size
// exceeds kMaxPixels is refused before its pixels are allocated. SVG documents are rendered without
// a base location, so they cannot pull in local files. Safe on any thread.
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "platform/Image.h"

namespace quib::ImageCodec {

inline constexpr long long kMaxPixels = 4096LL * 4096LL;

// For an ICO file, the largest entry.
std::optional<Image> decode(std::string_view bytes);
std::optional<std::vector<std::uint8_t>> encodePng(const Image& image);

}  // namespace quib::ImageCodec
