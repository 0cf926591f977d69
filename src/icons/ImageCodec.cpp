#include "icons/ImageCodec.h"

#include <gdk-pixbuf/gdk-pixbuf.h>

#include <cstring>
#include <string>

#include "icons/Canvas.h"

namespace quib::ImageCodec {

namespace {

bool allowedFormat(GdkPixbufFormat* format) {
  if (!format) return false;
  gchar* name = gdk_pixbuf_format_get_name(format);
  const std::string n = name ? name : "";
  g_free(name);
  return n == "png" || n == "jpeg" || n == "gif" || n == "ico" || n == "bmp" || n == "webp" || n == "svg";
}

struct Guard {
  bool refused = false;
};

void onSizePrepared(GdkPixbufLoader* loader, gint width, gint height, gpointer data) {
  auto* guard = static_cast<Guard*>(data);
  if (!allowedFormat(gdk_pixbuf_loader_get_format(loader)) || width <= 0 || height <= 0 ||
      static_cast<long long>(width) * height > kMaxPixels) {
    guard->refused = true;
    gdk_pixbuf_loader_set_size(loader, 1, 1);  // keep the loader from allocating the real size
  }
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
  if (bytes.empty()) return std::nullopt;
  GdkPixbufLoader* loader = gdk_pixbuf_loader_new();
  Guard guard;
  g_signal_connect(loader, "size-prepared", G_CALLBACK(onSizePrepared), &guard);
  GError* error = nullptr;
  bool ok =
      gdk_pixbuf_loader_write(loader, reinterpret_cast<const guchar*>(bytes.data()), bytes.size(), &error);
  if (error) g_clear_error(&error);
  ok = gdk_pixbuf_loader_close(loader, &error) && ok;
  if (error) g_clear_error(&error);
  std::optional<Image> result;
  GdkPixbuf* pb = ok && !guard.refused ? gdk_pixbuf_loader_get_pixbuf(loader) : nullptr;
  if (pb && gdk_pixbuf_get_bits_per_sample(pb) == 8 && gdk_pixbuf_get_colorspace(pb) == GDK_COLORSPACE_RGB)
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
