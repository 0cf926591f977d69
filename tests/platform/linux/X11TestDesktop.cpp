#include "X11TestDesktop.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <sstream>

// clang-format off: last, its macros clash with the headers above
#include <X11/Xlib.h>
// clang-format on

namespace quib::test {

Display* testDisplay() {
  static Display* display = XOpenDisplay(nullptr);
  return display;
}

std::string shell(const std::string& command) {
  std::string out;
  FILE* p = popen(command.c_str(), "r");
  if (!p) return out;
  std::array<char, 4096> buf{};
  std::size_t n = 0;
  while ((n = fread(buf.data(), 1, buf.size(), p)) > 0) out.append(buf.data(), n);
  pclose(p);
  return out;
}

void syncDisplay() {
  XSync(testDisplay(), False);
}

Recorder::Recorder() : process_({QUIB_X11_RECORDER}) {
  EXPECT_TRUE(process_.waitFor("ready\n")) << process_.output();
}

std::vector<std::string> Recorder::events() {
  XSync(testDisplay(), False);
  process_.write("mark\n");
  std::vector<std::string> lines;
  auto text = process_.waitFor("mark\n");
  EXPECT_TRUE(text) << process_.output();
  if (!text) return lines;
  std::istringstream in(*text);
  for (std::string line; std::getline(in, line);)
    if (line != "mark") lines.push_back(line);
  return lines;
}

std::vector<std::string> linesStarting(const std::vector<std::string>& lines, const std::string& prefix) {
  std::vector<std::string> out;
  for (const auto& l : lines)
    if (l.rfind(prefix, 0) == 0) out.push_back(l);
  return out;
}

X11Input::X11Input(LinuxEventPosterOptions options) : events(testDisplay(), std::move(options)) {}

}  // namespace quib::test
