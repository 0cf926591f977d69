#include "icons/AppIconProvider.h"

#include <cmath>

#include "crypto/Base64.h"
#include "icons/Canvas.h"
#include "icons/ImageCodec.h"

namespace quib {

Image AppIconProvider::trimTransparentMargins(const Image& image) {
  const int w = image.width, h = image.height;
  if (w < 33 || h < 33) return image;
  const int step = w >= 128 ? w / 128 : 1;
  int minX = w, maxX = -1, minY = h, maxY = -1;
  for (int y = 0; y < h; y += step)
    for (int x = 0; x < w; x += step) {
      if (image.alpha(x, y) <= 16) continue;
      minX = std::min(minX, x);
      maxX = std::max(maxX, x);
      minY = std::min(minY, y);
      maxY = std::max(maxY, y);
    }
  if (minX >= maxX || minY >= maxY) return image;
  const double coverage = double(maxX - minX) * double(maxY - minY) / (double(w) * double(h));
  if (coverage >= 0.96) return image;
  auto cut = crop(image, minX, minY, maxX - minX + 1, maxY - minY + 1);
  return cut ? *cut : image;
}

bool AppIconProvider::isCircular(const Image& image) {
  const int w = image.width, h = image.height;
  if (w <= 16 || h <= 16) return false;
  const int corners = (image.alpha(3, 3) < 30) + (image.alpha(w - 4, 3) < 30) + (image.alpha(3, h - 4) < 30) +
                      (image.alpha(w - 4, h - 4) < 30);
  return corners == 4 && image.alpha(w / 2, h / 2) > 200;
}

std::optional<Image> AppIconProvider::render(const Image& trimmed, int n) {
  auto canvas = Canvas::create(n, n);
  if (!canvas) return std::nullopt;
  Rect target{0, 0, double(n), double(n)};
  if (isCircular(trimmed)) {
    canvas->fillWhite();
    const double inset = 0.1 * n;
    target = {inset, inset, n - 2 * inset, n - 2 * inset};
  }
  canvas->draw(trimmed, target);
  return canvas->image();
}

std::optional<std::string> AppIconProvider::keyFor(const std::string& appName, double size) {
  if (!std::isfinite(size) || size < 1) return std::nullopt;
  const int n = size >= kMaxSize ? kMaxSize : static_cast<int>(size);
  return appName + "@" + std::to_string(n);
}

std::optional<std::string> AppIconProvider::cachedIcon(const std::string& appName, double size) {
  auto key = keyFor(appName, size);
  return key ? cache_.get(*key) : std::nullopt;
}

std::optional<std::string> AppIconProvider::iconBase64(const std::string& appName, double size) {
  auto keyed = keyFor(appName, size);
  if (!keyed) return std::nullopt;
  const std::string& key = *keyed;
  const int n = size >= kMaxSize ? kMaxSize : static_cast<int>(size);
  if (auto cached = cache_.get(key)) return cached;
  auto path = apps_.appPath(appName);
  if (!path) return std::nullopt;
  auto bytes = applications_.iconData(*path, n);
  auto icon = bytes ? ImageCodec::decode(*bytes) : std::nullopt;
  if (!icon) return std::nullopt;
  auto rendered = render(trimTransparentMargins(*icon), n);
  auto png = rendered ? ImageCodec::encodePng(*rendered) : std::nullopt;
  if (!png) return std::nullopt;
  std::string text = Base64::encode(*png);
  cache_.put(key, text);
  return text;
}

}  // namespace quib
