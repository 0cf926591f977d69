#include "load/ServerProcess.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <mutex>
#include <optional>
#include <sstream>
#include <thread>
#include <vector>

namespace quib::load {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

Server startServer(const std::string& binary, const std::string& dataDir, rlim_t nofile) {
  int outPipe[2], inPipe[2];
  if (pipe(outPipe) != 0 || pipe(inPipe) != 0) std::exit(2);
  Server s;
  s.pid = fork();
  if (s.pid == 0) {
    dup2(outPipe[1], 1);
    dup2(outPipe[1], 2);
    dup2(inPipe[0], 0);
    if (nofile) {
      rlimit r{nofile, nofile};
      setrlimit(RLIMIT_NOFILE, &r);
    }
    execl(binary.c_str(), binary.c_str(), "--platform", "virtual", "--port", "0", "--data-dir",
          dataDir.c_str(), (char*)nullptr);
    _exit(127);
  }
  close(outPipe[1]);
  close(inPipe[0]);
  s.out = outPipe[0];
  s.in = inPipe[1];
  std::string text;
  char buf[4096];
  const auto deadline = Clock::now() + 20s;
  while (Clock::now() < deadline) {
    pollfd p{s.out, POLLIN, 0};
    if (poll(&p, 1, 200) <= 0) continue;
    ssize_t n = read(s.out, buf, sizeof buf);
    if (n <= 0) break;
    text.append(buf, static_cast<std::size_t>(n));
    auto at = text.find("대기 중 (포트 ");
    auto codeAt = text.rfind("페어링 코드:  ");
    if (at != std::string::npos && codeAt != std::string::npos && text.find(')', at) != std::string::npos) {
      s.port = static_cast<std::uint16_t>(std::stoi(text.substr(at + std::string("대기 중 (포트 ").size())));
      s.code = text.substr(codeAt + std::string("페어링 코드:  ").size(), 6);
      break;
    }
  }
  // Keep draining its output so that it never blocks on a full pipe.
  std::thread([fd = s.out] {
    char b[65536];
    while (read(fd, b, sizeof b) > 0) {
    }
  }).detach();
  return s;
}

void stopServer(Server& s) {
  if (s.pid <= 0) return;  // never started: kill(-1) would signal every process we may
  kill(s.pid, SIGTERM);
  int status;
  for (int i = 0; i < 50 && waitpid(s.pid, &status, WNOHANG) == 0; ++i) std::this_thread::sleep_for(100ms);
  kill(s.pid, SIGKILL);
  waitpid(s.pid, &status, 0);
  close(s.in);
}

long rssKiB(pid_t pid) {
  std::ifstream f("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(f, line))
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  return -1;
}

double cpuSeconds(pid_t pid) {
  std::ifstream f("/proc/" + std::to_string(pid) + "/stat");
  std::string all((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  auto close = all.rfind(')');
  std::istringstream rest(all.substr(close + 2));
  std::string field;
  unsigned long utime = 0, stime = 0;
  for (int i = 3; i <= 15 && rest >> field; ++i) {
    if (i == 14) utime = std::stoul(field);
    if (i == 15) stime = std::stoul(field);
  }
  return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

}  // namespace quib::load
