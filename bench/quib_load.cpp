// quib-load: starts a quibbleton, pairs one phone that pings every 10 ms, and runs one hostile or
// careless load against the server for a fixed time. Prints the phone's round trips (p50, p99,
// max), its failed pings, and the server's resident memory and CPU over the run.
//   quib-load SERVER-BINARY [--scenario NAME|all] [--seconds N] [--settle N] [--attacker ADDRESS]
//             [--reconnect-every N]
// --attacker: every load connects from this loopback address (127.0.0.2, say) while the phone stays
// on 127.0.0.1, as a stranger on the network would. --reconnect-every: the phone opens a new
// connection, proving its token again, every N pings.
// Scenarios: idle (2,000 token-keyed idle connections), idle-slowloris (those plus 200 slowloris),
// slowloris, bigline (20 MB lines without a newline), garbage (malformed and deeply nested lines),
// reset (connect/reset and half-close loops), guess (wrong pairing codes), fds (the server at its
// descriptor limit). Loopback only.
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

namespace {

using namespace quib;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

struct Server {
  pid_t pid = -1;
  int out = -1;
  int in = -1;
  std::uint16_t port = 0;
  std::string code;
};

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
    execl(binary.c_str(), binary.c_str(), "--port", "0", "--data-dir", dataDir.c_str(), (char*)nullptr);
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

// The loads' source address when one was chosen.
std::string attacker;

int rawConnect(std::uint16_t port, const char* from = nullptr) {
  if (!from && !attacker.empty()) from = attacker.c_str();
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

struct Run {
  const Server& server;
  std::string token;
  std::atomic<bool>& stop;
};

ClientMessage ping(const std::string& id) {
  ClientMessage m;
  m.type = ClientMessage::Kind::ping;
  m.requestId = id;
  return m;
}

// Each load runs until stop is set; it may start helpers of its own.
using Load = std::function<void(Run&)>;

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
    int fd = rawConnect(r.server.port);
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
      if (fd < 0) fd = rawConnect(r.server.port);
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
               int fd = rawConnect(r.server.port);
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
             for (int i = 0; i < 10; ++i) fds.push_back(rawConnect(r.server.port));
             for (int n = 0; !r.stop; ++n)
               for (auto& fd : fds) {
                 if (fd < 0) fd = rawConnect(r.server.port);
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
             int fd = rawConnect(r.server.port);
             if (fd < 0) continue;
             sendAll(fd, "{\"type\":\"ping\"}\n");
             shutdown(fd, SHUT_WR);
             close(fd);
           }
         });
         while (!r.stop) {
           int fd = rawConnect(r.server.port);
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
               c.setLocalAddress(!attacker.empty()
                                     ? attacker
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
           int fd = rawConnect(r.server.port);
           if (fd >= 0) fds.push_back(fd);
         }
         while (!r.stop) std::this_thread::sleep_for(50ms);
         for (int fd : fds) close(fd);
       }},
  };
  return all;
}

struct Pings {
  std::vector<double> ms;
  int failures = 0;
  int toldToPair = 0;  // replies with needsPairing: a phone would drop its token
};

int reconnectEvery = 0;

Pings phone(const Server& s, const std::string& token, std::atomic<bool>& stop) {
  Pings p;
  std::optional<QuibClient> c;
  for (int n = 0; !stop; ++n) {
    const auto next = Clock::now() + 10ms;
    try {
      if (!c || (reconnectEvery > 0 && n % reconnectEvery == 0)) {
        c.emplace();
        c->connect("127.0.0.1", s.port, 2s);
        c->useToken(token);
      }
      const auto t0 = Clock::now();
      auto reply = c->request(ping(std::to_string(n)), 1s);
      if (reply.type != ServerMessage::Kind::ack) ++p.failures;
      if (reply.needsPairing == true) ++p.toldToPair;
      p.ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
    } catch (const ClientError&) {
      ++p.failures;
      c.reset();
    }
    std::this_thread::sleep_until(next);
  }
  return p;
}

int runScenario(const std::string& binary, const std::string& name, int seconds, int settle) {
  char dir[] = "/tmp/quib-load-XXXXXX";
  if (!mkdtemp(dir)) return 2;
  Server s = startServer(binary, dir, name == "fds" ? 256 : 0);
  if (!s.port) {
    std::cerr << "the server did not start\n";
    return 2;
  }
  QuibClient pairing;
  pairing.connect("127.0.0.1", s.port);
  auto paired = pairing.pair(s.code, "quib-load");
  if (!paired.token) {
    std::cerr << "pairing failed\n";
    return 2;
  }
  std::this_thread::sleep_for(300ms);
  const long baseline = rssKiB(s.pid);
  std::atomic<bool> stopPhone{false}, stopLoad{false};
  Pings pings;
  std::thread phoneThread([&] { pings = phone(s, *paired.token, stopPhone); });
  std::this_thread::sleep_for(500ms);
  const double cpu0 = cpuSeconds(s.pid);
  const auto t0 = Clock::now();
  Run run{s, *paired.token, stopLoad};
  std::thread load([&] { loads().at(name)(run); });
  long peak = baseline;
  while (Clock::now() - t0 < std::chrono::seconds(seconds)) {
    std::this_thread::sleep_for(250ms);
    peak = std::max(peak, rssKiB(s.pid));
  }
  const long during = rssKiB(s.pid);
  const double cpu =
      (cpuSeconds(s.pid) - cpu0) / std::chrono::duration<double>(Clock::now() - t0).count() * 100.0;
  stopLoad = true;
  load.join();
  stopPhone = true;
  phoneThread.join();
  // Memory a flood leaves behind shows once the server has been quiet a while.
  std::this_thread::sleep_for(std::chrono::seconds(settle));
  const long settled = rssKiB(s.pid);
  std::sort(pings.ms.begin(), pings.ms.end());
  auto at = [&](double q) {
    return pings.ms.empty()
               ? 0.0
               : pings.ms[std::min(pings.ms.size() - 1, static_cast<std::size_t>(q * pings.ms.size()))];
  };
  std::printf(
      "%-15s pings=%zu p50=%.2fms p99=%.2fms max=%.2fms failures=%d told_to_pair=%d rss_base=%.1fMiB "
      "rss_end=%.1fMiB "
      "rss_peak=%.1fMiB cpu=%.1f%%",
      name.c_str(), pings.ms.size(), at(0.50), at(0.99), pings.ms.empty() ? 0.0 : pings.ms.back(),
      pings.failures, pings.toldToPair, baseline / 1024.0, during / 1024.0, peak / 1024.0, cpu);
  if (settle > 0) std::printf(" rss_%ds_later=%.1fMiB", settle, settled / 1024.0);
  std::printf("\n");
  std::fflush(stdout);
  stopServer(s);
  std::filesystem::remove_all(dir);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::cerr << "usage: quib-load SERVER-BINARY [--scenario NAME|all] [--seconds N] [--settle N] "
                 "[--attacker ADDRESS] [--reconnect-every N]\n";
    return 2;
  }
  signal(SIGPIPE, SIG_IGN);
  rlimit files{};
  getrlimit(RLIMIT_NOFILE, &files);
  files.rlim_cur = files.rlim_max;
  setrlimit(RLIMIT_NOFILE, &files);
  std::string binary = argv[1], scenario = "all";
  int seconds = 10;
  int settle = 0;  // seconds after the load before the memory is read again
  for (int i = 2; i + 1 < argc; i += 2) {
    std::string opt = argv[i];
    if (opt == "--scenario")
      scenario = argv[i + 1];
    else if (opt == "--seconds")
      seconds = std::atoi(argv[i + 1]);
    else if (opt == "--settle")
      settle = std::atoi(argv[i + 1]);
    else if (opt == "--attacker")
      attacker = argv[i + 1];
    else if (opt == "--reconnect-every")
      reconnectEvery = std::atoi(argv[i + 1]);
    else {
      std::cerr << "unknown option " << opt << "\n";
      return 2;
    }
  }
  if (scenario != "all" && !loads().contains(scenario)) {
    std::cerr << "unknown scenario " << scenario << "\n";
    return 2;
  }
  for (const auto& [name, load] : loads())
    if (scenario == "all" || scenario == name) runScenario(binary, name, seconds, settle);
  return 0;
}
