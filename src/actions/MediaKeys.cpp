#include "actions/MediaKeys.h"

#include <vector>

namespace quib::MediaKeys {

namespace {
constexpr int kAuxControlButtons = 8;
}

bool press(EventPoster& events, std::int32_t key) {
  std::vector<InputEvent> pair;
  for (std::int64_t state : {0xA00, 0xB00}) {
    // data1: key code in bits 16-31, key state in bits 8-15, repeat flag clear.
    const std::int64_t data1 = (static_cast<std::int64_t>(key) << 16) | state;
    auto e = events.makeSystemDefinedEvent(kAuxControlButtons, static_cast<std::uint64_t>(state), data1, -1);
    if (!e) return false;
    pair.push_back(*e);
  }
  for (const auto& e : pair) events.post(e);
  return true;
}

}  // namespace quib::MediaKeys
