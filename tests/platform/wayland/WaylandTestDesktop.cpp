#include "WaylandTestDesktop.h"

#include <glib.h>
#include <signal.h>

#include <cstdio>
#include <memory>
#include <stdexcept>

#include "platform/linux/MainContextWait.h"

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

bool pumpUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  return linuxdesktop::iterateMainContextUntil(done, limit);
}

void settle() {
  if (auto* c = testConnection()) c->roundtrip();
  while (g_main_context_iteration(nullptr, FALSE)) {
  }
}

TestWindow::TestWindow(bool reportMotion)
    : process_(reportMotion ? std::vector<std::string>{"/usr/bin/env", "GDK_BACKEND=wayland",
                                                       "/usr/bin/python3", QUIB_TEST_WINDOW, "--motion"}
                            : std::vector<std::string>{"/usr/bin/env", "GDK_BACKEND=wayland",
                                                       "/usr/bin/python3", QUIB_TEST_WINDOW}) {
  if (!process_.waitFor("ready\n"))
    throw std::runtime_error("the test window did not start: " + process_.output());
}

TestWindow::~TestWindow() {
  process_.signal(SIGTERM);
  process_.wait();
}

bool TestWindow::waitFor(const std::string& line, std::chrono::milliseconds limit) {
  return process_.waitFor(line, limit).has_value();
}

}  // namespace quib::test
