#pragma once
// Synthetic pictures for the image tests, in the premultiplied RGBA of Image.
#include <cstdint>
#include <optional>
#include <string>

#include "platform/Image.h"

namespace quib::test {

struct Rgba {
  std::uint8_t r = 0, g = 0, b = 0, a = 0;
};
inline constexpr Rgba kClear{0, 0, 0, 0};
inline constexpr Rgba kWhite{255, 255, 255, 255};
inline constexpr Rgba kRed{220, 30, 30, 255};

Image solid(int w, int h, Rgba c);
void fillRect(Image& img, int x, int y, int w, int h, Rgba c);
// Pixels whose centre lies within the radius and outside the hole's.
void fillDisc(Image& img, double cx, double cy, double radius, Rgba c, double hole = 0);
void setPixel(Image& img, int x, int y, Rgba c);
Rgba pixel(const Image& img, int x, int y);
// Encoded PNG bytes of the image.
std::string pngBytes(const Image& img);
// The picture in a base64 PNG as the icon replies carry it; an empty image when there is none.
Image fromBase64(const std::optional<std::string>& base64);

}  // namespace quib::test
