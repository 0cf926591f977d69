#include "icons/Canvas.h"

#include <cairo.h>

#include <algorithm>
#include <cstring>

namespace quib {

namespace {

// Image bytes (R, G, B, A premultiplied) to cairo's native-endian premultiplied ARGB words and back.
cairo_surface_t* toSurface(const Image& img) {
  cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, img.width, img.height);
  if (cairo_surface_status(s) != CAIRO_STATUS_SUCCESS) return s;
  cairo_surface_flush(s);
  unsigned char* data = cairo_image_surface_get_data(s);
  const int stride = cairo_image_surface_get_stride(s);
  for (int y = 0; y < img.height; ++y) {
    auto* row = reinterpret_cast<std::uint32_t*>(data + static_cast<std::size_t>(y) * stride);
    for (int x = 0; x < img.width; ++x) {
      const std::uint8_t* p = img.at(x, y);
      row[x] = (std::uint32_t{p[3]} << 24) | (std::uint32_t{p[0]} << 16) | (std::uint32_t{p[1]} << 8) | p[2];
    }
  }
  cairo_surface_mark_dirty(s);
  return s;
}

}  // namespace

std::optional<Canvas> Canvas::create(int width, int height) {
  if (width <= 0 || height <= 0) return std::nullopt;
  cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height);
  if (cairo_surface_status(s) != CAIRO_STATUS_SUCCESS) {
    cairo_surface_destroy(s);
    return std::nullopt;
  }
  return Canvas(s);
}

std::optional<Canvas> Canvas::of(const Image& image) {
  if (image.empty()) return std::nullopt;
  cairo_surface_t* s = toSurface(image);
  if (cairo_surface_status(s) != CAIRO_STATUS_SUCCESS) {
    cairo_surface_destroy(s);
    return std::nullopt;
  }
  return Canvas(s);
}

namespace {
cairo_status_t appendBytes(void* closure, const unsigned char* data, unsigned int length) {
  auto* out = static_cast<std::vector<std::uint8_t>*>(closure);
  out->insert(out->end(), data, data + length);
  return CAIRO_STATUS_SUCCESS;
}
}  // namespace

std::optional<std::vector<std::uint8_t>> Canvas::png() const {
  std::vector<std::uint8_t> bytes;
  if (cairo_surface_write_to_png_stream(surface_, appendBytes, &bytes) != CAIRO_STATUS_SUCCESS)
    return std::nullopt;
  return bytes;
}

Canvas::Canvas(Canvas&& other) noexcept : surface_(other.surface_) {
  other.surface_ = nullptr;
}

Canvas::~Canvas() {
  if (surface_) cairo_surface_destroy(surface_);
}

void Canvas::fillWhite() {
  cairo_t* cr = cairo_create(surface_);
  cairo_set_operator(cr, CAIRO_OPERATOR_OVER);
  cairo_set_source_rgba(cr, 1, 1, 1, 1);
  cairo_paint(cr);
  cairo_destroy(cr);
}

void Canvas::draw(const Image& image, Rect target) {
  if (image.empty() || target.width <= 0 || target.height <= 0) return;
  cairo_surface_t* src = toSurface(image);
  if (cairo_surface_status(src) == CAIRO_STATUS_SUCCESS) {
    cairo_t* cr = cairo_create(surface_);
    cairo_rectangle(cr, target.x, target.y, target.width, target.height);
    cairo_clip(cr);
    cairo_translate(cr, target.x, target.y);
    cairo_scale(cr, target.width / image.width, target.height / image.height);
    cairo_set_source_surface(cr, src, 0, 0);
    cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_BEST);
    // Sampling past the edges stays inside the picture instead of fading into transparency.
    cairo_pattern_set_extend(cairo_get_source(cr), CAIRO_EXTEND_PAD);
    cairo_set_operator(cr, CAIRO_OPERATOR_OVER);
    cairo_paint(cr);
    cairo_destroy(cr);
  }
  cairo_surface_destroy(src);
}

Image Canvas::image() const {
  cairo_surface_flush(surface_);
  const int w = cairo_image_surface_get_width(surface_), h = cairo_image_surface_get_height(surface_);
  const int stride = cairo_image_surface_get_stride(surface_);
  const unsigned char* data = cairo_image_surface_get_data(surface_);
  Image img = Image::blank(w, h);
  for (int y = 0; y < h; ++y) {
    const auto* row = reinterpret_cast<const std::uint32_t*>(data + static_cast<std::size_t>(y) * stride);
    for (int x = 0; x < w; ++x) {
      const std::uint32_t v = row[x];
      std::uint8_t* p = img.at(x, y);
      p[0] = static_cast<std::uint8_t>(v >> 16);
      p[1] = static_cast<std::uint8_t>(v >> 8);
      p[2] = static_cast<std::uint8_t>(v);
      p[3] = static_cast<std::uint8_t>(v >> 24);
    }
  }
  return img;
}

std::optional<Image> crop(const Image& image, int x, int y, int width, int height) {
  const int x0 = std::max(0, x), y0 = std::max(0, y);
  const int x1 = std::min(image.width, x + width), y1 = std::min(image.height, y + height);
  if (x1 <= x0 || y1 <= y0) return std::nullopt;
  Image out = Image::blank(x1 - x0, y1 - y0);
  for (int row = y0; row < y1; ++row)
    std::memcpy(out.at(0, row - y0), image.at(x0, row), static_cast<std::size_t>(x1 - x0) * 4);
  return out;
}

}  // namespace quib
