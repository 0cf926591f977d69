#pragma once
// The keyboard's media keys, pressed and released as a pair of system-defined events. Main thread.
#include <cstdint>

#include "platform/EventPoster.h"

namespace quib::MediaKeys {

inline constexpr std::int32_t kSoundUp = 0;
inline constexpr std::int32_t kSoundDown = 1;
inline constexpr std::int32_t kMute = 7;

// False when the desktop could not make the key's events (then neither is posted, and nothing is
// pressed: the press would say it changed the volume when it did not).
bool press(EventPoster& events, std::int32_t key);

}  // namespace quib::MediaKeys
