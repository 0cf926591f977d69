#pragma once
// The quibbleton under load: started as a child with its menu on a pipe (the pairing code read from
// it), its descriptor limit set, and its memory and CPU read from /proc.
#include <sys/resource.h>
#include <sys/types.h>

#include <cstdint>
#include <string>

namespace quib::load {

struct Server {
  pid_t pid = -1;
  int out = -1;
  int in = -1;
  std::uint16_t port = 0;
  std::string code;
};

// nofile 0: the limit this tool runs with.
Server startServer(const std::string& binary, const std::string& dataDir, rlim_t nofile);
void stopServer(Server& s);
long rssKiB(pid_t pid);
double cpuSeconds(pid_t pid);

}  // namespace quib::load
