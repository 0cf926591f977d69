#include "icons/SiteIconAnalysis.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "icons/Canvas.h"
#include "icons/ImageCodec.h"

namespace quib::SiteIconAnalysis {

namespace {

struct Probes {
  int x[8], y[8];  // C1..C4 then M1..M4
};

Probes probes(int w, int h) {
  return {{2, w - 3, 2, w - 3, w / 2, w / 2, 2, w - 3}, {2, 2, h - 3, h - 3, 2, h - 3, h / 2, h / 2}};
}

}  // namespace

Analysis analyze(const Image& image) {
  const int w = image.width, h = image.height;
  if (w <= 8 || h <= 8) return {};
  const Probes p = probes(w, h);
  int corners = 0, midpoints = 0;
  for (int i = 0; i < 4; ++i) corners += image.alpha(p.x[i], p.y[i]) < 40;
  for (int i = 4; i < 8; ++i) midpoints += image.alpha(p.x[i], p.y[i]) > 200;
  Analysis a;
  a.circular = corners == 4 && midpoints >= 3;
  const int step = w >= 24 ? w / 24 : 1;
  int opaque = 0, white = 0;
  for (int y = 0; y < h; y += step)
    for (int x = 0; x < w; x += step) {
      const std::uint8_t* px = image.at(x, y);
      if (px[3] < 121) continue;
      ++opaque;
      white += px[0] >= 226 && px[1] >= 226 && px[2] >= 226;
    }
  a.mostlyWhite = opaque > 0 && double(white) / opaque > 0.9;
  return a;
}

bool hasTransparentEdges(const Image& image) {
  const int w = image.width, h = image.height;
  if (w < 5 || h < 5) return false;
  const Probes p = probes(w, h);
  int transparent = 0;
  for (int i = 0; i < 8; ++i) transparent += image.alpha(p.x[i], p.y[i]) < 40;
  return transparent >= 2;
}

std::optional<Image> contentCircle(const Image& image) {
  const int w = image.width, h = image.height;
  if (w < 17 || h < 17) return std::nullopt;
  const std::uint8_t* bg = image.at(1, 1);
  const int r0 = bg[0], g0 = bg[1], b0 = bg[2], a0 = bg[3];
  auto differs = [&](int x, int y) {
    const std::uint8_t* p = image.at(x, y);
    if (a0 < 40) return p[3] >= 40;
    return std::abs(p[0] - r0) + std::abs(p[1] - g0) + std::abs(p[2] - b0) + std::abs(p[3] - a0) >= 91;
  };
  const int step = w >= 64 ? w / 64 : 1;
  int minX = w, maxX = -1, minY = h, maxY = -1;
  for (int y = 0; y < h; y += step)
    for (int x = 0; x < w; x += step)
      if (differs(x, y)) {
        minX = std::min(minX, x);
        maxX = std::max(maxX, x);
        minY = std::min(minY, y);
        maxY = std::max(maxY, y);
      }
  if (maxX <= minX || maxY <= minY) return std::nullopt;
  const int bw = maxX - minX, bh = maxY - minY;
  const double ratio = double(bw) / double(bh);
  if (!(ratio > 0.85 && ratio < 1.18)) return std::nullopt;
  if (bw < w / 2 && bh < h / 2) return std::nullopt;
  const int d = static_cast<int>(0.1 * bw);
  const int emptyCorners = !differs(minX + d, minY + d) + !differs(maxX - d, minY + d) +
                           !differs(minX + d, maxY - d) + !differs(maxX - d, maxY - d);
  const int cx = (minX + maxX) / 2, cy = (minY + maxY) / 2;
  const bool circle = differs(cx, cy) ? emptyCorners >= 3 : emptyCorners >= 3 && differs(cx, minY + bh / 4);
  if (!circle) return std::nullopt;
  return crop(image, minX, minY, bw, bh);
}

std::optional<Image> render(const Image& image, double size) {
  const double side = std::max(image.width, image.height);
  const int n = static_cast<int>(std::max(std::min(side, size), 64.0));
  auto canvas = Canvas::create(n, n);
  if (!canvas) return std::nullopt;
  const bool transparentEdges = hasTransparentEdges(image);
  if (auto circle = contentCircle(image)) {
    const double big = 1.45 * n, origin = (n - big) * 0.5;
    canvas->draw(*circle, {origin, origin, big, big});
  } else if (transparentEdges) {
    canvas->fillWhite();
    canvas->draw(image, {0, 0, double(n), double(n)});
  } else {
    canvas->draw(image, {0, 0, double(n), double(n)});
  }
  return canvas->image();
}

std::optional<std::vector<std::uint8_t>> png(const Image& image, double size) {
  auto rendered = render(image, size);
  return rendered ? ImageCodec::encodePng(*rendered) : std::nullopt;
}

}  // namespace quib::SiteIconAnalysis
