// Peer bytes through the line splitter and the request decoder: never a crash, and every request
// that decodes survives a round trip through the encoder.
#include <cstdint>
#include <cstdlib>

#include "server/LineBuffer.h"
#include "server/QuibCodec.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  quib::LineBuffer buffer(4096);
  // The first byte picks the chunk size, so lines also arrive split across reads.
  const std::size_t step = 1 + data[0] % 64;
  std::string_view bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
  for (std::size_t pos = 0; pos < bytes.size(); pos += step) {
    buffer.append(
        bytes.substr(pos, step),
        [](std::string_view line) {
          try {
            auto m = quib::QuibCodec::decode<quib::ClientMessage>(line);
            auto again = quib::QuibCodec::decode<quib::ClientMessage>(quib::QuibCodec::encode(m));
            // NaN-free by construction: JSON has no NaN, so equality must hold.
            if (!(again == m)) std::abort();
          } catch (const quib::DecodeError&) {
          } catch (const quib::EncodeError&) {
          }
        },
        [] {});
  }
  if (buffer.pendingBytes() > 4096) std::abort();
  return 0;
}
