#include "DesktopTools.h"

#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <regex>

// clang-format off: last, its macros clash with the headers above
#include <X11/Xatom.h>
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
  std::vector<std::string> args{"/usr/bin/env"};
  args.insert(args.end(), argv.begin(), argv.end());
  ChildProcess tool(args, ChildProcess::Output::pipe);
  tool.closeInput();
  ToolResult result;
  pollUntil([&] { return (result.status = tool.wait(std::chrono::milliseconds(0))) >= 0; }, limit);
  result.out = tool.output();
  return result;
}

std::string shell(const std::string& command) {
  return runTool({"/bin/sh", "-c", command}).out;
}

Display* testDisplay() {
  static Display* display = XOpenDisplay(nullptr);
  return display;
}

void syncDisplay() {
  XSync(testDisplay(), False);
}

Recorder::Recorder()
    : process_({"/usr/bin/xev", "-geometry", "1280x800+0+0", "-bw", "0", "-event", "keyboard", "-event",
                "mouse", "-event", "property"},
               ChildProcess::Output::pipe) {
  const auto id = process_.waitFor("inner window is");  // "Outer window is 0x200001, inner ..."
  EXPECT_TRUE(id) << process_.output();
  const std::string named = id.value_or("0x0");
  window_ = std::stoul(named.substr(named.find("0x")), nullptr, 16);
  XWindowAttributes a{};
  pollUntil([&] { return XGetWindowAttributes(testDisplay(), window_, &a) && a.map_state == IsViewable; });
  XSetInputFocus(testDisplay(), window_, RevertToPointerRoot, CurrentTime);
  events();  // its own start
}

std::vector<std::string> Recorder::events() {
  // A property change made after every event posted so far reaches xev after them too.
  XChangeProperty(testDisplay(), window_, XInternAtom(testDisplay(), "QUIB_MARK", False), XA_STRING, 8,
                  PropModeReplace, reinterpret_cast<const unsigned char*>("x"), 1);
  syncDisplay();
  const std::string text = process_.waitFor("(QUIB_MARK)").value_or("");
  EXPECT_FALSE(text.empty()) << process_.output();
  static const std::regex event(
      R"((Key|Button)(Press|Release) event[\s\S]*?root:\((\d+),(\d+)\),\s+state (0x[0-9a-f]+), )"
      R"((?:keycode \d+ \(keysym 0x[0-9a-f]+, ([^)]+)\)|button (\d+)))"
      R"(|MotionNotify event[\s\S]*?root:\((\d+),(\d+)\),\s+state (0x[0-9a-f]+))");
  std::vector<std::string> lines;
  for (std::sregex_iterator m(text.begin(), text.end(), event), end; m != end; ++m) {
    const auto& e = *m;
    const std::string kind = e[2] == "Press" ? "press " : "release ";
    if (e[1] == "Key")
      lines.push_back("key " + kind + e[6].str() + " state=" + e[5].str());
    else if (e[1] == "Button")
      lines.push_back("button " + kind + e[7].str() + " at " + e[3].str() + "," + e[4].str() +
                      " state=" + e[5].str());
    else
      lines.push_back("motion " + e[8].str() + "," + e[9].str() + " state=" + e[10].str());
  }
  return lines;
}

std::vector<std::string> linesStarting(const std::vector<std::string>& lines, const std::string& prefix) {
  std::vector<std::string> out;
  for (const auto& l : lines)
    if (l.starts_with(prefix)) out.push_back(l);
  return out;
}

}  // namespace quib::test
