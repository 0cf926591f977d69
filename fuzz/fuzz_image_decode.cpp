// Image bytes as a web site sends them: the header reader and the decoder behind it must never
// yield, or allocate for, a picture larger than the size guard allows.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "icons/ImageCodec.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  auto header = quib::ImageCodec::readHeader(bytes);
  auto image = quib::ImageCodec::decode(bytes);
  if (image) {
    if (!header) std::abort();  // decoded without being recognised first
    if (static_cast<long long>(image->width) * image->height > quib::ImageCodec::kMaxPixels) std::abort();
    if (image->rgba.size() != static_cast<std::size_t>(image->width) * image->height * 4) std::abort();
  }
  return 0;
}
