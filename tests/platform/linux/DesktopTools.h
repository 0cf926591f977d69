#pragma once
// Outside tools run against the private desktop while the test keeps dispatching the default
// GMainContext, so that our own X and PulseAudio clients can answer them. Every wait is bounded.
#include <gio/gio.h>
#include <gtk/gtk.h>

#include <chrono>
#include <optional>
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

// A program left running in the background (a clipboard owner, a playing stream), killed by its
// process id when the object goes.
class Background {
 public:
  // env: NAME=VALUE settings on top of ours.
  explicit Background(const std::vector<std::string>& argv, const std::vector<std::string>& env = {}) {
    std::vector<const char*> args;
    for (const auto& a : argv) args.push_back(a.c_str());
    args.push_back(nullptr);
    GSubprocessLauncher* launcher = g_subprocess_launcher_new(G_SUBPROCESS_FLAGS_STDOUT_PIPE);
    for (const auto& e : env) {
      const auto eq = e.find('=');
      g_subprocess_launcher_setenv(launcher, e.substr(0, eq).c_str(), e.substr(eq + 1).c_str(), TRUE);
    }
    process_ = g_subprocess_launcher_spawnv(launcher, args.data(), nullptr);
    g_object_unref(launcher);
  }
  ~Background() {
    if (!process_) return;
    g_subprocess_force_exit(process_);
    g_subprocess_wait(process_, nullptr, nullptr);
    g_object_unref(process_);
  }
  Background(const Background&) = delete;
  Background& operator=(const Background&) = delete;

  bool started() const { return process_ != nullptr; }
  // The identifier goes once GLib has reaped the process.
  bool running() { return process_ && g_subprocess_get_identifier(process_); }
  // Reads its output until the line appears, dispatching meanwhile.
  bool waitForLine(const std::string& line, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    GInputStream* out = g_subprocess_get_stdout_pipe(process_);
    std::string seen;
    struct Read {
      bool done = false;
      gssize n = 0;
      char buf[256];
    };
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (seen.find(line + "\n") == std::string::npos) {
      Read r;
      g_input_stream_read_async(
          out, r.buf, sizeof r.buf, G_PRIORITY_DEFAULT, nullptr,
          [](GObject* s, GAsyncResult* res, gpointer p) {
            auto* rd = static_cast<Read*>(p);
            rd->n = g_input_stream_read_finish(G_INPUT_STREAM(s), res, nullptr);
            rd->done = true;
          },
          &r);
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (!pumpUntil([&] { return r.done; }, std::max(left, std::chrono::milliseconds(1)))) {
        // The read must finish before its buffer goes; ending the program ends it.
        g_subprocess_force_exit(process_);
        pumpUntil([&] { return r.done; }, std::chrono::seconds(5));
        return false;
      }
      if (r.n <= 0) return false;
      seen.append(r.buf, static_cast<std::size_t>(r.n));
    }
    return true;
  }
  // Waits for its end, dispatching meanwhile.
  bool waitForExit(std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    return pumpUntil([&] { return !running(); }, limit);
  }

 private:
  GSubprocess* process_ = nullptr;
};

}  // namespace quib::test
