#include "load/Loads.h"

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

#include "client/QuibClient.h"
#include "crypto/Base64.h"
#include "crypto/Random.h"
#include "server/QuibCodec.h"

namespace quib::load {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

int rawConnect(std::uint16_t port, const char* from) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return -1;
  if (from) {
    sockaddr_in local{};
    local.sin_family = AF_INET;
    inet_pton(AF_INET, from, &local.sin_addr);
    bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local);
  }
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

bool sendAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t n = send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (n <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

void drain(int fd) {
  char b[65536];
  while (recv(fd, b, sizeof b, MSG_DONTWAIT) > 0) {
  }
}

// One line from a blocking socket, or none within the time.
std::optional<std::string> readLineRaw(int fd, std::chrono::milliseconds limit) {
  std::string line;
  const auto deadline = Clock::now() + limit;
  char ch;
  while (Clock::now() < deadline) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 100) <= 0) continue;
    if (recv(fd, &ch, 1, 0) != 1) return std::nullopt;
    if (ch == '\n') return line;
    line.push_back(ch);
  }
  return std::nullopt;
}

// Connections that have opened one line under the token and then stay silent; one descriptor each.
void idle(Run& r, int count, std::vector<int>& keep) {
  for (int i = 0; i < count && !r.stop; ++i) {
    int fd = rawConnect(r.server.port, r.from());
    if (fd < 0) continue;
    auto hello = readLineRaw(fd, 2s);
    try {
      auto greeting = QuibCodec::decode<ServerMessage>(hello.value_or(""));
      auto salt = Base64::decode(greeting.salt.value_or(""));
      if (!salt) throw DecodeError("no salt");
      sendAll(fd, sealLine(ping("idle"), SecureChannel::tokenKey(r.token, *salt)));
      if (readLineRaw(fd, 2s)) {
        keep.push_back(fd);
        continue;
      }
    } catch (const DecodeError&) {
    }
    close(fd);
  }
}

void slowloris(Run& r, int count) {
  std::vector<int> fds(static_cast<std::size_t>(count), -1);
  while (!r.stop) {
    for (auto& fd : fds) {
      if (fd < 0) fd = rawConnect(r.server.port, r.from());
      if (fd >= 0 && !sendAll(fd, "{")) {
        close(fd);
        fd = -1;
      }
      if (fd >= 0) drain(fd);
    }
    std::this_thread::sleep_for(100ms);
  }
  for (int fd : fds)
    if (fd >= 0) close(fd);
}

}  // namespace

const std::map<std::string, Load>& loads() {
  static const std::map<std::string, Load> all = {
      {"idle",
       [](Run& r) {
         std::vector<int> keep;
         idle(r, 2000, keep);
         while (!r.stop) std::this_thread::sleep_for(50ms);
         for (int fd : keep) close(fd);
       }},
      {"idle-slowloris",
       [](Run& r) {
         std::vector<int> keep;
         idle(r, 2000, keep);
         slowloris(r, 200);
         for (int fd : keep) close(fd);
       }},
      {"slowloris", [](Run& r) { slowloris(r, 200); }},
      {"bigline",
       [](Run& r) {
         const std::string chunk(1 << 20, 'x');
         std::vector<std::thread> ts;
         for (int t = 0; t < 4; ++t)
           ts.emplace_back([&] {
             while (!r.stop) {
               int fd = rawConnect(r.server.port, r.from());
               for (int mb = 0; fd >= 0 && mb < 20 && !r.stop; ++mb) {
                 if (!sendAll(fd, chunk)) break;
                 drain(fd);
               }
               if (fd >= 0) close(fd);
             }
           });
         for (auto& t : ts) t.join();
       }},
      {"garbage",
       [](Run& r) {
         std::vector<std::thread> ts;
         for (int t = 0; t < 5; ++t)
           ts.emplace_back([&, t] {
             const std::string deep = std::string(100000, '[') + "\n";
             std::string wide = "[0";
             for (int i = 0; i < 100000; ++i) wide += ",0";
             wide += "]\n";
             const std::string sealed = SecureChannel::sealText(std::string(60000, 'x'),
                                                                SecureChannel::pairKey("000000", Bytes(16)));
             std::vector<int> fds;
             for (int i = 0; i < 10; ++i) fds.push_back(rawConnect(r.server.port, r.from()));
             for (int n = 0; !r.stop; ++n)
               for (auto& fd : fds) {
                 if (fd < 0) fd = rawConnect(r.server.port, r.from());
                 if (fd < 0) continue;
                 const std::string& line = (n + t) % 4 == 0   ? deep
                                           : (n + t) % 4 == 1 ? wide
                                           : (n + t) % 4 == 2 ? sealed
                                                              : std::string("e:!!!!\nnot json\n");
                 if (!sendAll(fd, line)) {
                   close(fd);
                   fd = -1;
                 } else {
                   drain(fd);
                 }
               }
             for (int fd : fds)
               if (fd >= 0) close(fd);
           });
         for (auto& t : ts) t.join();
       }},
      {"reset",
       [](Run& r) {
         std::thread halfClose([&] {
           while (!r.stop) {
             int fd = rawConnect(r.server.port, r.from());
             if (fd < 0) continue;
             sendAll(fd, "{\"type\":\"ping\"}\n");
             shutdown(fd, SHUT_WR);
             close(fd);
           }
         });
         while (!r.stop) {
           int fd = rawConnect(r.server.port, r.from());
           if (fd < 0) continue;
           linger l{1, 0};
           setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
           close(fd);  // a reset
         }
         halfClose.join();
       }},
      {"guess",
       [](Run& r) {
         std::vector<std::thread> ts;
         for (int t = 0; t < 4; ++t)
           ts.emplace_back([&, t] {
             for (int n = 0; !r.stop; ++n) {
               QuibClient c;
               // Many addresses, as many machines on the network would.
               c.setLocalAddress(!r.attacker.empty()
                                     ? r.attacker
                                     : "127.0." + std::to_string(t + 1) + "." + std::to_string(n % 250 + 1));
               try {
                 c.connect("127.0.0.1", r.server.port, 2s);
                 for (int i = 0; i < 5; ++i) c.pair(r.server.code == "000000" ? "111111" : "000000", "g", 2s);
               } catch (const ClientError&) {
               }
             }
           });
         for (auto& t : ts) t.join();
       }},
      {"fds",
       [](Run& r) {
         std::vector<int> fds;
         for (int i = 0; i < 400 && !r.stop; ++i) {
           int fd = rawConnect(r.server.port, r.from());
           if (fd >= 0) fds.push_back(fd);
         }
         while (!r.stop) std::this_thread::sleep_for(50ms);
         for (int fd : fds) close(fd);
       }},
  };
  return all;
}

}  // namespace quib::load
