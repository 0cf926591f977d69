#include "DesktopProgramSupport.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <thread>

namespace quib::test {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::string run(const std::string& command) {
  std::string out;
  if (FILE* p = popen(command.c_str(), "r")) {
    char buf[4096];
    for (std::size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
    pclose(p);
  }
  while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();
  return out;
}

bool eventually(const std::function<bool()>& f) {
  for (int i = 0; i < 100; ++i) {
    if (f()) return true;
    std::this_thread::sleep_for(50ms);
  }
  return f();
}

std::string readFile(const fs::path& p) {
  std::ifstream in(p);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void installApplications(const fs::path& marks) {
  const fs::path data = std::getenv("XDG_DATA_HOME");
  const fs::path config = std::getenv("XDG_CONFIG_HOME");
  fs::create_directories(data / "applications");
  fs::create_directories(config);
  const fs::path recorder = marks / "record";
  std::ofstream(recorder) << "#!/bin/sh\necho \"$0 $*\" >> " << (marks / "log").string() << "\n";
  fs::permissions(recorder, fs::perms::owner_all);
  fs::create_symlink(recorder, marks / "notes");
  fs::create_symlink(recorder, marks / "browser");
  std::ofstream(data / "applications" / "quibtest-notes.desktop")
      << "[Desktop Entry]\nType=Application\nName=Notes\nExec=" << (marks / "notes").string() << "\n";
  std::ofstream(data / "applications" / "quibtest-browser.desktop")
      << "[Desktop Entry]\nType=Application\nName=Test Browser\nExec=" << (marks / "browser").string()
      << " %u\nMimeType=x-scheme-handler/https;x-scheme-handler/http;\n";
  std::ofstream(config / "mimeapps.list")
      << "[Default Applications]\nx-scheme-handler/https=quibtest-browser.desktop\n"
         "x-scheme-handler/http=quibtest-browser.desktop\n";
}

ServerMessage act(QuibClient& phone, QuibAction a) {
  ClientMessage m;
  m.type = ClientMessage::Kind::action;
  m.action = std::move(a);
  return phone.request(m);
}

QuibAction action(QuibActionKind kind, std::optional<std::string> value, std::vector<std::string> modifiers) {
  QuibAction a;
  a.kind = kind;
  a.value = std::move(value);
  a.modifiers = std::move(modifiers);
  return a;
}

}  // namespace quib::test
