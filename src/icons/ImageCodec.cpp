#include "icons/ImageCodec.h"

#include <gdk-pixbuf/gdk-pixbuf.h>

#include <cstring>
#include <string>

#include "icons/Canvas.h"

namespace quib::ImageCodec {

namespace {

struct Guard {
  Header header;
  bool refused = false;
};

void onSizePrepared(GdkPixbufLoader* loader, gint width, gint height, gpointer data) {
  auto* guard = static_cast<Guard*>(data);
  if (width <= 0 || height <= 0) {
    guard->refused = true;
    return;
  }
  const long long pixels = static_cast<long long>(width) * height;
  if (guard->header.format == "svg") {
    // Its size is known only now: a large one is drawn at one pixel, then thrown away.
    if (pixels > kMaxPixels) {
      guard->refused = true;
      gdk_pixbuf_loader_set_size(loader, 1, 1);
    }
    return;
  }
  // The header was checked already; a decoder that sees more than it declared is not believed.
  if (width > guard->header.width || height > guard->header.height || pixels > kMaxPixels)
    guard->refused = true;
}

std::uint8_t premultiply(std::uint8_t c, std::uint8_t a) {
  return static_cast<std::uint8_t>((c * a + 127) / 255);
}

Image fromPixbuf(GdkPixbuf* pb) {
  const int w = gdk_pixbuf_get_width(pb), h = gdk_pixbuf_get_height(pb);
  const int stride = gdk_pixbuf_get_rowstride(pb), channels = gdk_pixbuf_get_n_channels(pb);
  const bool hasAlpha = gdk_pixbuf_get_has_alpha(pb);
  const guchar* src = gdk_pixbuf_read_pixels(pb);
  Image img = Image::blank(w, h);
  for (int y = 0; y < h; ++y) {
    const guchar* row = src + static_cast<std::size_t>(y) * stride;
    for (int x = 0; x < w; ++x) {
      const guchar* p = row + static_cast<std::size_t>(x) * channels;
      const std::uint8_t a = hasAlpha ? p[3] : 255;
      std::uint8_t* out = img.at(x, y);
      out[0] = premultiply(p[0], a);
      out[1] = premultiply(p[1], a);
      out[2] = premultiply(p[2], a);
      out[3] = a;
    }
  }
  return img;
}

}  // namespace

std::optional<Image> decode(std::string_view bytes) {
  auto header = readHeader(bytes);
  if (!header) return std::nullopt;
  // Divided, not multiplied: two 32-bit sizes from a header overflow even a long long.
  if (header->format != "svg" &&
      (header->width <= 0 || header->height <= 0 || header->width > kMaxPixels / header->height))
    return std::nullopt;
  GError* error = nullptr;
  GdkPixbufLoader* loader = gdk_pixbuf_loader_new_with_type(header->format.c_str(), &error);
  if (error) g_clear_error(&error);
  if (!loader) return std::nullopt;
  Guard guard{*header};
  g_signal_connect(loader, "size-prepared", G_CALLBACK(onSizePrepared), &guard);
  bool ok =
      gdk_pixbuf_loader_write(loader, reinterpret_cast<const guchar*>(bytes.data()), bytes.size(), &error);
  if (error) g_clear_error(&error);
  ok = gdk_pixbuf_loader_close(loader, &error) && ok;
  if (error) g_clear_error(&error);
  std::optional<Image> result;
  GdkPixbuf* pb = ok && !guard.refused ? gdk_pixbuf_loader_get_pixbuf(loader) : nullptr;
  if (pb && gdk_pixbuf_get_bits_per_sample(pb) == 8 && gdk_pixbuf_get_colorspace(pb) == GDK_COLORSPACE_RGB &&
      static_cast<long long>(gdk_pixbuf_get_width(pb)) * gdk_pixbuf_get_height(pb) <= kMaxPixels)
    result = fromPixbuf(pb);
  g_object_unref(loader);
  return result;
}

std::optional<std::vector<std::uint8_t>> encodePng(const Image& image) {
  auto canvas = Canvas::of(image);
  if (!canvas) return std::nullopt;
  return canvas->png();
}

}  // namespace quib::ImageCodec
