#include "support/TestImages.h"

#include <cmath>

#include "crypto/Base64.h"
#include "icons/ImageCodec.h"

namespace quib::test {

Image solid(int w, int h, Rgba c) {
  Image img = Image::blank(w, h);
  fillRect(img, 0, 0, w, h, c);
  return img;
}

void setPixel(Image& img, int x, int y, Rgba c) {
  std::uint8_t* p = img.at(x, y);
  p[0] = static_cast<std::uint8_t>((c.r * c.a + 127) / 255);
  p[1] = static_cast<std::uint8_t>((c.g * c.a + 127) / 255);
  p[2] = static_cast<std::uint8_t>((c.b * c.a + 127) / 255);
  p[3] = c.a;
}

Rgba pixel(const Image& img, int x, int y) {
  const std::uint8_t* p = img.at(x, y);
  return {p[0], p[1], p[2], p[3]};
}

void fillRect(Image& img, int x, int y, int w, int h, Rgba c) {
  for (int j = y; j < y + h; ++j)
    for (int i = x; i < x + w; ++i) setPixel(img, i, j, c);
}

void fillDisc(Image& img, double cx, double cy, double radius, Rgba c, double hole) {
  for (int y = 0; y < img.height; ++y)
    for (int x = 0; x < img.width; ++x) {
      const double d = std::hypot(x + 0.5 - cx, y + 0.5 - cy);
      if (d <= radius && d >= hole) setPixel(img, x, y, c);
    }
}

std::string pngBytes(const Image& img) {
  auto png = ImageCodec::encodePng(img);
  return png ? std::string(png->begin(), png->end()) : std::string();
}

Image fromBase64(const std::optional<std::string>& base64) {
  const auto png = base64 ? Base64::decode(*base64) : std::nullopt;
  return png ? ImageCodec::decode(std::string(png->begin(), png->end())).value_or(Image{}) : Image{};
}

}  // namespace quib::test
