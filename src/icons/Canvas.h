#pragma once
// A square or rectangular RGBA drawing surface (cairo): fill with white, draw an image scaled into a
// rectangle with the best filter (source-over), crop. Rectangles are in pixels, origin top left.
#include <cstdint>
#include <optional>
#include <vector>

#include "platform/Image.h"

typedef struct _cairo_surface cairo_surface_t;

namespace quib {

struct Rect {
  double x = 0, y = 0, width = 0, height = 0;
};

class Canvas {
 public:
  // A transparent canvas; none when the surface cannot be made (for example a size of 0).
  static std::optional<Canvas> create(int width, int height);
  // A canvas holding exactly this image.
  static std::optional<Canvas> of(const Image& image);
  Canvas(Canvas&& other) noexcept;
  Canvas& operator=(Canvas&&) = delete;
  ~Canvas();

  void fillWhite();
  void draw(const Image& image, Rect target);
  Image image() const;
  std::optional<std::vector<std::uint8_t>> png() const;

 private:
  explicit Canvas(cairo_surface_t* s) : surface_(s) {}
  cairo_surface_t* surface_;
};

// The pixels of the rectangle (clipped to the image); none when nothing of it lies inside.
std::optional<Image> crop(const Image& image, int x, int y, int width, int height);

}  // namespace quib
