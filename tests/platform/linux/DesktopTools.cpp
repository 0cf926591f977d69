#include "DesktopTools.h"

#include <gio/gio.h>
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <sstream>

// clang-format off: last, its macros clash with the headers above
#include <X11/Xlib.h>
// clang-format on

namespace quib::test {

bool gtkReady() {
  static const bool ok = gtk_init_check(nullptr, nullptr);
  return ok;
}

void drain() {
  for (int i = 0; i < 10000 && g_main_context_iteration(nullptr, FALSE); ++i) {
  }
}

void settle() {
  for (int round = 0; round < 3; ++round) {
    gdk_display_sync(gdk_display_get_default());
    drain();
  }
}

ToolResult runTool(const std::vector<std::string>& argv, std::chrono::milliseconds limit) {
  std::vector<const char*> args;
  for (const auto& a : argv) args.push_back(a.c_str());
  args.push_back(nullptr);
  ToolResult result;
  GSubprocess* p = g_subprocess_newv(args.data(), G_SUBPROCESS_FLAGS_STDOUT_PIPE, nullptr);
  if (!p) return result;
  std::pair<bool, GBytes*> wait{false, nullptr};  // done, output
  g_subprocess_communicate_async(
      p, nullptr, nullptr,
      [](GObject* src, GAsyncResult* res, gpointer w) {
        auto* wt = static_cast<decltype(wait)*>(w);
        g_subprocess_communicate_finish(G_SUBPROCESS(src), res, &wt->second, nullptr, nullptr);
        wt->first = true;
      },
      &wait);
  result.exited = pumpUntil([&] { return wait.first; }, limit);
  if (result.exited) {
    result.status = g_subprocess_get_exit_status(p);
  } else {
    g_subprocess_force_exit(p);
    pumpUntil([&] { return wait.first; }, std::chrono::seconds(5));
  }
  if (wait.second) {
    gsize n = 0;
    const char* data = static_cast<const char*>(g_bytes_get_data(wait.second, &n));
    result.out.assign(data ? data : "", n);
    g_bytes_unref(wait.second);
  }
  g_object_unref(p);
  return result;
}

std::string shell(const std::string& command) {
  return runTool({"/bin/sh", "-c", command}).out;
}

std::string trimmed(std::string s) {
  while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
  return s;
}

Display* testDisplay() {
  static Display* display = XOpenDisplay(nullptr);
  return display;
}

void syncDisplay() {
  XSync(testDisplay(), False);
}

Recorder::Recorder() : process_({QUIB_X11_RECORDER}) {
  EXPECT_TRUE(process_.waitFor("ready\n")) << process_.output();
}

std::vector<std::string> Recorder::events() {
  syncDisplay();
  process_.write("mark\n");
  std::vector<std::string> lines;
  auto text = process_.waitFor("mark\n");
  EXPECT_TRUE(text) << process_.output();
  std::istringstream in(text.value_or(""));
  for (std::string line; std::getline(in, line);)
    if (line != "mark") lines.push_back(line);
  return lines;
}

std::vector<std::string> linesStarting(const std::vector<std::string>& lines, const std::string& prefix) {
  std::vector<std::string> out;
  for (const auto& l : lines)
    if (l.starts_with(prefix)) out.push_back(l);
  return out;
}

}  // namespace quib::test
