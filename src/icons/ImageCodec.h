#pragma once
// Decoding untrusted image bytes (PNG, JPEG, GIF, ICO, BMP, WebP, SVG) with gdk-pixbuf, and PNG
// encoding. The format is decided from the bytes' own signature before any decoder sees them, and
// only that format's loader is given them, so no other loader ever parses network bytes. The
// picture's dimensions are read from its header here (for ICO from every entry, for GIF from every
// frame) and anything over kMaxPixels is refused before a decoder allocates a pixel buffer. An SVG
// document's size is known only once it is parsed: one over kMaxPixels is then drawn at a single
// pixel and refused. SVG is rendered without a base location, so it cannot pull in local files.
// Safe on any thread.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Image.h"

namespace quib::ImageCodec {

inline constexpr long long kMaxPixels = 4096LL * 4096LL;

struct Header {
  std::string format;   // the gdk-pixbuf loader name: png, jpeg, gif, ico, bmp, webp, svg
  long long width = 0;  // 0 for SVG: known only to its renderer
  long long height = 0;
};
// The format and the largest size the bytes declare; none for any other format or a header that
// cannot be read.
std::optional<Header> readHeader(std::string_view bytes);

// For an ICO file, the largest entry.
std::optional<Image> decode(std::string_view bytes);
std::optional<std::vector<std::uint8_t>> encodePng(const Image& image);

}  // namespace quib::ImageCodec
