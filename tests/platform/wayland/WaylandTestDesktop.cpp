#include "WaylandTestDesktop.h"

#include <glib.h>

#include <algorithm>
#include <cstdio>
#include <memory>

namespace quib::test {

WaylandConnection* testConnection() {
  static std::unique_ptr<WaylandConnection> connection = [] {
    std::string why;
    auto c = WaylandConnection::open(why);
    if (!c) std::fprintf(stderr, "no Wayland display (%s); run under with-sway.sh\n", why.c_str());
    return c;
  }();
  return connection.get();
}

LoopWatch::LoopWatch() {
  source_ = g_timeout_add(
      5,
      [](gpointer p) -> gboolean {
        auto* w = static_cast<LoopWatch*>(p);
        const auto now = std::chrono::steady_clock::now();
        w->longest_ = std::max(w->longest_, now - w->last_);
        w->last_ = now;
        return G_SOURCE_CONTINUE;
      },
      this);
}

LoopWatch::~LoopWatch() {
  g_source_remove(source_);
}

}  // namespace quib::test
