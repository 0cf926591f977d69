#pragma once
// The keyboard's media keys, pressed and released as a pair of system-defined events. Main thread.
#include <cstdint>

#include "platform/EventPoster.h"

namespace quib::MediaKeys {

inline constexpr std::int32_t kSoundUp = 0;
inline constexpr std::int32_t kSoundDown = 1;
inline constexpr std::int32_t kMute = 7;

// Events that cannot be made are skipped; there is nothing to report.
void press(EventPoster& events, std::int32_t key);

}  // namespace quib::MediaKeys
