#pragma once
// Outside tools run against the private desktop while the test keeps dispatching the default
// GMainContext, so that our own X and PulseAudio clients can answer them. Every wait is bounded.
#include <gio/gio.h>
#include <gtk/gtk.h>

#include <chrono>
#include <string>
#include <vector>

#include "platform/linux/MainContextWait.h"

namespace quib::test {

// GTK on the test's display, once per binary.
inline bool gtkReady() {
  static const bool ok = gtk_init_check(nullptr, nullptr);
  return ok;
}

// Dispatches the default context until done() or the limit.
template <typename Done>
bool pumpUntil(Done done, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
  return linuxdesktop::iterateMainContextUntil(done, limit);
}

// Runs what is ready now (idle callbacks included), without waiting.
inline void drain() {
  for (int i = 0; i < 10000 && g_main_context_iteration(nullptr, FALSE); ++i) {
  }
}

// Lets everything the X server sent until now reach our handlers, including what handlers that ran
// in between caused (an idle release of the selection, say).
inline void settle() {
  for (int round = 0; round < 3; ++round) {
    gdk_display_sync(gdk_display_get_default());
    drain();
  }
}

struct ToolResult {
  bool exited = false;  // false: did not end in time (it was killed)
  int status = -1;
  std::string out;
};

// Polls an outside tool's view until done() or the limit, dispatching between looks.
template <typename Done>
bool pollUntil(Done done, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    if (done()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    pumpUntil([] { return false; }, std::chrono::milliseconds(50));
  }
}

// Runs a program to its end and collects its standard output.
inline ToolResult runTool(const std::vector<std::string>& argv,
                          std::chrono::milliseconds limit = std::chrono::seconds(10)) {
  std::vector<const char*> args;
  for (const auto& a : argv) args.push_back(a.c_str());
  args.push_back(nullptr);
  ToolResult result;
  GSubprocess* p = g_subprocess_newv(args.data(), G_SUBPROCESS_FLAGS_STDOUT_PIPE, nullptr);
  if (!p) return result;
  struct Wait {
    bool done = false;
    GBytes* out = nullptr;
  } wait;
  g_subprocess_communicate_async(
      p, nullptr, nullptr,
      [](GObject* src, GAsyncResult* res, gpointer w) {
        auto* wt = static_cast<Wait*>(w);
        g_subprocess_communicate_finish(G_SUBPROCESS(src), res, &wt->out, nullptr, nullptr);
        wt->done = true;
      },
      &wait);
  if (!pumpUntil([&] { return wait.done; }, limit)) {
    g_subprocess_force_exit(p);
    pumpUntil([&] { return wait.done; }, std::chrono::seconds(5));
  } else {
    result.exited = true;
    result.status = g_subprocess_get_exit_status(p);
  }
  if (wait.out) {
    gsize n = 0;
    const char* data = static_cast<const char*>(g_bytes_get_data(wait.out, &n));
    result.out.assign(data ? data : "", n);
    g_bytes_unref(wait.out);
  }
  g_object_unref(p);
  return result;
}

inline std::string trimmed(std::string s) {
  while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
  return s;
}

}  // namespace quib::test
