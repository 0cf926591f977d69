#pragma once
// Waits on the main thread for an answer that arrives through the default GMainContext (an X
// selection transfer, a PulseAudio reply), dispatching that context meanwhile, for at most `limit`.
#include <glib.h>

#include <chrono>

namespace quib::linuxdesktop {

// True when done() became true, false when the limit ran out first.
template <typename Done>
bool iterateMainContextUntil(Done done, std::chrono::milliseconds limit) {
  if (done()) return true;
  bool expired = false;
  const guint timer = g_timeout_add(
      static_cast<guint>(limit.count()),
      [](gpointer flag) {
        *static_cast<bool*>(flag) = true;
        return G_SOURCE_REMOVE;
      },
      &expired);
  while (!done() && !expired) g_main_context_iteration(nullptr, TRUE);
  if (!expired) g_source_remove(timer);
  return done();
}

}  // namespace quib::linuxdesktop
