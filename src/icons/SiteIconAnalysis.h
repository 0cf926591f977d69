#pragma once
// Classifying and rendering downloaded site icons: is a picture a circular badge, is it mostly
// white, is there a logo drawn as a disc or ring, and the square PNG made of the chosen picture.
// Pure functions of the image; safe on any thread.
#include <cstdint>
#include <optional>
#include <vector>

#include "platform/Image.h"

namespace quib::SiteIconAnalysis {

struct Analysis {
  bool circular = false;
  bool mostlyWhite = false;
  bool operator==(const Analysis&) const = default;
};

Analysis analyze(const Image& image);
bool hasTransparentEdges(const Image& image);
// The bounding box of a disc or ring logo cut out of the picture, or none.
std::optional<Image> contentCircle(const Image& image);
// The n x n rendering (64 <= n <= size, from the larger side), before PNG encoding.
std::optional<Image> render(const Image& image, double size);
std::optional<std::vector<std::uint8_t>> png(const Image& image, double size);

}  // namespace quib::SiteIconAnalysis
