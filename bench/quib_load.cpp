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
// descriptor limit). Loopback only.#include <signal.h>
#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <optional>
#include <thread>
#include <vector>

#include "client/QuibClient.h"
#include "load/Loads.h"

namespace {

using namespace quib;
using namespace quib::load;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

std::string attacker;
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
    stopServer(s);
    return 2;
  }
  QuibClient pairing;
  pairing.connect("127.0.0.1", s.port);
  auto paired = pairing.pair(s.code, "quib-load");
  if (!paired.token) {
    std::cerr << "pairing failed\n";
    stopServer(s);  // not left running behind the tool
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
  Run run{s, *paired.token, stopLoad, attacker};
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
