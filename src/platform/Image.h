#pragma once
// A decoded picture: width x height pixels, 4 bytes each in R, G, B, A order, colour bytes already
// multiplied by alpha (the form every image test reads), row 0 at the top.
#include <cstdint>
#include <vector>

namespace quib {

struct Image {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> rgba;  // premultiplied, width * height * 4 bytes

  static Image blank(int w, int h) {
    return Image{w, h, std::vector<std::uint8_t>(std::size_t(w) * h * 4, 0)};
  }
  bool empty() const { return width <= 0 || height <= 0; }
  const std::uint8_t* at(int x, int y) const { return rgba.data() + (std::size_t(y) * width + x) * 4; }
  std::uint8_t* at(int x, int y) { return rgba.data() + (std::size_t(y) * width + x) * 4; }
  std::uint8_t alpha(int x, int y) const { return at(x, y)[3]; }
  bool operator==(const Image&) const = default;
};

}  // namespace quib
